#include "scan/scan_job.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/product_settings.h"
#include "res/module_strings.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "scan/engine_deployment.h"
#include "scan/remote_command.h"
#include "scan/sudo_scan.h"
#include "scp/scp.h"
#include "ssh2/errors.h"
#include "ssh2/ssh2.h"

namespace {

constexpr int kWrongPassword = 500;
constexpr UINT kJumpHostLabel = 701;
// Entries of the host-key texts (list 200).
enum {
    HK_CHANGED, HK_NEW_TYPE, HK_DAMAGED_BEFORE, HK_DAMAGED_AFTER, HK_STRICT, HK_QUESTION, HK_HOST, HK_PRESENTED,
    HK_STORED, HK_CAPTION
};
constexpr const char16_t* kLshw = u"lshw";
constexpr UINT kLimitTexts[] = {300, 301, 302, 303, 304, 305, 306};
enum { kNotFinished, kOutputTooLarge, kEndedBySignal, kNoExitStatus, kTheCommand, kNoHardwareList, kNoChannel };

std::vector<std::u16string> List(UINT id)
{
    std::vector<std::u16string> list;
    LoadStringList(id, list);
    return list;
}

std::u16string Entry(const std::vector<std::u16string>& list, std::size_t index)
{
    return index < list.size() ? list[index] : std::u16string();
}

void ShowError(std::u16string_view text) { MessageBox(nullptr, text, u"Error", MB_OK | MB_ICONERROR); }

// One of the texts about limits and endings, with %1 and %2 filled in.
std::u16string LimitText(int which, std::u16string_view first, std::u16string_view second = {})
{
    std::u16string text = Entry(List(kLimitTexts[which]), 0);
    const std::pair<std::u16string_view, std::u16string_view> marks[] = {{u"%1", first}, {u"%2", second}};
    for (const auto& [mark, value] : marks) {
        if (const std::size_t at = text.find(mark); at != std::u16string::npos) text.replace(at, mark.size(), value);
    }
    return text;
}

std::u16string NameOrGeneric(const char16_t* name)
{
    return name != nullptr ? std::u16string(name) : LimitText(kTheCommand, {});
}

// The name of a signal by its number on Linux hosts, for a shell's exit
// status of 128 + number; empty for an unusual one.
std::u16string SignalByNumber(std::uint32_t number)
{
    switch (number) {
    case 1: return u"HUP";
    case 2: return u"INT";
    case 3: return u"QUIT";
    case 4: return u"ILL";
    case 6: return u"ABRT";
    case 7: return u"BUS";
    case 8: return u"FPE";
    case 9: return u"KILL";
    case 11: return u"SEGV";
    case 13: return u"PIPE";
    case 14: return u"ALRM";
    case 15: return u"TERM";
    default: return {};
    }
}

// Closes the session and raises the text as the scan's error.
[[noreturn]] void FailWith(std::u16string text)
{
    CScanError error = CScanError::Text(std::move(text));
    CSSH2::Disconnect();
    throw error;
}

int RunScan()
{
    const std::string command = ScanCommand();
    return CSSH2::Exec(command.c_str());
}

// Told as a note, and kept as the reason the scan ran without root rights:
// the scan goes on without them, and the command that ran it does not fail
// for it.
void TellNoteAndScanWithoutSudo(const std::u16string& note, IScanQuestions& questions, SScanResult& result)
{
    result.rootReason = note;
    questions.Note(note, u"sudo");
    CheckSshResult(RunScan(), kLshw);
}

}  // namespace

