// The snap-in's part of one console view window: serves the result pane.
#pragma once

#include "platform/console.h"
#include "platform/com_object.h"
#include "snapin/module.h"

class CFerrodexData;

class CFerrodexComponent final : public IComponent,
                                 public IExtendContextMenu,
                                 public IExtendTaskPad,
                                 private CRefCounted<CFerrodexComponent>,
                                 private CModuleObject {
    friend class CRefCounted<CFerrodexComponent>;

public:
    static com_ptr<IComponent> Create(CFerrodexData* owner);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    // IComponent
    HRESULT STDMETHODCALLTYPE Initialize(IConsole* console) override;
    HRESULT STDMETHODCALLTYPE Notify(IDataObject* data, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param) override;
    HRESULT STDMETHODCALLTYPE Destroy(MMC_COOKIE cookie) override;
    HRESULT STDMETHODCALLTYPE QueryDataObject(MMC_COOKIE cookie, DATA_OBJECT_TYPES type, IDataObject** data) override;
    HRESULT STDMETHODCALLTYPE GetResultViewType(MMC_COOKIE cookie, LPOLESTR* viewType, long* viewOptions) override;
    HRESULT STDMETHODCALLTYPE GetDisplayInfo(RESULTDATAITEM* item) override;
    HRESULT STDMETHODCALLTYPE CompareObjects(IDataObject* a, IDataObject* b) override;

    // IExtendContextMenu
    HRESULT STDMETHODCALLTYPE AddMenuItems(IDataObject* data, IContextMenuCallback* callback, long* insertionAllowed) override;
    HRESULT STDMETHODCALLTYPE Command(long commandId, IDataObject* data) override;

    // IExtendTaskPad
    HRESULT STDMETHODCALLTYPE TaskNotify(IDataObject* data, VARIANT* arg, VARIANT* param) override;
    HRESULT STDMETHODCALLTYPE EnumTasks(IDataObject* data, LPOLESTR group, IEnumTASK** tasks) override;
    HRESULT STDMETHODCALLTYPE GetTitle(LPOLESTR group, LPOLESTR* title) override;
    HRESULT STDMETHODCALLTYPE GetDescriptiveText(LPOLESTR group, LPOLESTR* text) override;
    HRESULT STDMETHODCALLTYPE GetBackground(LPOLESTR group, MMC_TASK_DISPLAY_OBJECT* background) override;
    HRESULT STDMETHODCALLTYPE GetListPadInfo(LPOLESTR group, MMC_LISTPAD_INFO* info) override;

private:
    explicit CFerrodexComponent(CFerrodexData* owner) : m_pOwner(owner) {}
    ~CFerrodexComponent() = default;

    CFerrodexData* m_pOwner;  // not counted: the console keeps it alive longer
    bool m_bViewFlag = false;
    com_ptr<IConsole> m_spConsole;
};
