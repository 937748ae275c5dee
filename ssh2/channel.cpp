#include "ssh2/messages.h"
#include "ssh2/ssh2.h"

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

    if (m_transport.ReadPacket() != SSH_MSG_CHANNEL_OPEN_CONFIRMATION) throw SSH_WRONG_CHANNEL;
    SChannelOpenConfirmation confirmation;
    if (!ParseChannelOpenConfirmation(m_transport.Payload(), confirmation) || confirmation.recipient != m_nLocalId)
        throw SSH_WRONG_CHANNEL;
    m_nRemoteId = confirmation.sender;
}

void CSSH2::AppendOutput(ByteView data)
{
    if (m_nMaxOutput - m_strOutput.size() < data.size()) {
        m_strOutput += "\n[output stopped: the command wrote more than " + std::to_string(m_nMaxOutput) + " bytes]\n";
        throw SSH_RECEIVE_ERROR;
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
    do {
        type = m_transport.ReadPacket();
    } while (type == SSH_MSG_CHANNEL_WINDOW_ADJUST);
    if (type != SSH_MSG_CHANNEL_SUCCESS) throw SSH_INTERNAL_ERROR;

    m_strOutput.clear();
    for (;;) {
        type = m_transport.ReadPacket();
        switch (type) {
        case SSH_MSG_CHANNEL_DATA:
        case SSH_MSG_CHANNEL_EXTENDED_DATA: {
            SChannelData data;
            if (!ParseChannelData(m_transport.Payload(), data)) throw SSH_RECEIVE_ERROR;
            if (data.recipient != m_nLocalId || (type == SSH_MSG_CHANNEL_EXTENDED_DATA && data.dataType != 1)) break;
            AppendOutput(data.data);
            CSshPacketBuilder& adjust = m_transport.Start(SSH_MSG_CHANNEL_WINDOW_ADJUST);
            adjust.PutUint32(m_nRemoteId);
            adjust.PutUint32(m_nLocalWindow);
            m_transport.Send();
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
            if (req.name == "exit-status") {
                if (req.hasExitStatus) m_nExitStatus = req.exitStatus;
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
