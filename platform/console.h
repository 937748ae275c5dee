// The management-console interfaces: what a snap-in implements and what the
// console offers it, with their records and constants.
#pragma once

#include "platform/com.h"
#include "platform/dataobject.h"
#include "platform/gdi.h"
#include "platform/stream.h"

#ifdef _WIN32
#include <commctrl.h>
#include <mmc.h>

// The text placeholder with the type of the fields it goes into.
#undef MMC_CALLBACK
#define MMC_CALLBACK (reinterpret_cast<LPOLESTR>(static_cast<LONG_PTR>(-1)))

FDX_SYSTEM_IID(IHeaderCtrl, "43136EB3-D36C-11CF-ADBC-00AA00A80033");
FDX_SYSTEM_IID(IResultData, "31DA5FA0-E0EB-11CF-9F21-00AA003CA9F6");
FDX_SYSTEM_IID(IImageList, "43136EB8-D36C-11CF-ADBC-00AA00A80033");
FDX_SYSTEM_IID(IConsoleVerb, "E49F7A60-74AF-11D0-A286-00C04FD8FE93");
FDX_SYSTEM_IID(IContextMenuCallback, "43136EB7-D36C-11CF-ADBC-00AA00A80033");
FDX_SYSTEM_IID(IConsoleNameSpace, "BEDEB620-F24D-11CF-8AFC-00AA003CA9F6");
FDX_SYSTEM_IID(IConsoleNameSpace2, "255F18CC-65DB-11D1-A7DC-00C04FD8D565");
FDX_SYSTEM_IID(IConsole, "43136EB1-D36C-11CF-ADBC-00AA00A80033");
FDX_SYSTEM_IID(IComponentData, "955AB28A-5218-11D0-A985-00C04FD8D565");
FDX_SYSTEM_IID(IComponent, "43136EB2-D36C-11CF-ADBC-00AA00A80033");
FDX_SYSTEM_IID(IExtendContextMenu, "4F3B7A4F-CFAC-11CF-B8E3-00C04FD8D5B0");
FDX_SYSTEM_IID(IExtendTaskPad, "8DEE6511-554D-11D1-9FEA-00600832DB4A");
FDX_SYSTEM_IID(ISnapinAbout, "1245208C-A151-11D0-A7D7-00C04FD909DD");
#else

using MMC_COOKIE = LONG_PTR;
using HSCOPEITEM = LONG_PTR;
using HRESULTITEM = LONG_PTR;

// The console's text placeholder: the text is asked for later through the
// display-information call.
inline LPOLESTR const MMC_CALLBACK = reinterpret_cast<LPOLESTR>(static_cast<std::intptr_t>(-1));

enum MMC_NOTIFY_TYPE : DWORD {
    MMCN_ACTIVATE = 0x8001,
    MMCN_ADD_IMAGES = 0x8002,
    MMCN_BTN_CLICK = 0x8003,
    MMCN_CLICK = 0x8004,
    MMCN_COLUMN_CLICK = 0x8005,
    MMCN_CONTEXTMENU = 0x8006,
    MMCN_CUTORMOVE = 0x8007,
    MMCN_DBLCLICK = 0x8008,
    MMCN_DELETE = 0x8009,
    MMCN_DESELECT_ALL = 0x800A,
    MMCN_EXPAND = 0x800B,
    MMCN_HELP = 0x800C,
    MMCN_MENU_BTNCLICK = 0x800D,
    MMCN_MINIMIZED = 0x800E,
    MMCN_PASTE = 0x800F,
    MMCN_PROPERTY_CHANGE = 0x8010,
    MMCN_QUERY_PASTE = 0x8011,
    MMCN_REFRESH = 0x8012,
    MMCN_REMOVE_CHILDREN = 0x8013,
    MMCN_RENAME = 0x8014,
    MMCN_SELECT = 0x8015,
    MMCN_SHOW = 0x8016,
    MMCN_VIEW_CHANGE = 0x8017,
};

