// The packet log's text at each level, that passwords never reach it, and
// its file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/registry.h"
#include "ssh2/packet.h"
#include "ssh2/packetlog.h"
#include "tests/ssh2/session_env.h"

namespace {

std::string Format(bool incoming, const CSshPacketBuilder& b)
{
    return CSshPacketLog::Format(incoming, b.Data().data(), b.Data().size(), PACKETLOG_FULL);
}

std::string Brief(bool incoming, const CSshPacketBuilder& b)
{
    return CSshPacketLog::Format(incoming, b.Data().data(), b.Data().size(), PACKETLOG_TYPES);
}

// A password login request; with newPassword, a password change.
CSshPacketBuilder PasswordRequest(const char* user, const char* password, const char* newPassword = nullptr)
{
    CSshPacketBuilder b;
    b.Start(50);
    for (const char* text : {user, "ssh-connection", "password"}) b.PutString(std::string_view(text));
    b.PutBool(newPassword != nullptr);
    b.PutString(std::string_view(password));
    if (newPassword) b.PutString(std::string_view(newPassword));
    return b;
}

// A channel's data: the packet a command's input travels in.
CSshPacketBuilder ChannelData(std::uint32_t channel, std::string_view data)
{
    CSshPacketBuilder b;
    b.Start(94);
    b.PutUint32(channel);
    b.PutString(data);
    return b;
}

TEST(PacketLogTest, HeaderOnlyForAnEmptyPayload)
{
    CSshPacketBuilder b;
    b.Start(21);
    EXPECT_EQ(Format(true, b), "\nIncoming packet: Type: 21 / 0x15 (SSH2_MSG_NEWKEYS)\n");
    b.Start(200);
    EXPECT_EQ(Format(false, b), "\nOutgoing packet: Type: 200 / 0xc8 (Unknown packet)\n");
}

TEST(PacketLogTest, HexDumpRows)
{
    CSshPacketBuilder b;
    b.Start(94);
    b.PutRaw(AsBytes(std::string_view("\x00\x01Hello, world!\x7f\xff" "ABCD", 21)));
    EXPECT_EQ(Format(true, b),
              "\nIncoming packet: Type: 94 / 0x5e (SSH2_MSG_CHANNEL_DATA)\n"
              "  00000000:  00 01 48 65 6C 6C 6F 2C | 20 77 6F 72 6C 64 21 7F ..Hello, world!.\n"
              "  00000010:  FF 41 42 43 44          |                         .ABCD\n");
}

TEST(PacketLogTest, PasswordsBecomeAsterisks)
{
    for (bool change : {false, true}) {
        const CSshPacketBuilder b = PasswordRequest("alice", "s3cret-Pass", change ? "n3w-Pass" : nullptr);
        const std::string bytes = LoggedBytes(Format(false, b));
        EXPECT_EQ(bytes.find("s3cret"), std::string::npos);
        EXPECT_EQ(bytes.find("n3w"), std::string::npos);
        EXPECT_NE(bytes.find("alice"), std::string::npos);
        EXPECT_NE(bytes.find("***********"), std::string::npos);
        EXPECT_EQ(bytes.size(), b.Data().size() - 6);
        // A truncated password field hides everything after its start.
        const std::string cut = CSshPacketLog::Format(false, b.Data().data(), b.Data().size() - 3, PACKETLOG_FULL);
        EXPECT_EQ(LoggedBytes(cut).find("s3cr"), std::string::npos);
    }
}

TEST(PacketLogTest, ACommandsInputIsHiddenAtEveryLevel)
{
    // A command's input is sudo's password: neither its bytes nor its
    // length are logged; the same data coming in is output and shown.
    const CSshPacketBuilder b = ChannelData(7, "sudo-pass\n");
    const std::string out = LoggedBytes(Format(false, b));
    EXPECT_EQ(out.find("sudo-pass"), std::string::npos);
    EXPECT_EQ(out.size(), b.Data().size() - 6);
    EXPECT_EQ(out.substr(0, 4), std::string("\0\0\0\x07", 4));  // the channel stays readable
    EXPECT_EQ(out.substr(4), std::string(out.size() - 4, '*'));
    EXPECT_NE(LoggedBytes(Format(true, b)).find("sudo-pass"), std::string::npos);
    EXPECT_EQ(Brief(false, b), Brief(false, ChannelData(7, "a-much-longer-sudo-password\n")));
    EXPECT_EQ(Brief(false, b).find("Length"), std::string::npos);
}

TEST(PacketLogTest, DefaultLevelKeepsTypesAndSizesOnly)
{
    const CSshPacketBuilder data = ChannelData(0, "uptime: secret-output");
    EXPECT_EQ(Brief(true, data), "\nIncoming packet: Type: 94 / 0x5e (SSH2_MSG_CHANNEL_DATA) Length: 29\n");

    // The size of a login request follows the lengths of the login name and
    // the password; so does the padding sent beside it. Neither is given.
    const auto shortOne = PasswordRequest("al", "pw");
    const auto longOne = PasswordRequest("alice-the-admin", "a-much-longer-password");
    EXPECT_EQ(Brief(false, shortOne), Brief(false, longOne));
    EXPECT_EQ(Brief(false, longOne), "\nOutgoing packet: Type: 50 / 0x32 (SSH2_MSG_USERAUTH_REQUEST)\n");
    for (unsigned type : {2u, 61u}) {
        CSshPacketBuilder b;
        b.Start(type);
        b.PutString(std::string_view("noise of a password's length"));
        EXPECT_EQ(Brief(false, b).find("Length"), std::string::npos) << type;
        EXPECT_NE(Brief(true, b).find("Length: 32"), std::string::npos) << type;
    }
    EXPECT_EQ(CSshPacketLog::Format(true, data.Data().data(), data.Data().size(), PACKETLOG_OFF), "");
}

TEST(PacketLogTest, FileIsTruncatedAndOwnerOnly)
{
    CSessionEnvironment env;
    const std::string path = CSshPacketLog::DefaultPath();
    EXPECT_EQ(path, env.LogPath());
    {
        CSshPacketLog log(path, PACKETLOG_FULL);
        CSshPacketBuilder b;
        b.Start(2);
        log.Log(false, b.Data().data(), b.Data().size());
    }
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read | std::filesystem::perms::others_read);
    CSshPacketLog again(path, PACKETLOG_TYPES);
    EXPECT_TRUE(again.IsOpen());
    EXPECT_EQ(env.LogText(), "");
    const auto perms = std::filesystem::status(path).permissions();
    EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
              std::filesystem::perms::none);
}

