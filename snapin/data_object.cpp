#include "snapin/data_object.h"

#include "snapin/host_tree.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <unordered_set>

#include "inventory/host_node.h"
#include "inventory/root_node.h"
#include "platform/snapin_contract.h"
#include "scan/login_settings.h"
#include "snapin/guids.h"

namespace {

// Data objects of this module that are alive: the private format hands out
// an address, and only addresses found here are trusted.
class LiveObjects {
public:
    void Add(const CNodeDataObject* object)
    {
        std::lock_guard lock(m_mutex);
        m_objects.insert(object);
    }
    void Remove(const CNodeDataObject* object)
    {
        std::lock_guard lock(m_mutex);
        m_objects.erase(object);
    }
    bool Contains(const void* object)
    {
        std::lock_guard lock(m_mutex);
        return m_objects.count(static_cast<const CNodeDataObject*>(object)) != 0;
    }

private:
    std::mutex m_mutex;
    std::unordered_set<const CNodeDataObject*> m_objects;
};

LiveObjects& Live()
{
    static LiveObjects objects;
    return objects;
}

HRESULT WriteBytes(IStream* stream, const void* data, std::size_t size)
{
    ULONG written = 0;
    const HRESULT hr = stream->Write(data, static_cast<ULONG>(size), &written);
    return FAILED(hr) ? hr : written == size ? S_OK : STG_E_WRITEFAULT;
}

HRESULT WriteText(IStream* stream, std::u16string_view text)
{
    std::u16string terminated(text);
    terminated += u'\0';
    return WriteBytes(stream, terminated.data(), terminated.size() * sizeof(char16_t));
}

}  // namespace

const ClipboardFormats& GetClipboardFormats()
{
    static const ClipboardFormats formats{
        RegisterClipboardFormat(u"CCF_DISPLAY_NAME"), RegisterClipboardFormat(u"CCF_NODETYPE"),
        RegisterClipboardFormat(u"CCF_SZNODETYPE"), RegisterClipboardFormat(u"CCF_SNAPIN_CLASSID"),
        RegisterClipboardFormat(u"{7752A6C8-4E06-4b65-8449-793E9C0C5259}"),
        RegisterClipboardFormat(u"FERRODEX_HOST_ENDPOINT"), RegisterClipboardFormat(u"FERRODEX_HOST_PICTURE"),
        RegisterClipboardFormat(u"FERRODEX_HOST_SCAN"), RegisterClipboardFormat(u"FERRODEX_HOST_TREE"),
        RegisterClipboardFormat(u"FERRODEX_HOST_ID"), RegisterClipboardFormat(u"FERRODEX_HOST_RESULT")};
    return formats;
}

// The formats are registered as the module loads, before any object exists.
namespace {
[[maybe_unused]] const ClipboardFormats& g_registeredFormats = GetClipboardFormats();
}

CNodeDataObject::CNodeDataObject(CConsoleNode* node, DATA_OBJECT_TYPES type) : m_pNode(node), m_type(type)
{
    Live().Add(this);
}

CNodeDataObject::~CNodeDataObject() { Live().Remove(this); }

com_ptr<IDataObject> CNodeDataObject::Create(CConsoleNode* node, DATA_OBJECT_TYPES type)
{
    return com_ptr<IDataObject>::attach(new CNodeDataObject(node, type));
}

HRESULT CNodeDataObject::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) return E_FAIL;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDataObject) return HandOut(static_cast<IDataObject*>(this), ppv);
    return E_NOINTERFACE;
}

