#include "scan/fleet_refresh.h"


#include <algorithm>
#include <memory>

#include "inventory/credential_crypt.h"
#include "inventory/dialogs.h"
#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/login_question.h"
#include "inventory/module_state.h"
#include "platform/settings.h"
#include "platform/stream.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "platform/worker_process.h"
#include "res/resource_ids.h"
#include "scan/engine_deployment.h"
#include "scan/progress_window.h"
#include "scan/scan_host.h"

namespace {

// A host's result when its worker did not bring one.
enum { WT_TIMEOUT, WT_TOO_LARGE, WT_NOT_STARTED, WT_NO_LOGIN, WT_FAILED, WT_NO_ANSWER, WT_COUNT };
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

void PutU32(std::string& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void PutText(std::string& out, std::string_view text)
{
    PutU32(out, static_cast<std::uint32_t>(text.size()));
    out.append(text);
}

// Reads from bytes it never passes the end of.
class CBoundedBytes {
public:
    explicit CBoundedBytes(std::string_view bytes) : m_bytes(bytes) {}
    bool U32(std::uint32_t& value)
    {
        if (m_bytes.size() - m_off < 4) return false;
        value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(m_bytes[m_off + static_cast<std::size_t>(i)]);
        m_off += 4;
        return true;
    }
    bool Text(std::size_t max, std::string_view& text)
    {
        std::uint32_t length = 0;
        if (!U32(length) || length > max || m_bytes.size() - m_off < length) return false;
        text = m_bytes.substr(m_off, length);
        m_off += length;
        return true;
    }
    bool AtEnd() const { return m_off == m_bytes.size(); }

private:
    std::string_view m_bytes;
    std::size_t m_off = 0;
};

// The worker's user interface: nobody is there to answer. Questions get
// No, dialogs Cancel; an error's text is kept as the host's result.
class CWorkerUserInterface : public IUserInterface {
public:
    int DoModal(HWND, DialogState&) override { return IDCANCEL; }
    int ShowMessage(HWND, std::u16string_view text, std::u16string_view, UINT type) override
    {
        if ((type & MB_ICONMASK) == MB_ICONERROR) m_error = text;
        if ((type & MB_TYPEMASK) == MB_YESNO || (type & MB_TYPEMASK) == MB_YESNOCANCEL) {
            if (m_error.empty()) m_question = text;
            return IDNO;
        }
        return (type & MB_TYPEMASK) == MB_OKCANCEL ? IDCANCEL : IDOK;
    }
    HWND CreateProgress(HWND, const DialogState&) override { return nullptr; }
    void SetProgressText(HWND, int, std::u16string_view) override {}
    void DestroyProgress(HWND) override {}
    HWND ActiveWindow() override { return nullptr; }

    // The error shown, else the question refused (a missing lshw).
    std::u16string Failure() const { return m_error.empty() ? m_question : m_error; }

private:
    std::u16string m_error;
    std::u16string m_question;
};

// How a worker ends when it cannot scan: its record did not arrive whole,
// or its answer could not be written.
enum EWorkerExit { WORKER_EXIT_OK = 0, WORKER_EXIT_BAD_RECORD = 3, WORKER_EXIT_ANSWER_LOST = 4 };

// The worker: takes its host from the pipe, scans it, answers.
int WorkerBody(int input, int output)
{
    Wiped<std::string> record;
    // Room for a whole record at once: no copy of the password is left
    // behind by a growing buffer.
    record.get().reserve(kRecordRoom);
    const bool read = ReadWorkerPipe(input, kMaxWorkerRecord, record.get());
    CloseWorkerPipe(input);
    CHostNode host(nullptr);
    if (!read || !DecodeWorkerRecord(record.get(), host)) return WORKER_EXIT_BAD_RECORD;
    WipeString(record.get());
    CWorkerUserInterface ui;
    SetUserInterface(&ui);
    const int code = RunConfiguredScanJob(host);
    std::u16string failure = ui.Failure();
    if (failure.size() > kMaxFailureText) failure.resize(kMaxFailureText);
    const std::string answer = EncodeWorkerAnswer(code, failure, code == 0 ? host.m_bstrXml : std::u16string());
    return WriteWorkerPipe(output, answer) ? WORKER_EXIT_OK : WORKER_EXIT_ANSWER_LOST;
}

// A host whose scan runs in a worker.
struct SRunning {
    CHostNode* host = nullptr;
    std::unique_ptr<CWorkerProcess> worker;
    CDeadline deadline;
};

}  // namespace

int WorkerSeconds(const SScanLimits& limits)
{
    return limits.connectSeconds + limits.loginSeconds + 3 * limits.commandSeconds + kMarginSeconds;
}

std::string EncodeWorkerRecord(CHostNode& host)
{
    // The XML stays behind: the worker fetches a new one.
    std::u16string xml = std::move(host.m_bstrXml);
    host.m_bstrXml.clear();
    com_ptr<IStream> stream = CreateMemoryStream();
    const HRESULT saved = host.Save(stream.get(), false);
    host.m_bstrXml = std::move(xml);
    if (FAILED(saved)) return {};
    std::vector<std::uint8_t> bytes = MemoryStreamBytes(stream.get());
    std::string record;
    PutText(record, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    const Wiped<std::string> login(WideToAnsi(host.m_bstrLogin));
    const Wiped<std::string> password(WideToAnsi(host.m_bstrPassword));
    record.reserve(record.size() + login.get().size() + password.get().size() + 8);
    PutText(record, login.get());
    PutText(record, password.get());
    return record;
}

bool DecodeWorkerRecord(std::string_view bytes, CHostNode& host)
{
    CBoundedBytes reader(bytes);
    std::string_view saved;
    std::string_view login;
    std::string_view password;
    if (!reader.Text(kMaxWorkerRecord, saved) || !reader.Text(kMaxWorkerRecord, login) ||
        !reader.Text(kMaxWorkerRecord, password) || !reader.AtEnd())
        return false;
    com_ptr<IStream> stream = CreateMemoryStream(std::vector<std::uint8_t>(saved.begin(), saved.end()));
    bool encrypted = false;
    if (host.Load(stream.get(), &encrypted) != 0 || encrypted) return false;
    // Login and password come as the encoder writes them: bytes that are not
    // UTF-8 would widen into text the host could not save again.
    if (login.size() > kMaxCredentialBytes || password.size() > kMaxCredentialBytes) return false;
    Wiped<std::u16string> wideLogin(AnsiToWide(login));
    Wiped<std::u16string> widePassword(AnsiToWide(password));
    if (Wiped<std::string>(WideToAnsi(wideLogin.get())).get() != login ||
        Wiped<std::string>(WideToAnsi(widePassword.get())).get() != password)
        return false;
    host.m_bstrLogin = std::move(wideLogin.get());
    host.m_bstrPassword = std::move(widePassword.get());
    return true;
}

std::string EncodeWorkerAnswer(int code, std::u16string_view failure, std::u16string_view xml)
{
    std::string answer;
    PutU32(answer, static_cast<std::uint32_t>(code));
    PutText(answer, WideToAnsi(failure));
    PutText(answer, WideToAnsi(xml));
    return answer;
}

bool DecodeWorkerAnswer(std::string_view bytes, int& code, std::u16string& failure, std::u16string& xml)
{
    CBoundedBytes reader(bytes);
    std::uint32_t value = 0;
    std::string_view failureBytes;
    std::string_view xmlBytes;
    const std::size_t maxXml = SScanLimits::kMaxOutputMiB << 20;
    if (!reader.U32(value) || value > 0xFFFF || !reader.Text(kMaxFailureText * 3, failureBytes) ||
        !reader.Text(maxXml, xmlBytes) || !reader.AtEnd())
        return false;
    code = static_cast<int>(value);
    failure = AnsiToWide(failureBytes);
    // The worker cuts its failure short; a longer one is not its answer.
    if (failure.size() > kMaxFailureText) return false;
    xml = AnsiToWide(xmlBytes);
    return true;
}

std::vector<CHostNode*> ChosenHosts(const std::vector<CHostNode*>& hosts)
{
    std::u16string choice;
    if (!ReadSettingText(kProductKey, kRefreshChoiceSetting, choice)) return hosts;
    std::vector<std::u16string> lines;
    std::size_t start = 0;
    while (start <= choice.size()) {
        const std::size_t end = std::min(choice.find(u'\n', start), choice.size());
        if (end > start) lines.push_back(choice.substr(start, end - start));
        start = end + 1;
    }
    std::vector<CHostNode*> chosen;
    for (CHostNode* host : hosts) {
        const std::u16string group = host->m_pGroup != nullptr ? std::u16string(host->m_pGroup->Name()) : std::u16string();
        const std::u16string path = group + u"/" + std::u16string(host->Name());
        if (std::find(lines.begin(), lines.end(), group) != lines.end() ||
            std::find(lines.begin(), lines.end(), path) != lines.end())
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
    const std::size_t maxAnswer = (limits.maxOutputMiB << 20) * 3 + kMaxFailureText * 3 + 64;

    // The questions come first, one host after the other.
    std::vector<CHostNode*> queue;
    for (CHostNode* host : hosts) {
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
    const auto finish = [&](CHostNode& host, int code, std::u16string xml, std::u16string failure) {
        if (TakeRefreshedXml(host, nameSpace, code, std::move(xml), FewWords(failure)) != 0) ++count.failed;
        ++count.done;
        tell();
    };
    tell();

    std::vector<SRunning> running;
    std::size_t next = 0;
    while (next < queue.size() || !running.empty()) {
        while (running.size() < jobs && next < queue.size()) {
            CHostNode& host = *queue[next++];
            SRunning slot;
            slot.host = &host;
            slot.worker = std::make_unique<CWorkerProcess>();
            slot.deadline = CDeadline::InSeconds(WorkerSeconds(limits));
            std::string reason;
            Wiped<std::string> record(EncodeWorkerRecord(host));
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
            std::u16string xml;
            if (state == CWorkerProcess::EState::Running) {
                worker.Kill();
                failure = Fill(texts[WT_TIMEOUT], {IntToDecimal(WorkerSeconds(limits))});
            } else if (state == CWorkerProcess::EState::TooLarge) {
                failure = texts[WT_TOO_LARGE];
            } else if (!DecodeWorkerAnswer(worker.Answer(), code, failure, xml)) {
                code = 1;
                failure = texts[WT_NO_ANSWER];
            } else if (code != 0 && failure.empty()) {
                failure = texts[WT_FAILED];
            }
            finish(*it->host, code, std::move(xml), std::move(failure));
            it = running.erase(it);
        }
    }
    return count;
}
