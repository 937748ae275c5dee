// The remote side's error text reaches standard error (a terminal, or the
// console's log) filtered.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "scp/scp_job.h"
#include "tests/support/raw_controls.h"

namespace {

// Standard error into a temporary file for the object's lifetime.
class CapturedStderr {
public:
    CapturedStderr() : m_file(std::tmpfile())
    {
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        if (m_file != nullptr) ::dup2(::fileno(m_file), STDERR_FILENO);
    }
    ~CapturedStderr()
    {
        Restore();
        if (m_file != nullptr) std::fclose(m_file);
    }
    CapturedStderr(const CapturedStderr&) = delete;
    CapturedStderr& operator=(const CapturedStderr&) = delete;

    std::string Text()
    {
        Restore();
        std::string text;
        if (m_file == nullptr) return text;
        std::rewind(m_file);
        char buffer[512];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0;) text.append(buffer, n);
        return text;
    }

private:
    void Restore()
    {
        if (m_saved < 0) return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
    std::FILE* m_file;
    int m_saved = -1;
};

}  // namespace

TEST(ScpRemoteText, ErrorTextOfTheRemoteSideIsFiltered)
{
    const std::string remote = "scp: /tmp/x: \x1b]0;owned\x07\x1b[2J\xC2\x9B\xE2\x80\xAE denied\n";
    JobInfo job{};
    CapturedStderr captured;
    EXPECT_EQ(scp_job_receive(&job, reinterpret_cast<const std::uint8_t*>(remote.data()), remote.size(), true), 0);
    const std::string shown = captured.Text();
    EXPECT_EQ(FirstRawControl(shown), "") << shown;
    EXPECT_EQ(shown, "scp: /tmp/x: \\x1b]0;owned\\x07\\x1b[2J\\u009b\\u202e denied\n");
}
