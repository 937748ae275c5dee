#include <algorithm>

#include "ssh2/messages.h"
#include "platform/text.h"
#include "ssh2/ssh2.h"

namespace {

// The signal's name as shown: letters, digits and a few marks, no more.
std::string SignalName(std::string_view name)
{
    std::string shown;
    for (const char c : name) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                           c == '-' || c == '.' || c == '@' || c == '+';
        shown += plain ? c : '?';
    }
    return shown.empty() ? std::string("?") : shown;
}

}  // namespace

void CSSH2::OpenSessionChannel()
{
    m_nLocalId = kLocalChannel;
    m_nLocalWindow = kLocalWindow;
    CSshPacketBuilder& out = m_transport.Start(SSH_MSG_CHANNEL_OPEN);
    out.PutString(std::string_view("session"));
    out.PutUint32(m_nLocalId);
    out.PutUint32(m_nLocalWindow);
    out.PutUint32(kMaxPacket);
    m_transport.Send();

    // A server may repeat its extensions once the user is in, and tell a
    // key's options from authorized_keys in DEBUG messages.
    std::uint8_t reply = m_transport.ReadPacket();
    while (reply == SSH_MSG_EXT_INFO || reply == 4) reply = m_transport.ReadPacket();
    if (reply != SSH_MSG_CHANNEL_OPEN_CONFIRMATION) Fail(SSH_WRONG_CHANNEL, SL_NONE, 0, "message " + std::to_string(reply) + " instead of the channel");
    SChannelOpenConfirmation confirmation;
    if (!ParseChannelOpenConfirmation(m_transport.Payload(), confirmation) || confirmation.recipient != m_nLocalId)
        throw SSH_WRONG_CHANNEL;
    m_nRemoteId = confirmation.sender;
    m_nRemoteWindow = confirmation.window;
    m_nRemoteMaxPacket = confirmation.maxPacket;
}

void CSSH2::TakeWindowAdjust()
{
    CSshReader reader(m_transport.Payload(), 1);
    const std::uint32_t recipient = reader.GetUint32();
    const std::uint32_t bytes = reader.GetUint32();
    if (reader.Failed()) throw SSH_RECEIVE_ERROR;
    if (recipient != m_nLocalId) return;
    // A window never grows past 2^32 - 1 bytes.
    m_nRemoteWindow = bytes > 0xFFFFFFFFu - m_nRemoteWindow ? 0xFFFFFFFFu : m_nRemoteWindow + bytes;
}

void CSSH2::WatchPrompt(ByteView data)
{
    const std::string_view text = AsText(data);
    // Never more than the prompt is kept: what goes past it is not it.
    const std::size_t room = m_strPrompt.size() - m_strPromptSeen.size();
    m_strPromptSeen.append(text.substr(0, room));
    const bool beyond = text.size() > room;
    if (!beyond && m_strPromptSeen == m_strPrompt) {
        m_bInputHeld = false;  // SendInput sends it now
        return;
    }
    if (beyond || m_strPrompt.compare(0, m_strPromptSeen.size(), m_strPromptSeen) != 0) {
        // Not the prompt: the input is dropped, and only its end is sent.
        WipeString(m_strInput);
        m_nInputSent = 0;
        m_bInputHeld = false;
    }
}

void CSSH2::SendInput()
{
    if (m_bInputEnded || m_bInputHeld) return;
    // A packet of ours holds at most kMaxPacket bytes of data, and never more
    // than the server said it takes.
    const std::uint32_t largest = std::min<std::uint32_t>(kMaxPacket, m_nRemoteMaxPacket);
    while (m_nInputSent < m_strInput.size() && m_nRemoteWindow > 0 && largest > 0) {
        const std::size_t size =
            std::min<std::size_t>({m_strInput.size() - m_nInputSent, m_nRemoteWindow, largest});
        CSshPacketBuilder& data = m_transport.Start(SSH_MSG_CHANNEL_DATA);
        data.PutUint32(m_nRemoteId);
        data.PutString(std::string_view(m_strInput).substr(m_nInputSent, size));
        m_transport.Send();
        m_nInputSent += size;
        m_nRemoteWindow -= static_cast<std::uint32_t>(size);
    }
    if (m_nInputSent < m_strInput.size()) return;
    m_bInputSent = !m_strInput.empty();
    m_transport.Start(SSH_MSG_CHANNEL_EOF).PutUint32(m_nRemoteId);
    m_transport.Send();
    m_bInputEnded = true;
    WipeString(m_strInput);
    m_transport.WipeOutgoing();
}

// The output grows up to its limit and no further: its buffer is never
// larger than the limit either.
void CSSH2::AppendOutput(ByteView data)
{
    const std::size_t limit = m_limits.maxOutput;
    if (m_strOutput.size() > limit || limit - m_strOutput.size() < data.size()) {
        m_socket.Close();
        const std::size_t mib = limit >> 20;
        Fail(SSH_RECEIVE_ERROR, SL_OUTPUT, limit,
             "the command's output is larger than " +
                 (mib > 0 && (limit & 0xFFFFF) == 0 ? std::to_string(mib) + " MiB" : std::to_string(limit) + " bytes"));
    }
    const std::size_t needed = m_strOutput.size() + data.size();
    if (needed > m_strOutput.capacity()) {
        // A fresh buffer of the size chosen here (reserve on the string
        // itself may double past the limit). Four times the last one: a
        // large output is copied on growth a third of its size in all,
        // not once whole; room not yet written is never touched.
        const std::size_t larger = m_strOutput.capacity() > limit / 4 ? limit : 4 * m_strOutput.capacity();
        std::string grown;
        grown.reserve(needed > larger ? needed : larger);
        grown.append(m_strOutput);
        m_strOutput.swap(grown);
    }
    m_strOutput.append(AsText(data));
}

