#include "console/tui/tui_form.h"

#include <algorithm>

#include "console/tui/tui_text.h"
#include "platform/text.h"

namespace fdx::tui {

namespace {

constexpr int kMinInner = 30;
constexpr int kMinInput = 8;

void Wipe(std::wstring& s)
{
    if (s.capacity() > 0) SecureZeroMemory(s.data(), s.capacity() * sizeof(wchar_t));
    s.clear();
}

// Grows the buffer without leaving a copy of its old contents behind.
void Reserve(std::wstring& s, std::size_t n)
{
    if (s.capacity() >= n) return;
    std::wstring bigger;
    bigger.reserve(std::max<std::size_t>(n, 2 * s.capacity()));
    bigger.assign(s);
    Wipe(s);
    s.swap(bigger);
}

std::wstring ButtonText(const FormField& f) { return L"[ " + f.text + L" ]"; }

}  // namespace

FieldKind ParseFieldKind(const std::string& kind)
{
    if (kind == "edit") return FieldKind::Edit;
    if (kind == "password") return FieldKind::Password;
    if (kind == "digits") return FieldKind::Digits;
    if (kind == "check") return FieldKind::Check;
    if (kind == "button") return FieldKind::Button;
    if (kind == "icon") return FieldKind::Icon;
    if (kind == "image") return FieldKind::Image;
    if (kind == "frame") return FieldKind::Frame;
    if (kind == "animation") return FieldKind::Animation;
    return FieldKind::Static;
}

CForm::CForm(const DialogState& dialog)
{
    m_title = ToTerminal(dialog.title.empty() ? dialog.tmpl.title : dialog.title);
    int wanted = -1;
    for (const DialogControlTemplate& c : dialog.tmpl.controls) {
        if (!c.visible) continue;
        FormField f;
        f.id = c.id;
        f.kind = ParseFieldKind(c.kind);
        f.limit = c.limit;
        auto text = dialog.texts.find(c.id);
        const std::u16string& source = text != dialog.texts.end() ? text->second : c.text;
        if (f.Editable()) {
            f.text.reserve(static_cast<std::size_t>(std::max(c.limit, 0)) + 64);
            f.text = DecodeUtf16(source);
            if (f.limit > 0 && f.text.size() > static_cast<std::size_t>(f.limit))
                f.text.resize(static_cast<std::size_t>(f.limit));
            f.cursor = f.text.size();
        } else {
            f.text = ToTerminal(source, ELineFeeds::Kept);
        }
        if (auto check = dialog.checks.find(c.id); check != dialog.checks.end()) f.checked = check->second != 0;
        if (c.focus && f.Focusable() && wanted < 0) wanted = static_cast<int>(m_fields.size());
        m_fields.push_back(std::move(f));
    }
    m_nEscape = IDCANCEL;  // even a dialog without a Cancel button
    if (wanted >= 0) {
        Focus(wanted);
    } else {
        MoveFocus(1);
    }
}

CForm CForm::MessageBox(std::u16string_view text, std::u16string_view caption, UINT type)
{
    CForm form;
    form.m_title = ToTerminal(caption);
    FormField body;
    body.kind = FieldKind::Static;
    body.text = ToTerminal(text, ELineFeeds::Kept);
    form.m_fields.push_back(std::move(body));
    auto button = [&form](int result, const wchar_t* label) {
        FormField b;
        b.kind = FieldKind::Button;
        b.id = result;
        b.text = label;
        form.m_fields.push_back(std::move(b));
    };
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        button(IDOK, L"OK");
        button(IDCANCEL, L"Cancel");
        form.m_nEscape = IDCANCEL;
        break;
    case MB_YESNO:
        button(IDYES, L"Yes");
        button(IDNO, L"No");
        form.m_nEscape = IDNO;
        break;
    case MB_YESNOCANCEL:
        button(IDYES, L"Yes");
        button(IDNO, L"No");
        button(IDCANCEL, L"Cancel");
        form.m_nEscape = IDCANCEL;
        break;
    default:
        button(IDOK, L"OK");
        form.m_nEscape = IDOK;
        break;
    }
    // Field 0 is the text; the buttons follow it.
    const std::size_t first = (type & MB_DEFMASK) == MB_DEFBUTTON3 ? 3 : (type & MB_DEFMASK) == MB_DEFBUTTON2 ? 2 : 1;
    form.m_nFocus = first < form.m_fields.size() ? static_cast<int>(first) : 1;
    return form;
}

CForm::CForm(CForm&& other) noexcept
    : m_title(std::move(other.m_title)), m_fields(std::move(other.m_fields)), m_nFocus(other.m_nFocus),
      m_nEscape(other.m_nEscape)
{
}

