// The SSH-2 client: one process-wide current session, reached through six
// facade operations (Connect, Login, Exec, GetExitStatus, GetOutput,
// Disconnect). Every operation but the two getters returns an ESSHErrors
// code (0 = success).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sshcore/digest.h"
#include "sshcore/negotiate.h"
#include "ssh2/errors.h"
#include "ssh2/kex.h"
#include "ssh2/packetlog.h"
#include "ssh2/socket.h"
#include "ssh2/transport.h"
#include "ssh2/tunnel.h"

// Asked about a server's host key; `absent` says what the cache holds (a
// HostKeyEvent) and `fingerprint` is the presented key's, in today's form and
// as SHA256 ("ssh-rsa 2048 aa:bb:.. SHA256:..."). CSSH2::Current()->
// HostKeyReport() has the rest (the keys known before, a damaged cache).
// Returns non-zero to trust and store the key; zero stops the connection
// before any authentication (a first contact under HKP_STORE_AND_TELL is
// only told, and its answer is ignored).
typedef int (*HostKeyCallback)(int reserved, const char* host, const char* fingerprint, int absent, void* data);

enum HostKeyEvent : int {
    HKE_CHANGED = 0,       // another key of this type is cached for the host
    HKE_ABSENT = 1,        // nothing is cached for the host
    HKE_NEW_TYPE = 2,      // no key of this type, but one of another type
    HKE_UNVERIFIABLE = 3,  // nothing cached, but the cache was found damaged
    HKE_STORED = 4,        // first contact: the key was stored
};

// What a session does with a key: absentKeyPolicy for a first contact,
// changedKeyPolicy for a changed key, a key of a new type for a known host,
// and a key never seen while the cache is damaged. For the latter three only
// HKP_STORE (the caller's own yes) or a yes to HKP_ASK goes on; every other
// policy, a missing callback or a no stops before authentication.
enum HostKeyPolicy : std::uint32_t {
    HKP_KEEP_UNSTORED = 1,
    HKP_STORE = 2,
    HKP_ASK = 3,
    HKP_STORE_AND_TELL = 4,  // store, then tell the callback (HKE_STORED)
};

// The last host-key check of a session.
struct SHostKeyReport {
    int event = HKE_ABSENT;       // HostKeyEvent; HKE_ABSENT also for a match
    bool matched = false;
    std::string keyType;          // "ssh-rsa", "ssh-ed25519", ...
    std::string fingerprint;      // today's form
    std::string sha256;           // "SHA256:..."
    // The keys the cache held for the host: "<cache type> SHA256:..." each.
    std::vector<std::string> knownFingerprints;
    std::string damagedCopy;      // where a damaged cache file was kept, or ""
};

// The time and memory a session may take; every step ends by its limit.
struct SSshLimits {
    int connectSeconds = 30;   // the TCP connection and the server's version line
    int loginSeconds = 60;     // key exchange and authentication
    int commandSeconds = 600;  // one command, from its request to its end
    std::size_t maxOutput = 16u << 20;  // a command's output, in bytes
};

// Which limit ended the last failing step.
enum ESshLimit : std::uint32_t {
    SL_NONE = 0,
    SL_CONNECT = 1,
    SL_LOGIN = 2,
    SL_COMMAND = 3,
    SL_OUTPUT = 4,
    SL_CHANNEL = 5,  // the command's time ran out before its channel opened
};

// What the last failing facade call ran into, in words.
struct SSshFailure {
    std::string text;  // "connect to host X port 22: Connection refused"
    ESshLimit limit = SL_NONE;
    std::uint64_t amount = 0;  // the limit passed: seconds, or bytes of output
    // The jump host the failure happened on ("host H port P"); empty when
    // it happened on the host itself.
    std::string jump;
};

// The keys a login may use besides the password: a private key file (with
// its passphrase, empty when it has none) and the agent of SSH_AUTH_SOCK.
struct SLoginKeys {
    // One key file, or several, one path per line, offered in that order.
    std::string identityFile;
    std::string passphrase;
    bool useAgent = true;
};

