// The SSH-2 transport of the client: identification lines, the binary
// packet protocol in both directions and the messages the transport itself
// answers (DISCONNECT, IGNORE, GLOBAL_REQUEST, unknown types).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ssh2/algorithms.h"
#include "ssh2/packet.h"
#include "ssh2/socket.h"

class CRandomPool;
class CSshPacketLog;

enum ESshMessage : std::uint8_t {
    SSH_MSG_DISCONNECT = 1,
    SSH_MSG_IGNORE = 2,
    SSH_MSG_UNIMPLEMENTED = 3,
    SSH_MSG_DEBUG = 4,
    SSH_MSG_SERVICE_REQUEST = 5,
    SSH_MSG_SERVICE_ACCEPT = 6,
    SSH_MSG_KEXINIT = 20,
    SSH_MSG_NEWKEYS = 21,
    SSH_MSG_KEXDH_INIT = 30,
    SSH_MSG_KEX_DH_GEX_REQUEST_OLD = 30,
    SSH_MSG_KEXDH_REPLY = 31,
    SSH_MSG_KEX_DH_GEX_GROUP = 31,
    SSH_MSG_KEX_DH_GEX_INIT = 32,
    SSH_MSG_KEX_DH_GEX_REPLY = 33,
    SSH_MSG_KEX_DH_GEX_REQUEST = 34,
    SSH_MSG_KEX_ECDH_INIT = 30,
    SSH_MSG_KEX_ECDH_REPLY = 31,
    SSH_MSG_USERAUTH_REQUEST = 50,
    SSH_MSG_USERAUTH_FAILURE = 51,
    SSH_MSG_USERAUTH_SUCCESS = 52,
    SSH_MSG_USERAUTH_BANNER = 53,
    SSH_MSG_USERAUTH_PASSWD_CHANGEREQ = 60,
    // The same number answers a key query and asks a keyboard-interactive
    // question; which one, the request that came before tells.
    SSH_MSG_USERAUTH_PK_OK = 60,
    SSH_MSG_USERAUTH_INFO_REQUEST = 60,
    SSH_MSG_USERAUTH_INFO_RESPONSE = 61,
    SSH_MSG_EXT_INFO = 7,
    SSH_MSG_GLOBAL_REQUEST = 80,
    SSH_MSG_REQUEST_FAILURE = 82,
    SSH_MSG_CHANNEL_OPEN = 90,
    SSH_MSG_CHANNEL_OPEN_CONFIRMATION = 91,
    SSH_MSG_CHANNEL_OPEN_FAILURE = 92,
    SSH_MSG_CHANNEL_WINDOW_ADJUST = 93,
    SSH_MSG_CHANNEL_DATA = 94,
    SSH_MSG_CHANNEL_EXTENDED_DATA = 95,
    SSH_MSG_CHANNEL_EOF = 96,
    SSH_MSG_CHANNEL_CLOSE = 97,
    SSH_MSG_CHANNEL_REQUEST = 98,
    SSH_MSG_CHANNEL_SUCCESS = 99,
    SSH_MSG_CHANNEL_FAILURE = 100,
};

constexpr std::uint32_t SSH_DISCONNECT_BY_APPLICATION = 11;

// Runs the key exchanges that come after the first one. The transport calls
// it at packet boundaries only.
class ISshKeyExchanger {
public:
    virtual ~ISshKeyExchanger() = default;
    // The server's KEXINIT is the current packet: exchange keys up to the
    // NEWKEYS of both directions (sending our KEXINIT first when it has not
    // gone yet).
    virtual void ServerStartedKeyExchange() = 0;
    // Our keys have been used long enough: send our KEXINIT. The exchange
    // goes on when the server's answer arrives.
    virtual void StartKeyExchange() = 0;
};

// The text a server's DISCONNECT leaves in the session output.
std::string DescribeDisconnect(std::uint32_t reason, std::string_view description);

