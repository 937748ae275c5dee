#include "inventory/dialogs.h"

#include <vector>

#include "inventory/module_state.h"
#include "inventory/value_checks.h"
#include "platform/process_guard.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "res/resource_ids.h"

namespace {

constexpr std::size_t kMaxMainPassword = 255;

std::u16string Cut(std::u16string text, std::size_t limit)
{
    if (text.size() > limit) text.resize(limit);
    return text;
}

// Wipes every text a dialog held once the dialog is done with.
void WipeDialog(DialogState& dialog)
{
    for (auto& [id, text] : dialog.texts) WipeString(text);
}

// Tells why a value was refused; the dialog then comes back.
void ShowRefusal(const DialogState& dialog, std::u16string_view reason)
{
    MessageBox(GetActiveWindow(), reason, dialog.title, MB_OK | MB_ICONWARNING);
}

}  // namespace

int CGroupDialog::DoModal()
{
    DialogState dialog;
    dialog.texts[IDC_GROUP_NAME] = u"";
    for (;;) {
        if (DialogBoxParam(g_hInstance, IDD_GROUP, GetActiveWindow(), dialog) != IDOK) return IDCANCEL;
        const std::u16string refusal = CheckNodeName(dialog.texts[IDC_GROUP_NAME]);
        if (refusal.empty()) break;
        ShowRefusal(dialog, refusal);
    }
    m_bstrName = dialog.texts[IDC_GROUP_NAME];
    return IDOK;
}

CHostDialog::CHostDialog(HostDialogMode mode, std::u16string_view host, int port, std::u16string_view login,
                         bool sudo)
    : m_mode(mode), m_bstrHost(host), m_bstrPort(IntToDecimal(port)), m_bstrLogin(login), m_nPort(port),
      m_bSudo(sudo)
{
}

CHostDialog::~CHostDialog()
{
    WipeString(m_bstrPassword);
    WipeString(m_bstrPassphrase);
}

void CHostDialog::SetLoginWays(std::u16string_view keyFile, bool useAgent)
{
    m_bstrKeyFile.assign(keyFile);
    m_bUseAgent = useAgent;
}

int CHostDialog::DoModal()
{
    HoldSecretsInProcess();
    std::vector<std::u16string> titles;
    LoadStringList(IDS_HOST_DIALOG_TITLES, titles);
    DialogState dialog;
    if (static_cast<std::size_t>(m_mode) < titles.size()) dialog.title = titles[m_mode];
    dialog.texts[IDC_HOST] = m_bstrHost;
    dialog.texts[IDC_PORT] = m_bstrPort;
    dialog.texts[IDC_LOGIN] = m_bstrLogin;
    dialog.texts[IDC_PASSWORD] = u"";
    dialog.checks[IDC_CLEAR_PASSWORD] = 0;
    dialog.shown[IDC_CLEAR_PASSWORD] = m_mode == HOSTDLG_EDIT;
    dialog.checks[IDC_SUDO] = m_bSudo ? 1 : 0;
    dialog.texts[IDC_KEY_FILE] = KeyFilesShown(m_bstrKeyFile);
    dialog.texts[IDC_PASSPHRASE] = u"";
    dialog.checks[IDC_USE_AGENT] = m_bUseAgent ? 1 : 0;
    dialog.texts[IDC_JUMP] = m_bstrJump;
    dialog.texts[IDC_HOST_NAME] = m_bstrName;
    // The login question asks how to log in, not what the host is called.
    dialog.shown[IDC_HOST_NAME] = m_mode != HOSTDLG_LOGIN;
    dialog.shown[IDC_HOST_NAME_LABEL] = m_mode != HOSTDLG_LOGIN;
    dialog.texts[IDC_HOST_PATH] = m_bstrWhere;
    dialog.shown[IDC_HOST_PATH] = !m_bstrWhere.empty();
    std::u16string jump;
    std::u16string keyFiles;
    int result = IDCANCEL;
    for (;;) {
        result = DialogBoxParam(g_hInstance, IDD_HOST, GetActiveWindow(), dialog);
        if (result != IDOK) break;
        std::u16string refusal = CheckNodeName(dialog.texts[IDC_HOST]);
        if (refusal.empty()) refusal = CheckPort(dialog.texts[IDC_PORT], m_nPort);
        if (refusal.empty()) refusal = CheckKeyFiles(dialog.texts[IDC_KEY_FILE], keyFiles);
        if (refusal.empty()) refusal = CheckJumpRoute(dialog.texts[IDC_JUMP], jump);
        if (m_mode == HOSTDLG_LOGIN) dialog.texts[IDC_HOST_NAME].clear();
        // An empty name field names the host by its address; spaces alone
        // are no name.
        const std::u16string& name =
            dialog.texts[IDC_HOST_NAME].empty() ? dialog.texts[IDC_HOST] : dialog.texts[IDC_HOST_NAME];
        if (refusal.empty()) refusal = CheckNodeName(name);
        if (refusal.empty() && m_checkName) refusal = m_checkName(name);
        if (refusal.empty()) break;
        ShowRefusal(dialog, refusal);
    }
    if (result == IDOK) {
        m_bstrHost = dialog.texts[IDC_HOST];
        m_bstrName = dialog.texts[IDC_HOST_NAME].empty() ? m_bstrHost : dialog.texts[IDC_HOST_NAME];
        m_bstrPort = dialog.texts[IDC_PORT];
        m_bstrLogin = dialog.texts[IDC_LOGIN];
        WipeString(m_bstrPassword);
        m_bstrPassword = dialog.texts[IDC_PASSWORD];
        m_bClearPassword = m_mode == HOSTDLG_EDIT && dialog.checks[IDC_CLEAR_PASSWORD] != 0;
        m_bSudo = dialog.checks[IDC_SUDO] != 0;
        m_bstrKeyFile = keyFiles;
        WipeString(m_bstrPassphrase);
        m_bstrPassphrase = dialog.texts[IDC_PASSPHRASE];
        m_bUseAgent = dialog.checks[IDC_USE_AGENT] != 0;
        m_bstrJump = jump;
    }
    WipeDialog(dialog);
    return result == IDOK ? IDOK : IDCANCEL;
}