// A host the connection goes through on its way to the target: the client
// logs in there and has it connect onwards ("direct-tcpip"). Its key is
// checked like the target's, under the same policies and callback. The hop
// logs in with its own ways only, never the target's: the agent's keys when
// keys.useAgent, the key file keys.identityFile (with keys.passphrase), then
// the password, as the password and as the answer to keyboard-interactive,
// only when one is given. The password and passphrase are wiped once used.
struct SJumpHost {
    std::string host;
    std::uint32_t port = 22;
    std::string user;
    std::string password;
    SLoginKeys keys;
};

enum SessionState : std::uint32_t {
    SS_IDLE = 0,
    SS_CONNECTED = 1,
    SS_LOGGED_IN = 2,
};

// The keys set by CSSH2::SetLoginKeys (auth.cpp reads them).
SLoginKeys& LoginKeys();

class CSSH2 : private ISshKeyExchanger {
public:
    // Raised by the identification check; reaches callers as 2.
    enum SSH2_ERROR { SSH2_ERROR_PROTOCOL_VERSION = 2 };

    static constexpr const char* kClientVersion = "SSH-2.0-Tessaro";
    static constexpr std::uint32_t kLocalChannel = 256;
    // The receive window of a channel: large, so that a long output never
    // waits for the window; given back once half of it is used.
    static constexpr std::uint32_t kLocalWindow = 2u << 20;
    static constexpr std::uint32_t kMaxPacket = 32768;
    // GetExitStatus when the command ended without an exit status (by a
    // signal, or with none at all).
    static constexpr std::uint32_t kNoExitStatus = 0xFFFFFFFFu;

    // ---- the facade
    static int Connect(const char* host, unsigned port, int timeoutSeconds, HostKeyCallback callback,
                       void* callbackData);
    static int Login(const char* user, const char* password, unsigned char compress, std::uint32_t absentKeyPolicy,
                     std::uint32_t changedKeyPolicy);
    static int Exec(const char* command);
    // As Exec, with `input` written to the command's standard input (within
    // the window the server gives), then its end. The input is a secret:
    // the packet log never shows it, and no copy of it stays after the call.
    static int ExecWithInput(const char* command, std::string_view input);
    // As ExecWithInput, but the input is held back until the command's
    // standard error has shown exactly `prompt` (nothing before it, nothing
    // else): then it is sent with the end of input. Standard error that
    // cannot be the start of the prompt ends the input with nothing sent.
    // The wait is bounded by the command's time limit; InputWasSent tells
    // afterwards whether the input went out.
    static int ExecWithInputAfterPrompt(const char* command, std::string_view input, std::string_view prompt);
    static bool InputWasSent();
    // The last command's exit status; kNoExitStatus when it sent none.
    static std::uint32_t GetExitStatus();
    // The signal that ended the last command ("KILL"); empty when none did.
    static std::string GetExitSignal();
    // The last command's output, kept by the session until its next command
    // or the disconnect: copy it to keep it longer.
    static const std::string& GetOutput();
    static int Disconnect();
    // What the last failing facade call ran into; Connect, Login and Exec
    // clear it as they start, so it stays readable after a Disconnect.
    static SSshFailure LastFailure();
    // The limits of the sessions to come (and of the current one).
    static void SetLimits(const SSshLimits& limits);
    static SSshLimits Limits();
    // The keys of the logins to come (the target's, not its jump hosts',
    // which bring their own); the passphrase is wiped by the next call (an
    // empty SLoginKeys clears it).
    static void SetLoginKeys(SLoginKeys keys);
    // The jump hosts of the next Connect, the first one to contact first (at
    // most kMaxJumpHosts); that Connect takes them, and the passwords and
    // passphrases are wiped once the logins are done. An empty list
    // connects directly.
    static void SetJumpHosts(std::vector<SJumpHost> hops);
    static constexpr std::size_t kMaxJumpHosts = 2;
    // The current session, null when there is none.
    static CSSH2* Current();

    CSSH2();
    // A session that writes its packets into another session's log (the
    // session with a jump host, beside the one it forwards for); log may be
    // null.
    explicit CSSH2(CSshPacketLog* sharedLog);
    ~CSSH2() override;
    CSSH2(const CSSH2&) = delete;
    CSSH2& operator=(const CSSH2&) = delete;

