// Component Object Model basics: result codes, identifiers, the IUnknown
// contract, task memory, and an owning interface pointer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#include <unknwn.h>
#else
using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using BYTE = std::uint8_t;
using LONG = std::int32_t;
using BOOL = int;
using UINT = unsigned int;
using LPARAM = std::intptr_t;
using WPARAM = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using WCHAR = char16_t;
using OLECHAR = char16_t;
using LPOLESTR = char16_t*;
using LPCOLESTR = const char16_t*;
using COLORREF = std::uint32_t;

constexpr COLORREF RGB(unsigned r, unsigned g, unsigned b) { return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16); }

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);
constexpr HRESULT DV_E_FORMATETC = static_cast<HRESULT>(0x80040064);
constexpr HRESULT DV_E_TYMED = static_cast<HRESULT>(0x80040069);
constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001);
constexpr HRESULT STG_E_WRITEFAULT = static_cast<HRESULT>(0x8003001D);
constexpr HRESULT STG_E_READFAULT = static_cast<HRESULT>(0x8003001E);
constexpr HRESULT STG_E_MEDIUMFULL = static_cast<HRESULT>(0x80030070);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
};
static_assert(sizeof(GUID) == 16);
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// COM methods and the module's exports carry the system's calling
// convention; this one has a single convention.
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#endif

constexpr HRESULT HRESULT_INVALID_DATA = static_cast<HRESULT>(0x8007000D);  // ERROR_INVALID_DATA

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal.
std::u16string GuidToString(const GUID& guid);
std::string GuidToAnsi(const GUID& guid);
// Parses the registry text form; false on anything malformed.
bool GuidFromString(std::u16string_view text, GUID& out);

// Builds a GUID from its text form at compile time.
namespace comdetail {
constexpr unsigned HexDigit(char c)
{
    return c >= '0' && c <= '9' ? unsigned(c - '0') : c >= 'a' && c <= 'f' ? unsigned(c - 'a' + 10) : unsigned(c - 'A' + 10);
}
constexpr std::uint64_t Hex(const char* s, int n)
{
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 4) | HexDigit(s[i]);
    return v;
}
}  // namespace comdetail

// Text as "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (36 characters, no braces).
constexpr GUID MakeGuid(const char (&s)[37])
{
    using comdetail::Hex;
    GUID g{static_cast<std::uint32_t>(Hex(s, 8)), static_cast<std::uint16_t>(Hex(s + 9, 4)),
           static_cast<std::uint16_t>(Hex(s + 14, 4)), {}};
    g.Data4[0] = static_cast<std::uint8_t>(Hex(s + 19, 2));
    g.Data4[1] = static_cast<std::uint8_t>(Hex(s + 21, 2));
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<std::uint8_t>(Hex(s + 24 + 2 * i, 2));
    return g;
}

template <typename T>
struct InterfaceId;  // specialised with `static constexpr IID value` per interface

template <typename T>
constexpr const IID& IID_OF() { return InterfaceId<T>::value; }

#define FDX_DECLARE_IID(Interface, text)                          \
    template <>                                                   \
    struct InterfaceId<Interface> {                               \
        static constexpr IID value = MakeGuid(text);              \
    };                                                            \
    inline constexpr const IID& IID_##Interface = InterfaceId<Interface>::value

#ifdef _WIN32
// The system's own interfaces keep its identifier variables; only the
// lookup by type is added.
#define FDX_SYSTEM_IID(Interface, text)              \
    template <>                                      \
    struct InterfaceId<Interface> {                  \
        static constexpr IID value = MakeGuid(text); \
    }
FDX_SYSTEM_IID(IUnknown, "00000000-0000-0000-C000-000000000046");
FDX_SYSTEM_IID(IClassFactory, "00000001-0000-0000-C000-000000000046");
#else
#define FDX_SYSTEM_IID FDX_DECLARE_IID
class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};
FDX_DECLARE_IID(IUnknown, "00000000-0000-0000-C000-000000000046");
using LPUNKNOWN = IUnknown*;

