#include "ssh2/transport.h"

#include <atomic>
#include <cstring>

#include "ssh2/errors.h"
#include "ssh2/packetlog.h"
#include "ssh2/random.h"
#include "sshcore/errors.h"

namespace {

// Runs a step of the foundation, raising its failure as the client's code.
template <typename F>
bool CoreStep(F step)
{
    try {
        return step();
    } catch (const sshcore::CCoreError& error) {
        throw error.Kind() == sshcore::ECoreError::Corrupt ? SSH_RECEIVE_ERROR : SSH_INTERNAL_ERROR;
    }
}

bool HandedToCaller(std::uint8_t type)
{
    switch (type) {
    case 6: case 7: case 20: case 21: case 30: case 31: case 32: case 33:
    case 50: case 51: case 52: case 53: case 60:
    case 91: case 93: case 94: case 95: case 96: case 97: case 98: case 99: case 100:
    case 92:  // a refused channel: the opener tells why
        return true;
    default:
        return false;
    }
}

const char* const kReasonNames[] = {
    "SSH_DISCONNECT_HOST_NOT_ALLOWED_TO_CONNECT",
    "SSH_DISCONNECT_PROTOCOL_ERROR",
    "SSH_DISCONNECT_KEY_EXCHANGE_FAILED",
    "SSH_DISCONNECT_HOST_AUTHENTICATION_FAILED",
    "SSH_DISCONNECT_MAC_ERROR",
    "SSH_DISCONNECT_COMPRESSION_ERROR",
    "SSH_DISCONNECT_SERVICE_NOT_AVAILABLE",
    "SSH_DISCONNECT_PROTOCOL_VERSION_NOT_SUPPORTED",
    "SSH_DISCONNECT_HOST_KEY_NOT_VERIFIABLE",
    "SSH_DISCONNECT_CONNECTION_LOST",
    "SSH_DISCONNECT_DISCONNECT_BY_APPLICATION",
    "SSH_DISCONNECT_TOO_MANY_CONNECTIONS",
    "SSH_DISCONNECT_AUTH_CANCELLED_BY_USER",
    "SSH_DISCONNECT_NO_MORE_AUTH_METHODS_AVAILABLE",
    "SSH_DISCONNECT_ILLEGAL_USER_NAME",
};

std::uint64_t g_rekeyBytesForTesting = 0;
std::atomic<CSshTransport::RekeyClock> g_rekeyClockForTesting{nullptr};

// Messages that may go out while a key exchange runs: the transport's own
// (but not a service request or its answer) and the exchange's.
bool AllowedDuringKeyExchange(std::uint8_t type)
{
    return type >= 1 && type <= 49 && type != 5 && type != 6;
}

// Marks the exchanger as running for as long as it lives.
struct SExchangingFlag {
    bool& flag;
    explicit SExchangingFlag(bool& f) : flag(f) { flag = true; }
    ~SExchangingFlag() { flag = false; }
    SExchangingFlag(const SExchangingFlag&) = delete;
    SExchangingFlag& operator=(const SExchangingFlag&) = delete;
};

std::size_t BlockSizeOf(const CSshCipher* cipher)
{
    const std::size_t bs = cipher ? cipher->BlockSize() : 8;
    return bs < 8 ? 8 : bs;
}

}  // namespace

std::string DescribeDisconnect(std::uint32_t reason, std::string_view description)
{
    std::string text = "Received disconnect message:\nType: ";
    if (reason >= 1 && reason <= 15)
        text += kReasonNames[reason - 1];
    else
        text += "unknown (" + std::to_string(reason) + ")";
    text += "\nMessage text: ";
    text += description;
    text += "\n";
    return text;
}

CSshTransport::CSshTransport(ISshStream& stream, CRandomPool& pool, CSshPacketLog* log)
    : m_stream(stream), m_pool(pool), m_pLog(log), m_buffer(kReceiveBufferSize)
{
}

void CSshTransport::Reset()
{
    m_nOffset = m_nCount = 0;
    m_nInSequence = m_nOutSequence = 0;
    m_nInLength = 0;
    m_nInType = 0;
    m_bStrictKex = false;
    m_deferred.clear();
    for (auto& payload : m_heldBack) sshcore::Cleanse(payload.data(), payload.size());
    m_heldBack.clear();
    m_bKexSent = false;
    m_bExchanging = false;
    m_pExchanger = nullptr;
    m_nBytesOut = m_nBytesIn = 0;
    m_nOutLimit = m_nInLimit = kRekeyBytes;
    m_keysSince = Now();
    ReleaseAlgorithms();
}

