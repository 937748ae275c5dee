// The base of every node the console shows: root, groups, hosts and the
// hardware nodes below them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/console.h"
#include "platform/stream.h"

class CConsoleNode {
public:
    // Longest display name, in UTF-16 code units.
    static constexpr std::size_t kMaxName = 256;

    CConsoleNode() = default;
    CConsoleNode(const CConsoleNode&) = delete;
    CConsoleNode& operator=(const CConsoleNode&) = delete;

    // The node operations the console dispatch calls, in their fixed order.
    virtual ~CConsoleNode();                                                          // 0
    virtual std::u16string GetDisplayText(int column) = 0;                            // 1
    virtual const GUID& GetNodeType();                                                // 2
    virtual MMC_COOKIE GetCookie();                                                   // 3
    virtual int GetImageIndex() = 0;                                                  // 4
    virtual HRESULT OnSelect(IConsole* console, BOOL scope, BOOL select);             // 5
    virtual HRESULT OnRename(LPOLESTR newName);                                       // 6
    virtual HRESULT GetResultViewType(LPOLESTR* viewType, long* viewOptions, bool viewFlag);  // 7
    virtual void SetScopeItem(HSCOPEITEM item);                                       // 8
    virtual HSCOPEITEM GetScopeItem();                                                // 9
    virtual HRESULT InsertChildren(IConsoleNameSpace2* nameSpace);                    // 10
    virtual HRESULT Save(IStream* stream, bool encrypt);                              // 11
    virtual int Load(IStream* stream, bool* encrypt);                                 // 12
    virtual HRESULT OnExpand(IConsoleNameSpace2* nameSpace, IConsole* console, HSCOPEITEM item);  // 13
    virtual HRESULT AddMenuItems(IContextMenuCallback* callback, long insertionAllowed);  // 14
    virtual HRESULT Command(IConsole* console, IConsoleNameSpace2* nameSpace, long commandId, IDataObject* data);  // 15
    virtual HRESULT OnAddImages(IImageList* imageList);                               // 16
    virtual HRESULT OnShow(bool viewFlag, IConsole* console, BOOL show, HSCOPEITEM item);  // 17
    virtual HRESULT TaskNotify(IDataObject* data, VARIANT* arg, VARIANT* param);      // 18
    virtual HRESULT EnumTasks(IDataObject* data, LPOLESTR group, IEnumTASK** tasks);  // 19
    virtual HRESULT GetTitle(LPOLESTR group, LPOLESTR* title);                        // 20
    virtual HRESULT GetDescriptiveText(LPOLESTR group, LPOLESTR* text);               // 21
    virtual HRESULT GetBackground(LPOLESTR group, MMC_TASK_DISPLAY_OBJECT* background);  // 22
    virtual HRESULT GetListPadInfo(LPOLESTR group, MMC_LISTPAD_INFO* info);           // 23

    bool IsExpanded() const { return m_bExpanded; }
    std::u16string_view Name() const { return m_szName; }
    // Copies text into the name, cut to kMaxName code units.
    void SetName(std::u16string_view text);

    using Children = std::vector<std::unique_ptr<CConsoleNode>>;
    Children& GetChildren() { return m_children; }
    const Children& GetChildren() const { return m_children; }
    // Takes ownership of a child and appends it.
    CConsoleNode& AppendChild(std::unique_ptr<CConsoleNode> child);
    // Removes a child from the list and deletes it with its subtree.
    void DeleteChild(const CConsoleNode* child);

    // Inserts `child` under this node's scope item in the console tree with
    // the given images and child count, and gives it the new handle.
    HRESULT InsertScopeChild(IConsoleNameSpace2* nameSpace, CConsoleNode& child, int image, int openImage,
                             int childCount);

protected:
    // Lets the console offer Rename for the selected node.
    static HRESULT OfferRename(IConsole* console);
    bool m_bExpanded = false;
    char16_t m_szName[kMaxName + 1] = {};
    Children m_children;
    HSCOPEITEM m_hScopeItem = 0;
};

// The node behind a cookie: the cookie is the node's own address.
inline CConsoleNode* NodeFromCookie(MMC_COOKIE cookie) { return reinterpret_cast<CConsoleNode*>(cookie); }
