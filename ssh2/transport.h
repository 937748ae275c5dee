// The SSH-2 transport of the client: identification lines, the binary
// packet protocol in both directions and the messages the transport itself
// answers (DISCONNECT, IGNORE, GLOBAL_REQUEST, unknown types).
#pragma once

#include <cstddef>
#include <cstdint>
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

// The text a server's DISCONNECT leaves in the session output.
std::string DescribeDisconnect(std::uint32_t reason, std::string_view description);

class CSshTransport {
public:
    // Receive buffer: room for the largest packet accepted (35,000 bytes of
    // packet length, its length field and a MAC or tag of up to 64 bytes).
    static constexpr std::size_t kMaxPacketLength = 35000;
    static constexpr std::size_t kReceiveBufferSize = 36 * 1024;
    static constexpr std::size_t kMaxIdentificationBytes = 16 * 1024;

    // log may be null. The pool gives the padding bytes.
    CSshTransport(ISshStream& stream, CRandomPool& pool, CSshPacketLog* log);
    ~CSshTransport();

    void Reset();

    // Reads lines until one starting with "SSH-"; returns it without its
    // line terminator. Bytes after its line feed stay buffered as the start
    // of the packet stream. Raises 2 when the protocol version is below 1.99.
    std::string ReadIdentification();
    void SendIdentification(const std::string& line);

    // Outgoing packets.
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

    std::uint32_t m_nInSequence = 0;
    std::uint32_t m_nOutSequence = 0;
    bool m_bStrictKex = false;
    std::string m_strDisconnect;

    std::unique_ptr<CSshCipher> m_pCsCipher, m_pScCipher;
    std::unique_ptr<CSshMac> m_pCsMac, m_pScMac;
    std::unique_ptr<CSshCompressor> m_pCsCompressor, m_pScCompressor;
};