void RunScanStep(const SScanRequest& request, IScanQuestions& questions, SScanResult& result)
{
    const auto TellAndScanWithoutSudo = [&](const std::u16string& note) {
        TellNoteAndScanWithoutSudo(note, questions, result);
    };
    if (!request.sudo) {
        CheckSshResult(RunScan(), kLshw);
        return;
    }
    const int answerSeconds = std::min(kSudoAnswerSeconds, request.limits.commandSeconds);
    CheckSshResult(CSSH2::Exec(SudoScanCommand({}, answerSeconds).c_str()), kLshw);
    std::uint32_t status = CSSH2::GetExitStatus();
    if (status == kSudoSilentStatus) return TellAndScanWithoutSudo(SudoSilentText(answerSeconds));
    // Only root's own lshw runs as root: sudo was not asked.
    if (status == kLshwNotRootsStatus)
        return TellAndScanWithoutSudo(SudoRefusalText(SUDO_LSHW_NOT_ROOTS, CSSH2::GetOutput()));
    if (status != kSudoRefusedStatus && status != kSudoMissingStatus) return;
    ESudoRefusal refusal = SUDO_MISSING;
    if (status == kSudoRefusedStatus) {
        refusal = ClassifySudoRefusal(CSSH2::GetOutput());
        if (refusal == SUDO_PASSWORD_REQUIRED && request.password.empty()) refusal = SUDO_NO_PASSWORD;
        if (refusal == SUDO_PASSWORD_REQUIRED) {
            // The password goes to sudo's standard input, never into the
            // command.
            Wiped<std::string> password(request.password);
            Wiped<std::string> input;
            input.get().reserve(password.get().size() + 1);
            input.get() = password.get();
            input.get() += '\n';
            // Sent only once sudo itself asked with this run's own prompt:
            // a host that prints a sudo message of its own gets nothing.
            const std::string prompt = NewSudoPrompt();
            CheckSshResult(CSSH2::ExecWithInputAfterPrompt(SudoScanCommand(prompt, answerSeconds).c_str(),
                                                           input.get(), prompt),
                           kLshw);
            status = CSSH2::GetExitStatus();
            if (!CSSH2::InputWasSent()) {
                // A sudo that stayed silent is told as such; anything else
                // showed no prompt of ours.
                if (status == kSudoSilentStatus) return TellAndScanWithoutSudo(SudoSilentText(answerSeconds));
                return TellAndScanWithoutSudo(SudoRefusalText(SUDO_FORGED_PROMPT, CSSH2::GetOutput()));
            }
            if (status == kSudoSilentStatus) return TellAndScanWithoutSudo(SudoSilentText(answerSeconds));
            if (status != kSudoRefusedStatus) return;
            refusal = ClassifySudoRefusal(CSSH2::GetOutput());
            // Asked again after the password was given: it was not taken.
            if (refusal == SUDO_PASSWORD_REQUIRED) refusal = SUDO_WRONG_PASSWORD;
        }
    }
    TellAndScanWithoutSudo(SudoRefusalText(refusal, CSSH2::GetOutput()));
}

void CheckSshResult(int code) { CheckSshResult(code, nullptr); }

void CheckSshResult(int code, const char16_t* command)
{
    if (code == 0) return;
    if (code == SSH_SERVER_DISCONNECT) FailWith(AnsiToWide(CSSH2::GetOutput()));
    const SSshFailure failure = CSSH2::LastFailure();
    if (command != nullptr && failure.limit == SL_COMMAND)
        FailWith(LimitText(kNotFinished, command, IntToDecimal(static_cast<long long>(failure.amount))));
    if (command != nullptr && failure.limit == SL_CHANNEL)
        FailWith(LimitText(kNoChannel, command, IntToDecimal(static_cast<long long>(failure.amount))));
    if (command != nullptr && failure.limit == SL_OUTPUT)
        FailWith(LimitText(kOutputTooLarge, command, IntToDecimal(static_cast<long long>(failure.amount >> 20))));
    CSSH2::Disconnect();
    throw CScanError::Ssh(static_cast<ESSHErrors>(code));
}

void CheckCommandEnded(const char16_t* command, bool shellSignals)
{
    const std::string signal = CSSH2::GetExitSignal();
    if (!signal.empty()) FailWith(LimitText(kEndedBySignal, NameOrGeneric(command), AnsiToWide(signal)));
    const std::uint32_t status = CSSH2::GetExitStatus();
    if (status == CSSH2::kNoExitStatus) FailWith(LimitText(kNoExitStatus, NameOrGeneric(command)));
    // A shell reports a program that a signal ended as 128 + its number.
    if (!shellSignals || status <= 128) return;
    if (const std::u16string name = SignalByNumber(status - 128); !name.empty())
        FailWith(LimitText(kEndedBySignal, NameOrGeneric(command), name));
}

void CheckCommandStatus() { CheckCommandStatus(nullptr); }

void CheckCommandStatus(const char16_t* command)
{
    CheckCommandEnded(command, true);
    if (CSSH2::GetExitStatus() != 0) FailWith(AnsiToWide(CSSH2::GetOutput()));
}

std::u16string SshErrorText(int code)
{
    // A refusal by a jump host says which one refused.
    const std::string jump = CSSH2::LastFailure().jump;
    const std::u16string onJump =
        jump.empty() ? std::u16string() : u" (" + LoadString(g_hInstance, kJumpHostLabel) + u": " + AnsiToWide(jump) + u")";
    if (code == SSH_WRONG_PASSWORD) return LoadString(g_hInstance, kWrongPassword) + onJump;
    if (code >= SSH_HOSTKEY_SIGNATURE && code <= SSH_HOSTKEY_TOO_SMALL)
        return Entry(List(202), static_cast<std::size_t>(code - SSH_HOSTKEY_SIGNATURE)) + onJump;
    const auto texts = List(125);
    const std::size_t index = code >= 0 && code <= 20 ? static_cast<std::size_t>(code) : texts.size() - 1;
    std::u16string text = Entry(texts, index);
    // What the client found out about the failure, when it says more.
    if (const std::string detail = CSSH2::LastFailure().text; !detail.empty()) text += u": " + AnsiToWide(detail);
    return text;
}