std::uint64_t CSshTransport::RekeyLimit(const CSshCipher* cipher)
{
    const std::uint64_t bytes = g_rekeyBytesForTesting ? g_rekeyBytesForTesting : kRekeyBytes;
    if (cipher == nullptr || cipher->Mode() == CSshCipher::MODE_CHACHA) return bytes;
    // 2^(L/4) blocks of L = 8 * B bits: 2^(2B) blocks of B bytes.
    const std::uint64_t blockBytes = cipher->BlockSize();
    if (blockBytes >= 16) return bytes;  // 2^32 blocks: 64 GiB and more
    const std::uint64_t limit = blockBytes << (2 * blockBytes);
    return limit < bytes ? limit : bytes;
}

void CSshTransport::SetRekeyBytesForTesting(std::uint64_t bytes) { g_rekeyBytesForTesting = bytes; }

void CSshTransport::SetRekeyClockForTesting(RekeyClock now) { g_rekeyClockForTesting = now; }

std::chrono::steady_clock::time_point CSshTransport::Now()
{
    const RekeyClock now = g_rekeyClockForTesting.load();
    return now ? now() : std::chrono::steady_clock::now();
}

bool CSshTransport::RekeyDue() const
{
    if (!m_pCsCipher && !m_pScCipher) return false;
    return m_nBytesOut >= m_nOutLimit || m_nBytesIn >= m_nInLimit ||
           Now() - m_keysSince >= kRekeyInterval;
}

bool CSshTransport::HoldBack()
{
    const std::uint8_t type = m_out.Type();
    if (AllowedDuringKeyExchange(type)) return false;
    const bool start = !m_bKexSent && m_pExchanger && !m_bExchanging && RekeyDue();
    if (!m_bKexSent && !start) return false;
    const ByteView payload = m_out.Payload();
    m_heldBack.emplace_back(payload.begin(), payload.end());
    // The payload may hold a secret (a password, a command's input).
    sshcore::Cleanse(m_out.Data().data(), m_out.Data().size());
    if (start) m_pExchanger->StartKeyExchange();
    return true;
}

void CSshTransport::SendHeldBack()
{
    m_bKexSent = false;
    if (m_heldBack.empty()) return;
    m_wire.clear();
    while (!m_heldBack.empty()) {
        std::vector<std::uint8_t>& payload = m_heldBack.front();
        m_out.Start(payload[0]);
        m_out.PutRaw(ByteView(payload).subspan(1));
        sshcore::Cleanse(payload.data(), payload.size());
        m_heldBack.pop_front();
        Finish(m_wire);
    }
    m_stream.SendAll(m_wire.data(), m_wire.size());
    WipeOutgoing();
}

void CSshTransport::Fill(std::size_t needed)
{
    if (needed > m_buffer.size()) throw SSH_RECEIVE_ERROR;
    while (m_nCount < needed) {
        if (m_buffer.size() - m_nOffset < needed) {
            std::memmove(m_buffer.data(), m_buffer.data() + m_nOffset, m_nCount);
            m_nOffset = 0;
        }
        const std::size_t end = m_nOffset + m_nCount;
        m_nCount += m_stream.ReceiveSome(m_buffer.data() + end, m_buffer.size() - end);
    }
}

std::string CSshTransport::ReadIdentification()
{
    std::size_t skipped = 0;
    for (;;) {
        const std::uint8_t* start = m_buffer.data() + m_nOffset;
        const void* lf = m_nCount ? std::memchr(start, '\n', m_nCount) : nullptr;
        if (lf == nullptr) {
            if (skipped + m_nCount >= kMaxIdentificationBytes) throw SSH_INTERNAL_ERROR;
            Fill(m_nCount + 1);
            continue;
        }
        const std::size_t lineLength = static_cast<std::size_t>(static_cast<const std::uint8_t*>(lf) - start);
        std::string line(reinterpret_cast<const char*>(start), lineLength);
        m_nOffset += lineLength + 1;
        m_nCount -= lineLength + 1;
        if (m_nCount == 0) m_nOffset = 0;
        skipped += lineLength + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("SSH-", 0) != 0) {
            if (skipped >= kMaxIdentificationBytes) throw SSH_INTERNAL_ERROR;
            continue;
        }
        const std::size_t dash = line.find('-', 4);
        const std::string version = line.substr(4, dash == std::string::npos ? std::string::npos : dash - 4);
        if (version < "1.99") throw SSH_INTERNAL_ERROR;
        return line;
    }
}