class CSshTransport {
public:
    // Receive buffer: room for several of the largest packets accepted
    // (35,000 bytes of packet length, its length field and a MAC or tag of
    // up to 64 bytes), so that one read takes in many packets.
    static constexpr std::size_t kMaxPacketLength = 35000;
    static constexpr std::size_t kReceiveBufferSize = 256 * 1024;
    static constexpr std::size_t kMaxIdentificationBytes = 16 * 1024;

    // How long one set of keys serves before we ask for new ones: bytes in
    // either direction, and time.
    static constexpr std::uint64_t kRekeyBytes = std::uint64_t{1} << 30;
    static constexpr std::chrono::seconds kRekeyInterval{3600};

    // log may be null. The pool gives the padding bytes.
    CSshTransport(ISshStream& stream, CRandomPool& pool, CSshPacketLog* log);
    ~CSshTransport();

    void Reset();

    // Reads lines until one starting with "SSH-"; returns it without its
    // line terminator. Bytes after its line feed stay buffered as the start
    // of the packet stream. Raises 2 when the protocol version is below 1.99.
    std::string ReadIdentification();
    void SendIdentification(const std::string& line);

    // Outgoing packets. From our KEXINIT until our NEWKEYS only transport
    // and key-exchange messages go out; Send and Defer hold every other
    // packet back (its payload, to be protected with the new keys) until
    // SendHeldBack.
    CSshPacketBuilder& Start(std::uint8_t type);
    CSshPacketBuilder& Out() { return m_out; }
    void Send();
    void Defer();
    void FlushDeferred();
    std::size_t DeferredSize() const { return m_deferred.size(); }
    // The bytes an uncompressed packet with this much payload takes on the
    // wire now.
    std::size_t WireSize(std::size_t payloadSize) const;
    void SendDisconnect(std::uint32_t reason, std::string_view description);
    // Whether our KEXINIT went out and our NEWKEYS not yet.
    bool KeyExchangeSent() const { return m_bKexSent; }
    // Ends the held-back state (call after SetOutgoing following our
    // NEWKEYS) and sends what was held back, in order, under the new keys.
    void SendHeldBack();
    std::size_t HeldBackCount() const { return m_heldBack.size(); }

    // Once set (after the first exchange), a server's KEXINIT is handed to
    // the exchanger instead of the caller, and our own limits start new
    // exchanges. Null switches both off.
    void SetKeyExchanger(ISshKeyExchanger* exchanger) { m_pExchanger = exchanger; }
    // Bytes protected under the current keys, per direction, since they
    // were installed.
    std::uint64_t BytesOut() const { return m_nBytesOut; }
    std::uint64_t BytesIn() const { return m_nBytesIn; }
    // The bytes after which a direction asks for new keys: kRekeyBytes, or
    // less for a cipher with small blocks (2^(L/4) blocks of L bits).
    static std::uint64_t RekeyLimit(const CSshCipher* cipher);
    // For tests only: the byte limit of the sessions to come (0 restores
    // kRekeyBytes).
    static void SetRekeyBytesForTesting(std::uint64_t bytes);
    // For tests only: the clock that tells the keys' age (null restores the
    // steady clock).
    using RekeyClock = std::chrono::steady_clock::time_point (*)();
    static void SetRekeyClockForTesting(RekeyClock now);
    // Overwrites the whole of every outgoing work buffer (a secret may have
    // passed through them).
    void WipeOutgoing();

    // Reads the next packet that the caller must see and returns its type.
    // DISCONNECT raises 15 (its description kept for DisconnectText());
    // IGNORE and GLOBAL_REQUEST are handled here; other types this client
    // does not expect are answered with UNIMPLEMENTED and still returned.
    // In a strict key exchange every packet but DISCONNECT is returned as it
    // is, for the key exchange to refuse what it does not expect.
    std::uint8_t ReadPacket();
    std::uint8_t Type() const { return m_nInType; }
    // The current packet's payload (type byte first).
    ByteView Payload() const;
    // A reader positioned just past the type byte.
    CSshReader Reader() const { return CSshReader(Payload(), 1); }
    const std::string& DisconnectText() const { return m_strDisconnect; }