enum DATA_OBJECT_TYPES : DWORD {
    CCT_SCOPE = 0x8000,
    CCT_RESULT = 0x8001,
    CCT_SNAPIN_MANAGER = 0x8002,
    CCT_UNINITIALIZED = 0xFFFF,
};

enum MMC_CONSOLE_VERB : DWORD {
    MMC_VERB_NONE = 0x0000,
    MMC_VERB_OPEN = 0x8000,
    MMC_VERB_COPY = 0x8001,
    MMC_VERB_PASTE = 0x8002,
    MMC_VERB_DELETE = 0x8003,
    MMC_VERB_PROPERTIES = 0x8004,
    MMC_VERB_RENAME = 0x8005,
    MMC_VERB_REFRESH = 0x8006,
    MMC_VERB_PRINT = 0x8007,
    MMC_VERB_CUT = 0x8008,
};

enum MMC_BUTTON_STATE : DWORD {
    ENABLED = 0x1,
    CHECKED = 0x2,
    HIDDEN = 0x4,
    INDETERMINATE = 0x8,
    BUTTONPRESSED = 0x10,
};

// Scope item fields.
constexpr DWORD SDI_STR = 0x2;
constexpr DWORD SDI_IMAGE = 0x4;
constexpr DWORD SDI_OPENIMAGE = 0x8;
constexpr DWORD SDI_STATE = 0x10;
constexpr DWORD SDI_PARAM = 0x20;
constexpr DWORD SDI_CHILDREN = 0x40;
constexpr DWORD SDI_PARENT = 0x0;
constexpr DWORD SDI_PREVIOUS = 0x10000000;
constexpr DWORD SDI_NEXT = 0x20000000;
constexpr DWORD SDI_FIRST = 0x08000000;

// Result item fields.
constexpr DWORD RDI_STR = 0x2;
constexpr DWORD RDI_IMAGE = 0x4;
constexpr DWORD RDI_STATE = 0x8;
constexpr DWORD RDI_PARAM = 0x10;
constexpr DWORD RDI_INDEX = 0x20;
constexpr DWORD RDI_INDENT = 0x40;

// Context menus.
constexpr LONG CCM_INSERTIONPOINTID_PRIMARY_TOP = static_cast<LONG>(0xA0000000);
constexpr LONG CCM_INSERTIONPOINTID_PRIMARY_NEW = static_cast<LONG>(0xA0000001);
constexpr LONG CCM_INSERTIONPOINTID_PRIMARY_TASK = static_cast<LONG>(0xA0000002);
constexpr LONG CCM_INSERTIONPOINTID_PRIMARY_VIEW = static_cast<LONG>(0xA0000003);
constexpr LONG CCM_INSERTIONALLOWED_TOP = 1;
constexpr LONG CCM_INSERTIONALLOWED_NEW = 2;
constexpr LONG CCM_INSERTIONALLOWED_TASK = 4;
constexpr LONG CCM_INSERTIONALLOWED_VIEW = 8;
constexpr LONG CCM_SPECIAL_SEPARATOR = 0x1;
constexpr LONG CCM_SPECIAL_SUBMENU = 0x2;
constexpr LONG CCM_SPECIAL_DEFAULT_ITEM = 0x4;
constexpr LONG MF_STRING = 0x0;
constexpr LONG MF_GRAYED = 0x1;
constexpr LONG MF_CHECKED = 0x8;
constexpr LONG MF_SEPARATOR = 0x800;

constexpr int LVCFMT_LEFT = 0;
constexpr int LVCFMT_RIGHT = 1;
constexpr long MMC_VIEW_OPTIONS_NONE = 0;

struct SCOPEDATAITEM {
    DWORD mask;
    LPOLESTR displayname;
    int nImage;
    int nOpenImage;
    UINT nState;
    int cChildren;
    LPARAM lParam;
    HSCOPEITEM relativeID;
    HSCOPEITEM ID;
};
using LPSCOPEDATAITEM = SCOPEDATAITEM*;

