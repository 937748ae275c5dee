// Security attributes that give the file's owner alone any access, with
// nothing inherited from the folder above.
#pragma once

#include <windows.h>
#include <sddl.h>

class COwnerOnly {
public:
    COwnerOnly()
    {
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;OW)(A;OICI;FA;;;SY)", SDDL_REVISION_1,
                                                                   &m_descriptor, nullptr))
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

private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
    SECURITY_ATTRIBUTES m_attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};