void CSshTransport::SendIdentification(const std::string& line)
{
    const std::string text = line + "\n";
    m_stream.SendAll(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

CSshPacketBuilder& CSshTransport::Start(std::uint8_t type)
{
    m_out.Start(type);
    return m_out;
}

std::size_t CSshTransport::Padding(std::size_t length) const
{
    const std::size_t bs = BlockSizeOf(m_pCsCipher.get());
    const bool aead = m_pCsCipher && m_pCsCipher->IsAead();
    const bool etm = !aead && m_pCsMac && m_pCsMac->IsEtm();
    // With an authenticated cipher or encrypt-then-MAC the length field is
    // sent apart from the blocks, so the padding leaves it out.
    const std::size_t counted = aead || etm ? length - 4 : length;
    return 4 + ((bs - (counted + 4) % bs) % bs);
}

std::size_t CSshTransport::WireSize(std::size_t payloadSize) const
{
    const std::size_t length = CSshPacketBuilder::kHeader + payloadSize;
    const std::size_t trailer = m_pCsCipher && m_pCsCipher->IsAead() ? m_pCsCipher->TagLength()
                                : m_pCsMac                          ? m_pCsMac->Length()
                                                                    : 0;
    return length + Padding(length) + trailer;
}

void CSshTransport::Finish(std::vector<std::uint8_t>& target)
{
    std::vector<std::uint8_t>& data = m_out.Data();
    if (m_pLog) m_pLog->Log(false, data.data(), data.size());
    if (m_pCsCompressor && CoreStep([&] { return m_pCsCompressor->Compress(m_out.Payload(), m_scratch); })) {
        data.resize(CSshPacketBuilder::kHeader);
        data.insert(data.end(), m_scratch.begin(), m_scratch.end());
    }
    const std::size_t length = data.size();
    const bool aead = m_pCsCipher && m_pCsCipher->IsAead();
    const bool etm = !aead && m_pCsMac && m_pCsMac->IsEtm();
    const std::size_t padding = Padding(length);
    data.resize(length + padding);
    m_pool.RandomBytes(data.data() + length, padding);
    data[4] = static_cast<std::uint8_t>(padding);
    StoreUint32(data.data(), static_cast<std::uint32_t>(length + padding - 4));
    if (aead) {
        data.resize(length + padding + m_pCsCipher->TagLength());
        m_pCsCipher->Seal(data.data(), length + padding, m_nOutSequence);
    } else if (etm) {
        if (m_pCsCipher) m_pCsCipher->Encrypt(data.data() + 4, length + padding - 4);
        data.resize(length + padding + m_pCsMac->Length());
        m_pCsMac->Generate(data.data(), length + padding, m_nOutSequence);
    } else {
        const std::size_t macLength = m_pCsMac ? m_pCsMac->Length() : 0;
        if (m_pCsMac) {
            data.resize(length + padding + macLength);
            m_pCsMac->Generate(data.data(), length + padding, m_nOutSequence);
        }
        if (m_pCsCipher) m_pCsCipher->Encrypt(data.data(), length + padding);
    }
    ++m_nOutSequence;
    m_nBytesOut += data.size();
    target.insert(target.end(), data.begin(), data.end());
}

void CSshTransport::Send()
{
    if (HoldBack()) return;
    if (m_out.Type() == SSH_MSG_KEXINIT) m_bKexSent = true;
    m_wire.clear();
    Finish(m_wire);
    m_stream.SendAll(m_wire.data(), m_wire.size());
}

void CSshTransport::Defer()
{
    if (HoldBack()) return;
    Finish(m_deferred);
}

void CSshTransport::FlushDeferred()
{
    m_stream.SendAll(m_deferred.data(), m_deferred.size());
    sshcore::Cleanse(m_deferred.data(), m_deferred.size());
    m_deferred.clear();
}

namespace {
void WipeVector(std::vector<std::uint8_t>& v)
{
    v.resize(v.capacity());
    sshcore::Cleanse(v.data(), v.size());
    v.clear();
}
}  // namespace

void CSshTransport::WipeOutgoing()
{
    WipeVector(m_out.Data());
    WipeVector(m_scratch);
    WipeVector(m_wire);
    WipeVector(m_deferred);
}

CSshTransport::~CSshTransport()
{
    for (auto& payload : m_heldBack) sshcore::Cleanse(payload.data(), payload.size());
}

void CSshTransport::SendDisconnect(std::uint32_t reason, std::string_view description)
{
    CSshPacketBuilder& out = Start(SSH_MSG_DISCONNECT);
    out.PutUint32(reason);
    out.PutString(description);
    out.PutString(std::string_view("en"));
    Send();
}

void CSshTransport::ReadOnePacket()
{
    m_nInType = 0;
    m_nInLength = 0;
    if (m_pScCipher && m_pScCipher->IsAead()) return ReadAeadPacket();
    if (m_pScMac && m_pScMac->IsEtm()) return ReadEtmPacket();
    const std::size_t bs = BlockSizeOf(m_pScCipher.get());
    Fill(bs);
    m_in.resize(bs);
    std::memcpy(m_in.data(), m_buffer.data() + m_nOffset, bs);
    if (m_pScCipher) m_pScCipher->Decrypt(m_in.data(), bs);

    const std::uint32_t length = LoadUint32(m_in.data());
    const std::uint32_t padding = m_in[4];
    if (length > kMaxPacketLength || padding >= length || length - padding - 1 < 1) throw SSH_RECEIVE_ERROR;
    const std::size_t total = std::size_t{length} + 4;
    if (total < bs || (m_pScCipher && total % bs != 0)) throw SSH_RECEIVE_ERROR;
    const std::size_t macLength = m_pScMac ? m_pScMac->Length() : 0;
    if (m_buffer.size() - macLength < total) throw SSH_RECEIVE_ERROR;

    Fill(total + macLength);
    m_in.resize(total + macLength);
    std::memcpy(m_in.data() + bs, m_buffer.data() + m_nOffset + bs, total + macLength - bs);
    m_nOffset += total + macLength;
    m_nCount -= total + macLength;
    if (m_nCount == 0) m_nOffset = 0;

    if (m_pScCipher) m_pScCipher->Decrypt(m_in.data() + bs, total - bs);
    if (m_pScMac && !m_pScMac->Verify(m_in.data(), total, m_nInSequence)) throw SSH_RECEIVE_ERROR;
    FinishPayload(length, padding);
}

// AES-GCM and ChaCha20-Poly1305: the length comes first (in clear or
// decrypted on its own), the tag is checked over the whole packet before
// any of the rest is used.
void CSshTransport::ReadAeadPacket()
{
    const std::size_t bs = BlockSizeOf(m_pScCipher.get());
    const std::size_t tagLength = m_pScCipher->TagLength();
    Fill(4);
    const std::uint32_t length = m_pScCipher->PacketLength(m_buffer.data() + m_nOffset, m_nInSequence);
    if (length > kMaxPacketLength || length < bs || length % bs != 0) throw SSH_RECEIVE_ERROR;
    const std::size_t total = std::size_t{length} + 4;
    if (m_buffer.size() - tagLength < total) throw SSH_RECEIVE_ERROR;
    Fill(total + tagLength);
    m_in.resize(total + tagLength);
    std::memcpy(m_in.data(), m_buffer.data() + m_nOffset, total + tagLength);
    m_nOffset += total + tagLength;
    m_nCount -= total + tagLength;
    if (m_nCount == 0) m_nOffset = 0;
    if (!m_pScCipher->Open(m_in.data(), total, m_nInSequence)) throw SSH_RECEIVE_ERROR;
    const std::uint32_t padding = m_in[4];
    if (LoadUint32(m_in.data()) != length || padding >= length || length - padding - 1 < 1) throw SSH_RECEIVE_ERROR;
    FinishPayload(length, padding);
}

// Encrypt-then-MAC: the length is in clear, the MAC over the encrypted
// packet is checked before anything is decrypted.
void CSshTransport::ReadEtmPacket()
{
    const std::size_t bs = BlockSizeOf(m_pScCipher.get());
    const std::size_t macLength = m_pScMac->Length();
    Fill(4);
    const std::uint32_t length = LoadUint32(m_buffer.data() + m_nOffset);
    if (length > kMaxPacketLength || length < bs || (m_pScCipher && length % bs != 0)) throw SSH_RECEIVE_ERROR;
    const std::size_t total = std::size_t{length} + 4;
    if (m_buffer.size() - macLength < total) throw SSH_RECEIVE_ERROR;
    Fill(total + macLength);
    m_in.resize(total + macLength);
    std::memcpy(m_in.data(), m_buffer.data() + m_nOffset, total + macLength);
    m_nOffset += total + macLength;
    m_nCount -= total + macLength;
    if (m_nCount == 0) m_nOffset = 0;
    if (!m_pScMac->Verify(m_in.data(), total, m_nInSequence)) throw SSH_RECEIVE_ERROR;
    if (m_pScCipher) m_pScCipher->Decrypt(m_in.data() + 4, length);
    const std::uint32_t padding = m_in[4];
    if (padding >= length || length - padding - 1 < 1) throw SSH_RECEIVE_ERROR;
    FinishPayload(length, padding);
}

void CSshTransport::FinishPayload(std::uint32_t length, std::uint32_t padding)
{
    ++m_nInSequence;
    m_nBytesIn += std::size_t{length} + 4;
    const std::size_t payload = length - padding - 1;
    m_nInLength = payload + 5;
    if (m_pScCompressor && CoreStep([&] {
            return m_pScCompressor->Decompress(ByteView(m_in).subspan(5, payload), m_scratch);
        })) {
        if (m_scratch.empty()) throw SSH_RECEIVE_ERROR;
        m_in.resize(5);
        m_in.insert(m_in.end(), m_scratch.begin(), m_scratch.end());
        m_nInLength = m_in.size();
    }
    m_nInType = m_in[5];
    if (m_pLog) m_pLog->Log(true, m_in.data(), m_nInLength);
}

ByteView CSshTransport::Payload() const
{
    if (m_nInLength < 6) return {};
    return ByteView(m_in).subspan(5, m_nInLength - 5);
}

bool CSshTransport::HandleTransportMessage()
{
    CSshReader reader = Reader();
    switch (m_nInType) {
    case SSH_MSG_DISCONNECT: {
        const std::uint32_t reason = reader.GetUint32();
        const std::string description = reader.GetText(CSshTransport::kMaxPacketLength);
        m_strDisconnect = DescribeDisconnect(reason, description);
        throw SSH_SERVER_DISCONNECT;
    }
    case SSH_MSG_IGNORE:
        return true;
    case SSH_MSG_GLOBAL_REQUEST: {
        reader.GetString();
        const bool wantReply = reader.GetBool();
        if (wantReply) {
            Start(SSH_MSG_REQUEST_FAILURE);
            Send();
        }
        return true;
    }
    default:
        return false;
    }
}

std::uint8_t CSshTransport::ReadPacket()
{
    for (;;) {
        ReadOnePacket();
        if (m_bStrictKex) {
            if (m_nInType == SSH_MSG_DISCONNECT) HandleTransportMessage();
            return m_nInType;
        }
        if (HandleTransportMessage()) continue;
        if (m_nInType == SSH_MSG_KEXINIT && m_pExchanger && !m_bExchanging) {
            SExchangingFlag running(m_bExchanging);
            m_pExchanger->ServerStartedKeyExchange();
            continue;
        }
        if (!m_bKexSent && m_pExchanger && !m_bExchanging && RekeyDue()) m_pExchanger->StartKeyExchange();
        if (!HandedToCaller(m_nInType)) {
            const std::uint32_t number = m_nInSequence - 1;
            Start(SSH_MSG_UNIMPLEMENTED).PutUint32(number);
            Send();
        }
        return m_nInType;
    }
}

void CSshTransport::SetOutgoing(std::unique_ptr<CSshCipher> cipher, std::unique_ptr<CSshMac> mac,
                                std::unique_ptr<CSshCompressor> compressor)
{
    m_pCsCipher = std::move(cipher);
    m_pCsMac = std::move(mac);
    m_pCsCompressor = std::move(compressor);
    m_nBytesOut = 0;
    m_nOutLimit = RekeyLimit(m_pCsCipher.get());
    m_keysSince = Now();
}

void CSshTransport::SetIncoming(std::unique_ptr<CSshCipher> cipher, std::unique_ptr<CSshMac> mac,
                                std::unique_ptr<CSshCompressor> compressor)
{
    m_pScCipher = std::move(cipher);
    m_pScMac = std::move(mac);
    m_pScCompressor = std::move(compressor);
    m_nBytesIn = 0;
    m_nInLimit = RekeyLimit(m_pScCipher.get());
}

void CSshTransport::ActivateCompression()
{
    if (m_pCsCompressor) m_pCsCompressor->Activate();
    if (m_pScCompressor) m_pScCompressor->Activate();
}

void CSshTransport::ReleaseAlgorithms()
{
    if (m_pCsCompressor) m_pCsCompressor->ReleaseTables();
    if (m_pScCompressor) m_pScCompressor->ReleaseTables();
    m_pCsCipher.reset();
    m_pScCipher.reset();
    m_pCsMac.reset();
    m_pScMac.reset();
    m_pCsCompressor.reset();
    m_pScCompressor.reset();
}
