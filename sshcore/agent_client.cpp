#include "sshcore/agent_client.h"

#include <cstdlib>

#include "platform/local_socket.h"
#include "sshcore/reader.h"

namespace sshcore {
namespace {

constexpr std::uint8_t kFailure = 5;
constexpr std::uint8_t kRequestIdentities = 11;
constexpr std::uint8_t kIdentitiesAnswer = 12;
constexpr std::uint8_t kSignRequest = 13;
constexpr std::uint8_t kSignResponse = 14;

using Bytes = std::vector<std::uint8_t>;

} // namespace

std::string SAgentIdentity::TypeName() const
{
    CSshReader r(publicBlob);
    std::string name = r.GetText();
    return r.Ok() ? name : std::string();
}

bool ParseAgentIdentities(std::span<const std::uint8_t> reply, std::vector<SAgentIdentity> &keys)
{
    keys.clear();
    if (reply.empty() || reply[0] != kIdentitiesAnswer) return false;
    CSshReader r(reply, 1);
    const std::uint32_t count = r.GetUint32();
    for (std::uint32_t i = 0; i < count && r.Ok(); ++i) {
        const auto blob = r.GetString();
        const auto comment = r.GetString();
        if (r.Failed()) break;
        if (keys.size() < kMaxAgentKeys)
            keys.push_back({Bytes(blob.begin(), blob.end()), std::string(comment.begin(), comment.end())});
    }
    if (r.Failed()) keys.clear();
    return r.Ok();
}

bool ParseAgentSignature(std::span<const std::uint8_t> reply, std::vector<std::uint8_t> &signature)
{
    signature.clear();
    if (reply.empty() || reply[0] != kSignResponse) return false;
    CSshReader r(reply, 1);
    const auto blob = r.GetString();
    if (r.Failed() || blob.empty() || !r.AtEnd()) return false;
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
    AppendString(framed, ByteView(request));
    std::uint8_t length[4];
    if (!socket.Connect(m_strPath, deadline) || !socket.SendAll(framed.data(), framed.size(), deadline) ||
        !socket.ReceiveAll(length, sizeof length, deadline))
        return false;
    const std::uint32_t n = LoadUint32(length);
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
    AppendString(request, publicBlob);
    AppendString(request, data);
    AppendUint32(request, flags);
    Bytes reply;
    Bytes signature;
    if (Exchange(request, reply) && reply[0] != kFailure) ParseAgentSignature(reply, signature);
    return signature;
}

} // namespace sshcore
