#include "ssh2/packetlog.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/paths.h"
#include "platform/product_settings.h"
#include "platform/text.h"
#include "platform/settings.h"
#include "sshcore/digest.h"
#include "ssh2/packet.h"

namespace {

constexpr std::uint8_t kIgnore = 2;
constexpr std::uint8_t kUserauthRequest = 50;
constexpr std::uint8_t kUserauthInfoResponse = 61;
constexpr std::uint8_t kChannelData = 94;

// Outgoing packets whose size follows the length of a login name or a
// password: a login request, the answers to a keyboard question, the
// padding sent beside a password (sized from it), and a command's input
// (a password for sudo).
bool SizeTellsSecrets(bool incoming, unsigned type)
{
    return !incoming && (type == kUserauthRequest || type == kUserauthInfoResponse || type == kIgnore ||
                         type == kChannelData);
}

// An outgoing command input: everything after the channel number.
void MaskInput(std::vector<std::uint8_t>& packet)
{
    for (std::size_t j = 10; j < packet.size(); ++j) packet[j] = '*';
}

// Positions (within the packet) of the password strings of a password
// request: the password, and the new password of a change request.
void MaskPasswords(std::vector<std::uint8_t>& packet)
{
    if (packet.size() < 6) return;
    CSshReader reader(ByteView(packet).subspan(0), 6);
    reader.GetString();  // user
    reader.GetString();  // service
    if (AsText(reader.GetString()) != "password" || reader.Failed()) return;
    const bool change = reader.GetBool();
    for (int i = 0; i < (change ? 2 : 1) && reader.Ok(); ++i) {
        const std::size_t before = reader.Position();
        const ByteView secret = reader.GetString();
        if (reader.Failed()) {
            // A truncated field: hide everything after its start.
            for (std::size_t j = before; j < packet.size(); ++j) packet[j] = '*';
            return;
        }
        for (std::size_t j = before + 4; j < before + 4 + secret.size(); ++j) packet[j] = '*';
    }
}

}  // namespace

CSshPacketLog::CSshPacketLog(const std::string& path, EPacketLogLevel level) : m_level(level)
{
    if (path.empty() || level == PACKETLOG_OFF) return;
    m_file = OpenOwnerOnlyFile(path);
}

EPacketLogLevel CSshPacketLog::LevelFromEnvironment()
{
    const char* value = std::getenv("FERRODEX_PACKET_LOG");
    if (value == nullptr) return PACKETLOG_TYPES;
    if (std::strcmp(value, "full") == 0) return PACKETLOG_FULL;
    if (std::strcmp(value, "off") == 0) return PACKETLOG_OFF;
    return PACKETLOG_TYPES;
}

EPacketLogLevel CSshPacketLog::LevelFromSettings()
{
    if (std::getenv("FERRODEX_PACKET_LOG") != nullptr) return LevelFromEnvironment();
    switch (ProductSettingValue(WideToAnsi(kPacketLogLevelSetting))) {
    case 0: return PACKETLOG_OFF;
    case 2: return PACKETLOG_FULL;
    default: return PACKETLOG_TYPES;
    }
}

std::string CSshPacketLog::DefaultPath()
{
    const std::string folder = UserStateFolder();
    return folder.empty() ? std::string() : folder + "/ssh2.log";
}

const char* CSshPacketLog::TypeName(unsigned type)
{
    switch (type) {
    case 1: return "SSH2_MSG_DISCONNECT";
    case 2: return "SSH2_MSG_IGNORE";
    case 3: return "SSH2_MSG_UNIMPLEMENTED";
    case 4: return "SSH2_MSG_DEBUG";
    case 5: return "SSH2_MSG_SERVICE_REQUEST";
    case 6: return "SSH2_MSG_SERVICE_ACCEPT";
    case 20: return "SSH2_MSG_KEXINIT";
    case 21: return "SSH2_MSG_NEWKEYS";
    case 30: return "SSH2_MSG_KEXDH_INIT || SSH2_MSG_KEX_DH_GEX_REQUEST";
    case 31: return "SSH2_MSG_KEXDH_REPLY || SSH2_MSG_KEX_DH_GEX_GROUP";
    case 32: return "SSH2_MSG_KEX_DH_GEX_INIT";
    case 33: return "SSH2_MSG_KEX_DH_GEX_REPLY";
    case 50: return "SSH2_MSG_USERAUTH_REQUEST";
    case 51: return "SSH2_MSG_USERAUTH_FAILURE";
    case 52: return "SSH2_MSG_USERAUTH_SUCCESS";
    case 53: return "SSH2_MSG_USERAUTH_BANNER";
    case 60: return "SSH2_MSG_USERAUTH_PK_OK || SSH2_MSG_USERAUTH_PASSWD_CHANGEREQ || SSH2_MSG_USERAUTH_INFO_REQUEST";
    case 61: return "SSH2_MSG_USERAUTH_INFO_RESPONSE";
    case 80: return "SSH2_MSG_GLOBAL_REQUEST";
    case 81: return "SSH2_MSG_REQUEST_SUCCESS";
    case 82: return "SSH2_MSG_REQUEST_FAILURE";
    case 90: return "SSH2_MSG_CHANNEL_OPEN";
    case 91: return "SSH2_MSG_CHANNEL_OPEN_CONFIRMATION";
    case 92: return "SSH2_MSG_CHANNEL_OPEN_FAILURE";
    case 93: return "SSH2_MSG_CHANNEL_WINDOW_ADJUST";
    case 94: return "SSH2_MSG_CHANNEL_DATA";
    case 95: return "SSH2_MSG_CHANNEL_EXTENDED_DATA";
    case 96: return "SSH2_MSG_CHANNEL_EOF";
    case 97: return "SSH2_MSG_CHANNEL_CLOSE";
    case 98: return "SSH2_MSG_CHANNEL_REQUEST";
    case 99: return "SSH2_MSG_CHANNEL_SUCCESS";
    case 100: return "SSH2_MSG_CHANNEL_FAILURE";
    default: return "Unknown packet";
    }
}

