// Checks of the console harness's own parts that need no snap-in: the
// script's words, paths and answers, and the dialog answerer against real
// Win32 dialogs and message boxes.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dialog_answers.h"
#include "script.h"

namespace {

int g_failures = 0;

#define CHECK(condition)                                                         \
    do {                                                                         \
        if (!(condition)) {                                                      \
            std::printf("%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #condition); \
            ++g_failures;                                                        \
        }                                                                        \
    } while (false)

// --- Script --------------------------------------------------------------------

void TestWords()
{
    std::vector<std::string> words;
    std::string error;
    CHECK(SplitWords(R"(menu Lab/srv "Add Host..."  # a comment)", words, error));
    CHECK((words == std::vector<std::string>{"menu", "Lab/srv", "Add Host..."}));
    CHECK(SplitWords(R"(answer IDOK 1002="a \"quoted\" \\ name" tree "")", words, error));
    CHECK((words == std::vector<std::string>{"answer", "IDOK", "1002=a \"quoted\" \\ name", "tree", ""}));
    CHECK(SplitWords("echo a#b", words, error) && words.size() == 2 && words[1] == "a#b");
    CHECK(!SplitWords(R"(echo "open)", words, error));
    CHECK(!SplitWords(R"(echo "bad \n escape")", words, error));
}

void TestPaths()
{
    CHECK(ParseNodePath(L"").empty());
    CHECK((ParseNodePath(L"Lab/srv") == std::vector<std::wstring>{L"Lab", L"srv"}));
    CHECK((ParseNodePath(L"a\\/b/c\\\\d") == std::vector<std::wstring>{L"a/b", L"c\\d"}));
    CHECK((ParseNodePath(L"Lab/") == std::vector<std::wstring>{L"Lab", L""}));
}

void TestAnswers()
{
    DialogAnswer answer;
    std::string error;
    CHECK(ParseAnswer({"1002=Lab", "IDOK", "+1344", "-1341", "1003="}, answer, error));
    CHECK(answer.button == IDOK);
    CHECK(answer.texts.size() == 2 && answer.texts[1002] == L"Lab" && answer.texts[1003].empty());
    CHECK(answer.checks[1344] && !answer.checks[1341]);
    CHECK(ParseAnswer({"7"}, answer, error) && answer.button == IDNO);
    CHECK(!ParseAnswer({"1002=x"}, answer, error));         // no button
    CHECK(!ParseAnswer({"IDOK", "IDCANCEL"}, answer, error));  // two buttons
    CHECK(!ParseAnswer({"IDOK", "+abc"}, answer, error));
    CHECK(!ParseAnswer({"IDOK", "x=1"}, answer, error));
    CHECK(!ParseAnswer({"IDMAYBE"}, answer, error));
    CHECK(ButtonName(IDYES) == "IDYES" && ButtonName(42) == "42");
}

// --- Dialogs -------------------------------------------------------------------

// An in-memory dialog template: a title, an edit 1002, a check box 1003,
// and the buttons asked for.
class TemplateWriter {
public:
    TemplateWriter(const wchar_t* title, bool withButtons)
    {
        const WORD controls = withButtons ? 4 : 2;
        Dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
        Dword(0);
        Word(controls);
        Word(10), Word(10), Word(200), Word(100);
        Word(0), Word(0);  // no menu, the default class
        Text(title);
        Word(8);
        Text(L"MS Shell Dlg");
        Control(1002, 0x0081, WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, L"");
        Control(1003, 0x0080, WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, L"Check");
        if (withButtons) {
            Control(IDOK, 0x0080, WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, L"OK");
            Control(IDCANCEL, 0x0080, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, L"Cancel");
        }
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

private:
    void Word(WORD value) { m_words.push_back(value); }
    void Dword(DWORD value)
    {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    void Text(const wchar_t* text)
    {
        for (; *text != L'\0'; ++text) Word(static_cast<WORD>(*text));
        Word(0);
    }
    void Align()
    {
        if (m_words.size() % 2 != 0) Word(0);
    }
    void Control(WORD id, WORD atom, DWORD style, const wchar_t* text)
    {
        Align();
        Dword(style);
        Dword(0);
        Word(5), Word(5), Word(80), Word(12);
        Word(id);
        Word(0xFFFF), Word(atom);
        Text(text);
        Word(0);  // no creation data
    }

    std::vector<WORD> m_words;
};

struct DialogSeen {
    std::wstring text;
    bool checked = false;
};

INT_PTR CALLBACK RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SetDlgItemTextW(dialog, 1002, L"initial");
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        auto* seen = reinterpret_cast<DialogSeen*>(GetWindowLongPtrW(dialog, DWLP_USER));
        wchar_t text[64] = {};
        GetDlgItemTextW(dialog, 1002, text, 64);
        seen->text = text;
        seen->checked = IsDlgButtonChecked(dialog, 1003) == BST_CHECKED;
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

INT_PTR RunDialog(const TemplateWriter& tmpl, DialogSeen& seen)
{
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), tmpl.Get(), nullptr, &RecordingProc,
                                   reinterpret_cast<LPARAM>(&seen));
}

void TestDialogAnswers()
{
    std::vector<std::string> lines;
    DialogAnswerer answerer([&](const std::string& line) { lines.push_back(line); });
    CHECK(answerer.Hooked());
    const TemplateWriter tmpl(L"Add a new group", true);

    DialogAnswer answer;
    std::string error;
    CHECK(ParseAnswer({"IDOK", "1002=Lab two", "+1003"}, answer, error));
    answerer.Queue(answer);
    DialogSeen seen;
    CHECK(RunDialog(tmpl, seen) == IDOK);
    CHECK(seen.text == L"Lab two");
    CHECK(seen.checked);
    CHECK(answerer.Pending() == 0);

    // Without an answer the dialog is cancelled, its own texts untouched.
    seen = DialogSeen{};
    CHECK(RunDialog(tmpl, seen) == IDCANCEL);
    CHECK(seen.text == L"initial");

    // Message boxes: the text is reported, the scripted button pressed.
    CHECK(ParseAnswer({"IDNO"}, answer, error));
    answerer.Queue(answer);
    CHECK(MessageBoxW(nullptr, L"Remove the host\nsrv?", L"Ferrodex", MB_YESNO | MB_ICONQUESTION) == IDNO);
    // A button the box does not have: it is closed the way it can be.
    CHECK(ParseAnswer({"IDYES"}, answer, error));
    answerer.Queue(answer);
    CHECK(MessageBoxW(nullptr, L"Saved.", L"Note", MB_OK) == IDOK);
    CHECK(MessageBoxW(nullptr, L"Unasked", L"Ferrodex", MB_OKCANCEL) == IDCANCEL);

    CHECK(lines.size() == 5);
    if (lines.size() == 5) {
        CHECK(lines[0] == "dialog \"Add a new group\" -> IDOK");
        CHECK(lines[1] == "dialog \"Add a new group\" -> IDCANCEL (no answer)");
        CHECK(lines[2] == "message \"Ferrodex\": Remove the host srv? -> IDNO");
        CHECK(lines[3] == "message \"Note\": Saved. -> IDOK (it has no IDYES)");
        CHECK(lines[4] == "message \"Ferrodex\": Unasked -> IDCANCEL (no answer)");
    }
    for (const std::string& line : lines) std::printf("  %s\n", line.c_str());
}

// A window without buttons (a progress window) is no question: it stays,
// and the answer waits for the dialog after it.
void TestProgressWindowLeftAlone()
{
    std::vector<std::string> lines;
    DialogAnswerer answerer([&](const std::string& line) { lines.push_back(line); });
    const TemplateWriter progressTemplate(L"", false);
    DialogSeen progressSeen;
    HWND progress = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), progressTemplate.Get(), nullptr,
                                               &RecordingProc, reinterpret_cast<LPARAM>(&progressSeen));
    CHECK(progress != nullptr);
    DialogAnswer answer;
    std::string error;
    CHECK(ParseAnswer({"IDOK", "1002=after"}, answer, error));
    answerer.Queue(answer);
    const TemplateWriter tmpl(L"Import hosts", true);
    DialogSeen seen;
    CHECK(RunDialog(tmpl, seen) == IDOK);
    CHECK(seen.text == L"after");
    CHECK(IsWindow(progress));
    DestroyWindow(progress);
    CHECK(lines.size() == 1 && lines[0] == "dialog \"Import hosts\" -> IDOK");
}

}  // namespace

int main()
{
    TestWords();
    TestPaths();
    TestAnswers();
    TestDialogAnswers();
    TestProgressWindowLeftAlone();
    std::printf("%s (%d failed)\n", g_failures == 0 ? "passed" : "FAILED", g_failures);
    return g_failures == 0 ? 0 : 1;
}
