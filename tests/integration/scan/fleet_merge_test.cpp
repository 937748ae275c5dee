// Two `ferrodex refresh` runs at once over overlapping hosts of one real
// sshd (each host its own loopback address). The fake lshw of every host
// prints the XML the test left for that address, and waits while a hold
// file for it exists, so that the order of events is the test's: the second
// refresh reads the console file, the first saves it, the second saves
// last. Nothing either found is lost, and the newer scan of a host wins.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "tests/integration/scan/peer_console.h"
#include "tests/scan/scan_fixture.h"
#include "tests/support/peer_process.h"
#include "tests/support/peer_required.h"
#include "tests/support/sshd_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"
#include "tests/support/test_server.h"

namespace {

RunResult Ferrodex(const std::string& args, const std::string& input = "") { return RunFerrodexLine(args, input); }

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
    out.close();
    std::filesystem::permissions(path, std::filesystem::perms(0666));
}

// The part of an export's JSON that describes the host named `name`.
std::string HostPart(const std::string& json, const std::string& name)
{
    const std::size_t at = json.find("\"name\":\"" + name + "\",\"address\"");
    if (at == std::string::npos) return {};
    const std::size_t next = json.find("\"group\":", at);
    return json.substr(at, next == std::string::npos ? std::string::npos : next - at);
}

class FleetMergeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FDX_REQUIRE_SSHD();
        console = "--console " + dir.file("fleet.fdx");
        xml = LshwSample("user.xml");
        ASSERT_NE(xml.find("<product>AMD EPYC</product>"), std::string::npos);
        // The server's user reads the XML and leaves its marks here.
        ::chmod(gates.path().c_str(), 0777);
        const std::string script = gates.file("lshw");
        WriteText(script, "#!/bin/sh\n"
                          "ip=$(echo \"$SSH_CONNECTION\" | cut -d' ' -f3)\n"
                          "touch '" + gates.path() + "'/seen.$ip\n"
                          "while [ -e '" + gates.path() + "'/hold.$ip ]; do sleep 0.05; done\n"
                          "cat '" + gates.path() + "'/xml.$ip\n");
        std::filesystem::permissions(script, std::filesystem::perms(0755));
        SshdOptions options = LshwSshd(script, {"MaxStartups 64", "MaxSessions 64"});
        for (int i = 2; i <= kHosts; ++i) options.extraConfig.push_back("ListenAddress " + Address(i));
        server = std::make_unique<SshdPeer>(options);
        ASSERT_TRUE(server->running()) << server->logText();
        for (int i = 1; i <= kHosts; ++i) {
            ASSERT_TRUE(AddPeerHost(console, "Fleet", Address(i), server->port()));
            Picture(i, "first");
        }
    }

    static constexpr int kHosts = 4;
    static std::string Address(int i) { return "127.0.0." + std::to_string(i); }
    // The host's lshw prints the test's XML with a CPU named after `mark`.
    void Picture(int i, const std::string& mark)
    {
        std::string text = xml;
        const std::string cpu = "<product>AMD EPYC</product>";
        text.replace(text.find(cpu), cpu.size(), "<product>AMD EPYC " + mark + "</product>");
        WriteText(gates.file("xml." + Address(i)), text);
    }
    void Hold(int i) { WriteText(gates.file("hold." + Address(i)), ""); }
    void Release(int i) { std::filesystem::remove(gates.file("hold." + Address(i))); }
    bool Seen(int i) const { return std::filesystem::exists(gates.file("seen." + Address(i))); }
    std::time_t SeenAt(int i) const
    {
        struct stat info{};
        return ::stat(gates.file("seen." + Address(i)).c_str(), &info) == 0 ? info.st_mtime : 0;
    }

    TempRegistry registry;
    TempDir dir;
    TempDir gates;
    std::string console;
    std::string xml;
    std::unique_ptr<SshdPeer> server;
};

