#include "scan/dialog_questions.h"

#include "platform/process_guard.h"
#include "platform/text.h"
#include "platform/ui.h"
#include "res/module_strings.h"
#include "res/resource_ids.h"
#include "scan/engine_deployment.h"
#include "scan/scan_job.h"

CDialogScanQuestions::CDialogScanQuestions(bool showProgress)
{
    if (showProgress) m_progress.emplace();
}

bool CDialogScanQuestions::AcceptHostKey(const SHostKeyQuestion& question) { return AskHostKeyInBox(question); }

bool CDialogScanQuestions::ConfirmDeployment(EDeployQuestion question, int remembered)
{
    return AskDeploymentInDialog(question, remembered);
}

void CDialogScanQuestions::Progress(std::u16string_view text)
{
    if (m_progress) m_progress->SetText(text);
}

void CDialogScanQuestions::Note(std::u16string_view text, std::u16string_view caption)
{
    MessageBox(nullptr, text, caption, MB_OK | MB_ICONINFORMATION);
}

void CDialogScanQuestions::Error(std::u16string_view text)
{
    if (m_progress) m_progress->Close();
    MessageBox(nullptr, text, u"Error", MB_OK | MB_ICONERROR);
}

bool CDialogScanQuestions::HopPassword(std::string_view hop, std::u16string_view host, std::string& password)
{
    constexpr UINT kHopPasswordText = 703;
    HoldSecretsInProcess();
    std::u16string text = LoadString(g_hInstance, kHopPasswordText);
    if (const std::size_t at = text.find(u"%1"); at != std::u16string::npos) text.replace(at, 2, AnsiToWide(hop));
    if (const std::size_t at = text.find(u"%2"); at != std::u16string::npos) text.replace(at, 2, host);
    DialogState dialog;
    dialog.texts[IDC_HOP_PASSWORD_TEXT] = text;
    dialog.texts[IDC_HOP_PASSWORD] = u"";
    const int result = DialogBoxParam(g_hInstance, IDD_HOP_PASSWORD, GetActiveWindow(), dialog);
    WipeString(password);
    if (result == IDOK) password = WideToAnsi(dialog.texts[IDC_HOP_PASSWORD]);
    for (auto& [id, field] : dialog.texts) WipeString(field);
    return result == IDOK && !password.empty();
}
