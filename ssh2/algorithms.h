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

#include "sshcore/aead.h"
#include "sshcore/algorithms.h"
#include "sshcore/bignum.h"
#include "sshcore/cipher.h"
#include "sshcore/digest.h"
#include "sshcore/compressor.h"
#include "sshcore/hostkey.h"
#include "ssh2/packet.h"

class CSshCipher {
public:
    // How the cipher protects a packet: a block cipher (CBC or CTR) used
    // with a MAC, AES-GCM, or ChaCha20-Poly1305 (both without a MAC).
    enum EMode { MODE_BLOCK, MODE_GCM, MODE_CHACHA };

    // One of the registry's ciphers (sshcore/algorithms.h).
    explicit CSshCipher(const sshcore::SCipherAlgorithm& algorithm);
    ~CSshCipher();

    // Every cipher this client knows, in preference order; those that the
    // local OpenSSL cannot run are left out.
    static const std::vector<std::unique_ptr<CSshCipher>>& Table();
    static std::unique_ptr<CSshCipher> Create(std::string_view sshName);

    std::unique_ptr<CSshCipher> Clone() const;
    std::string Name() const { return m_algorithm.name; }
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
    const sshcore::SCipherAlgorithm& m_algorithm;
    EMode m_mode = MODE_BLOCK;
    std::vector<std::uint8_t> m_key, m_iv;
    std::unique_ptr<sshcore::CBlockCipher> m_pContext;
    std::unique_ptr<sshcore::CAesGcm> m_pGcm;
    std::unique_ptr<sshcore::CChaChaPoly> m_pChaCha;
    bool m_bEncrypting = false;
};

class CSshMac {
public:
    // kind empty: "none". etm: the MAC covers the encrypted packet, whose
    // length field is sent in clear.
    CSshMac(const char* name, std::optional<sshcore::EDigest> kind, bool etm = false);
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
    std::optional<sshcore::EDigest> m_kind;
    bool m_bEtm = false;
    std::unique_ptr<sshcore::CHmac> m_pHmac;
};
