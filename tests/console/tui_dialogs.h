// The dialogs of the terminal face's tests, as the module's resources
// describe them.
#pragma once

#include <string>

#include "platform/ui.h"
#include "res/resource_ids.h"

namespace fdx::tui::test {

inline DialogControlTemplate Control(int id, const char* kind, std::u16string text = u"", int limit = 0,
                                     bool visible = true, bool focus = false)
{
    DialogControlTemplate c;
    c.id = id;
    c.kind = kind;
    c.text = std::move(text);
    c.limit = limit;
    c.visible = visible;
    c.focus = focus;
    return c;
}

inline DialogState HostDialog()
{
    DialogState d;
    d.tmpl.id = IDD_HOST;
    d.tmpl.title = u"Add new computer";
    d.tmpl.controls = {
        Control(IDC_HOST_LABEL, "static", u"Host:"),     Control(IDC_HOST, "edit", u"", 0, true, true),
        Control(IDC_PORT_LABEL, "static", u"Port:"),     Control(IDC_PORT, "digits"),
        Control(IDC_LOGIN_LABEL, "static", u"Login:"),    Control(IDC_LOGIN, "edit"),
        Control(IDC_PASSWORD_LABEL, "static", u"Password:"), Control(IDC_PASSWORD, "password"),
        Control(IDC_SECURITY_FRAME, "frame", u"Security"),
        Control(IDC_SECURITY_NOTE, "static",
                u"To gather as much system information as possible please provide root login details.\n"
                u"Passwords are never stored in clear form!"),
        Control(IDOK, "button", u"OK"),           Control(IDCANCEL, "button", u"Cancel"),
    };
    d.title = u"Add a New Host";
    for (const auto& c : d.tmpl.controls) d.texts[c.id] = c.text;
    d.texts[IDC_PORT] = u"22";
    d.texts[IDC_LOGIN] = u"root";
    return d;
}

inline DialogState GroupDialog()
{
    DialogState d;
    d.tmpl.id = IDD_GROUP;
    d.tmpl.title = u"Add a new group";
    d.title = d.tmpl.title;
    d.tmpl.controls = {Control(IDC_GROUP_LABEL, "static", u"New group:"),
                       Control(IDC_GROUP_NAME, "edit", u"", 255, true, true), Control(IDOK, "button", u"OK"),
                       Control(IDCANCEL, "button", u"Cancel")};
    return d;
}

}  // namespace fdx::tui::test