HRESULT CNodeDataObject::GetDataHere(FORMATETC* format, STGMEDIUM* medium)
{
    return ComBoundary([&]() -> HRESULT {
        if (format == nullptr || medium == nullptr) return E_POINTER;
        const ClipboardFormats& formats = GetClipboardFormats();
        const UINT cf = format->cfFormat;
        static const UINT sealedState = RegisterClipboardFormat(kSealedStateFormat);
        if (cf == sealedState) {
            const auto* root = dynamic_cast<const CRootNode*>(m_pNode);
            if (root == nullptr) return DV_E_FORMATETC;
            com_ptr<IStream> stream;
            RETURN_IF_FAILED(CreateStreamOnHGlobal(medium->hGlobal, FALSE, stream.put()));
            const std::uint8_t sealed = root->m_bSavePasswords ? 1 : 0;
            return WriteBytes(stream.get(), &sealed, 1);
        }
        if (cf != formats.displayName && cf != formats.nodeType && cf != formats.szNodeType &&
            cf != formats.snapinClassId && cf != formats.privateObject && cf != formats.hostEndpoint &&
            cf != formats.hostPicture && cf != formats.hostScan && cf != formats.hostTree && cf != formats.hostId &&
            cf != formats.hostResult)
            return DV_E_FORMATETC;
        const bool hostFormat = cf == formats.hostEndpoint || cf == formats.hostPicture || cf == formats.hostScan ||
                                cf == formats.hostTree || cf == formats.hostId || cf == formats.hostResult;
        const auto* host = hostFormat ? dynamic_cast<const CHostNode*>(m_pNode) : nullptr;
        if (hostFormat && host == nullptr) return DV_E_FORMATETC;
        const auto scanned = host != nullptr ? host->m_scanStatus.ScannedAt() : std::nullopt;
        if (cf == formats.hostScan && (!scanned || host->m_picture.Empty())) return DV_E_FORMATETC;
        if (cf == formats.hostId && host->m_strId.empty()) return DV_E_FORMATETC;
        com_ptr<IStream> stream;
        RETURN_IF_FAILED(CreateStreamOnHGlobal(medium->hGlobal, FALSE, stream.put()));
        if (cf == formats.displayName) return WriteText(stream.get(), m_pNode->GetDisplayText(0));
        if (cf == formats.nodeType) return WriteBytes(stream.get(), &m_pNode->GetNodeType(), sizeof(GUID));
        if (cf == formats.szNodeType) return WriteText(stream.get(), GuidToString(m_pNode->GetNodeType()));
        if (cf == formats.snapinClassId) return WriteBytes(stream.get(), &CLSID_Ferrodex, sizeof(GUID));
        if (cf == formats.hostId) return WriteBytes(stream.get(), host->m_strId.data(), host->m_strId.size());
        if (cf == formats.hostResult) {
            const auto lastScan = host->m_scanStatus.LastScanAt();
            const auto failed = host->m_scanStatus.RefreshFailedAt();
            if (!lastScan && !failed) return DV_E_FORMATETC;
            std::uint8_t bytes[16] = {};
            const auto put = [&bytes](int at, std::optional<CScanStatus::Clock::time_point> when) {
                if (!when) return;
                const auto seconds = static_cast<std::uint64_t>(
                    std::chrono::duration_cast<std::chrono::seconds>(when->time_since_epoch()).count());
                for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<std::uint8_t>(seconds >> (8 * i));
            };
            put(0, lastScan);
            put(8, failed);
            RETURN_IF_FAILED(WriteBytes(stream.get(), bytes, sizeof bytes));
            return WriteText(stream.get(), failed ? host->m_bstrLastResult : std::u16string());
        }
        if (cf == formats.hostTree) {
            std::string tree;
            if (!WriteHostTree(*const_cast<CHostNode*>(host), tree)) return DV_E_FORMATETC;
            return WriteBytes(stream.get(), tree.data(), tree.size());
        }
        if (host != nullptr && cf == formats.hostPicture) {
            const std::uint8_t held = !host->m_picture.Empty() || !host->GetChildren().empty() ? 1 : 0;
            const std::uint8_t flags = host->m_bSudo ? 1 : 0;
            const auto method = static_cast<std::uint8_t>(HostLoginMethod(*host) + 1);
            // Whether this session's scan ran lshw with root rights: 0 no
            // scan yet, 1 yes, 2 no, followed by why not (a text).
            const std::uint8_t root = !scanned ? 0 : host->m_bScannedAsRoot ? 1 : 2;
            const std::uint8_t bytes[8] = {held, 0, 0, 0, flags, method, root, 0};
            RETURN_IF_FAILED(WriteBytes(stream.get(), bytes, sizeof bytes));
            return root == 2 ? WriteText(stream.get(), host->m_bstrRootReason) : S_OK;
        }
        if (cf == formats.hostScan) {
            const auto seconds = static_cast<std::uint64_t>(
                std::chrono::duration_cast<std::chrono::seconds>(scanned->time_since_epoch()).count());
            std::uint8_t bytes[8];
            for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(seconds >> (8 * i));
            RETURN_IF_FAILED(WriteBytes(stream.get(), bytes, sizeof bytes));
            RETURN_IF_FAILED(WriteText(stream.get(), host->m_bstrLogin));
            return WriteText(stream.get(), host->m_picture.Text());
        }
        if (host != nullptr) {
            const auto port = static_cast<std::uint32_t>(host->m_nPort);
            const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(port), static_cast<std::uint8_t>(port >> 8),
                                           static_cast<std::uint8_t>(port >> 16), static_cast<std::uint8_t>(port >> 24)};
            RETURN_IF_FAILED(WriteBytes(stream.get(), bytes, sizeof bytes));
            RETURN_IF_FAILED(WriteText(stream.get(), host->m_bstrHost));
            return WriteText(stream.get(), host->m_bstrJump);
        }
        const CNodeDataObject* self = this;
        return WriteBytes(stream.get(), &self, sizeof self);
    });
}

HRESULT CNodeDataObject::GetData(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
HRESULT CNodeDataObject::QueryGetData(FORMATETC*) { return E_NOTIMPL; }
HRESULT CNodeDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) { return E_NOTIMPL; }
HRESULT CNodeDataObject::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }
HRESULT CNodeDataObject::EnumFormatEtc(DWORD, IEnumFORMATETC**) { return E_NOTIMPL; }
HRESULT CNodeDataObject::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) { return E_NOTIMPL; }
HRESULT CNodeDataObject::DUnadvise(DWORD) { return E_NOTIMPL; }
HRESULT CNodeDataObject::EnumDAdvise(IEnumSTATDATA**) { return E_NOTIMPL; }

CConsoleNode* GetDataClass(IDataObject* data)
{
    const auto value = reinterpret_cast<std::intptr_t>(data);
    if (value >= -10 && value <= 0) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_SHARE | GMEM_MOVEABLE, sizeof(void*));
    if (block == nullptr) return nullptr;
    FORMATETC format{static_cast<CLIPFORMAT>(GetClipboardFormats().privateObject), nullptr, DVASPECT_CONTENT, -1,
                     TYMED_HGLOBAL};
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block;
    CConsoleNode* node = nullptr;
    if (SUCCEEDED(data->GetDataHere(&format, &medium)) && GlobalSize(block) >= sizeof(void*)) {
        void* address = nullptr;
        std::memcpy(&address, GlobalLock(block), sizeof address);
        GlobalUnlock(block);
        if (Live().Contains(address)) node = static_cast<CNodeDataObject*>(address)->Node();
    }
    GlobalFree(block);
    return node;
}