CForm::~CForm()
{
    for (FormField& f : m_fields)
        if (f.Editable()) Wipe(f.text);
}

void CForm::SetFocus(int index)
{
    if (index >= 0 && index < static_cast<int>(m_fields.size()) && m_fields[static_cast<std::size_t>(index)].Focusable())
        Focus(index);
}

void CForm::Focus(int index)
{
    for (FormField& f : m_fields) f.selected = false;
    m_nFocus = index;
    FormField& f = m_fields[static_cast<std::size_t>(index)];
    if (f.Editable()) {
        f.cursor = f.text.size();
        f.selected = !f.text.empty();
    }
}

void CForm::MoveFocus(int step)
{
    const int n = static_cast<int>(m_fields.size());
    if (n == 0) return;
    int i = m_nFocus;
    for (int tries = 0; tries < n; ++tries) {
        i = ((i < 0 ? (step > 0 ? -1 : 0) : i) + step + n) % n;
        if (m_fields[static_cast<std::size_t>(i)].Focusable()) {
            Focus(i);
            return;
        }
    }
}

int CForm::DefaultResult() const
{
    for (const FormField& f : m_fields)
        if (f.kind == FieldKind::Button && (f.id == IDOK || f.id == IDYES)) return f.id;
    for (const FormField& f : m_fields)
        if (f.kind == FieldKind::Button) return f.id;
    return IDOK;
}

void CForm::SetText(int id, std::wstring text)
{
    for (FormField& f : m_fields)
        if (f.id == id) {
            if (f.Editable()) Wipe(f.text);
            f.text = std::move(text);
            f.cursor = f.text.size();
        }
}

void CForm::Insert(FormField& field, wchar_t c)
{
    if (c < 0x20 || c == 0x7F) return;
    if (field.kind == FieldKind::Digits && (c < L'0' || c > L'9')) return;
    if (field.selected) {  // the character replaces the selected text
        SecureZeroMemory(field.text.data(), field.text.size() * sizeof(wchar_t));
        field.text.clear();
        field.cursor = 0;
        field.selected = false;
    }
    if (field.limit > 0 && field.text.size() >= static_cast<std::size_t>(field.limit)) return;
    Reserve(field.text, field.text.size() + 1);
    field.cursor = std::min(field.cursor, field.text.size());
    field.text.insert(field.cursor, 1, c);
    ++field.cursor;
}

int CForm::Apply(const FormInput& input)
{
    FormField* focused = m_nFocus >= 0 ? &m_fields[static_cast<std::size_t>(m_nFocus)] : nullptr;
    switch (input.kind) {
    case FormInput::Escape: return m_nEscape;
    case FormInput::Enter:
        if (focused != nullptr && focused->kind == FieldKind::Button) return focused->id;
        return DefaultResult();
    case FormInput::Next: MoveFocus(1); return 0;
    case FormInput::Previous: MoveFocus(-1); return 0;
    case FormInput::None: return 0;
    default: break;
    }
    if (focused == nullptr) return 0;
    if (focused->Editable()) {
        FormField& f = *focused;
        f.cursor = std::min(f.cursor, f.text.size());
        if (f.selected && input.kind != FormInput::Char) {
            // Any key but a character ends the selection; the deleting ones
            // take the selected text with them.
            f.selected = false;
            if (input.kind == FormInput::Backspace || input.kind == FormInput::Delete) {
                SecureZeroMemory(f.text.data(), f.text.size() * sizeof(wchar_t));
                f.text.clear();
                f.cursor = 0;
                return 0;
            }
        }
        switch (input.kind) {
        case FormInput::Char: Insert(f, input.ch); break;
        case FormInput::Backspace:
            if (f.cursor > 0) f.text.erase(--f.cursor, 1);
            break;
        case FormInput::Delete:
            if (f.cursor < f.text.size()) f.text.erase(f.cursor, 1);
            break;
        case FormInput::Left:
            if (f.cursor > 0) --f.cursor;
            break;
        case FormInput::Right:
            if (f.cursor < f.text.size()) ++f.cursor;
            break;
        case FormInput::Home: f.cursor = 0; break;
        case FormInput::End: f.cursor = f.text.size(); break;
        case FormInput::KillLine:
            SecureZeroMemory(f.text.data(), f.text.size() * sizeof(wchar_t));
            f.text.clear();
            f.cursor = 0;
            break;
        default: break;
        }
        return 0;
    }
    // Checks and buttons: Space toggles or presses; arrows move the focus; a
    // letter presses the button it starts.
    if (input.kind == FormInput::Left) {
        MoveFocus(-1);
        return 0;
    }
    if (input.kind == FormInput::Right) {
        MoveFocus(1);
        return 0;
    }
    if (input.kind != FormInput::Char) return 0;
    if (input.ch == L' ') {
        if (focused->kind == FieldKind::Check) {
            focused->checked = !focused->checked;
            return 0;
        }
        if (focused->kind == FieldKind::Button) return focused->id;
        return 0;
    }
    const wchar_t lower = static_cast<wchar_t>(input.ch >= L'A' && input.ch <= L'Z' ? input.ch - L'A' + L'a' : input.ch);
    for (const FormField& f : m_fields) {
        if (f.kind != FieldKind::Button || f.text.empty()) continue;
        wchar_t first = f.text[0];
        if (first >= L'A' && first <= L'Z') first = static_cast<wchar_t>(first - L'A' + L'a');
        if (first == lower) return f.id;
    }
    return 0;
}

