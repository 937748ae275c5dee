#include "platform/private_temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string Reason(const char* what, int error) { return std::string(what) + ": " + std::strerror(error); }

std::string TemporaryRoot()
{
    const char* root = std::getenv("TMPDIR");
    if (root != nullptr && root[0] == '/') return root;
    return "/tmp";
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

CPrivateTempFile::~CPrivateTempFile() { Remove(); }

void CPrivateTempFile::Remove()
{
    if (!m_strPath.empty()) ::unlink(m_strPath.c_str());
    if (!m_strFolder.empty()) ::rmdir(m_strFolder.c_str());
    m_strPath.clear();
    m_strFolder.clear();
}

bool CPrivateTempFile::Create(std::string_view name, std::span<const std::uint8_t> bytes, std::string& error)
{
    Remove();
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos) {
        error = "not a file name: " + std::string(name);
        return false;
    }
    std::string pattern = TemporaryRoot() + "/ferrodex-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {  // mode 0700
        error = Reason("cannot make a private temporary folder", errno);
        return false;
    }
    m_strFolder = buffer.data();
    const std::string path = m_strFolder + "/" + std::string(name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = Reason("cannot create a private temporary file", errno);
        Remove();
        return false;
    }
    m_strPath = path;
    const bool written = WriteAll(fd, bytes);
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        error = Reason("cannot write a private temporary file", written ? errno : writeError);
        Remove();
        return false;
    }
    return true;
}