struct RESULTDATAITEM {
    DWORD mask;
    BOOL bScopeItem;
    HRESULTITEM itemID;
    int nIndex;
    int nCol;
    LPOLESTR str;
    int nImage;
    UINT nState;
    LPARAM lParam;
    int iIndent;
};
using LPRESULTDATAITEM = RESULTDATAITEM*;

struct CONTEXTMENUITEM {
    LPOLESTR strName;
    LPOLESTR strStatusBarText;
    LONG lCommandID;
    LONG lInsertionPointID;
    LONG fFlags;
    LONG fSpecialFlags;
};

// Task-pad records; this system has no task pad, so they stay opaque.
struct VARIANT;
struct MMC_TASK_DISPLAY_OBJECT;
struct MMC_LISTPAD_INFO;
class IEnumTASK;

class IHeaderCtrl : public IUnknown {
public:
    virtual HRESULT InsertColumn(int nCol, LPCOLESTR title, int nFormat, int nWidth) = 0;
    virtual HRESULT DeleteColumn(int nCol) = 0;
    virtual HRESULT SetColumnText(int nCol, LPCOLESTR title) = 0;
    virtual HRESULT GetColumnText(int nCol, LPOLESTR* title) = 0;
    virtual HRESULT SetColumnWidth(int nCol, int nWidth) = 0;
    virtual HRESULT GetColumnWidth(int nCol, int* pWidth) = 0;

protected:
    ~IHeaderCtrl() = default;
};
FDX_DECLARE_IID(IHeaderCtrl, "43136EB3-D36C-11CF-ADBC-00AA00A80033");

class IResultData : public IUnknown {
public:
    virtual HRESULT InsertItem(LPRESULTDATAITEM item) = 0;
    virtual HRESULT DeleteItem(HRESULTITEM itemID, int nCol) = 0;
    virtual HRESULT FindItemByLParam(LPARAM lParam, HRESULTITEM* itemID) = 0;
    virtual HRESULT DeleteAllRsltItems() = 0;
    virtual HRESULT SetItem(LPRESULTDATAITEM item) = 0;
    virtual HRESULT GetItem(LPRESULTDATAITEM item) = 0;
    virtual HRESULT GetNextItem(LPRESULTDATAITEM item) = 0;
    virtual HRESULT ModifyItemState(int nIndex, HRESULTITEM itemID, UINT uAdd, UINT uRemove) = 0;
    virtual HRESULT ModifyViewStyle(long add, long remove) = 0;
    virtual HRESULT SetViewMode(long mode) = 0;
    virtual HRESULT GetViewMode(long* mode) = 0;
    virtual HRESULT UpdateItem(HRESULTITEM itemID) = 0;
    virtual HRESULT Sort(int nColumn, DWORD dwSortOptions, LPARAM lUserParam) = 0;
    virtual HRESULT SetDescBarText(LPOLESTR text) = 0;
    virtual HRESULT SetItemCount(int nItemCount, DWORD dwOptions) = 0;

protected:
    ~IResultData() = default;
};
FDX_DECLARE_IID(IResultData, "31DA5FA0-E0EB-11CF-9F21-00AA003CA9F6");

class IImageList : public IUnknown {
public:
    virtual HRESULT ImageListSetIcon(LONG_PTR* pIcon, long nLoc) = 0;
    virtual HRESULT ImageListSetStrip(LONG_PTR* pBMapSm, LONG_PTR* pBMapLg, long nStartLoc, COLORREF cMask) = 0;

protected:
    ~IImageList() = default;
};
FDX_DECLARE_IID(IImageList, "43136EB8-D36C-11CF-ADBC-00AA00A80033");

