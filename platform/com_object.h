// Reference counting shared by every COM object of the system: an object is
// born holding one reference, its creator's, and deletes itself when its
// last reference goes. Create objects with MakeComObject (or hand the new
// object straight to com_ptr::attach), never with a bare new.
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
    std::atomic<ULONG> m_cRef{1};
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

// Creates a COM object and returns it holding its one first reference, as
// the object's class or as one of its interfaces (MakeComObject<T, I>).
template <typename T, typename I = T, typename... Args>
com_ptr<I> MakeComObject(Args&&... args)
{
    return com_ptr<I>::attach(static_cast<I*>(new T(std::forward<Args>(args)...)));
}
