// Dialog forms: fields from templates, editing, focus, results, layout.
#include <gtest/gtest.h>

#include <algorithm>

#include "console/tui/tui_form.h"
#include "console/tui/tui_text.h"
#include "res/resource_ids.h"
#include "tests/console/tui_dialogs.h"

using namespace fdx::tui;
using namespace fdx::tui::test;

namespace {

DialogState ReadyDialog()
{
    DialogState d;
    d.tmpl.title = u"Ready to install";
    d.tmpl.controls = {Control(IDC_READY_TEXT, "static", u"Ferrodex is ready to deploy Vorbex."),
                       Control(IDC_DO_NOT_SHOW_AGAIN, "check", u"Do not show this dialog again.", 0, false),
                       Control(IDOK, "button", u"OK"), Control(IDCANCEL, "button", u"Cancel")};
    d.checks[IDC_DO_NOT_SHOW_AGAIN] = 1;
    return d;
}

void Type(CForm& form, std::wstring_view text)
{
    for (wchar_t c : text) form.Apply(FormInput{FormInput::Char, c});
}

int Press(CForm& form, FormInput::Kind kind) { return form.Apply(FormInput{kind, 0}); }

int FieldIndex(const CForm& form, int id)
{
    const auto& f = form.Fields();
    for (std::size_t i = 0; i < f.size(); ++i)
        if (f[i].id == id) return static_cast<int>(i);
    return -1;
}
const FormField& FieldAt(const CForm& form, int index) { return form.Fields()[static_cast<std::size_t>(index)]; }
const FormField& Focused(const CForm& form) { return FieldAt(form, form.Focus()); }
// The first item of a layout that `pick` accepts; the end when none does.
template <typename Pick>
auto ItemWhere(const FormLayout& layout, Pick pick)
{
    return std::find_if(layout.items.begin(), layout.items.end(), pick);
}

}  // namespace

TEST(TuiForm, FieldsComeFromTheVisibleControlsAndTabVisitsThoseTakingInput)
{
    const CForm host(HostDialog());
    EXPECT_EQ(host.Title(), L"Add a New Host");
    EXPECT_EQ(host.Fields().size(), 12u);
    EXPECT_EQ(FieldAt(host, FieldIndex(host, IDC_PORT)).text, L"22");
    EXPECT_EQ(FieldAt(host, FieldIndex(host, IDC_PORT)).kind, FieldKind::Digits);
    EXPECT_EQ(host.Focus(), FieldIndex(host, IDC_HOST));

    const CForm ready(ReadyDialog());
    EXPECT_EQ(FieldIndex(ready, IDC_DO_NOT_SHOW_AGAIN), -1) << "a hidden control is not shown";
    EXPECT_EQ(ready.Focus(), FieldIndex(ready, IDOK)) << "without a focus field the first button takes it";

    // Tab visits only the fields that take input, and wraps.
    CForm form(HostDialog());
    std::vector<int> visited;
    for (int i = 0; i < 7; ++i) {
        visited.push_back(Focused(form).id);
        Press(form, FormInput::Next);
    }
    EXPECT_EQ(visited, (std::vector<int>{IDC_HOST, IDC_PORT, IDC_LOGIN, IDC_PASSWORD, IDOK, IDCANCEL, IDC_HOST}));
    Press(form, FormInput::Previous);
    Press(form, FormInput::Previous);
    EXPECT_EQ(Focused(form).id, IDCANCEL);
}

TEST(TuiForm, TypingEditsTheFocusedFieldAtTheCursor)
{
    CForm form(GroupDialog());
    Type(form, L"Lbb");
    Press(form, FormInput::Backspace);
    Press(form, FormInput::Home);
    Press(form, FormInput::Right);
    Type(form, L"a");
    Press(form, FormInput::End);
    Type(form, L"\u00E9");
    Press(form, FormInput::Home);
    Press(form, FormInput::Delete);
    const FormField& f = Focused(form);
    EXPECT_EQ(f.text, L"ab\u00E9");
    Press(form, FormInput::KillLine);
    EXPECT_EQ(f.text, L"");
    EXPECT_EQ(f.cursor, 0u);
    // Cursor moves stop at the ends.
    Press(form, FormInput::Left);
    Press(form, FormInput::Backspace);
    EXPECT_EQ(f.cursor, 0u);
}

