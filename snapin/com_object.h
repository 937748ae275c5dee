// Reference counting shared by the module's COM objects: the object deletes
// itself when its last reference goes.
#pragma once

#include <atomic>

#include "platform/com.h"

template <typename Derived>
class CRefCounted {
public:
    ULONG AddRefImpl() { return ++m_cRef; }
    ULONG ReleaseImpl()
    {
        const ULONG left = --m_cRef;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

private:
    std::atomic<ULONG> m_cRef{0};
};

// Hands out `iface` for QueryInterface with one added reference.
template <typename Interface>
HRESULT HandOut(Interface* iface, void** ppv)
{
    *ppv = iface;
    iface->AddRef();
    return S_OK;
}