TEST_F(FleetMergeTest, TheLaterSaveMergesItsScansAndTheNewerScanOfEachHostWins)
{
    // The second refresh scans .2 at once and waits inside the scan of .3.
    Hold(3);
    for (int i = 2; i <= 4; ++i) Picture(i, "second");
    RunResult second;
    std::thread secondRun([&] {
        second = Ferrodex(console + " refresh Fleet/127.0.0.2 Fleet/127.0.0.3 Fleet/127.0.0.4 --jobs 3 --json" +
                              TestLogin(),
                          PasswordLines(3));
    });
    struct Joiner {
        std::thread& thread;
        std::function<void()> release;
        ~Joiner()
        {
            release();
            if (thread.joinable()) thread.join();
        }
    } joiner{secondRun, [this] { Release(3); }};
    ASSERT_TRUE(WaitUntil([&] { return Seen(2) && Seen(3) && Seen(4); }, std::chrono::seconds(120)))
        << server->logText();
    // The first refresh scans .2 again a second later, and .1, and saves.
    ASSERT_TRUE(WaitUntil([&] { return std::time(nullptr) >= SeenAt(2) + 2; }, std::chrono::seconds(120)));
    Picture(1, "first-newer");
    Picture(2, "first-newer");
    const RunResult first =
        Ferrodex(console + " refresh Fleet/127.0.0.1 Fleet/127.0.0.2 --json" + TestLogin(), PasswordLines(2));
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_EQ(CountOccurrences(first.out, "\"saved\":true"), 2u) << first.out;
    // An inventory edit of another command meanwhile: .4 goes.
    const RunResult removed = Ferrodex(console + " host remove Fleet/127.0.0.4");
    ASSERT_EQ(removed.status, 0) << removed.err;

    Release(3);
    secondRun.join();
    EXPECT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_NE(second.err.find("its changes are kept and this command's scans were added to it"), std::string::npos)
        << second.err;
    EXPECT_NE(second.err.find("Fleet/127.0.0.2: another ferrodex saved a newer scan"), std::string::npos) << second.err;
    EXPECT_NE(second.err.find("Fleet/127.0.0.4 is no longer in"), std::string::npos) << second.err;
    EXPECT_NE(RefreshRecordOf(second.out, "Fleet/127.0.0.3").find("\"saved\":true"), std::string::npos) << second.out;
    EXPECT_NE(RefreshRecordOf(second.out, "Fleet/127.0.0.2").find("\"saved\":false"), std::string::npos) << second.out;

    // The file: every host's newest scan, the first refresh's hosts and its
    // removal kept.
    const RunResult exported = Ferrodex(console + " export --format json");
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_NE(HostPart(exported.out, "127.0.0.1").find("AMD EPYC first-newer"), std::string::npos) << exported.out;
    EXPECT_NE(HostPart(exported.out, "127.0.0.2").find("AMD EPYC first-newer"), std::string::npos) << exported.out;
    EXPECT_NE(HostPart(exported.out, "127.0.0.3").find("AMD EPYC second"), std::string::npos) << exported.out;
    EXPECT_EQ(HostPart(exported.out, "127.0.0.4"), "") << exported.out;
    EXPECT_EQ(exported.err.find("no stored scan"), std::string::npos) << exported.err;

    // The history agrees: the newest entry of .2 is the one the file shows,
    // so the last change is the older scan's CPU becoming the newer one's.
    const RunResult diff = Ferrodex(console + " diff Fleet/127.0.0.2");
    ASSERT_EQ(diff.status, 1) << "a change found" << diff.out << diff.err;
    const std::size_t older = diff.out.find("AMD EPYC second");
    const std::size_t newer = diff.out.find("AMD EPYC first-newer");
    ASSERT_NE(older, std::string::npos) << diff.out;
    ASSERT_NE(newer, std::string::npos) << diff.out;
    EXPECT_LT(older, newer) << diff.out;
}

}  // namespace