TEST(TuiForm, EditsKeepTheirLimitAndTakeNoControls)
{
    // The port's digits are the screen tests'.
    CForm group(GroupDialog());
    Type(group, std::wstring(300, L'g'));
    EXPECT_EQ(Focused(group).text.size(), 255u);
    DialogState d = GroupDialog();
    d.texts[IDC_GROUP_NAME] = std::u16string(400, u'n');
    const CForm given(d);
    EXPECT_EQ(FieldAt(given, FieldIndex(given, IDC_GROUP_NAME)).text.size(), 255u)
        << "an initial text is cut too";
    // Control characters never enter a field.
    CForm other(GroupDialog());
    other.Apply(FormInput{FormInput::Char, L'\x1B'});
    EXPECT_EQ(Focused(other).text, L"");
}

// The edits' texts reach the dialog through the screen tests; here the checks.
TEST(TuiForm, SpaceTogglesAChecksOrPressesAButtonAndStoreWritesChecksBack)
{
    DialogState r = ReadyDialog();
    CForm ready(r);
    ready.Store(r);
    EXPECT_EQ(r.checks[IDC_DO_NOT_SHOW_AGAIN], 1) << "a hidden check keeps its state";

    DialogState d = ReadyDialog();
    d.tmpl.controls[1].visible = true;
    d.checks[IDC_DO_NOT_SHOW_AGAIN] = 0;
    CForm form(d);
    form.SetFocus(FieldIndex(form, IDC_DO_NOT_SHOW_AGAIN));
    form.Apply(FormInput{FormInput::Char, L' '});
    form.Store(d);
    EXPECT_EQ(d.checks[IDC_DO_NOT_SHOW_AGAIN], 1) << "space toggles a check";

    // On a button, space gives its result; typing never ends a form. Enter
    // and Escape are the screen tests' (typed through the terminal).
    CForm group(GroupDialog());
    for (wchar_t ch : std::wstring(L"oc y")) EXPECT_EQ(group.Apply(FormInput{FormInput::Char, ch}), 0);
    Press(group, FormInput::Next);  // OK
    EXPECT_EQ(group.Apply(FormInput{FormInput::Char, L' '}), IDOK);
}

TEST(TuiForm, MessageBoxesOfferTheButtonsOfTheirType)
{
    struct Case {
        UINT type;
        std::vector<int> buttons;
        int escape;
        int enter;
    } cases[] = {
        {MB_OK | MB_ICONERROR, {IDOK}, IDOK, IDOK},
        {MB_OKCANCEL, {IDOK, IDCANCEL}, IDCANCEL, IDOK},
        {MB_YESNO | MB_ICONQUESTION, {IDYES, IDNO}, IDNO, IDYES},
        {MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}, IDCANCEL, IDYES},
        // A question whose safe answer is No starts there.
        {MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2, {IDYES, IDNO}, IDNO, IDNO},
        {MB_OK | MB_DEFBUTTON2, {IDOK}, IDOK, IDOK},
        // A question whose safe answer is Cancel starts there; a box with
        // fewer buttons falls back to its first.
        {MB_YESNOCANCEL | MB_ICONWARNING | MB_DEFBUTTON3, {IDYES, IDNO, IDCANCEL}, IDCANCEL, IDCANCEL},
        {MB_YESNO | MB_DEFBUTTON3, {IDYES, IDNO}, IDNO, IDYES},
    };
    for (const Case& c : cases) {
        CForm box = CForm::MessageBox(u"Save changes?", u"Ferrodex", c.type);
        EXPECT_EQ(box.Title(), L"Ferrodex");
        std::vector<int> buttons;
        for (const auto& f : box.Fields())
            if (f.kind == FieldKind::Button) buttons.push_back(f.id);
        EXPECT_EQ(buttons, c.buttons) << c.type;
        EXPECT_EQ(box.EscapeResult(), c.escape);
        EXPECT_EQ(Press(box, FormInput::Enter), c.enter);
    }
    CForm yesNo = CForm::MessageBox(u"Quit?", u"Ferrodex", MB_YESNOCANCEL);
    EXPECT_EQ(yesNo.Apply(FormInput{FormInput::Char, L'n'}), IDNO);
    EXPECT_EQ(yesNo.Apply(FormInput{FormInput::Char, L'Y'}), IDYES);
    EXPECT_EQ(yesNo.Apply(FormInput{FormInput::Char, L'c'}), IDCANCEL);
    EXPECT_EQ(yesNo.Apply(FormInput{FormInput::Char, L'z'}), 0);
}