std::u16string ScpErrorText(int code)
{
    char text[256];
    scp_format_error(code, text, sizeof text);
    std::u16string shown = AnsiToWide(text);
    char detail[512];
    scp_last_error_detail(detail, sizeof detail);
    if (detail[0] != '\0') shown += u": " + AnsiToWide(detail);
    return shown;
}

void ReportSshError(int code) { ShowError(SshErrorText(code)); }

void ReportScpError(int code) { ShowError(ScpErrorText(code)); }

bool StrictHostKeys()
{
    // Any value but 0 is strict, as it always was.
    DWORD value = 0;
    const SProductSetting* setting = FindProductSetting(WideToAnsi(kStrictHostKeysSetting));
    return setting != nullptr && ProductSettingStored(*setting, value) && value != 0;
}

SHostKeyQuestion HostKeyQuestionOf(const char* host, const char* fingerprint, int absent)
{
    SHostKeyQuestion question;
    question.event = absent;
    question.host = host ? host : "";
    question.presented = fingerprint ? fingerprint : "";
    if (const CSSH2* session = CSSH2::Current()) {
        question.known = session->HostKeyReport().knownFingerprints;
        question.damagedCopy = session->HostKeyReport().damagedCopy;
    }
    return question;
}

void TellHostKeyStored(const char* host, const char* fingerprint)
{
    // Told, not asked: on standard error (the terminal console's log).
    const auto notice = List(201);
    std::string line = WideToAnsi(Entry(notice, 0) + u" " + AnsiToWide(host ? host : "") + u" " + Entry(notice, 1) +
                                  u" " + AnsiToWide(fingerprint ? fingerprint : ""));
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

bool AskHostKeyInBox(const SHostKeyQuestion& question)
{
    const auto texts = List(200);
    std::u16string message;
    switch (question.event) {
    case HKE_CHANGED: message = Entry(texts, HK_CHANGED); break;
    case HKE_NEW_TYPE: message = Entry(texts, HK_NEW_TYPE); break;
    case HKE_UNVERIFIABLE:
        message = Entry(texts, HK_DAMAGED_BEFORE) + u" " + AnsiToWide(question.damagedCopy) + u", " +
                  Entry(texts, HK_DAMAGED_AFTER);
        break;
    default: message = Entry(texts, HK_STRICT); break;
    }
    message += u"\n" + Entry(texts, HK_HOST) + u": " + AnsiToWide(question.host);
    message += u"\n" + Entry(texts, HK_PRESENTED) + u": " + AnsiToWide(question.presented);
    for (const std::string& known : question.known) message += u"\n" + Entry(texts, HK_STORED) + u": " + AnsiToWide(known);
    message += u"\n" + Entry(texts, HK_QUESTION);
    const UINT type = MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2;
    return MessageBox(nullptr, message, Entry(texts, HK_CAPTION), type) == IDYES;
}

int HostKeyQuestion(int reserved, const char* host, const char* fingerprint, int absent, void* data)
{
    if (reserved != 0) return 0;
    if (absent == HKE_STORED) {
        TellHostKeyStored(host, fingerprint);
        return 0;
    }
    const SHostKeyQuestion question = HostKeyQuestionOf(host, fingerprint, absent);
    if (data != nullptr) return static_cast<IScanQuestions*>(data)->AcceptHostKey(question) ? 1 : 0;
    return AskHostKeyInBox(question) ? 1 : 0;
}

std::u16string CutBeforeXml(std::u16string text)
{
    const std::size_t first = text.find(u'<');
    if (first == std::u16string::npos) return {};
    text.erase(0, first);
    return text;
}

std::u16string NoHardwareListText(std::string_view output, std::string_view xml)
{
    // lshw's XML starts with its declaration, a comment, or the element.
    for (const std::string_view start : {"<?xml", "<!--", "<list", "<node"})
        if (xml.starts_with(start)) return {};
    // The first words of what came instead, as plain printable ASCII only:
    // the host's text reaches no terminal unfiltered.
    std::u16string first;
    for (const char c : output.substr(0, 60)) first += c >= 0x20 && c < 0x7f ? static_cast<char16_t>(c) : u' ';
    while (!first.empty() && first.back() == u' ') first.pop_back();
    if (output.size() > 60) first += u"\u2026";
    return LimitText(kNoHardwareList, IntToDecimal(static_cast<long long>(output.size())), first);
}

std::string CutBeforeXml(std::string text)
{
    const std::size_t first = text.find('<');
    if (first == std::string::npos) return {};
    text.erase(0, first);
    return text;
}
