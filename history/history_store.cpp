#include "history/history_store.h"

#include "history/pg_history_store.h"
#include "platform/text.h"
#include "sshcore/product_crypto.h"

std::string ContentHash(std::string_view bytes)
{
    const std::vector<std::uint8_t> digest = sshcore::DigestOf("SHA256", bytes);
    return HexLower(digest.data(), digest.size());
}

std::unique_ptr<CHistoryStore> OpenHistoryStore(const std::string& location, bool create, int connectTimeout,
                                                std::string& error)
{
    if (IsSharedHistoryLocation(location)) return OpenSharedHistory(location, connectTimeout, error);
    return CHistoryStore::Open(location, create, error);
}