TEST(TuiForm, LayoutKeepsItemsInsideTheBoxWithoutOverlaps)
{
    for (int screen : {20, 40, 80, 200}) {
        CForm form(HostDialog());
        const FormLayout layout = LayoutForm(form, screen, false);
        EXPECT_LE(layout.width + 4, std::max(screen, 16)) << screen;
        for (std::size_t i = 0; i < layout.items.size(); ++i) {
            const FormItem& a = layout.items[i];
            EXPECT_GE(a.column, 0);
            EXPECT_LE(a.column + TextColumns(a.text), layout.width) << screen << ": " << a.field;
            EXPECT_LT(a.row, layout.height);
            for (std::size_t j = i + 1; j < layout.items.size(); ++j) {
                const FormItem& b = layout.items[j];
                if (a.row != b.row) continue;
                const bool apart = a.column + TextColumns(a.text) <= b.column || b.column + TextColumns(b.text) <= a.column;
                EXPECT_TRUE(apart) << screen << ": fields " << a.field << " and " << b.field;
            }
        }
    }
}

TEST(TuiForm, LabelsShareTheRowOfTheirEditAndEditsLineUp)
{
    CForm form(HostDialog());
    const FormLayout layout = LayoutForm(form, 80, false);
    std::vector<int> editColumns;
    for (int id : {IDC_HOST, IDC_PORT, IDC_LOGIN, IDC_PASSWORD}) {
        const int field = FieldIndex(form, id);
        const auto edit = ItemWhere(layout, [&](const FormItem& i) { return i.field == field; });
        const auto label = ItemWhere(layout, [&](const FormItem& i) { return i.field == field - 1; });
        ASSERT_NE(edit, layout.items.end());
        ASSERT_NE(label, layout.items.end());
        EXPECT_EQ(edit->row, label->row);
        editColumns.push_back(edit->column);
    }
    EXPECT_EQ(std::count(editColumns.begin(), editColumns.end(), editColumns[0]), 4);
    // The long security text wraps instead of becoming a label.
    const int security = FieldIndex(form, IDC_SECURITY_NOTE);
    EXPECT_GE(std::count_if(layout.items.begin(), layout.items.end(), [&](const FormItem& i) { return i.field == security; }), 2);
    // The buttons share the last row.
    const auto ok = ItemWhere(layout, [&](const FormItem& i) { return i.text == L"[ OK ]"; });
    const auto cancel = ItemWhere(layout, [&](const FormItem& i) { return i.text == L"[ Cancel ]"; });
    ASSERT_NE(ok, layout.items.end());
    ASSERT_NE(cancel, layout.items.end());
    EXPECT_EQ(ok->row, layout.height - 1);
    EXPECT_EQ(cancel->row, ok->row);
}