void CForm::Store(DialogState& dialog) const
{
    for (const FormField& f : m_fields) {
        if (f.Editable()) {
            std::u16string& slot = dialog.texts[f.id];
            WipeString(slot);
            slot = FromTerminal(f.text);
        } else if (f.kind == FieldKind::Check) {
            dialog.checks[f.id] = f.checked ? 1 : 0;
        }
    }
}

// --- Layout --------------------------------------------------------------

bool IsFieldLabel(const std::vector<FormField>& fields, std::size_t index)
{
    if (index + 1 >= fields.size()) return false;
    const FormField& f = fields[index];
    return f.kind == FieldKind::Static && fields[index + 1].Editable() && f.text.find(L'\n') == std::wstring::npos &&
           TextColumns(f.text) <= 20;
}

int InputColumns(const FormField& field, int available)
{
    int width = std::max(available, 3);
    if (field.limit > 0) width = std::min(width, field.limit + 3);  // brackets and room for the cursor
    return width;
}

FormLayout LayoutForm(const CForm& form, int screenColumns, bool ascii)
{
    const std::vector<FormField>& fields = form.Fields();
    const int maxInner = std::max(screenColumns - 4, 12);

    // Widths the contents would like.
    int labelWidth = 0;
    int wanted = std::max(kMinInner, TextColumns(form.Title()) + 4);
    int buttons = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const FormField& f = fields[i];
        if (IsFieldLabel(fields, i)) {
            labelWidth = std::max(labelWidth, TextColumns(f.text));
        } else if (f.kind == FieldKind::Static) {
            for (const std::wstring& line : WrapText(f.text, 1 << 20)) wanted = std::max(wanted, TextColumns(line));
        } else if (f.kind == FieldKind::Button) {
            buttons += TextColumns(ButtonText(f)) + (buttons > 0 ? 2 : 0);
        } else if (f.kind == FieldKind::Check) {
            wanted = std::max(wanted, TextColumns(f.text) + 4);
        }
    }
    wanted = std::max(wanted, buttons);
    const bool hasInput = std::any_of(fields.begin(), fields.end(), [](const FormField& f) { return f.Editable(); });
    if (hasInput) wanted = std::max(wanted, labelWidth + 1 + 34);
    const int inner = std::min(std::max(wanted, 12), std::min(maxInner, 72));

    FormLayout layout;
    layout.width = inner;
    // On a narrow screen labels go above their edits.
    const bool stacked = inner - 2 - labelWidth - 1 < kMinInput + 2;
    int row = 0;
    int indent = 0;
    std::wstring iconPrefix;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const FormField& f = fields[i];
        const int index = static_cast<int>(i);
        const bool focused = form.Focus() == index;
        switch (f.kind) {
        case FieldKind::Static: {
            if (IsFieldLabel(fields, i)) {
                layout.items.push_back(FormItem{row, indent, FitColumns(f.text, std::min(labelWidth, inner - indent)),
                                                FormItemStyle::Text, index});
                if (stacked) ++row;  // too narrow: the edit goes below its label
                break;               // else the edit that follows shares the row
            }
            const int width = std::max(inner - indent - TextColumns(iconPrefix), 4);
            bool first = true;
            for (const std::wstring& line : WrapText(f.text, width)) {
                std::wstring text = first ? iconPrefix + line : std::wstring(iconPrefix.size(), L' ') + line;
                layout.items.push_back(FormItem{row++, indent, std::move(text), FormItemStyle::Text, index});
                first = false;
            }
            iconPrefix.clear();
            break;
        }
        case FieldKind::Edit:
        case FieldKind::Password:
        case FieldKind::Digits: {
            const bool paired = i > 0 && IsFieldLabel(fields, i - 1) && !stacked;
            const int column = paired ? indent + labelWidth + 1 : indent;
            const int boxWidth = InputColumns(f, inner - column);
            const int window = boxWidth - 2;
            // Scroll so that the cursor shows.
            const int cursor = static_cast<int>(std::min(f.cursor, f.text.size()));
            if (cursor < f.scroll) f.scroll = cursor;
            if (cursor >= f.scroll + window) f.scroll = cursor - window + 1;
            f.scroll = std::clamp(f.scroll, 0, std::max(0, static_cast<int>(f.text.size())));
            std::wstring shown;
            if (f.kind == FieldKind::Password) {
                const int count = std::max(0, static_cast<int>(f.text.size()) - f.scroll);
                shown.assign(static_cast<std::size_t>(std::min(count, window)), L'*');
            } else {
                // Filtered before it is fitted: a control character shown
                // visibly takes more than one column.
                shown = FitColumns(OneTerminalLine(std::wstring_view(f.text).substr(static_cast<std::size_t>(f.scroll))),
                                   window, false);
            }
            std::wstring text = L"[" + PadColumns(shown, window, false) + L"]";
            const FormItemStyle style = !focused   ? FormItemStyle::Input
                                        : f.selected ? FormItemStyle::InputSelected
                                                     : FormItemStyle::InputFocused;
            layout.items.push_back(FormItem{row, column, std::move(text), style, index});
            if (focused) {
                layout.cursorRow = row;
                const std::wstring before = f.text.substr(static_cast<std::size_t>(f.scroll),
                                                          static_cast<std::size_t>(cursor - f.scroll));
                layout.cursorColumn =
                    column + 1 + (f.kind == FieldKind::Password ? static_cast<int>(before.size()) : TextColumns(before));
            }
            ++row;
            break;
        }
        case FieldKind::Check: {
            std::wstring text = std::wstring(f.checked ? L"[x] " : L"[ ] ") + f.text;
            layout.items.push_back(FormItem{row++, indent, FitColumns(text, inner - indent, true, ascii),
                                            focused ? FormItemStyle::CheckFocused : FormItemStyle::Check, index});
            break;
        }
        case FieldKind::Frame: {
            if (row > 0) ++row;
            std::wstring rule = ascii ? L"-- " : L"\u2500\u2500 ";
            rule += f.text;
            rule += L' ';
            const int used = TextColumns(rule);
            if (used < inner) rule.append(static_cast<std::size_t>(inner - used), ascii ? L'-' : L'\u2500');
            layout.items.push_back(FormItem{row++, 0, FitColumns(rule, inner, true, ascii), FormItemStyle::Frame, index});
            indent = 2;
            break;
        }
        case FieldKind::Icon: iconPrefix = L"(!) "; break;
        case FieldKind::Image:
            layout.items.push_back(FormItem{row++, indent, L"[image]", FormItemStyle::Text, index});
            break;
        case FieldKind::Animation:
            layout.items.push_back(FormItem{row++, indent, ascii ? L"..." : L"\u2026", FormItemStyle::Text, index});
            break;
        case FieldKind::Button: break;  // laid out together below
        }
    }
    if (!iconPrefix.empty()) layout.items.push_back(FormItem{row++, indent, iconPrefix, FormItemStyle::Text, -1});

    // Buttons: one row, centred, after a blank row.
    std::vector<int> buttonFields;
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i].kind == FieldKind::Button) buttonFields.push_back(static_cast<int>(i));
    if (!buttonFields.empty()) {
        if (row > 0) ++row;
        int total = 0;
        for (int b : buttonFields) total += TextColumns(ButtonText(fields[static_cast<std::size_t>(b)])) + 2;
        total -= 2;
        const bool oneRow = total <= inner;  // else one button per row
        int column = std::max(0, (inner - total) / 2);
        for (int b : buttonFields) {
            std::wstring text = FitColumns(ButtonText(fields[static_cast<std::size_t>(b)]), inner, true, ascii);
            const int w = TextColumns(text);
            if (!oneRow) column = std::max(0, (inner - w) / 2);
            layout.items.push_back(FormItem{row, column, std::move(text),
                                            form.Focus() == b ? FormItemStyle::ButtonFocused : FormItemStyle::Button, b});
            column += w + 2;
            if (!oneRow) ++row;
        }
        if (oneRow) ++row;
    }
    layout.height = std::max(row, 1);
    return layout;
}

}  // namespace fdx::tui
