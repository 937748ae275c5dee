// One instance of the snap-in in a console: owns the inventory root and
// the scope tree, routes scope-tree events to the nodes and keeps the
// inventory in the console file.
#pragma once

#include <memory>

#include "inventory/root_node.h"
#include "platform/console.h"
#include "platform/com_object.h"
#include "snapin/module.h"

class CFerrodexData final : public IComponentData,
                            public IPersistStream,
                            public IExtendContextMenu,
                            private CRefCounted<CFerrodexData>,
                            private CModuleObject {
    friend class CRefCounted<CFerrodexData>;

public:
    CFerrodexData();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    // IComponentData
    HRESULT STDMETHODCALLTYPE Initialize(IUnknown* console) override;
    HRESULT STDMETHODCALLTYPE CreateComponent(IComponent** component) override;
    HRESULT STDMETHODCALLTYPE Notify(IDataObject* data, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param) override;
    HRESULT STDMETHODCALLTYPE Destroy() override;
    HRESULT STDMETHODCALLTYPE QueryDataObject(MMC_COOKIE cookie, DATA_OBJECT_TYPES type, IDataObject** data) override;
    HRESULT STDMETHODCALLTYPE GetDisplayInfo(SCOPEDATAITEM* item) override;
    HRESULT STDMETHODCALLTYPE CompareObjects(IDataObject* a, IDataObject* b) override;

    // IPersistStream
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;

    // IExtendContextMenu
    HRESULT STDMETHODCALLTYPE AddMenuItems(IDataObject* data, IContextMenuCallback* callback, long* insertionAllowed) override;
    HRESULT STDMETHODCALLTYPE Command(long commandId, IDataObject* data) override;

    CRootNode& Root() { return *m_pRoot; }

private:
    ~CFerrodexData() = default;

    com_ptr<IConsole> m_spConsole;
    com_ptr<IConsoleNameSpace2> m_spNameSpace;
    std::unique_ptr<CRootNode> m_pRoot;
};

// Compares the nodes two data objects name: S_OK when they are the same.
HRESULT CompareNodeObjects(IDataObject* a, IDataObject* b);
// A data object for the node behind a cookie, 0 naming the root.
HRESULT QueryNodeDataObject(CRootNode& root, MMC_COOKIE cookie, DATA_OBJECT_TYPES type, IDataObject** data);