class IConsoleVerb : public IUnknown {
public:
    virtual HRESULT GetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL* pState) = 0;
    virtual HRESULT SetVerbState(MMC_CONSOLE_VERB eCmdID, MMC_BUTTON_STATE nState, BOOL bState) = 0;
    virtual HRESULT SetDefaultVerb(MMC_CONSOLE_VERB eCmdID) = 0;
    virtual HRESULT GetDefaultVerb(MMC_CONSOLE_VERB* peCmdID) = 0;

protected:
    ~IConsoleVerb() = default;
};
FDX_DECLARE_IID(IConsoleVerb, "E49F7A60-74AF-11D0-A286-00C04FD8FE93");

class IContextMenuCallback : public IUnknown {
public:
    virtual HRESULT AddItem(CONTEXTMENUITEM* item) = 0;

protected:
    ~IContextMenuCallback() = default;
};
FDX_DECLARE_IID(IContextMenuCallback, "43136EB7-D36C-11CF-ADBC-00AA00A80033");
using LPCONTEXTMENUCALLBACK = IContextMenuCallback*;

class IConsoleNameSpace : public IUnknown {
public:
    virtual HRESULT InsertItem(LPSCOPEDATAITEM item) = 0;
    // Deletes the item's children, and the item itself when fDeleteThis is set.
    virtual HRESULT DeleteItem(HSCOPEITEM hItem, long fDeleteThis) = 0;
    virtual HRESULT SetItem(LPSCOPEDATAITEM item) = 0;
    virtual HRESULT GetItem(LPSCOPEDATAITEM item) = 0;
    virtual HRESULT GetChildItem(HSCOPEITEM item, HSCOPEITEM* child, MMC_COOKIE* cookie) = 0;
    virtual HRESULT GetNextItem(HSCOPEITEM item, HSCOPEITEM* next, MMC_COOKIE* cookie) = 0;
    virtual HRESULT GetParentItem(HSCOPEITEM item, HSCOPEITEM* parent, MMC_COOKIE* cookie) = 0;

protected:
    ~IConsoleNameSpace() = default;
};
FDX_DECLARE_IID(IConsoleNameSpace, "BEDEB620-F24D-11CF-8AFC-00AA003CA9F6");

class IConsoleNameSpace2 : public IConsoleNameSpace {
public:
    virtual HRESULT Expand(HSCOPEITEM hItem) = 0;
    virtual HRESULT AddExtension(HSCOPEITEM hItem, const CLSID* extension) = 0;

protected:
    ~IConsoleNameSpace2() = default;
};
FDX_DECLARE_IID(IConsoleNameSpace2, "255F18CC-65DB-11D1-A7DC-00C04FD8D565");

class IConsole : public IUnknown {
public:
    virtual HRESULT SetHeader(IHeaderCtrl* header) = 0;
    virtual HRESULT SetToolbar(IUnknown* toolbar) = 0;
    virtual HRESULT QueryResultView(IUnknown** unknown) = 0;
    virtual HRESULT QueryScopeImageList(IImageList** imageList) = 0;
    virtual HRESULT QueryResultImageList(IImageList** imageList) = 0;
    virtual HRESULT UpdateAllViews(IDataObject* data, LPARAM arg, LONG_PTR hint) = 0;
    virtual HRESULT MessageBox(LPCOLESTR text, LPCOLESTR title, UINT style, int* result) = 0;
    virtual HRESULT QueryConsoleVerb(IConsoleVerb** verb) = 0;
    virtual HRESULT SelectScopeItem(HSCOPEITEM hScopeItem) = 0;
    virtual HRESULT GetMainWindow(HWND* window) = 0;
    virtual HRESULT NewWindow(HSCOPEITEM hScopeItem, DWORD options) = 0;

protected:
    ~IConsole() = default;
};
FDX_DECLARE_IID(IConsole, "43136EB1-D36C-11CF-ADBC-00AA00A80033");
using LPCONSOLE = IConsole*;

class IComponent;

