// A one-line progress report for long commands: on a terminal, standard
// error shows the latest text in place (filtered, as it may name a host);
// elsewhere nothing is written.
#pragma once

#include <string>

class CProgressLine {
public:
    CProgressLine();
    ~CProgressLine();  // clears the line
    CProgressLine(const CProgressLine&) = delete;
    CProgressLine& operator=(const CProgressLine&) = delete;

    void Show(std::u16string_view text);
    void Clear();

private:
    bool m_bTerminal;
    bool m_bShown = false;
};
