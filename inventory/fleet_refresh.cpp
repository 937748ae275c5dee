#include "inventory/fleet_refresh.h"


#include <algorithm>
#include <memory>

#include "inventory/dialogs.h"
#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/login_question.h"
#include "inventory/module_state.h"
#include "platform/settings.h"
#include "platform/stop_request.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "platform/worker_process.h"
#include "res/resource_ids.h"
#include "scan/engine_deployment.h"
#include "scan/progress_window.h"
#include "inventory/scan_host.h"
#include "scan/scan_run.h"

namespace {

// A host's result when its worker did not bring one.
enum {
    WT_TIMEOUT, WT_TOO_LARGE, WT_NOT_STARTED, WT_NO_LOGIN, WT_FAILED, WT_NO_ANSWER, WT_LSHW_MISSING, WT_NO_PACKAGE,
    WT_ACCEPTED_KEY, WT_STOPPED, WT_COUNT
};
constexpr std::size_t kResultChars = 100;
constexpr int kMarginSeconds = 15;
constexpr int kPollMs = 200;
constexpr std::size_t kRecordRoom = 64 * 1024;

std::vector<std::u16string> Texts(UINT id, std::size_t count)
{
    std::vector<std::u16string> list;
    LoadStringList(id, list);
    list.resize(count);
    return list;
}

std::u16string Fill(std::u16string text, std::initializer_list<std::u16string> values)
{
    char16_t mark[] = u"%1";
    for (const std::u16string& value : values) {
        if (const std::size_t at = text.find(mark); at != std::u16string::npos) text.replace(at, 2, value);
        ++mark[1];
    }
    return text;
}

// The failure in a few words: its first line, without control characters,
// cut short.
std::u16string FewWords(std::u16string_view text)
{
    std::u16string line;
    for (char16_t c : text) {
        if (c == u'\n' || c == u'\r') {
            if (!line.empty()) break;
            continue;
        }
        line.push_back(c < 0x20 || c == 0x7F ? u' ' : c);
    }
    if (line.size() > kResultChars) line = line.substr(0, kResultChars - 3) + u"...";
    return line;
}

// The worker's questions: nobody is there to answer. A host key or a
// deployment that needs a yes gets no (stored answers still count); the
// scan itself keeps its notes and error in its result.
class CWorkerScanQuestions : public IScanQuestions {
public:
    // The user trusted a changed key of this host by naming it.
    explicit CWorkerScanQuestions(bool trustChangedKey) : m_bTrustChangedKey(trustChangedKey) {}
    bool AcceptHostKey(const SHostKeyQuestion&) override { return m_bTrustChangedKey; }
    bool ConfirmDeployment(EDeployQuestion, int) override { return false; }
    void Progress(std::u16string_view) override {}
    void Note(std::u16string_view, std::u16string_view) override {}
    void Error(std::u16string_view) override {}

private:
    bool m_bTrustChangedKey;
};

// Anything else that would open a window in a worker: questions get No,
// dialogs Cancel, and nothing is shown.
class CWorkerUserInterface : public IUserInterface {
public:
    int DoModal(HWND, DialogState&) override { return IDCANCEL; }
    int ShowMessage(HWND, std::u16string_view, std::u16string_view, UINT type) override
    {
        if ((type & MB_TYPEMASK) == MB_YESNO || (type & MB_TYPEMASK) == MB_YESNOCANCEL) return IDNO;
        return (type & MB_TYPEMASK) == MB_OKCANCEL ? IDCANCEL : IDOK;
    }
    HWND CreateProgress(HWND, const DialogState&) override { return nullptr; }
    void SetProgressText(HWND, int, std::u16string_view) override {}
    void DestroyProgress(HWND) override {}
    HWND ActiveWindow() override { return nullptr; }
};

// How a worker ends when it cannot scan: its record did not arrive whole,
// or its answer could not be written.
enum EWorkerExit { WORKER_EXIT_OK = 0, WORKER_EXIT_BAD_RECORD = 3, WORKER_EXIT_ANSWER_LOST = 4 };

// The worker: takes its request from the pipe, scans, answers the result.
int WorkerBody(int input, int output)
{
    Wiped<std::string> record;
    // Room for a whole record at once: no copy of the password is left
    // behind by a growing buffer.
    record.get().reserve(kRecordRoom);
    const bool read = ReadWorkerPipe(input, kMaxWorkerRecord, record.get());
    CloseWorkerPipe(input);
    SScanRequest request;
    if (!read || !DecodeWorkerRecord(record.get(), request)) return WORKER_EXIT_BAD_RECORD;
    WipeString(record.get());
    CWorkerUserInterface ui;
    SetUserInterface(&ui);
    // The parent marks a host whose changed key the user trusted with the
    // "store" policy; the worker says that yes itself, so that the scan
    // records and tells what it accepted.
    const bool trusted = request.changedHostKeyPolicy == HKP_STORE;
    if (trusted) request.changedHostKeyPolicy = HKP_ASK;
    CWorkerScanQuestions questions(trusted);
    SScanResult result = RunConfiguredScan(request, questions);
    // The XML travels packed as the console file keeps it: the parent of a
    // fleet holds packed pictures only, and the packing is spread over the
    // workers. One too large for the console file is refused here.
    std::string packed;
    if (result.status == SCAN_OK) {
        const EPictureError packing = PackPictureUtf8(result.xml, packed);
        if (packing != PICTURE_OK || packed.size() > kMaxNewPictureBytes) {
            result.status = SCAN_FAILED;
            result.failure = CHostNode::NewPictureRefusal(packing != PICTURE_OK ? packing : PICTURE_TOO_LARGE);
            packed.clear();
        }
    }
    result.xml = std::move(packed);
    const std::string answer = EncodeWorkerAnswer(result);
    return WriteWorkerPipe(output, answer) ? WORKER_EXIT_OK : WORKER_EXIT_ANSWER_LOST;
}

// A host whose scan runs in a worker.
struct SRunning {
    CHostNode* host = nullptr;
    std::unique_ptr<CWorkerProcess> worker;
    CDeadline deadline;
};

// The choices of one fleet run that a host's request carries.
struct SFleetChoices {
    // Deploy lshw where it is missing, without asking.
    bool deploy = false;
    // "GROUP/HOST" lines: the hosts whose changed key the user trusts.
    std::vector<std::u16string> trusted;
};

// Lines of a text setting, empty ones left out.
std::vector<std::u16string> SettingLines(const char16_t* name)
{
    std::vector<std::u16string> lines;
    std::u16string text;
    if (!ReadSettingText(kProductKey, name, text)) return lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(u'\n', start), text.size());
        if (end > start) lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::u16string HostPath(const CHostNode& host)
{
    const std::u16string group = host.m_pGroup != nullptr ? std::u16string(host.m_pGroup->Name()) : std::u16string();
    return group + u"/" + std::u16string(host.Name());
}

// The worker's record of a host; a route that does not read leaves it
// empty and says why.
std::string RequestRecord(const CHostNode& host, const SFleetChoices& choices, std::u16string& failure)
{
    try {
        SScanRequest request = MakeScanRequest(host);
        request.deployWithoutAsking = request.deployWithoutAsking || choices.deploy;
        if (std::find(choices.trusted.begin(), choices.trusted.end(), HostPath(host)) != choices.trusted.end())
            request.changedHostKeyPolicy = HKP_STORE;
        return EncodeWorkerRecord(request);
    } catch (const CScanError& error) {
        failure = ScanErrorText(error);
        return {};
    }
}

}  // namespace

