// The data object the console hands to a snap-in's paste: it gives one
// clipboard format, named when made, holding bytes the console prepared.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com_object.h"
#include "platform/dataobject.h"

class CPasteData final : public IDataObject, private CRefCounted<CPasteData> {
public:
    CPasteData(std::u16string_view formatName, std::vector<std::uint8_t> bytes);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return AddRefImpl(); }
    ULONG Release() override { return ReleaseImpl(); }

    // Writes the bytes into the caller's global block (TYMED_HGLOBAL).
    HRESULT GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
    // S_OK for the one format in a global block.
    HRESULT QueryGetData(FORMATETC* format) override;
    HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
    HRESULT SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    HRESULT EnumFormatEtc(DWORD direction, IUnknown** enumerator) override;
    HRESULT DAdvise(FORMATETC* format, DWORD advf, IUnknown* sink, DWORD* connection) override;
    HRESULT DUnadvise(DWORD connection) override;
    HRESULT EnumDAdvise(IUnknown** enumerator) override;

private:
    friend class CRefCounted<CPasteData>;
    ~CPasteData() = default;

    CLIPFORMAT m_format;
    std::vector<std::uint8_t> m_bytes;
};

// A hardware picture for a host node: the lshw XML in the snap-in's picture
// format (UTF-16LE ended by a zero unit).
com_ptr<IDataObject> MakePictureData(std::u16string_view xml);
