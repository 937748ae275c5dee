// Checks of the console harness's own parts that need no snap-in: the
// script's words, paths and answers, and the dialog answerer against real
// Win32 dialogs and message boxes.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dialog_answers.h"
#include "platform/windows/dialog_template.h"
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

// A dialog built as the product's are: an edit 1002, a check box 1003 and,
// when asked for, OK and Cancel.
std::vector<WORD> Template(const char16_t* title, bool withButtons, bool modeless = false)
{
    DialogTemplate dialog;
    dialog.title = title;
    dialog.controls = {{1002, "edit", u"", 64, true, true}, {1003, "check", u"Check", 0, true, false}};
    if (withButtons) {
        dialog.controls.push_back({IDOK, "button", u"OK", 0, true, false});
        dialog.controls.push_back({IDCANCEL, "button", u"Cancel", 0, true, false});
    }
    return BuildDialogTemplate(dialog, modeless);
}

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

INT_PTR RunDialog(const std::vector<WORD>& tmpl, DialogSeen& seen)
{
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(tmpl.data()),
                                   nullptr, &RecordingProc, reinterpret_cast<LPARAM>(&seen));
}

void TestDialogAnswers()
{
    std::vector<std::string> lines;
    DialogAnswerer answerer([&](const std::string& line) { lines.push_back(line); });
    CHECK(answerer.Hooked());
    const std::vector<WORD> tmpl = Template(u"Add a new group", true);

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
    const std::vector<WORD> progressTemplate = Template(u"", false, true);
    DialogSeen progressSeen;
    HWND progress = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                               reinterpret_cast<const DLGTEMPLATE*>(progressTemplate.data()), nullptr,
                                               &RecordingProc, reinterpret_cast<LPARAM>(&progressSeen));
    CHECK(progress != nullptr);
    DialogAnswer answer;
    std::string error;
    CHECK(ParseAnswer({"IDOK", "1002=after"}, answer, error));
    answerer.Queue(answer);
    const std::vector<WORD> tmpl = Template(u"Import hosts", true);
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
