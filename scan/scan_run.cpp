#include "scan/scan_run.h"

#include <algorithm>
#include <vector>

#include "res/module_strings.h"
#include "platform/com.h"
#include "platform/text.h"
#include "scan/engine_deployment.h"
#include "scan/login_settings.h"
#include "scan/scan_job.h"
#include "ssh2/errors.h"

namespace {

constexpr int kConnectTimeoutSeconds = 300;
constexpr int kStillMissing = 242;
constexpr const char16_t* kLshw = u"lshw";
// The scan's steps as the progress shows them (list 123), and the texts of
// failures that say no more (list 126).
constexpr UINT kStepTexts = 123;
enum { PS_CONNECTING, PS_SCANNING, PS_UPLOADING, PS_INSTALLING, PS_READING };
constexpr UINT kErrorTexts = 126;
constexpr std::size_t kUnexpectedError = 2;
constexpr std::size_t kUploadStopped = 3;

std::u16string Entry(UINT id, std::size_t index)
{
    std::vector<std::u16string> list;
    LoadStringList(id, list);
    return index < list.size() ? list[index] : std::u16string();
}

ScanRunFunction& ScanRunOverride()
{
    static ScanRunFunction run;
    return run;
}

// Passes everything on to the caller's questions and keeps in the result
// what the scan told: its notes, its error, a changed key that was taken.
class CRecordingQuestions : public IScanQuestions {
public:
    CRecordingQuestions(IScanQuestions& inner, SScanResult& result) : m_inner(inner), m_result(result) {}

    bool AcceptHostKey(const SHostKeyQuestion& question) override
    {
        const bool accepted = m_inner.AcceptHostKey(question);
        if (accepted && (question.event == HKE_CHANGED || question.event == HKE_NEW_TYPE)) {
            m_result.replacedHostKey.clear();
            for (const std::string& known : question.known)
                m_result.replacedHostKey += (m_result.replacedHostKey.empty() ? "" : ", ") + known;
            m_result.acceptedHostKey = question.presented;
        }
        return accepted;
    }
    bool ConfirmDeployment(EDeployQuestion question, int remembered) override
    {
        return m_inner.ConfirmDeployment(question, remembered);
    }
    void Progress(std::u16string_view text) override { m_inner.Progress(text); }
    void Note(std::u16string_view text, std::u16string_view caption) override
    {
        m_result.notes.emplace_back(text);
        m_inner.Note(text, caption);
    }
    void Error(std::u16string_view text) override
    {
        if (m_result.failure.empty()) m_result.failure = text;
        m_inner.Error(text);
    }
    bool HopPassword(std::string_view hop, std::u16string_view host, std::string& password) override
    {
        return m_inner.HopPassword(hop, host, password);
    }

private:
    IScanQuestions& m_inner;
    SScanResult& m_result;
};

// Connects to the host, through its jump hosts, with the request's limits.
void Connect(const SScanRequest& request, const CTypedHopPasswords& typed, IScanQuestions& questions)
{
    SSshLimits sshLimits;
    sshLimits.connectSeconds = request.limits.connectSeconds;
    sshLimits.loginSeconds = request.limits.loginSeconds;
    sshLimits.commandSeconds = request.limits.commandSeconds;
    sshLimits.maxOutput = request.limits.maxOutputMiB << 20;
    CSSH2::SetLimits(sshLimits);
    // lshw prints nothing until it is done: no wait for data may end before
    // the command's own limit.
    const int receiveTimeout = std::max(kConnectTimeoutSeconds, request.limits.commandSeconds);
    CSSH2::SetJumpHosts(ClientJumpHosts(request.jumps, typed));
    const int code = CSSH2::Connect(request.address.c_str(), static_cast<unsigned>(request.port), receiveTimeout,
                                    HostKeyQuestion, &questions);
    if (code != SSH_NO_ERRORS) throw CScanError::Ssh(static_cast<ESSHErrors>(code));
}

int LogIn(const SScanRequest& request)
{
    SHostLogin login;
    MakeHostLogin(request, login);
    UseHostLoginKeys(login);
    const int code = CSSH2::Login(login.login.c_str(), login.password.c_str(), 1, request.newHostKeyPolicy,
                                  request.changedHostKeyPolicy);
    // The passphrase stays no longer than the login needs it.
    CSSH2::SetLoginKeys({});
    return code;
}

// Connects and logs in. A jump host outside the inventory that refuses
// what it was offered is asked for its own password by name, when someone
// can answer, and the connection made again (at most kHopPasswordTries
// times); a target's password never goes to it.
void ConnectAndLogIn(const SScanRequest& request, CTypedHopPasswords& typed, IScanQuestions& questions,
                     SScanResult& result)
{
    constexpr int kHopPasswordTries = 3;
    for (int tries = 0;; ++tries) {
        result.step = STEP_CONNECT;
        Connect(request, typed, questions);
        result.step = STEP_LOGIN;
        const int code = LogIn(request);
        const int hop = code == SSH_AUTH_FAILED || code == SSH_WRONG_PASSWORD
                            ? OutsideHopAt(request.jumps, CSSH2::LastFailure().jump)
                            : -1;
        if (hop >= 0 && tries < kHopPasswordTries) {
            const auto at = static_cast<std::size_t>(hop);
            CSSH2::Disconnect();
            if (questions.HopPassword(HopName(request.jumps[at]), request.displayName, typed[at])) continue;
        }
        if (hop >= 0) CheckJumpLogin(request.jumps, SSH_AUTH_FAILED);
        CheckSshResult(code);
        return;
    }
}

// Puts lshw on the host when that is agreed and a package is here, and
// runs the scan again. False when the deployment was declined or there is
// no package (told as the questions say); a failure raises.
bool DeployAndScanAgain(const SScanRequest& request, const CTypedHopPasswords& typed, IScanQuestions& questions,
                        SScanResult& result)
{
    const int answer = ConfirmEngineDeployment(questions, !request.deployWithoutAsking);
    if (answer == DEPLOY_NO_PACKAGE) result.enginePackageMissing = true;
    if (answer != DEPLOY_GO) return false;
    std::vector<std::uint8_t> package;
    try {
        package = ReadVerifiedEnginePackage();
    } catch (const CScanError&) {
        result.enginePackageMissing = true;
        throw;
    }
    {
        const CHostFolder folder;
        questions.Progress(Entry(kStepTexts, PS_UPLOADING));
        UploadEnginePackage(request, package, folder.Path(), typed);
        questions.Progress(Entry(kStepTexts, PS_INSTALLING));
        InstallEngineOnHost(folder.Path(), EEngineDestination::LoginHome, questions,
                            request.sudo ? &request.password : nullptr);
    }
    questions.Progress(Entry(kStepTexts, PS_SCANNING));
    result.rootReason.clear();
    RunScanStep(request, questions, result);
    if (CSSH2::GetExitStatus() == kLshwMissingStatus) throw CScanError::Text(LoadString(g_hInstance, kStillMissing));
    result.lshwMissing = false;
    return true;
}

}  // namespace

