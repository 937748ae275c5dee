#include "scan/progress_window.h"

#include "res/module_strings.h"
#include "platform/ui.h"

namespace {
constexpr int kProgressTemplate = 1204;
constexpr int kStatusText = 1013;
}  // namespace

CProgressWindow::CProgressWindow() : m_hWnd(CreateDialogWindow(g_hInstance, kProgressTemplate, GetDesktopWindow())) {}

CProgressWindow::~CProgressWindow() { Close(); }

void CProgressWindow::SetText(std::u16string_view text)
{
    if (m_hWnd != nullptr) SetDlgItemText(m_hWnd, kStatusText, text);
}

void CProgressWindow::Close()
{
    if (m_hWnd != nullptr) DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
}