TEST(PacketLogTest, NeverWritesThroughASymbolicLink)
{
    CSessionEnvironment env;
    TempDir elsewhere;
    const std::string victim = elsewhere.file("victim");
    std::ofstream(victim) << "keep me";
    ASSERT_EQ(CSshPacketLog::DefaultPath(), env.LogPath());  // makes the folder
    ASSERT_EQ(::symlink(victim.c_str(), env.LogPath().c_str()), 0);
    CSshPacketLog log(env.LogPath(), PACKETLOG_FULL);
    EXPECT_FALSE(log.IsOpen());
    CSshPacketBuilder b;
    b.Start(2);
    log.Log(false, b.Data().data(), b.Data().size());
    EXPECT_EQ(ReadWholeFile(victim), "keep me");
}

constexpr char16_t kProductKey[] = u"Software\\Quillon\\Ferrodex";

// The environment, even empty, outweighs the stored setting; only its exact
// words count.
TEST(PacketLogTest, LevelComesFromTheRegistryUnlessTheEnvironmentSetsOne)
{
    const struct {
        const char* environment;
        long stored;  // -1: no value
        EPacketLogLevel level;
    } cases[] = {{nullptr, -1, PACKETLOG_HEADERS}, {nullptr, 0, PACKETLOG_OFF},  {nullptr, 1, PACKETLOG_HEADERS},
                 {nullptr, 2, PACKETLOG_FULL},     {nullptr, 3, PACKETLOG_HEADERS}, {"off", 2, PACKETLOG_OFF},
                 {"headers", 0, PACKETLOG_HEADERS}, {"full", 0, PACKETLOG_FULL}, {"bogus", 0, PACKETLOG_HEADERS},
                 {"FULL ", 0, PACKETLOG_HEADERS}, {"", 2, PACKETLOG_HEADERS}};
    for (const auto& c : cases) {
        CSessionEnvironment env(c.environment);
        if (c.stored >= 0) {
            ASSERT_EQ(RegWriteDword(HKEY_CURRENT_USER, kProductKey, u"PacketLogLevel", static_cast<DWORD>(c.stored)),
                      ERROR_SUCCESS);
        }
        EXPECT_EQ(CSshPacketLog::LevelFromSettings(), c.level)
            << (c.environment ? c.environment : "(unset)") << " / " << c.stored;
    }
}

TEST(PacketLogTest, PasswordReachesTheFileAtNoLevel)
{
    const std::string password = "Hunter2-very-secret";
    std::string hex;
    for (const unsigned char c : password) {
        static const char kHex[] = "0123456789ABCDEF";
        hex += {kHex[c >> 4], kHex[c & 15], ' '};
    }
    hex.resize(3 * 4);  // the first four bytes, as a dump row shows them
    for (const EPacketLogLevel level : {PACKETLOG_OFF, PACKETLOG_HEADERS, PACKETLOG_FULL}) {
        CSessionEnvironment env;
        {
            CSshPacketLog log(CSshPacketLog::DefaultPath(), level);
            for (const auto& b : {PasswordRequest("alice", password.c_str()), ChannelData(0, password)})
                log.Log(false, b.Data().data(), b.Data().size());
        }
        const std::string text = env.LogText();
        EXPECT_EQ(text.find(password.substr(0, 6)), std::string::npos) << level;
        EXPECT_EQ(text.find(hex), std::string::npos) << level;
        EXPECT_EQ(LoggedBytes(text).find(password.substr(0, 6)), std::string::npos) << level;
        if (level == PACKETLOG_FULL) {
            EXPECT_NE(text.find("alice"), std::string::npos);
        }
        if (level == PACKETLOG_OFF) {
            EXPECT_EQ(text, "");
        }
    }
}

TEST(PacketLogTest, GatheredTextReachesTheFileWholeAndInOrder)
{
    // Enough packets to pass the write threshold several times, in sizes
    // that end a write anywhere inside a packet's text.
    CSessionEnvironment env;
    std::string expected;
    {
        CSshPacketLog log(CSshPacketLog::DefaultPath(), PACKETLOG_FULL);
        ASSERT_TRUE(log.IsOpen());
        for (std::size_t i = 0; i < 300; ++i) {
            CSshPacketBuilder b;
            b.Start(static_cast<std::uint8_t>(i % 2 ? 94 : 93));
            b.PutRaw(std::vector<std::uint8_t>(1 + (i * 37) % 700, static_cast<std::uint8_t>(i)));
            log.Log(true, b.Data().data(), b.Data().size());
            expected += CSshPacketLog::Format(true, b.Data().data(), b.Data().size(), PACKETLOG_FULL);
            if (i == 150) {
                // A step's end writes out what gathered so far.
                log.Flush();
                EXPECT_TRUE(env.LogText() == expected);
            }
        }
    }
    const std::string text = env.LogText();
    EXPECT_GT(text.size(), 200u * 1024);
    EXPECT_TRUE(text == expected);
}

}  // namespace
