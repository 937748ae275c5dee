#include "tests/support/peer_required.h"

#include <cstdlib>
#include <string_view>

namespace peer {

bool PeersRequired()
{
    const char* value = std::getenv("FERRODEX_REQUIRE_PEERS");
    if (value == nullptr) return false;
    const std::string_view text(value);
    return !text.empty() && text != "0";
}

::testing::TestPartResult::Type MissingPeerOutcome()
{
    return PeersRequired() ? ::testing::TestPartResult::kFatalFailure : ::testing::TestPartResult::kSkip;
}

}  // namespace peer
