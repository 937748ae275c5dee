#include "sshcore/agent_client.h"

#include <cstdlib>

#include "platform/local_socket.h"

namespace sshcore {
namespace {

constexpr std::uint8_t kFailure = 5;
constexpr std::uint8_t kRequestIdentities = 11;
constexpr std::uint8_t kIdentitiesAnswer = 12;
constexpr std::uint8_t kSignRequest = 13;
constexpr std::uint8_t kSignResponse = 14;

using Bytes = std::vector<std::uint8_t>;

struct SReader {
    std::span<const std::uint8_t> data;
    std::size_t at = 0;
    bool failed = false;

    std::uint32_t U32()
    {
        if (failed || data.size() - at < 4) {
            failed = true;
            return 0;
        }
        const std::uint32_t v = (std::uint32_t{data[at]} << 24) | (std::uint32_t{data[at + 1]} << 16) |
                                (std::uint32_t{data[at + 2]} << 8) | data[at + 3];
        at += 4;
        return v;
    }
    std::span<const std::uint8_t> String()
    {
        const std::uint32_t n = U32();
        if (failed || data.size() - at < n) {
            failed = true;
            return {};
        }
        const auto out = data.subspan(at, n);
        at += n;
        return out;
    }
};

void PutU32(Bytes &out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutString(Bytes &out, std::span<const std::uint8_t> s)
{
    PutU32(out, static_cast<std::uint32_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

} // namespace

std::string SAgentIdentity::TypeName() const
{
    SReader r{publicBlob};
    const auto name = r.String();
    return r.failed ? std::string() : std::string(name.begin(), name.end());
}

bool ParseAgentIdentities(std::span<const std::uint8_t> reply, std::vector<SAgentIdentity> &keys)
{
    keys.clear();
    if (reply.empty() || reply[0] != kIdentitiesAnswer) return false;
    SReader r{reply, 1};
    const std::uint32_t count = r.U32();
    for (std::uint32_t i = 0; i < count && !r.failed; ++i) {
        const auto blob = r.String();
        const auto comment = r.String();
        if (r.failed) break;
        if (keys.size() < kMaxAgentKeys)
            keys.push_back({Bytes(blob.begin(), blob.end()), std::string(comment.begin(), comment.end())});
    }
    if (r.failed) keys.clear();
    return !r.failed;
}

bool ParseAgentSignature(std::span<const std::uint8_t> reply, std::vector<std::uint8_t> &signature)
{
    signature.clear();
    if (reply.empty() || reply[0] != kSignResponse) return false;
    SReader r{reply, 1};
    const auto blob = r.String();
    if (r.failed || blob.empty() || r.at != reply.size()) return false;
    signature.assign(blob.begin(), blob.end());
    return true;
}

CAgentClient::CAgentClient(std::string socketPath, std::chrono::milliseconds limit)
    : m_strPath(std::move(socketPath)), m_limit(limit)
{
}

CAgentClient CAgentClient::FromEnvironment()
{
    const char *path = std::getenv("SSH_AUTH_SOCK");
    return CAgentClient(path != nullptr ? std::string(path) : std::string());
}

bool CAgentClient::Exchange(const Bytes &request, Bytes &reply) const
{
    reply.clear();
    if (m_strPath.empty()) return false;
    const CDeadline deadline = CDeadline::In(m_limit);
    CLocalSocket socket;
    Bytes framed;
    PutString(framed, request);
    std::uint8_t length[4];
    if (!socket.Connect(m_strPath, deadline) || !socket.SendAll(framed.data(), framed.size(), deadline) ||
        !socket.ReceiveAll(length, sizeof length, deadline))
        return false;
    const std::uint32_t n = (std::uint32_t{length[0]} << 24) | (std::uint32_t{length[1]} << 16) |
                            (std::uint32_t{length[2]} << 8) | length[3];
    if (n == 0 || n > kMaxAgentReply) return false;
    reply.resize(n);
    if (!socket.ReceiveAll(reply.data(), n, deadline)) {
        reply.clear();
        return false;
    }
    return true;
}

std::vector<SAgentIdentity> CAgentClient::Identities() const
{
    Bytes reply;
    std::vector<SAgentIdentity> keys;
    if (Exchange({kRequestIdentities}, reply)) ParseAgentIdentities(reply, keys);
    return keys;
}

std::vector<std::uint8_t> CAgentClient::Sign(std::span<const std::uint8_t> publicBlob,
                                             std::span<const std::uint8_t> data, std::uint32_t flags) const
{
    Bytes request{kSignRequest};
    PutString(request, publicBlob);
    PutString(request, data);
    PutU32(request, flags);
    Bytes reply;
    Bytes signature;
    if (Exchange(request, reply) && reply[0] != kFailure) ParseAgentSignature(reply, signature);
    return signature;
}

} // namespace sshcore