    // ---- the instance steps behind the facade
    // hops: the jump hosts in front of this host, the first to contact first.
    int ConnectStep(const char* host, unsigned port, int timeoutSeconds, std::vector<SJumpHost> hops = {});
    int LoginStep(const char* user, const char* password);
    int ExecStep(const char* command, std::string_view input = {}, std::string_view prompt = {});
    int DisconnectStep();

    std::uint32_t State() const { return m_nState; }
    const std::string& ServerVersion() const { return m_strServerVersion; }
    const std::string& Output() const { return m_strOutput; }
    std::uint32_t ExitStatus() const { return m_nExitStatus; }
    const std::string& ExitSignal() const { return m_strExitSignal; }
    // Names agreed by the key exchange, for diagnostics and tests:
    // kex, host key, cipher cs/sc, MAC cs/sc, compression cs/sc.
    const std::vector<std::string>& Agreed() const { return m_agreed; }
    const std::vector<std::uint8_t>& SessionId() const { return m_sessionId; }
    // Key exchanges completed after the first one.
    int LaterKeyExchanges() const { return m_nKeyExchanges; }
    // Whether the first exchange agreed on the strict form.
    bool StrictKeyExchange() const { return m_bStrictKex; }
    CSshSocket& Socket() { return m_socket; }
    // The session with the jump host in front of this one, or null.
    CSSH2* Jump() const { return m_pJump.get(); }
    const SHostKeyReport& HostKeyReport() const { return m_hostKeyReport; }

    // The value name of a host in the host-key cache: type@port:host.
    static std::string HostKeyValueName(const char* cacheType, std::uint32_t port, const std::string& host);
    // The offers this client makes, in preference order.
    static std::vector<std::string> KexOffer();
    static std::vector<std::string> CipherOffer();
    static std::vector<std::string> MacOffer();
    static std::vector<std::string> CompressionOffer(bool preferZlib);

private:
    template <typename Step>
    int RunStep(Step step);
    // The socket the waits of this session happen on: its own, or that of
    // the first jump host.
    CSshSocket& WaitSocket() { return m_pJump ? m_pJump->WaitSocket() : m_socket; }
    // "jump host H port P", for messages.
    std::string JumpName() const;
    // Through the jump hosts (jump.cpp): connects to the first of them, then
    // logs in to each in turn and has it forward the connection onwards.
    void ConnectThroughJump(std::vector<SJumpHost> hops, int timeoutSeconds);
    void LoginThroughJump();
    // Raises `code` with the jump session's failure, named as its.
    [[noreturn]] void FailOnJump(int code);
    // Closes the forwarded connection and the jump session behind it.
    void CloseJump();
    // The text of a DISCONNECT from the server or a jump host before it.
    std::string DisconnectTextOf() const;
    // Stands between the key exchange and the caller's host-key callback:
    // the time the user takes to answer is not the server's.
    static int TimedHostKeyQuestion(int reserved, const char* host, const char* fingerprint, int absent, void* data);
    // Begins a step that must end within `seconds`; the message says so
    // when it does not.
    void StartStep(ESshLimit limit, int seconds, const std::string& message);
    void StartStep(ESshLimit limit, int seconds, const CDeadline& deadline, const std::string& message);
    void EndStep();
    [[noreturn]] void Fail(ESSHErrors code, ESshLimit limit, std::uint64_t amount, std::string text);

