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

#include "ssh2/crypto/aead.h"
#include "ssh2/crypto/bignum.h"
#include "ssh2/crypto/cipher.h"
#include "ssh2/crypto/digest.h"
#include "ssh2/packet.h"

struct z_stream_s;

class CSshCipher {
public:
    // How the cipher protects a packet: a block cipher (CBC or CTR) used
    // with a MAC, AES-GCM, or ChaCha20-Poly1305 (both without a MAC).
    enum EMode { MODE_BLOCK, MODE_GCM, MODE_CHACHA };

    CSshCipher(const char* sshName, const char* displayName, sshcrypto::ECipher kind);
    // An authenticated cipher; keyBytes: 16 or 32 for GCM, 64 for ChaCha.
    CSshCipher(const char* sshName, const char* displayName, EMode mode, std::size_t keyBytes);
    ~CSshCipher();

    // Every cipher this client knows, in preference order; those that the
    // local OpenSSL cannot run are left out.
    static const std::vector<std::unique_ptr<CSshCipher>>& Table();
    static std::unique_ptr<CSshCipher> Create(std::string_view sshName);

    std::unique_ptr<CSshCipher> Clone() const;
    const std::string& Name() const { return m_strName; }
    const std::string& DisplayName() const { return m_strDisplay; }
    EMode Mode() const { return m_mode; }
    bool IsAead() const { return m_mode != MODE_BLOCK; }
    // The block size the padding rounds to (8 for ChaCha20-Poly1305).
    std::size_t BlockSize() const;
    std::size_t KeyBits() const;
    // Bytes of derived key material the cipher takes as key and as IV.
    std::size_t KeyBytes() const;
    std::size_t IvBytes() const;
    // Bytes of tag after an authenticated packet (0 for block ciphers).
    std::size_t TagLength() const { return IsAead() ? 16 : 0; }
    void SetIV(ByteView iv);
    void SetKey(ByteView key);
    // Block ciphers, in place; the chaining value is carried to the next call.
    void Encrypt(std::uint8_t* data, std::size_t size);
    void Decrypt(std::uint8_t* data, std::size_t size);

    // Authenticated ciphers. A packet is its 4-byte length and `size - 4`
    // further bytes; the tag lies at packet + size.
    // The packet length of the packet whose first 4 wire bytes are given.
    std::uint32_t PacketLength(const std::uint8_t* wire, std::uint32_t sequence);
    void Seal(std::uint8_t* packet, std::size_t size, std::uint32_t sequence);
    // Checks the tag and only then hands back the clear packet, in place;
    // false when the tag is wrong.
    bool Open(std::uint8_t* packet, std::size_t size, std::uint32_t sequence);

private:
    void Begin(bool encrypt);
    void BeginAead();
    std::string m_strName, m_strDisplay;
    sshcrypto::ECipher m_kind;
    EMode m_mode = MODE_BLOCK;
    std::size_t m_nAeadKeyBytes = 0;
    std::vector<std::uint8_t> m_key, m_iv;
    std::unique_ptr<sshcrypto::CBlockCipher> m_pContext;
    std::unique_ptr<sshcrypto::CAesGcm> m_pGcm;
    std::unique_ptr<sshcrypto::CChaChaPoly> m_pChaCha;
    bool m_bEncrypting = false;
};

class CSshMac {
public:
    // kind empty: "none". etm: the MAC covers the encrypted packet, whose
    // length field is sent in clear.
    CSshMac(const char* name, std::optional<sshcrypto::EDigest> kind, bool etm = false);
    ~CSshMac();

    static const std::vector<std::unique_ptr<CSshMac>>& Table();
    static std::unique_ptr<CSshMac> Create(std::string_view name);

    std::unique_ptr<CSshMac> Clone() const;
    const std::string& Name() const { return m_strName; }
    bool IsEtm() const { return m_bEtm; }
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
    bool m_bEtm = false;
    std::unique_ptr<sshcrypto::CHmac> m_pHmac;
};

// "zlib" (one deflate and one inflate stream per direction for the whole
// session), "zlib@openssh.com" (the same, switched on only once the user is
// authenticated) or "none".
class CSshCompressor {
public:
    // Largest payload Decompress produces from one packet.
    static constexpr std::size_t kMaxInflated = 256 * 1024;

    // delayed: "zlib@openssh.com", idle until Activate().
    explicit CSshCompressor(bool zlib, bool delayed = false);
    ~CSshCompressor();
    CSshCompressor(const CSshCompressor&) = delete;
    CSshCompressor& operator=(const CSshCompressor&) = delete;

    static std::unique_ptr<CSshCompressor> Create(std::string_view name);
    std::unique_ptr<CSshCompressor> Clone() const;
    std::string Name() const { return m_bZlib ? (m_bDelayed ? "zlib@openssh.com" : "zlib") : "none"; }
    // Starts a delayed compressor (after the user authentication succeeded).
    void Activate() { m_bActive = true; }
    bool Active() const { return m_bZlib && m_bActive; }

    // False (and out untouched) when the object does not compress (yet).
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
    bool m_bDelayed;
    bool m_bActive;
    std::unique_ptr<Stream> m_pDeflate, m_pInflate;
    bool m_bStoreNext = false;
    bool m_bStarted = false;
};

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

protected:
    std::vector<std::uint8_t> m_blob;
};
