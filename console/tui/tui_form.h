// Dialog forms, pure logic: the fields of a dialog template or a message
// box, editing and focus, the outcome of a key, and the layout of the box.
// The terminal drawing lives elsewhere; nothing here touches the terminal.
#pragma once

#include <string>
#include <vector>

#include "platform/ui.h"

namespace fdx::tui {

enum class FieldKind { Static, Edit, Password, Digits, Check, Button, Icon, Image, Frame, Animation };

// Parses a template control kind; unknown kinds read as Static.
FieldKind ParseFieldKind(const std::string& kind);

struct FormField {
    int id = 0;
    FieldKind kind = FieldKind::Static;
    std::wstring text;  // label of a static, check, button or frame; the value of an edit
    int limit = 0;      // most characters of an edit, 0 for no limit
    bool checked = false;
    std::size_t cursor = 0;  // edits: insertion point, in characters
    bool selected = false;   // edits: the whole text is selected, so typing replaces it
    mutable int scroll = 0;  // edits: first character shown (kept by the layout)

    bool Editable() const { return kind == FieldKind::Edit || kind == FieldKind::Password || kind == FieldKind::Digits; }
    bool Focusable() const { return Editable() || kind == FieldKind::Check || kind == FieldKind::Button; }
};

// What a key does to a form, already translated from the terminal's codes.
struct FormInput {
    enum Kind { Char, Backspace, Delete, Left, Right, Home, End, Next, Previous, Enter, Escape, KillLine, None };
    Kind kind = None;
    wchar_t ch = 0;
};

class CForm {
public:
    // The visible controls of a dialog, with the texts and checks it came in
    // with. A field gets the focus the template asks for, else the first
    // focusable one. An edit that gets the focus has its whole text
    // selected: a character typed replaces it, Backspace or Delete empties
    // it, a cursor key keeps it and ends the selection.
    explicit CForm(const DialogState& dialog);
    // A message box: its text, and buttons by type (OK, OK/Cancel, Yes/No,
    // Yes/No/Cancel) with the results IDOK, IDCANCEL, IDYES and IDNO.
    static CForm MessageBox(std::u16string_view text, std::u16string_view caption, UINT type);
    // Wipes every edit buffer.
    ~CForm();
    CForm(CForm&& other) noexcept;
    CForm& operator=(CForm&&) = delete;
    CForm(const CForm&) = delete;
    CForm& operator=(const CForm&) = delete;

    // Applies one key; returns the result that ends the form (IDOK,
    // IDCANCEL, IDYES, IDNO or a button's id), or 0 while it goes on.
    int Apply(const FormInput& input);
    // Writes the edit texts and check states back into the dialog.
    void Store(DialogState& dialog) const;

    const std::wstring& Title() const { return m_title; }
    const std::vector<FormField>& Fields() const { return m_fields; }
    int Focus() const { return m_nFocus; }
    void SetFocus(int index);
    // The result Enter gives when the focus is not on a button.
    int DefaultResult() const;
    // The result Escape gives.
    int EscapeResult() const { return m_nEscape; }
    // Sets the text of a field by control id (a progress text, for one).
    void SetText(int id, std::wstring text);

private:
    CForm() = default;
    void Insert(FormField& field, wchar_t c);
    void MoveFocus(int step);
    // Gives the focus to field `index` and selects its text.
    void Focus(int index);

    std::wstring m_title;
    std::vector<FormField> m_fields;
    int m_nFocus = -1;
    int m_nEscape = IDCANCEL;
};

// --- Layout --------------------------------------------------------------

enum class FormItemStyle { Text, Frame, Input, InputFocused, InputSelected, Check, CheckFocused, Button, ButtonFocused };

struct FormItem {
    int row = 0;     // inside the box's inner area
    int column = 0;  // inside the box's inner area
    std::wstring text;
    FormItemStyle style = FormItemStyle::Text;
    int field = -1;  // index of the field it shows, -1 for pure decoration
};

struct FormLayout {
    int width = 0;   // inner width (the box adds a border and a margin)
    int height = 0;  // inner rows
    std::vector<FormItem> items;
    int cursorRow = -1;  // the focused edit's insertion point, -1 when none
    int cursorColumn = -1;
};

// Lays the form out for a screen `screenColumns` wide: a label followed by
// an edit shares its row (labels aligned), a frame becomes a titled rule
// whose contents are indented, texts wrap, buttons share the last row. The
// focused edit's window is scrolled so that its cursor shows.
FormLayout LayoutForm(const CForm& form, int screenColumns, bool ascii);

// A static text that labels the edit after it on the same row: it must be
// short and on one line.
bool IsFieldLabel(const std::vector<FormField>& fields, std::size_t index);

// Columns an edit field takes on screen (brackets included) for the given
// inner width: the rest of the row after the label, narrower for a short
// limit.
int InputColumns(const FormField& field, int available);

}  // namespace fdx::tui
