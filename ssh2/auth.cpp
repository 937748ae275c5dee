#include <algorithm>

#include "platform/text.h"
#include "sshcore/auth_policy.h"
#include "sshcore/agent_client.h"
#include "sshcore/hostkey_trust.h"
#include "sshcore/key_sign.h"
#include "sshcore/private_key.h"
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

namespace {

// A key that may log in: one of the agent's, or a key file's.
struct SAuthKey {
    std::vector<std::uint8_t> blob;
    std::string type;
    bool fromAgent = false;
    // The loaded key file it came from (an index of the file keys).
    std::size_t fileIndex = 0;
    // An RSA key the server refused with an rsa-sha2 algorithm, asked about
    // again with ssh-rsa.
    bool legacyRsa = false;
};

// The signature algorithm for a key: RSA by what the server takes.
std::string AlgorithmFor(const SAuthKey& key, const std::string& serverSigAlgs)
{
    return sshcore::SignatureAlgorithmFor(key.type, serverSigAlgs, key.legacyRsa);
}

std::string AllowedText(const std::string& methods)
{
    std::string text = methods;
    for (char& c : text)
        if (c == ',') c = ' ';
    return text.empty() ? std::string("nothing") : text;
}

}  // namespace

void CSSH2::Authenticate()
{
    m_transport.Start(SSH_MSG_SERVICE_REQUEST).PutString(std::string_view("ssh-userauth"));
    m_transport.Send();
    std::uint8_t first = m_transport.ReadPacket();
    auto readExtInfo = [this] {
        CSshReader r(m_transport.Payload(), 1);
        const std::uint32_t count = r.GetUint32();
        for (std::uint32_t i = 0; i < count && r.Ok(); ++i) {
            const std::string name = r.GetText(256);
            const std::string value = r.GetText(65536);
            if (r.Ok() && name == "server-sig-algs") m_strServerSigAlgs = value;
        }
        if (r.Failed()) throw SSH_UNEXPECTED_PACKET;
    };
    if (first == SSH_MSG_EXT_INFO) {
        readExtInfo();
        first = m_transport.ReadPacket();
    }
    if (first != SSH_MSG_SERVICE_ACCEPT) throw SSH_UNEXPECTED_PACKET;

    // A host key taken on this connection only after a yes (changed, of a
    // new type, or unverifiable) may be a machine in the middle: keys and
    // the agent still log in, the password does not go out. Decided once,
    // before a re-exchange could make the now stored key look known.
    const bool keyNeededYes = !m_hostKeyReport.matched && (m_hostKeyReport.event == HKE_CHANGED ||
                                                           m_hostKeyReport.event == HKE_NEW_TYPE ||
                                                           m_hostKeyReport.event == HKE_UNVERIFIABLE);
    const bool passwordWithheld = keyNeededYes && !m_strPassword.empty();

    // The keys to offer, in order: the agent's, then the key file's. A jump
    // host's session offers the hop's own keys, never the target's.
    const SLoginKeys& settings = m_pOuter != nullptr ? m_pOuter->m_jumpKeys : LoginKeys();
    std::vector<SAuthKey> keys;
    sshcore::CAgentClient agent =
        settings.useAgent ? sshcore::CAgentClient::FromEnvironment() : sshcore::CAgentClient(std::string());
    for (const auto& identity : agent.Identities()) keys.push_back({identity.publicBlob, identity.TypeName(), true});
    // Every key file in its order; one that does not load is skipped, and
    // its reason told if no way in is left.
    std::vector<sshcore::CPrivateKey> fileKeys;
    std::string keyFileError;
    for (const std::string& path : sshcore::KeyFileList(settings.identityFile)) {
        sshcore::CPrivateKey fileKey;
        const auto loaded = sshcore::LoadPrivateKeyFile(path, settings.passphrase, fileKey);
        if (loaded.code != sshcore::KF_OK) {
            keyFileError += (keyFileError.empty() ? "" : "; ") + loaded.text;
            continue;
        }
        SAuthKey key{fileKey.PublicBlob(), fileKey.TypeName(), false, fileKeys.size()};
        const bool twice = std::any_of(keys.begin(), keys.end(), [&](const SAuthKey& k) { return k.blob == key.blob; });
        if (twice) continue;
        keys.push_back(std::move(key));
        fileKeys.push_back(std::move(fileKey));
    }

    auto startRequest = [this](std::string_view method) -> CSshPacketBuilder& {
        CSshPacketBuilder& out = m_transport.Start(SSH_MSG_USERAUTH_REQUEST);
        out.PutString(m_strUser);
        out.PutString(std::string_view("ssh-connection"));
        out.PutString(method);
        return out;
    };
    auto sendQuery = [&](const SAuthKey& key) {
        CSshPacketBuilder& out = startRequest("publickey");
        out.PutBool(false);
        out.PutString(AlgorithmFor(key, m_strServerSigAlgs));
        out.PutString(ByteView(key.blob));
        m_transport.Send();
    };
    // Signs for the key the server accepted; false when no signature came.
    auto sendSigned = [&](const SAuthKey& key) {
        const std::string algorithm = AlgorithmFor(key, m_strServerSigAlgs);
        std::vector<std::uint8_t> toSign;
        {
            CSshPacketBuilder data;
            data.Start(0);
            data.PutString(ByteView(m_sessionId));
            data.PutByte(SSH_MSG_USERAUTH_REQUEST);
            data.PutString(m_strUser);
            data.PutString(std::string_view("ssh-connection"));
            data.PutString(std::string_view("publickey"));
            data.PutBool(true);
            data.PutString(algorithm);
            data.PutString(ByteView(key.blob));
            const ByteView payload = data.Payload();
            toSign.assign(payload.begin() + 1, payload.end());
        }
        std::vector<std::uint8_t> signature;
        if (key.fromAgent) {
            signature = agent.Sign(key.blob, toSign, sshcore::AgentSignFlags(algorithm));
        } else {
            signature = sshcore::SignSsh(fileKeys.at(key.fileIndex), algorithm, toSign);
        }
        if (signature.empty()) return false;
        CSshPacketBuilder& out = startRequest("publickey");
        out.PutBool(true);
        out.PutString(algorithm);
        out.PutString(ByteView(key.blob));
        out.PutString(ByteView(signature));
        m_transport.Send();
        return true;
    };

    enum EWaiting { WAIT_NONE, WAIT_QUERY, WAIT_SIGNED, WAIT_PASSWORD, WAIT_KBD };
    EWaiting waiting = WAIT_NONE;
    std::size_t nextKey = 0;
    bool passwordUsed = false;
    bool kbdUsed = false;
    std::string methods;
    startRequest("none");
    m_transport.Send();

    for (;;) {
        std::uint8_t type = m_transport.ReadPacket();
        while (type == SSH_MSG_USERAUTH_BANNER || type == SSH_MSG_EXT_INFO) {
            if (type == SSH_MSG_EXT_INFO) readExtInfo();
            type = m_transport.ReadPacket();
        }
        if (type == SSH_MSG_USERAUTH_SUCCESS) {
            // "zlib@openssh.com" starts here, in both directions.
            m_transport.ActivateCompression();
            return;
        }
        if (type == 60) {
            if (waiting == WAIT_QUERY) {
                const SAuthKey& key = keys[nextKey - 1];
                if (sendSigned(key)) {
                    waiting = WAIT_SIGNED;
                    continue;
                }
                // The agent did not sign: ask about the next key, or go on.
                startRequest("none");
                m_transport.Send();
                waiting = WAIT_NONE;
                continue;
            }
            if (waiting == WAIT_KBD) {
                // One hidden prompt gets the password; no prompt, no answer.
                CSshReader r(m_transport.Payload(), 1);
                r.GetString(4096);
                r.GetString(65536);
                r.GetString(256);
                const std::uint32_t prompts = r.GetUint32();
                bool hidden = false;
                if (prompts == 1) {
                    r.GetString(4096);
                    hidden = !r.GetBool();
                }
                if (prompts == 1 && passwordUsed) {
                    // Asked again: the answer was not taken, and it is not sent twice.
                    m_transport.SendDisconnect(SSH_DISCONNECT_BY_APPLICATION, "Wrong password");
                    throw SSH_WRONG_PASSWORD;
                }
                if (r.Failed() || prompts > 1 || (prompts == 1 && !hidden)) {
                    m_transport.SendDisconnect(SSH_DISCONNECT_BY_APPLICATION, "Unsupported prompt");
                    Fail(SSH_AUTH_FAILED, SL_NONE, 0, "the server asked questions other than the password");
                }
                CSshPacketBuilder& out = m_transport.Start(SSH_MSG_USERAUTH_INFO_RESPONSE);
                out.PutUint32(prompts);
                if (prompts == 1) {
                    out.PutString(m_strPassword);
                    passwordUsed = true;
                }
                m_transport.Send();
                m_transport.WipeOutgoing();
                continue;
            }
            if (waiting == WAIT_PASSWORD) {
                // An expired password: this client does not change it, and the
                // same password is never sent twice.
                m_transport.SendDisconnect(SSH_DISCONNECT_BY_APPLICATION, "Password change not supported");
                Fail(SSH_AUTH_FAILED, SL_NONE, 0, "the server asks for the password to be changed");
            }
            throw SSH_UNEXPECTED_PACKET;
        }
        if (type != SSH_MSG_USERAUTH_FAILURE) throw SSH_UNEXPECTED_PACKET;
        SUserauthFailure failure;
        if (!ParseUserauthFailure(m_transport.Payload(), failure)) throw SSH_UNEXPECTED_PACKET;
        methods = failure.methods;
        if ((waiting == WAIT_PASSWORD || (waiting == WAIT_KBD && passwordUsed)) && !failure.partialSuccess) {
            // One wrong password is enough: a retry would only feed the
            // server's failure count (and an intrusion blocker's).
            m_transport.SendDisconnect(SSH_DISCONNECT_BY_APPLICATION, "Wrong password");
            throw SSH_WRONG_PASSWORD;
        }
        if (failure.partialSuccess && waiting == WAIT_SIGNED) nextKey = keys.size();  // that key did its part
        // sshd names every rsa-sha2 algorithm in server-sig-algs even when
        // its PubkeyAcceptedAlgorithms takes only ssh-rsa: an RSA key refused
        // with rsa-sha2 is asked about once more with ssh-rsa.
        if (waiting == WAIT_QUERY && !failure.partialSuccess && nextKey > 0) {
            SAuthKey& refused = keys[nextKey - 1];
            if (!refused.legacyRsa && sshcore::RetryAsLegacyRsa(AlgorithmFor(refused, m_strServerSigAlgs))) {
                refused.legacyRsa = true;
                --nextKey;
            }
        }
        waiting = WAIT_NONE;

        // The next method the server takes, in our order.
        if (NameListContains(methods, "publickey") && nextKey < keys.size()) {
            sendQuery(keys[nextKey++]);
            waiting = WAIT_QUERY;
            continue;
        }
        const bool serverTakesPassword =
            NameListContains(methods, "password") || NameListContains(methods, "keyboard-interactive");
        if (passwordWithheld && serverTakesPassword) {
            m_transport.SendDisconnect(SSH_DISCONNECT_BY_APPLICATION, "No supported authentication methods available");
            std::string text = sshcore::kPasswordWithheldText;
            if (!keyFileError.empty()) text += "; " + keyFileError;
            Fail(SSH_AUTH_FAILED, SL_NONE, 0, text);
        }
        if (!passwordUsed && !m_strPassword.empty() && NameListContains(methods, "password")) {
            SendPasswordRequest();
            passwordUsed = true;
            waiting = WAIT_PASSWORD;
            continue;
        }
        if (!passwordUsed && !kbdUsed && !m_strPassword.empty() && NameListContains(methods, "keyboard-interactive")) {
            CSshPacketBuilder& out = startRequest("keyboard-interactive");
            out.PutString(std::string_view(""));
            out.PutString(std::string_view(""));
            m_transport.Send();
            kbdUsed = true;
            waiting = WAIT_KBD;
            continue;
        }
        m_transport.SendDisconnect(SSH_DISCONNECT_BY_APPLICATION, "No supported authentication methods available");
        std::string text = "The server accepts only: " + AllowedText(methods);
        if (!keyFileError.empty()) text += "; " + keyFileError;
        Fail(SSH_AUTH_FAILED, SL_NONE, 0, text);
    }
}
