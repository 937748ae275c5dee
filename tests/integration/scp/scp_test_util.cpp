#include "tests/integration/scp/scp_test_util.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/peer_required.h"

namespace {
// The run of this thread (uploads on two threads record their own events).
thread_local UploadRun* g_current = nullptr;

std::int32_t RecordEvent(int event, const char* text, const char* detail, std::int32_t value, std::uint32_t)
{
    UploadRun* run = g_current;
    run->events.push_back({event, text ? text : "", detail ? detail : "", value});
    if (event == SCP_EVENT_HOSTKEY) return run->hostKeyAnswer;
    if (event == run->cancelOnEvent) run->options.cancel_requested = 1;
    return 0;
}
}  // namespace

int UploadRun::Run()
{
    g_current = this;
    code = ScpUploadFile(host.c_str(), port, user.c_str(), password.c_str(), localPath.c_str(), remotePath.c_str(),
                         withCallback ? RecordEvent : nullptr, &options);
    g_current = nullptr;
    return code;
}

int UploadRun::Count(int event) const
{
    int n = 0;
    for (const auto& e : events)
        if (e.event == event) ++n;
    return n;
}

UploadRun PeerRun(int port, const std::string& localPath, const std::string& remotePath, int timeoutSeconds)
{
    UploadRun run;
    run.port = port;
    run.user = SshdPeer::User();
    run.password = SshdPeer::Password();
    run.localPath = localPath;
    run.remotePath = remotePath;
    run.options.timeout_seconds = timeoutSeconds;
    return run;
}

::testing::AssertionResult UploadsIntact(UploadRun& run, const std::string& bytes)
{
    WriteFileBytes(run.localPath, bytes);
    if (const int code = run.Run()) return ::testing::AssertionFailure() << "upload ended with " << code;
    const std::string copy = run.remotePath + "/" + std::filesystem::path(run.localPath).filename().string();
    const std::string got = ReadWholeFile(copy);
    if (got != bytes)
        return ::testing::AssertionFailure() << copy << " holds " << got.size() << " bytes, not the " << bytes.size() << " sent";
    return ::testing::AssertionSuccess();
}

std::string LastDetail()
{
    char detail[600] = {};
    scp_last_error_detail(detail, sizeof detail);
    return detail;
}

RemoteDir::RemoteDir()
{
    std::string pattern = "/tmp/fdx-scp-remote-XXXXXX";
    if (::mkdtemp(pattern.data())) {
        m_path = pattern;
        if (const passwd* pw = ::getpwnam("fdxtest")) {
            if (::chown(m_path.c_str(), pw->pw_uid, pw->pw_gid) != 0) m_path.clear();
        }
        ::chmod(m_path.c_str(), 0755);
    }
}

RemoteDir::~RemoteDir()
{
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string PatternBytes(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return bytes;
}

void SetFileTimes(const std::string& path, long mtime, long atime)
{
    timeval times[2] = {{atime, 0}, {mtime, 0}};
    ::utimes(path.c_str(), times);
}

bool IsDirectory(const std::string& path) { return std::filesystem::is_directory(path); }
bool Exists(const std::string& path) { return std::filesystem::exists(path); }

void CScpSshdTest::SetUp()
{
    std::string why;
    if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
}

void CScpSshdTest::Start(const SshdOptions& options)
{
    std::string why;
    if (!SshdPeer::Available(&why)) FDX_PEER_MISSING() << why;
    m_peer = std::make_unique<SshdPeer>(options);
    ASSERT_TRUE(m_peer->running()) << m_peer->logText();
    ASSERT_FALSE(m_remote.path().empty());
}

void CScpStockTest::StartStock(EServerKind kind, const std::string& hostKeyType)
{
    if (const std::string why = ServerUnavailable(kind); !why.empty()) FDX_PEER_MISSING() << why;
    ServerSetup setup;
    setup.kind = kind;
    setup.hostKeyType = hostKeyType;
    m_server = StartServer(setup);
    ASSERT_TRUE(m_server->running()) << m_server->logText();
    m_port = m_server->port();
    ASSERT_FALSE(m_remote.path().empty());
}
