// Security attributes that give this user alone (and the system) any
// access, with nothing inherited from the folder above; for what is created
// with them, or narrowed to them afterwards.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

class COwnerOnly {
public:
    COwnerOnly()
    {
        const std::wstring user = UserSid();
        if (user.empty()) return;
        const std::wstring sddl = L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;SY)";
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &m_descriptor, nullptr))
            m_attributes.lpSecurityDescriptor = m_descriptor;
    }
    ~COwnerOnly()
    {
        if (m_descriptor != nullptr) ::LocalFree(m_descriptor);
    }
    COwnerOnly(const COwnerOnly&) = delete;
    COwnerOnly& operator=(const COwnerOnly&) = delete;

    bool Valid() const { return m_descriptor != nullptr; }
    SECURITY_ATTRIBUTES* Get() { return &m_attributes; }

    // Gives an object that already existed the same access list, replacing
    // what it had and what it inherited; the handle needs WRITE_DAC.
    bool Narrow(HANDLE object) const
    {
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        if (m_descriptor == nullptr || !::GetSecurityDescriptorDacl(m_descriptor, &present, &dacl, &defaulted) ||
            !present)
            return false;
        return ::SetSecurityInfo(object, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
    }

private:
    // The text form of the user this process runs as; empty when unknown.
    static std::wstring UserSid()
    {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<BYTE> buffer(size);
        std::wstring text;
        if (size != 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
            LPWSTR sid = nullptr;
            if (::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
                text = sid;
                ::LocalFree(sid);
            }
        }
        ::CloseHandle(token);
        return text;
    }

    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
    SECURITY_ATTRIBUTES m_attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};