int WorkerSeconds(const SScanLimits& limits)
{
    return limits.connectSeconds + limits.loginSeconds + 3 * limits.commandSeconds + kMarginSeconds;
}

std::vector<CHostNode*> ChosenHosts(const std::vector<CHostNode*>& hosts)
{
    std::u16string choice;
    if (!ReadSettingText(kProductKey, kRefreshChoiceSetting, choice)) return hosts;
    const std::vector<std::u16string> lines = SettingLines(kRefreshChoiceSetting);
    std::vector<CHostNode*> chosen;
    for (CHostNode* host : hosts) {
        const std::u16string group = host->m_pGroup != nullptr ? std::u16string(host->m_pGroup->Name()) : std::u16string();
        if (std::find(lines.begin(), lines.end(), group) != lines.end() ||
            std::find(lines.begin(), lines.end(), HostPath(*host)) != lines.end())
            chosen.push_back(host);
    }
    return chosen;
}

SFleetCount RefreshHosts(const std::vector<CHostNode*>& hosts, IConsoleNameSpace2* nameSpace)
{
    const auto texts = Texts(IDS_WORKER_TEXTS, WT_COUNT);
    SFleetCount count;
    count.total = hosts.size();
    const SScanLimits limits = ReadScanLimits();
    DWORD jobsSetting = kDefaultRefreshJobs;
    ReadSettingDword(kProductKey, kRefreshJobsSetting, jobsSetting);
    const std::size_t jobs = std::clamp<std::size_t>(jobsSetting, 1, kMaxRefreshJobs);
    // A packed picture and the answer's texts, each cut to its bound.
    const std::size_t maxAnswer = kMaxNewPictureBytes + (kMaxWorkerNotes + 8) * kMaxFailureText * 3 + 4096;
    SFleetChoices choices;
    DWORD deploy = 0;
    choices.deploy = ReadSettingDword(kProductKey, kRefreshDeploySetting, deploy) && deploy != 0;
    choices.trusted = SettingLines(kRefreshTrustSetting);

    // The questions come first, one host after the other.
    std::vector<CHostNode*> queue;
    for (CHostNode* host : hosts) {
        if (PendingStopRequest() != EStopRequest::None) {
            AcknowledgeStopRequest();
            TakeRefreshedXml(*host, nameSpace, 1, {}, texts[WT_STOPPED]);
            ++count.done;
            ++count.failed;
            continue;
        }
        if (LoginQuestionNeeded(*host)) {
            bool dropped = false;
            if (AskHostLogin(*host, nameSpace, dropped) && dropped) g_bDirty = true;
        }
        if (LoginQuestionNeeded(*host)) {
            TakeRefreshedXml(*host, nameSpace, 1, {}, texts[WT_NO_LOGIN]);
            ++count.done;
            ++count.failed;
            continue;
        }
        queue.push_back(host);
    }

    CProgressWindow progress;
    const std::u16string progressText = LoadString(g_hInstance, IDS_REFRESH_PROGRESS);
    const auto tell = [&] {
        progress.SetText(Fill(progressText, {IntToDecimal(static_cast<long long>(count.done)),
                                             IntToDecimal(static_cast<long long>(count.total)),
                                             IntToDecimal(static_cast<long long>(count.failed))}));
    };
    const auto finish = [&](CHostNode& host, int code, CStoredPicture picture, std::u16string failure) {
        if (TakeRefreshedPicture(host, nameSpace, code, std::move(picture), FewWords(failure)) != 0) ++count.failed;
        ++count.done;
        tell();
    };
    tell();

    std::vector<SRunning> running;
    std::size_t next = 0;
    while (next < queue.size() || !running.empty()) {
        // A request to stop (a signal): what has finished is on its host
        // already; the scans still running and those not started are
        // stopped, each said so, and the caller keeps the rest.
        if (PendingStopRequest() != EStopRequest::None) {
            AcknowledgeStopRequest();
            for (SRunning& slot : running) {
                slot.worker->Kill();
                finish(*slot.host, 1, {}, texts[WT_STOPPED]);
            }
            running.clear();
            while (next < queue.size()) finish(*queue[next++], 1, {}, texts[WT_STOPPED]);
            break;
        }
        while (running.size() < jobs && next < queue.size()) {
            CHostNode& host = *queue[next++];
            std::u16string unread;
            Wiped<std::string> record(RequestRecord(host, choices, unread));
            if (!unread.empty()) {
                finish(host, 1, {}, std::move(unread));
                continue;
            }
            SRunning slot;
            slot.host = &host;
            slot.worker = std::make_unique<CWorkerProcess>();
            slot.deadline = CDeadline::InSeconds(WorkerSeconds(limits));
            std::string reason;
            if (record.get().empty() || !slot.worker->Start(WorkerBody, maxAnswer, reason) ||
                !slot.worker->Send(record.get(), CDeadline::InSeconds(limits.connectSeconds))) {
                slot.worker->Kill();
                finish(host, 1, {}, Fill(texts[WT_NOT_STARTED], {AnsiToWide(reason)}));
                continue;
            }
            running.push_back(std::move(slot));
        }
        std::vector<CWorkerProcess*> workers;
        std::int64_t wait = kPollMs;
        for (const SRunning& slot : running) {
            workers.push_back(slot.worker.get());
            wait = std::min(wait, slot.deadline.RemainingMs());
        }
        CWorkerProcess::WaitForAny(workers, static_cast<int>(wait));
        for (auto it = running.begin(); it != running.end();) {
            CWorkerProcess& worker = *it->worker;
            const CWorkerProcess::EState state = worker.Pump();
            if (state == CWorkerProcess::EState::Running && !it->deadline.Passed()) {
                ++it;
                continue;
            }
            int code = 1;
            std::u16string failure;
            CStoredPicture picture;
            SScanResult result;
            if (state == CWorkerProcess::EState::Running) {
                worker.Kill();
                failure = Fill(texts[WT_TIMEOUT], {IntToDecimal(WorkerSeconds(limits))});
            } else if (state == CWorkerProcess::EState::TooLarge) {
                failure = texts[WT_TOO_LARGE];
            } else if (!DecodeWorkerAnswer(worker.Answer(), result)) {
                failure = texts[WT_NO_ANSWER];
            } else {
                code = result.status;
                failure = std::move(result.failure);
                if (code == SCAN_OK && picture.SetPacked(std::move(result.xml), kMaxNewPictureBytes) != PICTURE_OK) {
                    code = SCAN_FAILED;
                    failure = texts[WT_NO_ANSWER];
                }
                // A host refresh would have asked: the result says what.
                if (code != 0 && failure.empty())
                    failure = result.enginePackageMissing ? texts[WT_NO_PACKAGE]
                              : result.lshwMissing        ? texts[WT_LSHW_MISSING]
                                                          : texts[WT_FAILED];
                if (!result.acceptedHostKey.empty())
                    MessageBox(nullptr,
                               Fill(texts[WT_ACCEPTED_KEY], {HostPath(*it->host), AnsiToWide(result.replacedHostKey),
                                                             AnsiToWide(result.acceptedHostKey)}),
                               LoadString(g_hInstance, IDS_CAPTION), MB_OK | MB_ICONINFORMATION);
            }
            KeepScanOutcome(*it->host, result);
            finish(*it->host, code, std::move(picture), std::move(failure));
            it = running.erase(it);
        }
    }
    return count;
}
