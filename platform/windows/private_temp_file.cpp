#include "platform/private_temp_file.h"

#include "platform/windows/owner_only.h"
#include "platform/windows/random_name.h"
#include "platform/windows/wide.h"

namespace {

std::string Reason(const char* what) { return std::string(what) + " (error " + std::to_string(::GetLastError()) + ")"; }

std::string TemporaryRoot()
{
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return "C:\\Windows\\Temp\\";
    return PathFromWide(std::wstring_view(buffer, length));
}

}  // namespace

CPrivateTempFile::~CPrivateTempFile() { Remove(); }

void CPrivateTempFile::Remove()
{
    if (!m_strPath.empty()) ::DeleteFileW(WidePath(m_strPath).c_str());
    if (!m_strFolder.empty()) ::RemoveDirectoryW(WidePath(m_strFolder).c_str());
    m_strPath.clear();
    m_strFolder.clear();
}

bool CPrivateTempFile::Create(std::string_view name, std::span<const std::uint8_t> bytes, std::string& error)
{
    Remove();
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\:") != std::string_view::npos ||
        name.find('\0') != std::string_view::npos) {
        error = "not a file name: " + std::string(name);
        return false;
    }
    COwnerOnly owner;
    if (!owner.Valid()) {
        error = Reason("cannot describe an owner-only file");
        return false;
    }
    const std::string root = TemporaryRoot();
    std::string folder;
    for (int attempt = 0; attempt < 16 && folder.empty(); ++attempt) {
        const std::string candidate = root + "ferrodex-" + RandomNameSuffix();
        if (::CreateDirectoryW(WidePath(candidate).c_str(), owner.Get())) folder = candidate;
        else if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    if (folder.empty()) {
        error = Reason("cannot make a private temporary folder");
        return false;
    }
    m_strFolder = folder;
    const std::string path = m_strFolder + "\\" + std::string(name);
    const HANDLE file = ::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, owner.Get(), CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = Reason("cannot create a private temporary file");
        Remove();
        return false;
    }
    m_strPath = path;
    bool written = true;
    while (written && !bytes.empty()) {
        DWORD done = 0;
        const DWORD chunk = bytes.size() > 0x100000 ? 0x100000 : static_cast<DWORD>(bytes.size());
        written = ::WriteFile(file, bytes.data(), chunk, &done, nullptr) && done != 0;
        bytes = bytes.subspan(done);
    }
    if (!written) error = Reason("cannot write a private temporary file");
    ::CloseHandle(file);
    if (!written) Remove();
    return written;
}
