// Data objects: the clipboard-format exchange between console and snap-in.
#pragma once

#include <string>

#include "platform/com.h"
#include "platform/stream.h"

#ifdef _WIN32
#undef RegisterClipboardFormat

FDX_SYSTEM_IID(IDataObject, "0000010E-0000-0000-C000-000000000046");
#else
using CLIPFORMAT = std::uint16_t;

constexpr DWORD TYMED_HGLOBAL = 1;
constexpr DWORD TYMED_ISTREAM = 4;
constexpr DWORD DVASPECT_CONTENT = 1;

struct FORMATETC {
    CLIPFORMAT cfFormat;
    void* ptd;
    DWORD dwAspect;
    LONG lindex;
    DWORD tymed;
};

struct STGMEDIUM {
    DWORD tymed;
    HGLOBAL hGlobal;
    IUnknown* pUnkForRelease;
};

// Enumerators and advise sinks: this system offers none, so they stay opaque.
using IEnumFORMATETC = IUnknown;
using IEnumSTATDATA = IUnknown;
using IAdviseSink = IUnknown;

class IDataObject : public IUnknown {
public:
    virtual HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual HRESULT GetDataHere(FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual HRESULT QueryGetData(FORMATETC* format) = 0;
    virtual HRESULT GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) = 0;
    virtual HRESULT SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) = 0;
    virtual HRESULT EnumFormatEtc(DWORD direction, IEnumFORMATETC** enumerator) = 0;
    virtual HRESULT DAdvise(FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection) = 0;
    virtual HRESULT DUnadvise(DWORD connection) = 0;
    virtual HRESULT EnumDAdvise(IEnumSTATDATA** enumerator) = 0;

protected:
    ~IDataObject() = default;
};
FDX_DECLARE_IID(IDataObject, "0000010E-0000-0000-C000-000000000046");
using LPDATAOBJECT = IDataObject*;
#endif

// Registers a clipboard format by name; the same name always gives the same
// number within a process (0 on failure).
UINT RegisterClipboardFormat(std::u16string_view name);
