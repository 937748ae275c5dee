// Feeds arbitrary bytes to the client's transport as if a server sent them:
// the identification line, then packets, clear or protected in each of the
// packet layer's modes (block cipher and MAC, encrypt-then-MAC, AES-GCM,
// ChaCha20-Poly1305).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ssh2/errors.h"
#include "ssh2/random.h"
#include "ssh2/transport.h"

namespace {

class CFuzzStream : public ISshStream {
public:
    CFuzzStream(const std::uint8_t* data, std::size_t size, std::size_t chunk) : m_data(data), m_size(size), m_chunk(chunk) {}
    std::size_t ReceiveSome(std::uint8_t* buffer, std::size_t capacity) override
    {
        if (m_pos == m_size) throw SSH_SOCKET_ERROR;
        std::size_t n = m_size - m_pos;
        if (n > capacity) n = capacity;
        if (n > m_chunk) n = m_chunk;
        std::memcpy(buffer, m_data + m_pos, n);
        m_pos += n;
        return n;
    }
    void SendAll(const std::uint8_t*, std::size_t) override {}

private:
    const std::uint8_t* m_data;
    std::size_t m_size, m_chunk, m_pos = 0;
};

// The protections the reader can be set to, with fixed keys (every key, IV
// and MAC key byte 0x42).
struct SProtection {
    const char* cipher;
    const char* mac;
};
const SProtection kProtections[] = {
    {"aes128-cbc", "hmac-sha1"},
    {"aes256-gcm@openssh.com", "none"},
    {"chacha20-poly1305@openssh.com", "none"},
    {"aes128-ctr", "hmac-sha2-256-etm@openssh.com"},
    {"aes256-ctr", "hmac-sha2-512"},
};

}  // namespace

// First byte: bit 0 protected, bit 1 zlib, bits 2-4 read size, bits 5-7 the
// protection (an index into kProtections, modulo its size); then the
// server's bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    const std::size_t chunk = (mode >> 2) & 7;
    CFuzzStream stream(data + 1, size - 1, chunk ? chunk * 97u : SIZE_MAX);
    CSshTransport transport(stream, CRandomPool::Instance(), nullptr);
    try {
        transport.ReadIdentification();
        if (mode & 3) {
            const std::vector<std::uint8_t> key(64, 0x42);
            std::unique_ptr<CSshCipher> cipher;
            std::unique_ptr<CSshMac> mac;
            if (mode & 1) {
                const SProtection& p = kProtections[(mode >> 5) % (sizeof kProtections / sizeof kProtections[0])];
                cipher = CSshCipher::Create(p.cipher);
                cipher->SetKey(key);
                cipher->SetIV(key);
                mac = CSshMac::Create(p.mac);
                mac->SetKey(key);
            }
            transport.SetIncoming(std::move(cipher), std::move(mac), CSshCompressor::Create(mode & 2 ? "zlib" : "none"));
        }
        for (int i = 0; i < 64; ++i) {
            transport.ReadPacket();
            CSshReader reader = transport.Reader();
            reader.GetString();
        }
    } catch (ESSHErrors) {
    }
    return 0;
}
