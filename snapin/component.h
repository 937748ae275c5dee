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

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return AddRefImpl(); }
    ULONG Release() override { return ReleaseImpl(); }

    // IComponent
    HRESULT Initialize(IConsole* console) override;
    HRESULT Notify(IDataObject* data, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param) override;
    HRESULT Destroy(MMC_COOKIE cookie) override;
    HRESULT QueryDataObject(MMC_COOKIE cookie, DATA_OBJECT_TYPES type, IDataObject** data) override;
    HRESULT GetResultViewType(MMC_COOKIE cookie, LPOLESTR* viewType, long* viewOptions) override;
    HRESULT GetDisplayInfo(RESULTDATAITEM* item) override;
    HRESULT CompareObjects(IDataObject* a, IDataObject* b) override;

    // IExtendContextMenu
    HRESULT AddMenuItems(IDataObject* data, IContextMenuCallback* callback, long* insertionAllowed) override;
    HRESULT Command(long commandId, IDataObject* data) override;

    // IExtendTaskPad
    HRESULT TaskNotify(IDataObject* data, VARIANT* arg, VARIANT* param) override;
    HRESULT EnumTasks(IDataObject* data, LPOLESTR group, IEnumTASK** tasks) override;
    HRESULT GetTitle(LPOLESTR group, LPOLESTR* title) override;
    HRESULT GetDescriptiveText(LPOLESTR group, LPOLESTR* text) override;
    HRESULT GetBackground(LPOLESTR group, MMC_TASK_DISPLAY_OBJECT* background) override;
    HRESULT GetListPadInfo(LPOLESTR group, MMC_LISTPAD_INFO* info) override;

private:
    explicit CFerrodexComponent(CFerrodexData* owner) : m_pOwner(owner) {}
    ~CFerrodexComponent() = default;

    CFerrodexData* m_pOwner;  // not counted: the console keeps it alive longer
    bool m_bViewFlag = false;
    com_ptr<IConsole> m_spConsole;
};
