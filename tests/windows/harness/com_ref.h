// Reference handling for the console's COM objects: an owning interface
// pointer, and a reference count for the objects the console implements.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

// Holds one reference; releases it when it goes.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(const ComPtr& other) : m_p(other.m_p) { if (m_p != nullptr) m_p->AddRef(); }
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }

    // Takes over a reference the caller already holds.
    static ComPtr Adopt(T* p)
    {
        ComPtr result;
        result.m_p = p;
        return result;
    }
    // Adds a reference of its own.
    static ComPtr Share(T* p)
    {
        if (p != nullptr) p->AddRef();
        return Adopt(p);
    }

    void Reset()
    {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For out-parameters: drops what is held first.
    T** Put()
    {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    template <class U>
    ComPtr<U> Query(REFIID iid) const
    {
        ComPtr<U> other;
        if (m_p != nullptr && FAILED(m_p->QueryInterface(iid, other.PutVoid()))) other.Reset();
        return other;
    }

private:
    T* m_p = nullptr;
};

// The reference count of an object the console implements; the object
// deletes itself, as its own type, at the last Release.
template <class Derived>
class RefCounted {
protected:
    ULONG AddRefImpl() { return static_cast<ULONG>(InterlockedIncrement(&m_count)); }
    ULONG ReleaseImpl()
    {
        const LONG left = InterlockedDecrement(&m_count);
        if (left == 0) delete static_cast<Derived*>(this);
        return static_cast<ULONG>(left);
    }
    // Hands out `p` as the asked interface with a reference.
    template <class I>
    HRESULT HandOut(I* p, void** out)
    {
        *out = p;
        AddRefImpl();
        return S_OK;
    }

private:
    LONG m_count = 1;
};

// A new console object, its first reference held by the pointer.
template <class T, class... Args>
ComPtr<T> MakeObject(Args&&... args)
{
    return ComPtr<T>::Adopt(new T(std::forward<Args>(args)...));
}
