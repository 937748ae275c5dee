// The algorithm objects of the transport: ciphers, MACs, compressors and
// host-key types, each kind with its table of supported names. A session
// offers the names in table order and owns the clones that negotiation picks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ssh2/crypto/bignum.h"
#include "ssh2/crypto/cipher.h"
#include "ssh2/crypto/digest.h"
#include "ssh2/packet.h"

struct z_stream_s;

class CSshCipher {
public:
    CSshCipher(const char* sshName, const char* displayName, sshcrypto::ECipher kind);
    ~CSshCipher();

    // Every cipher this client knows, in preference order; those that the
    // local OpenSSL cannot run are left out.
    static const std::vector<std::unique_ptr<CSshCipher>>& Table();
    static std::unique_ptr<CSshCipher> Create(std::string_view sshName);

    std::unique_ptr<CSshCipher> Clone() const;
    const std::string& Name() const { return m_strName; }
    const std::string& DisplayName() const { return m_strDisplay; }
    std::size_t BlockSize() const;
    std::size_t KeyBits() const;
    void SetIV(ByteView iv);
    void SetKey(ByteView key);
    // In place; the chaining value is carried to the next call.
    void Encrypt(std::uint8_t* data, std::size_t size);
    void Decrypt(std::uint8_t* data, std::size_t size);

private:
    void Begin(bool encrypt);
    std::string m_strName, m_strDisplay;
    sshcrypto::ECipher m_kind;
    std::vector<std::uint8_t> m_key, m_iv;
    std::unique_ptr<sshcrypto::CBlockCipher> m_pContext;
    bool m_bEncrypting = false;
};

class CSshMac {
public:
    // kind empty: "none".
    CSshMac(const char* name, std::optional<sshcrypto::EDigest> kind);
    ~CSshMac();

    static const std::vector<std::unique_ptr<CSshMac>>& Table();
    static std::unique_ptr<CSshMac> Create(std::string_view name);

    std::unique_ptr<CSshMac> Clone() const;
    const std::string& Name() const { return m_strName; }
    std::size_t KeyLength() const;
    std::size_t Length() const;
    void SetKey(ByteView key);
    // MAC of (sequence, packet[0..length)) written at packet + length.
    void Generate(std::uint8_t* packet, std::size_t length, std::uint32_t sequence);
    // Checks the MAC found at packet + length, in constant time.
    bool Verify(const std::uint8_t* packet, std::size_t length, std::uint32_t sequence);

private:
    void Compute(const std::uint8_t* packet, std::size_t length, std::uint32_t sequence, std::uint8_t* out);
    std::string m_strName;
    std::optional<sshcrypto::EDigest> m_kind;
    std::unique_ptr<sshcrypto::CHmac> m_pHmac;
};

// "zlib" (one deflate and one inflate stream per direction for the whole
// session) or "none".
class CSshCompressor {
public:
    // Largest payload Decompress produces from one packet.
    static constexpr std::size_t kMaxInflated = 256 * 1024;

    explicit CSshCompressor(bool zlib);
    ~CSshCompressor();
    CSshCompressor(const CSshCompressor&) = delete;
    CSshCompressor& operator=(const CSshCompressor&) = delete;

    static std::unique_ptr<CSshCompressor> Create(std::string_view name);
    std::unique_ptr<CSshCompressor> Clone() const;
    std::string Name() const { return m_bZlib ? "zlib" : "none"; }

    // False (and out untouched) when the object does not compress.
    bool Compress(ByteView data, std::vector<std::uint8_t>& out);
    // False when the object does not compress; raises 8 on a corrupt stream
    // or more than kMaxInflated bytes of output.
    bool Decompress(ByteView data, std::vector<std::uint8_t>& out);
    void ReleaseTables();
    // The next Compress stores its data instead of compressing it. Returns
    // how many bytes that packet may grow in the compressed stream.
    std::size_t DisableCompression();

private:
    struct Stream;
    bool m_bZlib;
    std::unique_ptr<Stream> m_pDeflate, m_pInflate;
    bool m_bStoreNext = false;
    bool m_bStarted = false;
};

class CSshHostKey {
public:
    virtual ~CSshHostKey() = default;
    static std::vector<std::string> Names();  // "ssh-rsa", "ssh-dss"
    static std::unique_ptr<CSshHostKey> Create(std::string_view name);

    virtual std::unique_ptr<CSshHostKey> Clone() const = 0;
    virtual const char* Name() const = 0;
    virtual const char* CacheType() const = 0;
    // Takes the public key blob; false when it is malformed or of another type.
    virtual bool SetKey(ByteView blob) = 0;
    // Checks a signature blob over data (hashed with SHA-1 by the check).
    virtual bool Verify(ByteView signature, ByteView data) const = 0;
    // "0x<e>,0x<n>" or "0x<p>,0x<q>,0x<g>,0x<y>", lower-case hexadecimal.
    virtual std::string KeyString() const = 0;
    // "<name> <bits> <md5 of the blob as xx:xx:...>".
    std::string Fingerprint() const;

protected:
    virtual int Bits() const = 0;
    std::vector<std::uint8_t> m_blob;
};
