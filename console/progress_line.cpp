#include "console/progress_line.h"

#include <cstdio>

#include "platform/terminal.h"
#include "platform/terminal_text.h"

namespace {
// Long texts are cut so that the line does not wrap on a narrow terminal.
constexpr std::size_t kMaxShown = 70;
}

CProgressLine::CProgressLine() : m_bTerminal(StderrIsTerminal()) {}

CProgressLine::~CProgressLine() { Clear(); }

void CProgressLine::Show(std::u16string_view text)
{
    if (!m_bTerminal) return;
    std::string shown = TerminalText(text.substr(0, kMaxShown));
    std::fprintf(stderr, "\r%s\x1b[K", shown.c_str());
    std::fflush(stderr);
    m_bShown = true;
}

void CProgressLine::Clear()
{
    if (!m_bShown) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    m_bShown = false;
}
