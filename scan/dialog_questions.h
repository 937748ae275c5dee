// The scan's questions as the snap-in asks them: the module's dialogs and
// message boxes, and a progress window while the scan runs.
#pragma once

#include <optional>

#include "scan/progress_window.h"
#include "scan/scan_request.h"

class CDialogScanQuestions : public IScanQuestions {
public:
    // With `showProgress`, a progress window is open from now until the
    // first error or the object's end.
    explicit CDialogScanQuestions(bool showProgress = true);

    // A Yes/No box, No the default (AskHostKeyInBox).
    bool AcceptHostKey(const SHostKeyQuestion& question) override;
    // The deployment's dialogs (AskDeploymentInDialog).
    bool ConfirmDeployment(EDeployQuestion question, int remembered) override;
    void Progress(std::u16string_view text) override;
    // An information box with the caption.
    void Note(std::u16string_view text, std::u16string_view caption) override;
    // Closes the progress window, then shows the text in an error box.
    void Error(std::u16string_view text) override;
    // The jump host password dialog, naming the hop and the host.
    bool HopPassword(std::string_view hop, std::u16string_view host, std::string& password) override;

private:
    std::optional<CProgressWindow> m_progress;
};