    // Installs the objects agreed by key exchange for one direction.
    void SetOutgoing(std::unique_ptr<CSshCipher> cipher, std::unique_ptr<CSshMac> mac,
                     std::unique_ptr<CSshCompressor> compressor);
    void SetIncoming(std::unique_ptr<CSshCipher> cipher, std::unique_ptr<CSshMac> mac,
                     std::unique_ptr<CSshCompressor> compressor);
    void ReleaseAlgorithms();
    // Starts delayed compressors ("zlib@openssh.com") in both directions.
    void ActivateCompression();
    // Strict key exchange: while on, ReadPacket handles no message itself.
    void SetStrictKex(bool strict) { m_bStrictKex = strict; }
    bool StrictKex() const { return m_bStrictKex; }
    // Sequence numbers start again at 0 after NEWKEYS in a strict exchange.
    void ResetOutSequence() { m_nOutSequence = 0; }
    void ResetInSequence() { m_nInSequence = 0; }
    CSshCipher* OutCipher() const { return m_pCsCipher.get(); }
    CSshCompressor* OutCompressor() const { return m_pCsCompressor.get(); }

    std::uint32_t InSequence() const { return m_nInSequence; }
    std::uint32_t OutSequence() const { return m_nOutSequence; }
    std::size_t UnparsedBytes() const { return m_nCount; }
    CSshPacketLog* Log() const { return m_pLog; }

private:
    void Finish(std::vector<std::uint8_t>& target);
    std::size_t Padding(std::size_t length) const;
    void Fill(std::size_t needed);
    void ReadOnePacket();
    void ReadAeadPacket();
    void ReadEtmPacket();
    void FinishPayload(std::uint32_t length, std::uint32_t padding);
    bool HandleTransportMessage();
    // Whether the packet in m_out must wait for the end of a key exchange;
    // holds it back when so (starting our exchange when our limits passed).
    bool HoldBack();
    bool RekeyDue() const;
    static std::chrono::steady_clock::time_point Now();

    ISshStream& m_stream;
    CRandomPool& m_pool;
    CSshPacketLog* m_pLog;

    std::vector<std::uint8_t> m_buffer;  // receive buffer
    std::size_t m_nOffset = 0;           // start of the unparsed bytes
    std::size_t m_nCount = 0;            // unparsed bytes

    std::vector<std::uint8_t> m_in;      // current packet, decrypted
    std::size_t m_nInLength = 0;         // 5 + payload length
    std::uint8_t m_nInType = 0;

    CSshPacketBuilder m_out;
    std::vector<std::uint8_t> m_wire;    // one finished packet
    std::vector<std::uint8_t> m_deferred;
    std::vector<std::uint8_t> m_scratch;

    std::deque<std::vector<std::uint8_t>> m_heldBack;  // payloads, type byte first
    bool m_bKexSent = false;
    bool m_bExchanging = false;  // the exchanger is running
    ISshKeyExchanger* m_pExchanger = nullptr;
    std::uint64_t m_nBytesOut = 0, m_nBytesIn = 0;
    std::uint64_t m_nOutLimit = kRekeyBytes, m_nInLimit = kRekeyBytes;
    std::chrono::steady_clock::time_point m_keysSince = Now();

    std::uint32_t m_nInSequence = 0;
    std::uint32_t m_nOutSequence = 0;
    bool m_bStrictKex = false;
    std::string m_strDisconnect;

    std::unique_ptr<CSshCipher> m_pCsCipher, m_pScCipher;
    std::unique_ptr<CSshMac> m_pCsMac, m_pScMac;
    std::unique_ptr<CSshCompressor> m_pCsCompressor, m_pScCompressor;
};