CPasswordDialog::~CPasswordDialog() { WipeString(m_bstrPassword); }

namespace {

// Shows the password dialog once with `question`; `confirm` marks the
// dialog as the second question of the set mode. The text is in `password`.
int AskPassword(std::u16string_view question, bool confirm, std::u16string& password)
{
    HoldSecretsInProcess();
    DialogState dialog;
    dialog.texts[IDC_PASSWORD_TEXT] = std::u16string(question);
    dialog.texts[IDC_MAIN_PASSWORD] = u"";
    if (confirm) dialog.texts[IDC_PASSWORD_CONFIRM] = u"1";
    const int result = DialogBoxParam(g_hInstance, IDD_PASSWORD, GetActiveWindow(), dialog);
    WipeString(password);
    if (result == IDOK) password = Cut(dialog.texts[IDC_MAIN_PASSWORD], kMaxMainPassword);
    WipeDialog(dialog);
    return result == IDOK ? IDOK : IDCANCEL;
}

void Warn(UINT id)
{
    MessageBox(GetActiveWindow(), LoadString(g_hInstance, id), LoadString(g_hInstance, IDS_CAPTION), MB_OK | MB_ICONWARNING);
}

}  // namespace

int CPasswordDialog::DoModal()
{
    std::vector<std::u16string> texts;
    LoadStringList(IDS_PASSWORD_TEXTS, texts);
    const std::u16string question = static_cast<std::size_t>(m_mode) < texts.size() ? texts[m_mode] : u"";
    if (m_mode == PASSWORDDLG_PROMPT) return AskPassword(question, false, m_bstrPassword);
    // A new main password: never empty, and typed twice alike.
    for (;;) {
        if (AskPassword(question, false, m_bstrPassword) != IDOK) return IDCANCEL;
        if (m_bstrPassword.empty()) {
            Warn(IDS_MAIN_PASSWORD_EMPTY);
            continue;
        }
        Wiped<std::u16string> again;
        if (AskPassword(LoadString(g_hInstance, IDS_PASSWORD_AGAIN), true, again.get()) != IDOK) {
            WipeString(m_bstrPassword);
            return IDCANCEL;
        }
        if (again.get() == m_bstrPassword) return IDOK;
        Warn(IDS_PASSWORDS_DIFFER);
    }
}

int CAboutDialog::DoModal()
{
    DialogState dialog;
    DialogBoxParam(g_hInstance, IDD_ABOUT, GetActiveWindow(), dialog);
    return IDOK;
}
