// Reference counting shared by COM objects: an object deletes itself when its
// last reference goes.
#pragma once

#include <atomic>
#include <utility>

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
    ULONG RefCount() const { return m_cRef.load(); }

private:
    std::atomic<ULONG> m_cRef{0};
};

// Hands out one interface of an object for QueryInterface, with an added
// reference.
template <typename Interface>
HRESULT HandOut(Interface* iface, void** ppv)
{
    *ppv = iface;
    iface->AddRef();
    return S_OK;
}

// Creates a COM object and returns it holding one reference.
template <typename T, typename... Args>
com_ptr<T> MakeComObject(Args&&... args)
{
    return com_ptr<T>(new T(std::forward<Args>(args)...));
}
