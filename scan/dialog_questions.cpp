#include "scan/dialog_questions.h"

#include "platform/ui.h"
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