TEST(TuiForm, ALongEditScrollsSoThatTheCursorShows)
{
    CForm form(GroupDialog());
    Type(form, std::wstring(200, L'a') + L"END");
    const FormLayout layout = LayoutForm(form, 60, false);
    const int field = form.Focus();
    const auto edit = ItemWhere(layout, [&](const FormItem& i) { return i.field == field; });
    ASSERT_NE(edit, layout.items.end());
    EXPECT_NE(edit->text.find(L"END"), std::wstring::npos);
    EXPECT_GT(layout.cursorColumn, edit->column);
    EXPECT_LT(layout.cursorColumn, edit->column + TextColumns(edit->text));
    Press(form, FormInput::Home);
    const FormLayout home = LayoutForm(form, 60, false);
    EXPECT_EQ(home.cursorColumn, edit->column + 1);
}

TEST(TuiForm, IconsAndFramesAreDrawnAsText)
{
    DialogState d;
    d.tmpl.title = u"Enter the password";
    d.tmpl.controls = {Control(IDC_PASSWORD_ICON, "icon", u"132"), Control(IDC_PASSWORD_TEXT, "static", u"Please input the password"),
                       Control(IDC_MAIN_PASSWORD, "password", u"", 255, true, true), Control(IDOK, "button", u"OK"),
                       Control(IDCANCEL, "button", u"Cancel")};
    CForm form(d);
    const FormLayout layout = LayoutForm(form, 80, true);
    ASSERT_FALSE(layout.items.empty());
    EXPECT_EQ(layout.items[0].text.substr(0, 4), L"(!) ");
    EXPECT_NE(layout.items[0].text.find(L"Please input"), std::wstring::npos);
    EXPECT_EQ(Focused(form).id, IDC_MAIN_PASSWORD);
}

TEST(TuiForm, AFocusedEditHasItsTextSelectedSoTypingReplacesIt)
{
    CForm form(HostDialog());
    const int port = FieldIndex(form, IDC_PORT);
    const auto field = [&form](int index) -> const FormField& { return FieldAt(form, index); };
    Press(form, FormInput::Next);
    ASSERT_EQ(form.Focus(), port);
    EXPECT_TRUE(field(port).selected);
    for (const FormItem& item : LayoutForm(form, 80, false).items)
        if (item.field == port) {
            EXPECT_EQ(item.style, FormItemStyle::InputSelected);
        }
    Type(form, L"2222");
    EXPECT_EQ(field(port).text, L"2222");
    EXPECT_FALSE(field(port).selected);

    // Back to the field: selected again. A cursor key keeps the text and
    // ends the selection, so typing then inserts.
    Press(form, FormInput::Next);
    Press(form, FormInput::Previous);
    EXPECT_TRUE(field(port).selected);
    Press(form, FormInput::End);
    Type(form, L"1");
    EXPECT_EQ(field(port).text, L"22221");

    // A character the field refuses leaves the selection and the text.
    Press(form, FormInput::Next);
    Press(form, FormInput::Previous);
    Type(form, L"x");
    EXPECT_EQ(field(port).text, L"22221");
    EXPECT_TRUE(field(port).selected);
    // Backspace takes the whole selection.
    Press(form, FormInput::Backspace);
    EXPECT_EQ(field(port).text, L"");
    Type(form, L"8");
    EXPECT_EQ(field(port).text, L"8");

    // The field that has the focus when the form opens is selected too: a
    // dialog shown again after a refusal gets a new name typed over the old.
    DialogState again = HostDialog();
    again.texts[IDC_HOST] = u"bad/name";
    CForm shownAgain(again);
    Type(shownAgain, L"srv");
    EXPECT_EQ(FieldAt(shownAgain, FieldIndex(shownAgain, IDC_HOST)).text, L"srv");
    // An empty edit has nothing to select.
    CForm group(GroupDialog());
    EXPECT_FALSE(Focused(group).selected);
}
