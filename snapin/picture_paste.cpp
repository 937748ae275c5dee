#include "snapin/picture_paste.h"

#include "inventory/host_node.h"
#include "platform/snapin_contract.h"
#include "scan/scan_limits.h"

namespace {

// Longest picture taken, in bytes: a scan's largest output as UTF-16.
constexpr std::size_t kMaxPictureBytes = (SScanLimits::kMaxOutputMiB << 20) * sizeof(char16_t);

FORMATETC PictureFormat()
{
    static const auto format = static_cast<CLIPFORMAT>(RegisterClipboardFormat(kHostPictureXmlFormat));
    return FORMATETC{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
}

class CGlobalBlock {
public:
    CGlobalBlock() : m_block(GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, 0)) {}
    ~CGlobalBlock()
    {
        if (m_block != nullptr) GlobalFree(m_block);
    }
    CGlobalBlock(const CGlobalBlock&) = delete;
    CGlobalBlock& operator=(const CGlobalBlock&) = delete;
    HGLOBAL get() const { return m_block; }

private:
    HGLOBAL m_block;
};

// The text of the picture: UTF-16LE up to its zero unit, which must come
// within the bytes and the bound; false otherwise or for an empty text.
bool PictureText(const std::uint8_t* bytes, std::size_t size, std::u16string& xml)
{
    if (size > kMaxPictureBytes + sizeof(char16_t)) return false;
    const std::size_t units = size / sizeof(char16_t);
    std::size_t end = 0;
    while (end < units && (bytes[2 * end] | bytes[2 * end + 1]) != 0) ++end;
    if (end == units || end == 0) return false;
    xml.resize(end);
    for (std::size_t i = 0; i < end; ++i)
        xml[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return true;
}

}  // namespace

bool CanPastePicture(CConsoleNode& target, IDataObject* source)
{
    FORMATETC format = PictureFormat();
    return dynamic_cast<CHostNode*>(&target) != nullptr && source != nullptr && source->QueryGetData(&format) == S_OK;
}

HRESULT PastePicture(CConsoleNode& target, IDataObject* source, IConsoleNameSpace2* nameSpace)
{
    auto* host = dynamic_cast<CHostNode*>(&target);
    if (host == nullptr || source == nullptr) return S_FALSE;
    CGlobalBlock block;
    if (block.get() == nullptr) return E_OUTOFMEMORY;
    FORMATETC format = PictureFormat();
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block.get();
    if (FAILED(source->GetDataHere(&format, &medium))) return S_FALSE;
    std::u16string xml;
    {
        const std::size_t size = GlobalSize(block.get());
        const void* bytes = size != 0 ? GlobalLock(block.get()) : nullptr;
        if (bytes == nullptr) return S_FALSE;
        const bool read = PictureText(static_cast<const std::uint8_t*>(bytes), size, xml);
        GlobalUnlock(block.get());
        if (!read) return S_FALSE;
    }
    host->TakePicture(std::move(xml), nameSpace);
    return S_OK;
}
