#include "platform/text.h"
#include "platform/ui.h"
#include "ssh2/messages.h"
#include "ssh2/random.h"
#include "ssh2/ssh2.h"

void CSSH2::SendPasswordRequest()
{
    auto buildPassword = [this] {
        CSshPacketBuilder& out = m_transport.Start(SSH_MSG_USERAUTH_REQUEST);
        out.PutString(m_strUser);
        out.PutString(std::string_view("ssh-connection"));
        out.PutString(std::string_view("password"));
        out.PutBool(false);
        out.PutString(m_strPassword);
    };
    // An IGNORE of random bytes in the same write hides the password's
    // length: together they fill a size that does not depend on it.
    auto buildIgnore = [this](std::size_t passwordBytes) {
        CSshCipher* cipher = m_transport.OutCipher();
        const long bs = static_cast<long>(cipher->BlockSize());
        const long x = bs - static_cast<long>(passwordBytes) + 255;
        long n = x - x % bs;
        if (CSshCompressor* compressor = m_transport.OutCompressor())
            n -= static_cast<long>(compressor->DisableCompression());
        std::vector<std::uint8_t> noise(n > 0 ? static_cast<std::size_t>(n) : 0);
        CRandomPool::Instance().RandomBytes(noise.data(), noise.size());
        m_transport.Start(SSH_MSG_IGNORE).PutString(ByteView(noise));
    };

    CSshCompressor* compressor = m_transport.OutCompressor();
    if (m_transport.OutCipher() && compressor && compressor->Name() == "zlib@openssh.com" && !compressor->Active()) {
        // Delayed compression: a server that accepts the password compresses
        // (and expects compressed packets) from then on, so nothing may
        // follow the password in this write. The IGNORE goes first, sized
        // from what the password packet will take.
        buildPassword();
        const std::size_t passwordBytes = m_transport.WireSize(m_transport.Out().Payload().size());
        buildIgnore(passwordBytes);
        m_transport.Defer();
        buildPassword();
        m_transport.Defer();
    } else {
        buildPassword();
        m_transport.Defer();
        if (m_transport.OutCipher()) {
            buildIgnore(m_transport.DeferredSize());
            m_transport.Defer();
        }
    }
    m_transport.FlushDeferred();
    m_transport.WipeOutgoing();
}

void CSSH2::Authenticate()
{
    m_transport.Start(SSH_MSG_SERVICE_REQUEST).PutString(std::string_view("ssh-userauth"));
    m_transport.Send();
    if (m_transport.ReadPacket() != SSH_MSG_SERVICE_ACCEPT) throw SSH_UNEXPECTED_PACKET;

    bool canPassword = false;
    bool passwordSent = false;
    // Ask with "none" to learn the methods the server accepts.
    CSshPacketBuilder& none = m_transport.Start(SSH_MSG_USERAUTH_REQUEST);
    none.PutString(m_strUser);
    none.PutString(std::string_view("ssh-connection"));
    none.PutString(std::string_view("none"));
    m_transport.Send();

    for (;;) {
        std::uint8_t type = m_transport.ReadPacket();
        while (type == SSH_MSG_USERAUTH_BANNER) type = m_transport.ReadPacket();
        if (type == SSH_MSG_USERAUTH_SUCCESS) {
            // "zlib@openssh.com" starts here, in both directions.
            m_transport.ActivateCompression();
            return;
        }
        if (type == SSH_MSG_USERAUTH_PASSWD_CHANGEREQ) {
            // An expired password: this client does not change it, and the
            // same password is never sent twice.
            m_transport.SendDisconnect(SSH_DISCONNECT_BY_APPLICATION, "Password change not supported");
            throw SSH_AUTH_FAILED;
        }
        if (type != SSH_MSG_USERAUTH_FAILURE) throw SSH_UNEXPECTED_PACKET;
        SUserauthFailure failure;
        if (!ParseUserauthFailure(m_transport.Payload(), failure)) throw SSH_UNEXPECTED_PACKET;
        if (passwordSent && !failure.partialSuccess) {
            // One wrong password is enough: a retry would only feed the
            // server's failure count (and an intrusion blocker's).
            m_transport.SendDisconnect(SSH_DISCONNECT_BY_APPLICATION, "Wrong password");
            throw SSH_WRONG_PASSWORD;
        }
        canPassword = !passwordSent && NameListContains(failure.methods, "password");
        if (!canPassword) {
            m_transport.SendDisconnect(SSH_DISCONNECT_BY_APPLICATION, "No supported authentication methods available");
            MessageBoxA(nullptr, "ssh_closing", "", MB_OK);
            throw SSH_AUTH_FAILED;
        }
        SendPasswordRequest();
        passwordSent = true;
    }
}
