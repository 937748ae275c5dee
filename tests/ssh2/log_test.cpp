// The packet log's text, and that passwords never reach it.
#include <gtest/gtest.h>

#include <filesystem>

#include "ssh2/packet.h"
#include "ssh2/packetlog.h"
#include "tests/ssh2/session_env.h"

namespace {

std::string Format(bool incoming, const CSshPacketBuilder& b)
{
    return CSshPacketLog::Format(incoming, b.Data().data(), b.Data().size());
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
        CSshPacketBuilder b;
        b.Start(50);
        b.PutString(std::string_view("alice"));
        b.PutString(std::string_view("ssh-connection"));
        b.PutString(std::string_view("password"));
        b.PutBool(change);
        b.PutString(std::string_view("s3cret-Pass"));
        if (change) b.PutString(std::string_view("n3w-Pass"));
        const std::string bytes = LoggedBytes(Format(false, b));
        EXPECT_EQ(bytes.find("s3cret"), std::string::npos);
        EXPECT_EQ(bytes.find("n3w"), std::string::npos);
        EXPECT_NE(bytes.find("alice"), std::string::npos);
        EXPECT_NE(bytes.find("***********"), std::string::npos);
        EXPECT_EQ(bytes.size(), b.Data().size() - 6);
        // A truncated password field hides everything after its start.
        const std::string cut = CSshPacketLog::Format(false, b.Data().data(), b.Data().size() - 3);
        EXPECT_EQ(LoggedBytes(cut).find("s3cr"), std::string::npos);
    }
}

TEST(PacketLogTest, FileIsTruncatedAndOwnerOnly)
{
    CSessionEnvironment env;
    const std::string path = CSshPacketLog::DefaultPath();
    EXPECT_EQ(path, env.LogPath());
    {
        CSshPacketLog log(path);
        CSshPacketBuilder b;
        b.Start(2);
        log.Log(false, b.Data().data(), b.Data().size());
    }
    CSshPacketLog again(path);
    EXPECT_TRUE(again.IsOpen());
    EXPECT_EQ(env.LogText(), "");
    const auto perms = std::filesystem::status(path).permissions();
    EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
              std::filesystem::perms::none);
}

}  // namespace