class IComponentData : public IUnknown {
public:
    virtual HRESULT Initialize(IUnknown* console) = 0;
    virtual HRESULT CreateComponent(IComponent** component) = 0;
    virtual HRESULT Notify(IDataObject* data, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param) = 0;
    virtual HRESULT Destroy() = 0;
    virtual HRESULT QueryDataObject(MMC_COOKIE cookie, DATA_OBJECT_TYPES type, IDataObject** data) = 0;
    virtual HRESULT GetDisplayInfo(SCOPEDATAITEM* item) = 0;
    virtual HRESULT CompareObjects(IDataObject* a, IDataObject* b) = 0;

protected:
    ~IComponentData() = default;
};
FDX_DECLARE_IID(IComponentData, "955AB28A-5218-11D0-A985-00C04FD8D565");

class IComponent : public IUnknown {
public:
    virtual HRESULT Initialize(IConsole* console) = 0;
    virtual HRESULT Notify(IDataObject* data, MMC_NOTIFY_TYPE event, LPARAM arg, LPARAM param) = 0;
    virtual HRESULT Destroy(MMC_COOKIE cookie) = 0;
    virtual HRESULT QueryDataObject(MMC_COOKIE cookie, DATA_OBJECT_TYPES type, IDataObject** data) = 0;
    virtual HRESULT GetResultViewType(MMC_COOKIE cookie, LPOLESTR* viewType, long* viewOptions) = 0;
    virtual HRESULT GetDisplayInfo(RESULTDATAITEM* item) = 0;
    virtual HRESULT CompareObjects(IDataObject* a, IDataObject* b) = 0;

protected:
    ~IComponent() = default;
};
FDX_DECLARE_IID(IComponent, "43136EB2-D36C-11CF-ADBC-00AA00A80033");

class IExtendContextMenu : public IUnknown {
public:
    virtual HRESULT AddMenuItems(IDataObject* data, IContextMenuCallback* callback, long* insertionAllowed) = 0;
    virtual HRESULT Command(long commandId, IDataObject* data) = 0;

protected:
    ~IExtendContextMenu() = default;
};
FDX_DECLARE_IID(IExtendContextMenu, "4F3B7A4F-CFAC-11CF-B8E3-00C04FD8D5B0");

class IExtendTaskPad : public IUnknown {
public:
    virtual HRESULT TaskNotify(IDataObject* data, VARIANT* arg, VARIANT* param) = 0;
    virtual HRESULT EnumTasks(IDataObject* data, LPOLESTR group, IEnumTASK** tasks) = 0;
    virtual HRESULT GetTitle(LPOLESTR group, LPOLESTR* title) = 0;
    virtual HRESULT GetDescriptiveText(LPOLESTR group, LPOLESTR* text) = 0;
    virtual HRESULT GetBackground(LPOLESTR group, MMC_TASK_DISPLAY_OBJECT* background) = 0;
    virtual HRESULT GetListPadInfo(LPOLESTR group, MMC_LISTPAD_INFO* info) = 0;

protected:
    ~IExtendTaskPad() = default;
};
FDX_DECLARE_IID(IExtendTaskPad, "8DEE6511-554D-11D1-9FEA-00600832DB4A");

class ISnapinAbout : public IUnknown {
public:
    virtual HRESULT GetSnapinDescription(LPOLESTR* description) = 0;
    virtual HRESULT GetProvider(LPOLESTR* provider) = 0;
    virtual HRESULT GetSnapinVersion(LPOLESTR* version) = 0;
    virtual HRESULT GetSnapinImage(HICON* appIcon) = 0;
    virtual HRESULT GetStaticFolderImage(HBITMAP* smallImage, HBITMAP* smallImageOpen, HBITMAP* largeImage,
                                         COLORREF* mask) = 0;

protected:
    ~ISnapinAbout() = default;
};
FDX_DECLARE_IID(ISnapinAbout, "1245208C-A151-11D0-A7D7-00C04FD909DD");
#endif