std::string CSshPacketLog::Format(bool incoming, const std::uint8_t* packet, std::size_t length,
                                  EPacketLogLevel level)
{
    std::string text;
    FormatTo(text, incoming, packet, length, level);
    return text;
}

namespace {

void AppendNumber(std::string& out, std::size_t value)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, static_cast<std::size_t>(result.ptr - digits));
}

void AppendHexDump(std::string& out, const std::uint8_t* data, std::size_t size)
{
    // Each row: 13 + 16 * 3 + 2 + 16 + 1 characters, written in place.
    constexpr std::size_t kRow = 80;
    const std::size_t start = out.size();
    out.resize(start + (size / 16 + 1) * kRow);
    char* line = out.data() + start;
    std::size_t n = 0;
    for (std::size_t row = 0; row < size; row += 16) {
        line[n++] = ' ';
        line[n++] = ' ';
        for (int shift = 28; shift >= 0; shift -= 4) line[n++] = HexDigitUpper(static_cast<unsigned>(row >> shift));
        line[n++] = ':';
        line[n++] = ' ';
        line[n++] = ' ';
        const std::size_t count = size - row < 16 ? size - row : 16;
        for (std::size_t i = 0; i < 16; ++i) {
            if (i < count) {
                line[n++] = HexDigitUpper(data[row + i] >> 4u);
                line[n++] = HexDigitUpper(data[row + i]);
            } else {
                line[n++] = ' ';
                line[n++] = ' ';
            }
            line[n++] = ' ';
            if (i == 7) {
                line[n++] = '|';
                line[n++] = ' ';
            }
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t c = data[row + i];
            line[n++] = (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
        }
        line[n++] = '\n';
    }
    out.resize(start + n);
}

}  // namespace

void CSshPacketLog::FormatTo(std::string& out, bool incoming, const std::uint8_t* packet, std::size_t length,
                             EPacketLogLevel level)
{
    if (length < 6 || level == PACKETLOG_OFF) return;
    const unsigned type = packet[5];
    out += incoming ? "\nIncoming packet: Type: " : "\nOutgoing packet: Type: ";
    AppendNumber(out, type);
    out += " / 0x";
    if (type >= 16) out += HexDigitLower(type >> 4);
    out += HexDigitLower(type);
    out += " (";
    out += TypeName(type);
    out += ")";
    if (level == PACKETLOG_TYPES) {
        if (!SizeTellsSecrets(incoming, type)) {
            out += " Length: ";
            AppendNumber(out, length - 6);
        }
        out += "\n";
        return;
    }
    out += "\n";
    if (length < 7) return;

    // Only the packets that may carry a secret are copied, to be masked.
    std::vector<std::uint8_t> masked;
    const std::uint8_t* data = packet;
    if (!incoming && (type == kUserauthRequest || type == kChannelData)) {
        masked.assign(packet, packet + length);
        if (type == kUserauthRequest) MaskPasswords(masked);
        else MaskInput(masked);
        data = masked.data();
    }
    AppendHexDump(out, data + 6, length - 6);
    if (!masked.empty()) sshcore::Cleanse(masked.data(), masked.size());
}

void CSshPacketLog::Log(bool incoming, const std::uint8_t* packet, std::size_t length)
{
    if (!m_file) return;
    FormatTo(m_pending, incoming, packet, length, m_level);
    if (m_pending.size() >= kFlushBytes) Flush();
}

void CSshPacketLog::Flush()
{
    if (!m_file || m_pending.empty()) return;
    std::fwrite(m_pending.data(), 1, m_pending.size(), m_file.get());
    std::fflush(m_file.get());
    m_pending.clear();
}

CSshPacketLog::~CSshPacketLog() { Flush(); }
