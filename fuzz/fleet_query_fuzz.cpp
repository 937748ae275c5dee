// Fuzz target: a fleet search query. Any input is refused with a message or
// gives between one and the most terms, each with a name; every term is then
// tried against the input itself as a value, and the input as a quantity.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "console/fleet_query.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const std::optional<Quantity> quantity = ParseQuantity(text); quantity && !(quantity->value >= 0)) std::abort();
    std::vector<QueryTerm> terms;
    std::string error;
    if (!ParseQuery(text, terms, error)) {
        if (error.empty() || !terms.empty()) std::abort();
        return 0;
    }
    if (terms.empty() || terms.size() > kMaxQueryTerms || size > kMaxQueryLength) std::abort();
    for (const QueryTerm& term : terms) {
        if (term.key.empty()) std::abort();
        TermMatches(term, text);
        TermMatches(term, term.value);
    }
    return 0;
}
