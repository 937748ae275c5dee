#include "platform/windows/dialog_template.h"

#include <string>

namespace {

constexpr short kMargin = 7;
constexpr short kWidth = 240;
constexpr short kLabelWidth = 80;
constexpr short kRow = 16;
constexpr short kHeight = 12;
constexpr short kButtonWidth = 50;

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;

class CTemplateWriter {
public:
    void Word(WORD value) { m_words.push_back(value); }
    void Dword(DWORD value)
    {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    void Text(const std::u16string& text)
    {
        for (char16_t c : text) Word(static_cast<WORD>(c));
        Word(0);
    }
    void AlignDword()
    {
        if (m_words.size() % 2 != 0) Word(0);
    }
    std::vector<WORD>& Words() { return m_words; }

private:
    std::vector<WORD> m_words;
};

struct SItem {
    DWORD style;
    short x, y, cx, cy;
    int id;
    WORD windowClass;
    std::u16string text;
};

void WriteItem(CTemplateWriter& out, const SItem& item)
{
    out.AlignDword();
    out.Dword(0);  // help id
    out.Dword(0);  // extended style
    out.Dword(item.style | WS_CHILD | (item.style & WS_VISIBLE));
    out.Word(static_cast<WORD>(item.x));
    out.Word(static_cast<WORD>(item.y));
    out.Word(static_cast<WORD>(item.cx));
    out.Word(static_cast<WORD>(item.cy));
    out.Dword(static_cast<DWORD>(item.id));
    out.Word(0xFFFF);
    out.Word(item.windowClass);
    out.Text(item.text);
    out.Word(0);  // no creation data
}

}  // namespace

bool IsTextField(const std::string& kind) { return kind == "edit" || kind == "password" || kind == "digits"; }

std::vector<WORD> BuildDialogTemplate(const DialogTemplate& dialog, bool modeless)
{
    std::vector<SItem> items;
    short y = kMargin;
    bool labelPending = false;
    std::vector<const DialogControlTemplate*> buttons;
    for (const DialogControlTemplate& control : dialog.controls) {
        const DWORD shown = control.visible ? WS_VISIBLE : 0;
        if (control.kind == "button") {
            buttons.push_back(&control);
            continue;
        }
        if (IsTextField(control.kind)) {
            DWORD style = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | shown;
            if (control.kind == "password") style |= ES_PASSWORD;
            if (control.kind == "digits") style |= ES_NUMBER;
            const short x = labelPending ? kMargin + kLabelWidth : kMargin;
            if (!labelPending && !items.empty()) y += kRow;
            items.push_back({style, x, static_cast<short>(y - 2), static_cast<short>(kWidth - kMargin - x), kHeight,
                             control.id, kEditClass, u""});
            labelPending = false;
            y += kRow;
            continue;
        }
        if (labelPending) y += kRow;
        labelPending = false;
        if (control.kind == "check") {
            items.push_back({BS_AUTOCHECKBOX | WS_TABSTOP | shown, kMargin, y, kWidth - 2 * kMargin, kHeight, control.id,
                             kButtonClass, control.text});
            y += kRow;
        } else if (control.kind == "static") {
            // A label: its field, when one follows, goes beside it.
            items.push_back({SS_LEFT | shown, kMargin, y, kLabelWidth - 4, kHeight, control.id, kStaticClass, control.text});
            labelPending = true;
        } else if (control.kind == "frame") {
            items.push_back({SS_ETCHEDHORZ | shown, kMargin, y, kWidth - 2 * kMargin, 2, control.id, kStaticClass, u""});
            y += 6;
        } else {
            // Pictures and animations: a text line in their place.
            items.push_back({SS_LEFT | SS_NOPREFIX | shown, kMargin, y, kWidth - 2 * kMargin, kHeight, control.id,
                             kStaticClass, control.text});
            y += kRow;
        }
    }
    if (labelPending) y += kRow;
    if (!buttons.empty()) {
        y += 4;
        short x = static_cast<short>(kWidth - kMargin - (kButtonWidth + 4) * static_cast<short>(buttons.size()) + 4);
        for (const DialogControlTemplate* button : buttons) {
            const DWORD style = (button->id == IDOK ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP |
                                (button->visible ? WS_VISIBLE : 0);
            items.push_back({style, x, y, kButtonWidth, 14, button->id, kButtonClass, button->text});
            x = static_cast<short>(x + kButtonWidth + 4);
        }
        y += 14;
    }
    y += kMargin;

    CTemplateWriter out;
    out.Word(1);       // version
    out.Word(0xFFFF);  // an extended template
    out.Dword(0);      // help id
    out.Dword(0);      // extended style
    DWORD style = DS_SETFONT | DS_SHELLFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION;
    style |= modeless ? WS_VISIBLE : WS_SYSMENU;
    out.Dword(style);
    out.Word(static_cast<WORD>(items.size()));
    out.Word(0);
    out.Word(0);
    out.Word(static_cast<WORD>(kWidth));
    out.Word(static_cast<WORD>(y));
    out.Word(0);  // no menu
    out.Word(0);  // the standard dialog class
    out.Text(dialog.title);
    out.Word(8);    // point size
    out.Word(400);  // weight
    out.Word(0x0100);  // not italic; the default character set
    out.Text(u"MS Shell Dlg");
    for (const SItem& item : items) WriteItem(out, item);
    return std::move(out.Words());
}
