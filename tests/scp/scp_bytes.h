// Helpers of the engine's unit tests: SSH strings and numbers, a session
// without a network, what a server sends it before keys and the packets it
// sent back.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scp/scp_mem.h"
#include "scp/scp_packet.h"
#include "scp/scp_ssh.h"
#include "scp/scp_store.h"

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(const ScpBuf& b) { return Bytes(b.data, b.data + b.len); }
inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

inline void PutU32(Bytes& out, std::uint32_t v)
{
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void PutString(Bytes& out, const Bytes& s)
{
    PutU32(out, static_cast<std::uint32_t>(s.size()));
    Append(out, s);
}
inline void PutString(Bytes& out, const std::string& s) { PutString(out, ToBytes(s)); }

// The payloads of the plain packets in a capture after its identification
// line, which goes to *line when asked for.
inline std::vector<Bytes> SentPackets(const Bytes& capture, std::string* line = nullptr)
{
    std::vector<Bytes> out;
    std::size_t off = 0;
    while (off < capture.size() && capture[off] != '\n') ++off;
    if (line) *line = std::string(capture.begin(), capture.begin() + static_cast<long>(std::min(off + 1, capture.size())));
    ++off;
    while (capture.size() > off && capture.size() - off >= 5) {
        const std::uint32_t len = scp_load_u32(&capture[off]);
        const std::uint8_t pad = capture[off + 4];
        out.emplace_back(capture.begin() + static_cast<long>(off + 5), capture.begin() + static_cast<long>(off + 4 + len - pad));
        off += 4 + len;
    }
    return out;
}

// ------------------------------------------------ a session without a network

// A server's KEXINIT lists, the same both ways.
struct KexLists {
    std::string kex = "diffie-hellman-group1-sha1";
    std::string hostKeys = "ssh-rsa";
    std::string ciphers = "aes128-cbc";
    std::string macs = "hmac-md5";
    std::string comp = "none";
};

inline Bytes KexinitPayload(const KexLists& l)
{
    Bytes p{20};
    p.insert(p.end(), 16, 0x5a);
    for (const std::string& s : {l.kex, l.hostKeys, l.ciphers, l.ciphers, l.macs, l.macs, l.comp, l.comp,
                                 std::string(), std::string()})
        PutString(p, s);
    p.push_back(0);
    PutU32(p, 0);
    return p;
}

// Plain packets as a server without keys sends them.
inline Bytes Plain(const std::vector<Bytes>& payloads)
{
    ScpPacketOut out{};
    ScpRandomPool pool;
    scp_random_init(&pool);
    ScpBuf wire{};
    for (const Bytes& p : payloads) EXPECT_EQ(scp_packet_build(&out, &pool, p.data(), p.size(), &wire), 0);
    Bytes bytes = ToBytes(wire);
    scp_buf_free(&wire);
    scp_packet_out_free(&out);
    return bytes;
}

// The server's text followed by plain packets of the payloads.
inline Bytes Stream(const std::string& text, const std::vector<Bytes>& payloads = {})
{
    Bytes out = ToBytes(text);
    Append(out, Plain(payloads));
    return out;
}

// The ten name lists of a KEXINIT payload.
inline std::vector<std::string> NameLists(const Bytes& kexinit)
{
    std::vector<std::string> lists;
    ScpReader r = scp_reader(kexinit.data() + 17, kexinit.size() - 17);
    for (int i = 0; i < 10; ++i) {
        const std::uint8_t* p = nullptr;
        std::size_t n = 0;
        if (!scp_get_string(&r, &p, &n, 4096)) break;
        lists.emplace_back(reinterpret_cast<const char*>(p), n);
    }
    return lists;
}

// A session fed by the test, with the default settings unless the test
// changes m_cfg; what it sends goes to m_capture.
class CDetachedSession {
public:
    CDetachedSession() { scp_session_config_defaults(&m_cfg); }
    ~CDetachedSession() { Release(); }
    CDetachedSession(const CDetachedSession&) = delete;
    CDetachedSession& operator=(const CDetachedSession&) = delete;

    int Open()
    {
        Release();
        return scp_session_create_detached(&m_session, &m_cfg, &m_capture);
    }
    int Feed(const Bytes& bytes) { return scp_session_feed(m_session, bytes.data(), bytes.size()); }
    int OpenAndFeed(const Bytes& bytes)
    {
        const int rc = Open();
        return rc ? rc : Feed(bytes);
    }
    void Release()
    {
        if (m_session) scp_ssh_backend.release(m_session);
        m_session = nullptr;
        scp_buf_free(&m_capture);
    }
    Bytes Capture() const { return ToBytes(m_capture); }
    // Our KEXINIT's name lists, sent in answer to a server's line.
    std::vector<std::string> OfferedLists()
    {
        EXPECT_EQ(OpenAndFeed(Stream("SSH-2.0-x\n")), 0);
        const auto sent = SentPackets(Capture());
        return sent.empty() ? std::vector<std::string>{} : NameLists(sent[0]);
    }

    SessionConfig m_cfg{};
    ScpSession* m_session = nullptr;
    ScpBuf m_capture{};
};
