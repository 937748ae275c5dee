// The transport around a later key exchange, over in-memory streams: what
// may go out while one runs, which keys protect what was held back, who sees
// a server's KEXINIT, and when our own limits ask for new keys.
#include <gtest/gtest.h>

#include <functional>

#include "ssh2/errors.h"
#include "ssh2/random.h"
#include "ssh2/transport.h"
#include "tests/ssh2/memory_stream.h"
#include "tests/ssh2/test_util.h"
#include "tests/support/shifted_clock.h"

namespace {

// Keys made from `seed` (aes128-ctr, hmac-sha2-256) for one direction.
void Install(CSshTransport& t, std::uint8_t seed, bool outgoing = true)
{
    auto cipher = CSshCipher::Create("aes128-ctr");
    auto mac = CSshMac::Create("hmac-sha2-256");
    cipher->SetKey(Pattern(64, seed));
    cipher->SetIV(Pattern(16, static_cast<std::uint8_t>(seed + 1)));
    mac->SetKey(Pattern(64, static_cast<std::uint8_t>(seed + 2)));
    if (outgoing)
        t.SetOutgoing(std::move(cipher), std::move(mac), nullptr);
    else
        t.SetIncoming(std::move(cipher), std::move(mac), nullptr);
}

void SendEmpty(CSshTransport& t, std::uint8_t type, std::uint32_t value = 7)
{
    t.Start(type).PutUint32(value);
    t.Send();
}

// Records what the transport asks of it; each call may act on the
// transports through the given functions.
class CRecordingExchanger : public ISshKeyExchanger {
public:
    void ServerStartedKeyExchange() override
    {
        ++serverStarts;
        if (onServer) onServer();
    }
    void StartKeyExchange() override
    {
        ++ourStarts;
        if (onOurs) onOurs();
    }
    int serverStarts = 0, ourStarts = 0;
    std::function<void()> onServer, onOurs;
};

// Puts the byte limit back whatever the test did.
struct SRekeyBytes {
    explicit SRekeyBytes(std::uint64_t bytes) { CSshTransport::SetRekeyBytesForTesting(bytes); }
    ~SRekeyBytes() { CSshTransport::SetRekeyBytesForTesting(0); }
};

// The transport reads the shifted clock while the object lives.
struct SShiftedKeysClock {
    ShiftedClock clock;
    SShiftedKeysClock() { CSshTransport::SetRekeyClockForTesting(&ShiftedClock::Now); }
    ~SShiftedKeysClock() { CSshTransport::SetRekeyClockForTesting(nullptr); }
};

struct SPair {
    SPair() : sender(out, CRandomPool::Instance(), nullptr), receiver(in, CRandomPool::Instance(), nullptr)
    {
        Install(sender, 10);
        Install(receiver, 10, false);
    }
    void Carry()
    {
        in.Feed(out.output);
        out.output.clear();
    }
    // Our own exchanges on `t` are recorded and start with a KEXINIT.
    void WatchOurExchanges(CSshTransport& t)
    {
        exchanger.onOurs = [&t] { SendEmpty(t, SSH_MSG_KEXINIT); };
        t.SetKeyExchanger(&exchanger);
    }
    CRecordingExchanger exchanger;
    CMemoryStream out, in;
    CSshTransport sender, receiver;
};

TEST(RekeyTransportTest, OnlyTransportAndExchangeMessagesGoOutUntilNewKeysThenTheRestUnderTheNewKeys)
{
    SPair p;
    SendEmpty(p.sender, SSH_MSG_KEXINIT);
    EXPECT_TRUE(p.sender.KeyExchangeSent());
    const std::size_t afterKexInit = p.out.output.size();
    // Connection messages, and a service request, wait.
    SendEmpty(p.sender, SSH_MSG_CHANNEL_DATA, 1);
    SendEmpty(p.sender, SSH_MSG_SERVICE_REQUEST, 2);
    SendEmpty(p.sender, SSH_MSG_CHANNEL_WINDOW_ADJUST, 3);
    p.sender.Start(SSH_MSG_USERAUTH_REQUEST).PutString(std::string_view("user"));
    p.sender.Defer();
    p.sender.FlushDeferred();
    EXPECT_EQ(p.out.output.size(), afterKexInit);
    EXPECT_EQ(p.sender.HeldBackCount(), 4u);
    // The exchange's own messages and the transport's go at once.
    SendEmpty(p.sender, SSH_MSG_IGNORE);
    SendEmpty(p.sender, SSH_MSG_KEXDH_INIT);
    SendEmpty(p.sender, SSH_MSG_NEWKEYS);
    EXPECT_GT(p.out.output.size(), afterKexInit);
    const std::size_t beforeHeld = p.out.output.size();
    Install(p.sender, 50);
    p.sender.SendHeldBack();
    EXPECT_FALSE(p.sender.KeyExchangeSent());
    EXPECT_EQ(p.sender.HeldBackCount(), 0u);
    EXPECT_GT(p.out.output.size(), beforeHeld);

    p.Carry();
    EXPECT_EQ(p.receiver.ReadPacket(), SSH_MSG_KEXINIT);
    EXPECT_EQ(p.receiver.ReadPacket(), SSH_MSG_KEXDH_INIT);  // the IGNORE was taken by the transport
    EXPECT_EQ(p.receiver.ReadPacket(), SSH_MSG_NEWKEYS);
    // The held-back packets read only under the new keys.
    Install(p.receiver, 50, false);
    const std::uint8_t expected[] = {SSH_MSG_CHANNEL_DATA, SSH_MSG_SERVICE_REQUEST, SSH_MSG_CHANNEL_WINDOW_ADJUST,
                                     SSH_MSG_USERAUTH_REQUEST};
    for (const std::uint8_t type : expected) EXPECT_EQ(p.receiver.ReadPacket(), type);
    // Nothing of the held-back packets stays in the sender's buffers.
    EXPECT_EQ(p.receiver.UnparsedBytes(), 0u);
}

TEST(RekeyTransportTest, AServersKexInitAfterTheFirstExchangeGoesToTheExchangerBetweenTwoDataPackets)
{
    SPair p;
    std::vector<std::uint8_t> seenInside;
    p.exchanger.onServer = [&] {
        seenInside.push_back(p.receiver.Type());
        // A KEXINIT read while the exchange runs is the exchange's to refuse,
        // not a second exchange.
        seenInside.push_back(p.receiver.ReadPacket());
    };
    p.receiver.SetKeyExchanger(&p.exchanger);
    SendEmpty(p.sender, SSH_MSG_CHANNEL_DATA, 1);
    SendEmpty(p.sender, SSH_MSG_KEXINIT);
    SendEmpty(p.sender, SSH_MSG_KEXINIT);
    SendEmpty(p.sender, SSH_MSG_CHANNEL_DATA, 2);
    p.sender.SendHeldBack();  // the sender's own KEXINIT held it back
    p.Carry();
    EXPECT_EQ(p.receiver.ReadPacket(), SSH_MSG_CHANNEL_DATA);
    EXPECT_EQ(p.receiver.ReadPacket(), SSH_MSG_CHANNEL_DATA);
    EXPECT_EQ(p.receiver.Reader().GetUint32(), 2u);
    EXPECT_EQ(p.exchanger.serverStarts, 1);
    EXPECT_EQ(seenInside, (std::vector<std::uint8_t>{SSH_MSG_KEXINIT, SSH_MSG_KEXINIT}));

    // Without an exchanger (the first exchange) the caller gets it.
    SPair first;
    SendEmpty(first.sender, SSH_MSG_KEXINIT);
    first.Carry();
    EXPECT_EQ(first.receiver.ReadPacket(), SSH_MSG_KEXINIT);
}

TEST(RekeyTransportTest, OurByteLimitStartsOneExchangeInEitherDirection)
{
    const SRekeyBytes limit(4096);
    {
        // Sending: the packet that finds the limit passed waits for the new
        // keys, behind our KEXINIT.
        SPair p;
        p.WatchOurExchanges(p.sender);
        int sent = 0;
        while (p.sender.BytesOut() < 4096) {
            p.sender.Start(SSH_MSG_CHANNEL_DATA).PutRaw(std::vector<std::uint8_t>(500, 0x41));
            p.sender.Send();
            ++sent;
        }
        EXPECT_EQ(p.exchanger.ourStarts, 0);
        for (int i = 0; i < 3; ++i) SendEmpty(p.sender, SSH_MSG_CHANNEL_DATA);
        EXPECT_EQ(p.exchanger.ourStarts, 1);
        EXPECT_EQ(p.sender.HeldBackCount(), 3u);
        p.Carry();
        for (int i = 0; i < sent; ++i) EXPECT_EQ(p.receiver.ReadPacket(), SSH_MSG_CHANNEL_DATA);
        EXPECT_EQ(p.receiver.ReadPacket(), SSH_MSG_KEXINIT);
        // New keys start the count again.
        Install(p.sender, 60);
        p.sender.SendHeldBack();
        EXPECT_LT(p.sender.BytesOut(), 4096u);
        SendEmpty(p.sender, SSH_MSG_CHANNEL_DATA);
        EXPECT_EQ(p.exchanger.ourStarts, 1);
    }
    {
        // Receiving: the packet that passes the limit still reaches the
        // caller, and our KEXINIT goes out once.
        SPair p;
        p.WatchOurExchanges(p.receiver);
        for (int i = 0; i < 12; ++i) {
            p.sender.Start(SSH_MSG_CHANNEL_DATA).PutRaw(std::vector<std::uint8_t>(500, 0x42));
            p.sender.Send();
        }
        p.Carry();
        for (int i = 0; i < 12; ++i) EXPECT_EQ(p.receiver.ReadPacket(), SSH_MSG_CHANNEL_DATA);
        EXPECT_EQ(p.exchanger.ourStarts, 1);
        EXPECT_TRUE(p.receiver.KeyExchangeSent());
    }
}

TEST(RekeyTransportTest, SmallBlockCiphersAskForNewKeysBeforeTheirLimit)
{
    // 2^(L/4) blocks of L bits: 2^16 blocks of 8 bytes for 64-bit blocks;
    // 128-bit blocks reach 1 GiB first, and a stream cipher has no blocks.
    EXPECT_EQ(CSshTransport::RekeyLimit(CSshCipher::Create("3des-cbc").get()), 512u * 1024);
    EXPECT_EQ(CSshTransport::RekeyLimit(CSshCipher::Create("aes128-ctr").get()), CSshTransport::kRekeyBytes);
    EXPECT_EQ(CSshTransport::RekeyLimit(CSshCipher::Create("aes256-gcm@openssh.com").get()),
              CSshTransport::kRekeyBytes);
    EXPECT_EQ(CSshTransport::RekeyLimit(CSshCipher::Create("chacha20-poly1305@openssh.com").get()),
              CSshTransport::kRekeyBytes);
    EXPECT_EQ(CSshTransport::kRekeyBytes, std::uint64_t{1} << 30);
    const SRekeyBytes lowered(1000);
    EXPECT_EQ(CSshTransport::RekeyLimit(CSshCipher::Create("3des-cbc").get()), 1000u);
}

TEST(RekeyTransportTest, KeysAnHourOldAskForNewOnesAtTheNextPacketEitherWay)
{
    using std::chrono::seconds;
    const SShiftedKeysClock clock;
    {
        // Sending: a second short of the hour changes nothing; at the hour
        // the next packet waits behind our KEXINIT.
        SPair p;
        p.WatchOurExchanges(p.sender);
        ShiftedClock::Advance(CSshTransport::kRekeyInterval - seconds(1));
        SendEmpty(p.sender, SSH_MSG_CHANNEL_DATA, 1);
        EXPECT_EQ(p.exchanger.ourStarts, 0);
        EXPECT_EQ(p.sender.HeldBackCount(), 0u);
        ShiftedClock::Advance(seconds(1));
        SendEmpty(p.sender, SSH_MSG_CHANNEL_DATA, 2);
        EXPECT_EQ(p.exchanger.ourStarts, 1);
        EXPECT_EQ(p.sender.HeldBackCount(), 1u);
        // Still waiting for the answer: no second KEXINIT.
        SendEmpty(p.sender, SSH_MSG_CHANNEL_DATA, 3);
        EXPECT_EQ(p.exchanger.ourStarts, 1);
        p.Carry();
        EXPECT_EQ(p.receiver.ReadPacket(), SSH_MSG_CHANNEL_DATA);
        EXPECT_EQ(p.receiver.ReadPacket(), SSH_MSG_KEXINIT);
        // New keys: their hour starts now.
        Install(p.sender, 70);
        p.sender.SendHeldBack();
        ShiftedClock::Advance(CSshTransport::kRekeyInterval - seconds(1));
        SendEmpty(p.sender, SSH_MSG_CHANNEL_DATA, 4);
        EXPECT_EQ(p.exchanger.ourStarts, 1);
        ShiftedClock::Advance(seconds(1));
        SendEmpty(p.sender, SSH_MSG_CHANNEL_DATA, 5);
        EXPECT_EQ(p.exchanger.ourStarts, 2);
    }
    {
        // Receiving: the packet read after the hour still reaches the
        // caller, and our KEXINIT goes out with it.
        SPair p;
        Install(p.receiver, 20);
        p.WatchOurExchanges(p.receiver);
        for (std::uint32_t i = 1; i <= 3; ++i) SendEmpty(p.sender, SSH_MSG_CHANNEL_DATA, i);
        p.Carry();
        ShiftedClock::Advance(CSshTransport::kRekeyInterval - seconds(1));
        EXPECT_EQ(p.receiver.ReadPacket(), SSH_MSG_CHANNEL_DATA);
        EXPECT_EQ(p.exchanger.ourStarts, 0);
        ShiftedClock::Advance(seconds(1));
        EXPECT_EQ(p.receiver.ReadPacket(), SSH_MSG_CHANNEL_DATA);
        EXPECT_EQ(p.receiver.Reader().GetUint32(), 2u);
        EXPECT_EQ(p.exchanger.ourStarts, 1);
        EXPECT_TRUE(p.receiver.KeyExchangeSent());
        EXPECT_EQ(p.receiver.ReadPacket(), SSH_MSG_CHANNEL_DATA);
        EXPECT_EQ(p.exchanger.ourStarts, 1);
    }
    {
        // Before the first keys nothing is due, however long it took.
        CMemoryStream out;
        CSshTransport plain(out, CRandomPool::Instance(), nullptr);
        CRecordingExchanger exchanger;
        plain.SetKeyExchanger(&exchanger);
        ShiftedClock::Advance(2 * CSshTransport::kRekeyInterval);
        SendEmpty(plain, SSH_MSG_CHANNEL_DATA);
        EXPECT_EQ(exchanger.ourStarts, 0);
    }
}

}  // namespace
