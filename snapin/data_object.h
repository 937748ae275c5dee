// The data object that names one node to the console, and the way back
// from any data object to the node it names.
#pragma once

#include "inventory/console_node.h"
#include "platform/dataobject.h"
#include "platform/com_object.h"

// The clipboard formats, registered when the module loads. A host's data
// object also gives "FERRODEX_HOST_ENDPOINT": the port as a 32-bit
// little-endian number, then the host's name or address in UTF-16LE, ended
// by a zero unit, then its jump hosts the same way (empty when none; never a
// login's password); "FERRODEX_HOST_PICTURE":
// a 32-bit little-endian 1 when the host holds a picture of its hardware
// (read from the console file or scanned), so that expanding it needs no
// connection, else 0, then a 32-bit little-endian set of flags: 1 when the
// host scans through sudo, and in bits 8 to 15 the host's login method plus
// one (1 password, 2 key file, 3 agent; 0 from an older snap-in) (readers of
// the first word alone still work). A host scanned in this session also gives
// "FERRODEX_HOST_SCAN": the scan's time in seconds since 1970 as a 64-bit
// little-endian number, then the login and the lshw XML, each UTF-16LE ended
// by a zero unit (never a password). A host holding a picture gives
// "FERRODEX_HOST_TREE": its whole hardware view (snapin/host_tree.h). A host
// saved at least once gives "FERRODEX_HOST_ID": its identity, 32 hex digits
// (platform/random_id.h). A host scanned or refreshed, in this session or
// before, gives "FERRODEX_HOST_RESULT": when its picture was taken and when
// its last refresh failed after it (seconds since 1970, 64-bit
// little-endian each, 0 for none), then that refresh's failure in a few
// words, UTF-16LE ended by a zero unit (empty when none).
struct ClipboardFormats {
    UINT displayName;
    UINT nodeType;
    UINT szNodeType;
    UINT snapinClassId;
    UINT privateObject;
    UINT hostEndpoint;
    UINT hostPicture;
    UINT hostScan;
    UINT hostTree;
    UINT hostId;
    UINT hostResult;
};
const ClipboardFormats& GetClipboardFormats();

class CNodeDataObject final : public IDataObject, private CRefCounted<CNodeDataObject> {
    friend class CRefCounted<CNodeDataObject>;

public:
    static com_ptr<IDataObject> Create(CConsoleNode* node, DATA_OBJECT_TYPES type);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override;
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** enumerator) override;
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection) override;
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD connection) override;
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** enumerator) override;

    CConsoleNode* Node() const { return m_pNode; }
    DATA_OBJECT_TYPES Type() const { return m_type; }

private:
    CNodeDataObject(CConsoleNode* node, DATA_OBJECT_TYPES type);
    ~CNodeDataObject();

    CConsoleNode* m_pNode;
    DATA_OBJECT_TYPES m_type;
};

// The node a data object names; null for the console's special data
// objects (-10 to 0) and for data objects that are not the snap-in's.
CConsoleNode* GetDataClass(IDataObject* data);