std::u16string ScanErrorText(const CScanError& error)
{
    switch (error.Source()) {
    case SES_SSH: return SshErrorText(error.SshCode());
    case SES_UPLOAD: {
        // Said as the upload's, whatever the library names (a limit, a
        // refused login, a lost connection).
        std::u16string text = Entry(kErrorTexts, kUploadStopped);
        const std::u16string why = ScpErrorText(error.UploadCode());
        if (const std::size_t at = text.find(u"%1"); at != std::u16string::npos) return text.replace(at, 2, why);
        return why;
    }
    case SES_TEXT: return error.Message();
    default: return Entry(kErrorTexts, kUnexpectedError);
    }
}

bool LshwRanWithoutRoot(std::string_view xml)
{
    // lshw writes this comment into its XML when it runs as another user; a
    // value cannot hold it (its "<" would be escaped).
    return xml.find("<!-- WARNING: not running as root -->") != std::string_view::npos;
}

SScanResult RunScan(const SScanRequest& request, IScanQuestions& caller)
{
    SScanResult result;
    CRecordingQuestions questions(caller, result);
    CTypedHopPasswords typed(request.jumps.size());
    questions.Progress(Entry(kStepTexts, PS_CONNECTING));
    try {
        ConnectAndLogIn(request, typed, questions, result);
        result.step = STEP_SCAN;
        questions.Progress(Entry(kStepTexts, PS_SCANNING));
        RunScanStep(request, questions, result);
        if (CSSH2::GetExitStatus() == kLshwMissingStatus) {
            result.lshwMissing = true;
            result.step = STEP_DEPLOY;
            if (!DeployAndScanAgain(request, typed, questions, result)) {
                CSSH2::Disconnect();
                return result;
            }
            result.step = STEP_SCAN;
        }
        CheckCommandStatus(kLshw);
        questions.Progress(Entry(kStepTexts, PS_READING));
        const std::string output = CSSH2::Current()->Output();
        CSSH2::Disconnect();
        result.xml = CutBeforeXml(output);
        if (const std::u16string notXml = NoHardwareListText(output, result.xml); !notXml.empty())
            throw CScanError::Text(notXml);
        result.status = SCAN_OK;
        result.step = STEP_NONE;
        result.root = !LshwRanWithoutRoot(result.xml) && result.rootReason.empty();
        return result;
    } catch (const ComError&) {
        questions.Error(Entry(kErrorTexts, kUnexpectedError));
    } catch (const CScanError& error) {
        // A password refused by a jump host is that host's to correct, not
        // the scanned host's to ask again.
        if ((error.Source() == SES_SSH && error.SshCode() == SSH_WRONG_PASSWORD && CSSH2::LastFailure().jump.empty()) ||
            (error.Source() == SES_UPLOAD && error.UploadCode() == SCP_E_WRONG_PASSWORD && UploadFailedHop().empty()))
            result.status = SCAN_WRONG_PASSWORD;
        questions.Error(ScanErrorText(error));
    } catch (...) {
        questions.Error(Entry(kErrorTexts, kUnexpectedError));
    }
    // Every way out leaves no session behind.
    if (CSSH2::Current() != nullptr) CSSH2::Disconnect();
    return result;
}

SScanResult RunConfiguredScan(const SScanRequest& request, IScanQuestions& questions)
{
    const ScanRunFunction& run = ScanRunOverride();
    return run ? run(request, questions) : RunScan(request, questions);
}

ScanRunFunction SetScanRun(ScanRunFunction run) { return std::exchange(ScanRunOverride(), std::move(run)); }

SScanRequest::~SScanRequest()
{
    WipeString(login);
    WipeString(password);
    WipeString(passphrase);
}
