// Server host keys of the SSH-2 engines: parsing the key blob, checking a
// signature over the exchange hash, the forms kept in the host-key cache.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sshcore/reader.h"

class CSshHostKey {
public:
    virtual ~CSshHostKey() = default;
    // In preference order: "ssh-ed25519", "ecdsa-sha2-nistp256",
    // "rsa-sha2-512", "rsa-sha2-256", "ssh-rsa", "ssh-dss".
    static std::vector<std::string> Names();
    static std::unique_ptr<CSshHostKey> Create(std::string_view name);

    virtual std::unique_ptr<CSshHostKey> Clone() const = 0;
    // The host-key algorithm (for RSA also the signature's hash).
    virtual const char* Name() const = 0;
    // The key type named in the blob ("ssh-rsa" for every RSA algorithm).
    virtual const char* KeyType() const { return Name(); }
    // The type part of the key's value name in the host-key cache: "rsa2",
    // "dss", "ssh-ed25519" or "ecdsa-sha2-nistp256".
    virtual const char* CacheType() const = 0;
    // Takes the public key blob; false when it is malformed or of another type.
    virtual bool SetKey(ByteView blob) = 0;
    // Checks a signature blob over data (hashed as the algorithm says).
    virtual bool Verify(ByteView signature, ByteView data) const = 0;
    // The key in the host-key cache, lower-case hexadecimal: "0x<e>,0x<n>",
    // "0x<p>,0x<q>,0x<g>,0x<y>", "0x<32 key bytes>" (Ed25519) or
    // "nistp256,0x<x>,0x<y>".
    virtual std::string KeyString() const = 0;
    // "<key type> <bits> <md5 of the blob as xx:xx:...>".
    std::string Fingerprint() const;
    // "SHA256:<unpadded base64 of the blob's SHA-256>", as ssh-keygen -l.
    std::string Sha256Fingerprint() const;
    // The key's size: the modulus (RSA), p (DSS) or the curve's bits.
    virtual int Bits() const = 0;
    // The key blob given to SetKey.
    ByteView Blob() const { return m_blob; }

protected:
    std::vector<std::uint8_t> m_blob;
};
