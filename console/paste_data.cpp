#include "console/paste_data.h"

#include "platform/snapin_contract.h"
#include "platform/stream.h"

CPasteData::CPasteData(std::u16string_view formatName, std::vector<std::uint8_t> bytes)
    : m_format(static_cast<CLIPFORMAT>(RegisterClipboardFormat(formatName))), m_bytes(std::move(bytes))
{
}

HRESULT CPasteData::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDataObject) return HandOut(static_cast<IDataObject*>(this), ppv);
    return E_NOINTERFACE;
}

HRESULT CPasteData::QueryGetData(FORMATETC* format)
{
    if (format == nullptr) return E_POINTER;
    if (m_format == 0 || format->cfFormat != m_format) return DV_E_FORMATETC;
    return (format->tymed & TYMED_HGLOBAL) != 0 ? S_OK : DV_E_TYMED;
}

HRESULT CPasteData::GetDataHere(FORMATETC* format, STGMEDIUM* medium)
{
    if (medium == nullptr) return E_POINTER;
    if (const HRESULT hr = QueryGetData(format); hr != S_OK) return hr;
    if (medium->tymed != TYMED_HGLOBAL || medium->hGlobal == nullptr) return DV_E_TYMED;
    com_ptr<IStream> stream;
    if (const HRESULT hr = CreateStreamOnHGlobal(medium->hGlobal, FALSE, stream.put()); FAILED(hr)) return hr;
    ULONG written = 0;
    const HRESULT hr = stream->Write(m_bytes.data(), static_cast<ULONG>(m_bytes.size()), &written);
    if (FAILED(hr)) return hr;
    return written == m_bytes.size() ? S_OK : STG_E_WRITEFAULT;
}

HRESULT CPasteData::GetData(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT CPasteData::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) { return E_NOTIMPL; }
HRESULT CPasteData::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }
HRESULT CPasteData::EnumFormatEtc(DWORD, IUnknown**) { return E_NOTIMPL; }
HRESULT CPasteData::DAdvise(FORMATETC*, DWORD, IUnknown*, DWORD*) { return E_NOTIMPL; }
HRESULT CPasteData::DUnadvise(DWORD) { return E_NOTIMPL; }
HRESULT CPasteData::EnumDAdvise(IUnknown**) { return E_NOTIMPL; }

com_ptr<IDataObject> MakePictureData(std::u16string_view xml)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve((xml.size() + 1) * sizeof(char16_t));
    for (char16_t unit : xml) {
        bytes.push_back(static_cast<std::uint8_t>(unit));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.insert(bytes.end(), {0, 0});
    return MakeComObject<CPasteData, IDataObject>(kHostPictureXmlFormat, std::move(bytes));
}
