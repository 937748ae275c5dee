#include "tests/support/test_server.h"

#include "tests/support/dropbear_peer.h"
#include "tests/support/sshd_peer.h"

namespace {

template <class Peer>
class CPeerServer final : public CTestServer {
public:
    template <class Options>
    CPeerServer(const Options& options, std::string cacheType) : m_peer(options), m_strCacheType(std::move(cacheType))
    {
    }
    bool running() const override { return m_peer.running(); }
    int port() const override { return m_peer.port(); }
    std::string logText() const override { return m_peer.logText(); }
    std::string cacheValueName() const override
    {
        return m_strCacheType + "@" + std::to_string(m_peer.port()) + ":127.0.0.1";
    }
    std::string hostKeyPath() const override { return m_peer.hostKeyPath(); }

private:
    Peer m_peer;
    std::string m_strCacheType;
};

// The host-key cache's type for a key of that kind.
std::string CacheType(const std::string& hostKeyType)
{
    if (hostKeyType == "rsa") return "rsa2";
    if (hostKeyType == "ecdsa") return "ecdsa-sha2-nistp256";
    if (hostKeyType == "dsa") return "dss";
    return "ssh-" + hostKeyType;
}

}  // namespace

std::unique_ptr<CTestServer> StartServer(const ServerSetup& setup)
{
    switch (setup.kind) {
    case EServerKind::OlderSshd:
    case EServerKind::StockSshd: {
        SshdOptions options;
        options.legacyAlgorithms = setup.kind == EServerKind::OlderSshd;
        options.packagedConfig = setup.kind == EServerKind::StockSshd;
        options.sftpSubsystem = setup.sftp;
        options.bindMounts = setup.bindMounts;
        // A current installation has an Ed25519 key; an older one RSA.
        options.hostKeyType = !setup.hostKeyType.empty() ? setup.hostKeyType
                              : options.legacyAlgorithms ? "rsa"
                                                         : "ed25519";
        return std::make_unique<CPeerServer<SshdPeer>>(options, CacheType(options.hostKeyType));
    }
    case EServerKind::StockDropbear: {
        DropbearOptions options;
        options.bindMounts = setup.bindMounts;
        if (!setup.hostKeyType.empty()) options.hostKeyType = setup.hostKeyType;
        return std::make_unique<CPeerServer<DropbearPeer>>(options, CacheType(options.hostKeyType));
    }
    }
    return nullptr;
}

const char* ServerKindName(EServerKind kind)
{
    switch (kind) {
    case EServerKind::OlderSshd:
        return "OlderSshd";
    case EServerKind::StockSshd:
        return "StockSshd";
    case EServerKind::StockDropbear:
        return "StockDropbear";
    }
    return "";
}

std::string ServerUnavailable(EServerKind kind)
{
    std::string why;
    if (kind == EServerKind::StockDropbear)
        DropbearPeer::Available(&why);
    else
        SshdPeer::Available(&why);
    return why;
}
