// What a scan is given and what it gives back: a plain record of the host
// (no tree node), the answers it may need from whoever runs it, and the
// outcome. The host refresh, the fleet's workers and the terminal console
// all run the same scan on these records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scan/jump_hosts.h"
#include "scan/scan_error.h"
#include "scan/scan_limits.h"
#include "ssh2/ssh2.h"

// One host to scan. Texts are UTF-8, as the SSH client takes them. The
// password and passphrase are wiped when the record goes; it is never
// copied, only moved.
struct SScanRequest {
    SScanRequest() = default;
    SScanRequest(const SScanRequest&) = delete;
    SScanRequest& operator=(const SScanRequest&) = delete;
    SScanRequest(SScanRequest&&) = default;
    SScanRequest& operator=(SScanRequest&&) = default;
    ~SScanRequest();

    std::string address;
    int port = 22;
    // "Group/Host", as the user knows the host.
    std::u16string displayName;
    // The login ways (scan/login_settings.h turns them into what a login
    // offers). A keyboard-interactive prompt is answered with the password.
    std::string login;
    std::string password;
    std::string keyFile;  // "~/" already expanded
    std::string passphrase;
    bool useAgent = false;
    // The jump hosts in front of the host, each with its own login.
    std::vector<SJumpLogin> jumps;
    // lshw runs through sudo.
    bool sudo = false;
    // A missing lshw is deployed without asking (scripts); otherwise the
    // stored answers and then the questions decide.
    bool deployWithoutAsking = false;
    SScanLimits limits;
    // What the SSH client does with an unknown and with a changed host key
    // (EHostKeyPolicy): stored and told, or asked.
    std::uint32_t newHostKeyPolicy = HKP_STORE_AND_TELL;
    std::uint32_t changedHostKeyPolicy = HKP_ASK;
};

// The step a failed scan stopped in.
enum EScanStep : std::uint32_t {
    STEP_NONE = 0,     // the scan did not fail
    STEP_ROUTE = 1,    // the jump route did not read
    STEP_CONNECT = 2,  // the connection, through the jump hosts as well
    STEP_LOGIN = 3,
    STEP_SCAN = 4,     // running lshw and fetching its XML
    STEP_DEPLOY = 5,   // the question, the package, its upload and install
    STEP_COUNT
};

struct SScanResult {
    EScanResult status = SCAN_FAILED;
    // lshw's XML (UTF-8), from its first "<" on; empty unless SCAN_OK.
    std::string xml;
    // What was told as the scan's error (empty when it stopped without
    // one, say a declined deployment), and where it stopped.
    std::u16string failure;
    EScanStep step = STEP_NONE;
    // The notes told during the scan, in order (a sudo that refused, an
    // install that went to the login's home...).
    std::vector<std::u16string> notes;
    // lshw ran with root rights; if not and sudo was wanted, why (the
    // note's text). Empty when sudo was not wanted.
    bool root = false;
    std::u16string rootReason;
    // The host has no lshw, and no engine package could be deployed
    // because none usable is installed here.
    bool lshwMissing = false;
    bool enginePackageMissing = false;
    // A changed host key the user accepted: the fingerprints stored
    // before, and the one presented. Empty when none was.
    std::string replacedHostKey;
    std::string acceptedHostKey;
};

// What the SSH client asks about a host key that is not a plain match.
struct SHostKeyQuestion {
    int event = HKE_ABSENT;  // EHostKeyEvent
    std::string host;
    std::string presented;  // the presented key's fingerprints
    std::vector<std::string> known;  // those of the keys stored for the host
    std::string damagedCopy;  // HKE_UNVERIFIABLE: where the damaged cache was put
};

// The two questions before a deployment.
enum EDeployQuestion { DQ_ENGINE_ABSENT, DQ_READY_TO_INSTALL };

// Whoever runs a scan answers its questions and hears what it tells. The
// scan never opens a window itself.
class IScanQuestions {
public:
    virtual ~IScanQuestions() = default;
    // True trusts the presented key and stores it.
    virtual bool AcceptHostKey(const SHostKeyQuestion& question) = 0;
    // True goes on with the deployment; `remembered` is the stored state of
    // the question's "do not show again" box (0 when none).
    virtual bool ConfirmDeployment(EDeployQuestion question, int remembered) = 0;
    // What the scan is doing now.
    virtual void Progress(std::u16string_view text) = 0;
    // A note the scan goes on after, with its caption ("sudo").
    virtual void Note(std::u16string_view text, std::u16string_view caption) = 0;
    // The error that stops the scan; told once, after which the scan ends.
    virtual void Error(std::u16string_view text) = 0;
    // The password of a jump host outside the inventory that refused the
    // keys and agent it was offered; `hop` is "login@host:port", `host`
    // the scanned host as the user knows it. False when nobody can answer
    // here (scripts, fleet workers): the scan then fails naming the hop.
    virtual bool HopPassword(std::string_view hop, std::u16string_view host, std::string& password)
    {
        return false;
    }
};