class IClassFactory : public IUnknown {
public:
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};
FDX_DECLARE_IID(IClassFactory, "00000001-0000-0000-C000-000000000046");

// Task memory: blocks handed between the console and the snap-in.
void* CoTaskMemAlloc(std::size_t size);
void CoTaskMemFree(void* block);
#endif

// A zero-terminated task-memory copy of text; null when out of memory.
LPOLESTR CoTaskMemDup(std::u16string_view text);

// Text at the console-interface boundary: a view of a console string (empty
// for null) and a pointer to the system's text lent for one call.
std::u16string_view OleView(LPCOLESTR text);
inline const OLECHAR* OleText(const std::u16string& text) { return reinterpret_cast<const OLECHAR*>(text.c_str()); }
inline const OLECHAR* OleText(const char16_t* text) { return reinterpret_cast<const OLECHAR*>(text); }
// The same for the console's records whose text fields are not const.
inline LPOLESTR OleBuffer(std::u16string& text) { return reinterpret_cast<LPOLESTR>(text.data()); }

inline LONG InterlockedIncrement(std::atomic<LONG>& value) { return ++value; }
inline LONG InterlockedDecrement(std::atomic<LONG>& value) { return --value; }

// A failed COM call turned into an exception inside one component.
class ComError : public std::exception {
public:
    explicit ComError(HRESULT hr) : m_hr(hr) {}
    HRESULT Error() const { return m_hr; }
    const char* what() const noexcept override { return "COM error"; }

private:
    HRESULT m_hr;
};

inline void ThrowIfFailed(HRESULT hr)
{
    if (FAILED(hr)) throw ComError(hr);
}

#define RETURN_IF_FAILED(expr)                      \
    do {                                            \
        const HRESULT hr_ = (expr);                 \
        if (FAILED(hr_)) return hr_;                \
    } while (false)

// Owning interface pointer: one reference, released on destruction.
template <typename T>
class com_ptr {
public:
    com_ptr() = default;
    com_ptr(std::nullptr_t) {}
    // Takes a new reference to p.
    explicit com_ptr(T* p) : m_p(p) { if (m_p) m_p->AddRef(); }
    com_ptr(const com_ptr& other) : m_p(other.m_p) { if (m_p) m_p->AddRef(); }
    com_ptr(com_ptr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~com_ptr() { reset(); }

    com_ptr& operator=(const com_ptr& other)
    {
        if (this != &other) com_ptr(other).swap(*this);
        return *this;
    }
    com_ptr& operator=(com_ptr&& other) noexcept
    {
        com_ptr(std::move(other)).swap(*this);
        return *this;
    }
    com_ptr& operator=(std::nullptr_t) { reset(); return *this; }

    // Adopts a reference the caller already owns.
    static com_ptr attach(T* p)
    {
        com_ptr result;
        result.m_p = p;
        return result;
    }
    T* detach() { return std::exchange(m_p, nullptr); }

    void reset()
    {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    // Releases what it held and hands out its slot for an out parameter.
    T** put() { reset(); return &m_p; }
    void** put_void() { reset(); return reinterpret_cast<void**>(&m_p); }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    void swap(com_ptr& other) noexcept { std::swap(m_p, other.m_p); }

    // Queries for another interface; empty on failure.
    template <typename U>
    com_ptr<U> query() const
    {
        com_ptr<U> result;
        if (m_p) m_p->QueryInterface(IID_OF<U>(), result.put_void());
        return result;
    }
    template <typename U>
    HRESULT query_to(com_ptr<U>& out) const
    {
        if (!m_p) return E_POINTER;
        return m_p->QueryInterface(IID_OF<U>(), out.put_void());
    }

private:
    T* m_p = nullptr;
};

// Runs a body and turns escaping exceptions into a result code, so that no
// exception ever crosses an interface boundary.
template <typename F>
HRESULT ComBoundary(F&& body) noexcept
{
    try {
        return body();
    } catch (const ComError& e) {
        return e.Error();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}
