#include "history/history_store.h"

#include <openssl/evp.h>

#include "history/pg_history_store.h"

std::string ContentHash(std::string_view bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

std::unique_ptr<CHistoryStore> OpenHistoryStore(const std::string& location, bool create, int connectTimeout,
                                                std::string& error)
{
    if (IsSharedHistoryLocation(location)) return OpenSharedHistory(location, connectTimeout, error);
    return CHistoryStore::Open(location, create, error);
}
