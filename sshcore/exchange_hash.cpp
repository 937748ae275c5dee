#include "sshcore/exchange_hash.h"

#include <algorithm>

using sshcore::CBigNum;
using sshcore::CDigest;

void HashUint32(CDigest& hash, std::uint32_t value)
{
    std::uint8_t bytes[4];
    StoreUint32(bytes, value);
    hash.Update(bytes, 4);
}

void HashString(CDigest& hash, ByteView bytes)
{
    HashUint32(hash, static_cast<std::uint32_t>(bytes.size()));
    hash.Update(bytes);
}

void HashMpint(CDigest& hash, const CBigNum& value)
{
    const std::vector<std::uint8_t> bytes = value.ToMpint();
    HashString(hash, bytes);
}

void HashExchangeFields(CDigest& hash, const SExchangeHashInput& in)
{
    HashString(hash, AsBytes(in.clientVersion));
    HashString(hash, AsBytes(in.serverVersion));
    HashString(hash, in.clientKexInit);
    HashString(hash, in.serverKexInit);
    HashString(hash, in.hostKey);
    if (in.groupExchange) {
        if (in.groupRange) {
            HashUint32(hash, in.minBits);
            HashUint32(hash, in.pbits);
            HashUint32(hash, in.maxBits);
        } else {
            HashUint32(hash, in.pbits);
        }
        HashMpint(hash, in.p);
        HashMpint(hash, in.g);
    }
    if (in.ecdh) {
        HashString(hash, in.clientPublic);
        HashString(hash, in.serverPublic);
    } else {
        HashMpint(hash, in.e);
        HashMpint(hash, in.f);
    }
}

std::vector<std::uint8_t> ExchangeHash(const SExchangeHashInput& in)
{
    CDigest hash(in.hash);
    HashExchangeFields(hash, in);
    HashMpint(hash, in.k);
    return hash.Final();
}

std::vector<std::uint8_t> DeriveKey(const CBigNum& k, ByteView h, char letter, ByteView sessionId)
{
    return DeriveKey(sshcore::EDigest::Sha1, k, h, letter, sessionId, 40);
}

std::vector<std::uint8_t> DeriveKey(sshcore::EDigest kind, const CBigNum& k, ByteView h, char letter,
                                    ByteView sessionId, std::size_t length)
{
    std::vector<std::uint8_t> content = k.ToMpint();
    std::vector<std::uint8_t> encoded(4 + content.size());
    StoreUint32(encoded.data(), static_cast<std::uint32_t>(content.size()));
    std::copy(content.begin(), content.end(), encoded.begin() + 4);
    std::vector<std::uint8_t> key = DeriveKeyFromEncoded(kind, encoded, h, letter, sessionId, length);
    sshcore::Cleanse(content.data(), content.size());
    sshcore::Cleanse(encoded.data(), encoded.size());
    return key;
}

std::vector<std::uint8_t> DeriveKeyFromEncoded(sshcore::EDigest kind, ByteView encodedK, ByteView h, char letter,
                                               ByteView sessionId, std::size_t length)
{
    CDigest hash(kind);
    hash.Update(encodedK);
    hash.Update(h);
    const std::uint8_t letterByte = static_cast<std::uint8_t>(letter);
    hash.Update(&letterByte, 1);
    hash.Update(sessionId);
    std::vector<std::uint8_t> key = hash.Final();
    while (key.size() < length) {
        hash.Update(encodedK);
        hash.Update(h);
        hash.Update(key);
        std::vector<std::uint8_t> next = hash.Final();
        key.insert(key.end(), next.begin(), next.end());
        sshcore::Cleanse(next.data(), next.size());
    }
    sshcore::Cleanse(key.data() + length, key.size() - length);
    key.resize(length);
    return key;
}