    // Key exchange (kex.cpp). KeyExchange runs the first one, on the
    // server's KEXINIT that the login step read.
    void KeyExchange();
    void SendKexInit(bool first);
    // Negotiation, the method's exchange, the checks and NEWKEYS in both
    // directions, after both KEXINITs went.
    void ExchangeKeys(const std::vector<std::uint8_t>& serverKexInit, bool first);
    void ServerStartedKeyExchange() override;
    void StartKeyExchange() override;
    // The exchange of the chosen method: init, reply and its checks. Each
    // fills in what the exchange hash needs (host key, public values, K) and
    // keeps the server's signature in m_signature. cipherKeyBits: the larger
    // key of the two ciphers (sizes the current groups and exponents);
    // oldCipherKeyBits: the client-to-server cipher's (sizes them for the
    // older methods, as before).
    void EllipticExchange(bool p256, SExchangeHashInput& hashInput);
    void DiffieHellmanExchange(int method, std::size_t cipherKeyBits, std::size_t oldCipherKeyBits,
                               SExchangeHashInput& hashInput);
    void CheckHostKey();
    // Asks the callback; true only for an explicit yes.
    bool AskAboutHostKey(int event);
    // User authentication (auth.cpp).
    void Authenticate();
    void SendPasswordRequest();
    // Session channel (channel.cpp).
    void OpenSessionChannel();
    void RunCommand();
    void AppendOutput(ByteView data);
    // Sends as much of the pending input as the server's window takes, and
    // the end of input once all of it is sent.
    void SendInput();
    // Standard error while the input waits for its prompt: the prompt lets
    // the input go, anything else drops it and ends the input.
    void WatchPrompt(ByteView data);
    void TakeWindowAdjust();

    std::unique_ptr<CSshPacketLog> m_pLog;
    std::string m_strUser;
    std::string m_strPassword;
    std::string m_strServerSigAlgs;  // from EXT_INFO; empty when none came
    std::string m_strCommand;
    std::string m_strInput;          // the command's standard input, wiped once sent
    std::size_t m_nInputSent = 0;
    bool m_bInputEnded = true;
    // The prompt the input waits for (empty: none), the standard error seen
    // while waiting, and whether the input went out.
    std::string m_strPrompt;
    std::string m_strPromptSeen;
    bool m_bInputHeld = false;
    bool m_bInputSent = false;
    std::uint32_t m_nRemoteWindow = 0;
    std::uint32_t m_nRemoteMaxPacket = 0;
    std::string m_strOutput;
    std::uint32_t m_nExitStatus = 0;
    std::string m_strExitSignal;
    std::string m_strHost;
    std::uint32_t m_nPort = 22;
    std::uint32_t m_nChangedKeyPolicy = 0;
    std::uint32_t m_nAbsentKeyPolicy = HKP_STORE;
    bool m_bCompressOut = false;
    bool m_bCompressIn = false;
    std::uint32_t m_nState = SS_IDLE;

    int m_nKexIndex = -1;
    std::unique_ptr<CSshHostKey> m_pHostKey;
    std::vector<std::uint8_t> m_signature;  // the server's exchange-hash signature
    std::vector<std::uint8_t> m_sessionId;
    std::vector<std::string> m_agreed;
    std::vector<std::uint8_t> m_clientKexInit;  // our last KEXINIT's payload
    sshcore::SKexOffer m_offer;                 // as sent in it
    std::vector<std::uint8_t> m_hostKeyBlob;    // the key the first exchange checked
    bool m_bStrictKex = false;
    int m_nKeyExchanges = 0;
    SHostKeyReport m_hostKeyReport;

    CSshSocket m_socket;
    CSshStreamRoute m_route{m_socket};
    CSshTransport m_transport;

    // The session with the jump host in front, the login it uses there, and
    // the forwarded connection this session's transport runs on.
    // The jump session logs in with m_jumpKeys, never with LoginKeys().
    std::unique_ptr<CSSH2> m_pJump;
    std::string m_strJumpUser;
    std::string m_strJumpPassword;
    SLoginKeys m_jumpKeys;
    std::unique_ptr<CSshTunnel> m_pTunnel;
    // The session the facade shows, when this one is a jump host's.
    CSSH2* m_pOuter = nullptr;

    SSshLimits m_limits;
    ESshLimit m_nStep = SL_NONE;
    int m_nStepSeconds = 0;
    CDeadline m_connectDeadline;  // the connection and the version line
    SSshFailure m_failure;
    std::uint32_t m_nRemoteId = 0;
    std::uint32_t m_nLocalId = kLocalChannel;
    std::uint32_t m_nLocalWindow = kLocalWindow;

    std::string m_strServerVersion;
    HostKeyCallback m_pCallback = nullptr;
    void* m_pCallbackData = nullptr;
    HostKeyCallback m_pUserCallback = nullptr;  // the caller's, behind TimedHostKeyQuestion
    void* m_pUserCallbackData = nullptr;

    friend struct CSSH2TestAccess;
};