void CSSH2::RunCommand()
{
    CSshPacketBuilder& request = m_transport.Start(SSH_MSG_CHANNEL_REQUEST);
    request.PutUint32(m_nRemoteId);
    request.PutString(std::string_view("exec"));
    request.PutBool(true);
    request.PutString(m_strCommand);
    m_transport.Send();

    std::uint8_t type;
    for (;;) {
        type = m_transport.ReadPacket();
        if (type == SSH_MSG_CHANNEL_WINDOW_ADJUST) {
            TakeWindowAdjust();
            continue;
        }
        // Extension information and debug messages may come before the answer.
        if (type == SSH_MSG_EXT_INFO || type == SSH_MSG_DEBUG) continue;
        break;
    }
    if (type != SSH_MSG_CHANNEL_SUCCESS) throw SSH_INTERNAL_ERROR;

    m_strOutput.clear();
    m_strOutput.shrink_to_fit();
    // The server may send as much as the window it was given, which is
    // given back only for what has been taken.
    m_nLocalWindow = kLocalWindow;
    for (;;) {
        SendInput();
        type = m_transport.ReadPacket();
        switch (type) {
        case SSH_MSG_CHANNEL_WINDOW_ADJUST:
            TakeWindowAdjust();
            break;
        case SSH_MSG_CHANNEL_DATA:
        case SSH_MSG_CHANNEL_EXTENDED_DATA: {
            SChannelData data;
            if (!ParseChannelData(m_transport.Payload(), data)) throw SSH_RECEIVE_ERROR;
            if (data.recipient != m_nLocalId) break;
            const std::uint32_t size = static_cast<std::uint32_t>(data.data.size());
            if (size > m_nLocalWindow) {
                m_socket.Close();
                Fail(SSH_RECEIVE_ERROR, SL_NONE, 0,
                     "the server sent more data than the channel's window allows (" + std::to_string(size) +
                         " bytes, " + std::to_string(m_nLocalWindow) + " allowed)");
            }
            m_nLocalWindow -= size;
            // Extended data other than standard error is taken and dropped.
            if (type == SSH_MSG_CHANNEL_DATA || data.dataType == 1) AppendOutput(data.data);
            if (m_bInputHeld && type == SSH_MSG_CHANNEL_EXTENDED_DATA && data.dataType == 1)
                WatchPrompt(data.data);
            // The window is given back in one piece once half of it is
            // used: one small packet per megabyte, not one per packet.
            if (m_nLocalWindow >= kLocalWindow / 2) break;
            CSshPacketBuilder& adjust = m_transport.Start(SSH_MSG_CHANNEL_WINDOW_ADJUST);
            adjust.PutUint32(m_nRemoteId);
            adjust.PutUint32(kLocalWindow - m_nLocalWindow);
            m_transport.Send();
            m_nLocalWindow = kLocalWindow;
            break;
        }
        case SSH_MSG_CHANNEL_REQUEST: {
            SChannelRequest req;
            if (!ParseChannelRequest(m_transport.Payload(), req)) throw SSH_RECEIVE_ERROR;
            if (req.recipient != m_nLocalId) {
                m_transport.SendDisconnect(SSH_DISCONNECT_BY_APPLICATION,
                                           "Received channel request for nonexistent channel " +
                                               std::to_string(req.recipient) + "\n");
                throw SSH_WRONG_CHANNEL;
            }
            if (req.name == "exit-status" || req.name == "exit-signal") {
                if (req.hasExitStatus) m_nExitStatus = req.exitStatus;
                if (req.hasExitSignal) m_strExitSignal = SignalName(req.exitSignal);
                if (req.wantReply) {
                    m_transport.Start(SSH_MSG_CHANNEL_SUCCESS).PutUint32(m_nRemoteId);
                    m_transport.Send();
                }
            } else if (req.wantReply) {
                m_transport.Start(SSH_MSG_CHANNEL_FAILURE).PutUint32(m_nRemoteId);
                m_transport.Send();
            }
            break;
        }
        case SSH_MSG_CHANNEL_EOF:
            break;
        case SSH_MSG_CHANNEL_CLOSE: {
            std::uint32_t recipient = 0;
            if (!ParseChannelRecipient(m_transport.Payload(), recipient) || recipient != m_nLocalId)
                throw SSH_WRONG_CHANNEL;
            m_transport.Start(SSH_MSG_CHANNEL_CLOSE).PutUint32(m_nRemoteId);
            m_transport.Send();
            return;
        }
        default:
            throw SSH_UNSUPPORTED_CHANNEL;
        }
    }
}
