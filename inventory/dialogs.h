// The inventory's modal dialogs. Each runs through the platform's user
// interface, owned by the console's active window, and returns IDOK or
// IDCANCEL.
#pragma once

#include <functional>

#include <string>

#include "platform/text.h"
#include "platform/ui.h"
#include "res/resource_ids.h"

// "Add a new group": one name, checked as CheckNodeName says; a refused
// name is explained and the dialog shown again with it.
class CGroupDialog {
public:
    int DoModal();
    std::u16string m_bstrName;
};

enum HostDialogMode { HOSTDLG_ADD = 0, HOSTDLG_EDIT = 1, HOSTDLG_LOGIN = 2 };

// Host, port, login and password of one host; the password starts empty.
// The host text is checked as a node name and the port as CheckPort says;
// a refused value is explained and the dialog shown again with the texts
// as they were left. In its edit mode the dialog also offers to clear the
// stored password (and the key file's passphrase). The key file's path
// and the agent check start empty unless SetLoginWays gives them.
class CHostDialog {
public:
    CHostDialog(HostDialogMode mode, std::u16string_view host, int port, std::u16string_view login,
                bool sudo);
    ~CHostDialog();
    // The host's key file and agent setting, shown when the dialog opens.
    void SetLoginWays(std::u16string_view keyFile, bool useAgent);
    int DoModal();

    HostDialogMode m_mode;
    std::u16string m_bstrHost;
    std::u16string m_bstrPort;
    std::u16string m_bstrLogin;
    std::u16string m_bstrPassword;
    int m_nPort = 22;                // the port text's number once accepted
    bool m_bClearPassword = false;   // edit mode: "Clear the stored password"
    bool m_bSudo = false;            // "Scan with root rights (sudo)"
    std::u16string m_bstrKeyFile;    // a private key file's path; empty: none
    std::u16string m_bstrPassphrase; // typed only: the stored one is never shown
    bool m_bUseAgent = false;        // "Use the SSH agent"
    // "Jump host": the route as NormalJumpRoute writes it (in: as stored).
    std::u16string m_bstrJump;
    // The host's name: empty when it is named by its address (it then
    // follows the address); on OK, the name the host gets. A name another
    // host of the group has is refused: `m_checkName` says why.
    std::u16string m_bstrName;
    std::function<std::u16string(std::u16string_view)> m_checkName;
    // The host's place in the tree ("Data/db1"), shown above the fields when
    // set: a question about one host of many says which one it is.
    std::u16string m_bstrWhere;
};

enum PasswordDialogMode { PASSWORDDLG_SET = 0, PASSWORDDLG_PROMPT = 1 };

// The main password, in its set mode (Save Passwords) or its prompt mode
// (opening a console whose credentials are encrypted).
class CPasswordDialog {
public:
    explicit CPasswordDialog(PasswordDialogMode mode) : m_mode(mode) {}
    ~CPasswordDialog();
    int DoModal();

    PasswordDialogMode m_mode;
    std::u16string m_bstrPassword;
};

class CAboutDialog {
public:
    int DoModal();
};

// Dialog template and control identifiers: res/resource_ids.h (IDC_PASSWORD_CONFIRM,
// hidden, is "1" while the dialog asks for a new main password the second time).
