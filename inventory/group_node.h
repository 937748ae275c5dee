// A group of hosts under the root.
#pragma once

#include <vector>

#include "inventory/console_node.h"

class CRootNode;

class CGroupNode : public CConsoleNode {
public:
    explicit CGroupNode(CRootNode* root) : m_pRoot(root) {}

    std::u16string GetDisplayText(int column) override;
    const GUID& GetNodeType() override;
    int GetImageIndex() override;
    HRESULT OnSelect(IConsole* console, BOOL scope, BOOL select) override;
    HRESULT OnRename(LPOLESTR newName) override;
    HRESULT GetResultViewType(LPOLESTR* viewType, long* viewOptions, bool viewFlag) override;
    HRESULT InsertChildren(IConsoleNameSpace2* nameSpace) override;
    HRESULT Save(IStream* stream, bool encrypt) override;
    int Load(IStream* stream, bool* encrypt) override;
    HRESULT OnExpand(IConsoleNameSpace2* nameSpace, IConsole* console, HSCOPEITEM item) override;
    HRESULT AddMenuItems(IContextMenuCallback* callback, long insertionAllowed) override;
    HRESULT Command(IConsole* console, IConsoleNameSpace2* nameSpace, long commandId, IDataObject* data) override;
    // The list of the group's hosts: name, last scan, result, login, sudo.
    HRESULT OnShow(bool viewFlag, IConsole* console, BOOL show, HSCOPEITEM item) override;

    CRootNode* m_pRoot;
    bool m_bInsertAll = false;
};

class CHostNode;
// The hosts of a group, in their order.
std::vector<CHostNode*> HostsOf(CGroupNode& group);
// Tells the console that the hosts' lines changed (those it shows: the
// selected group's list), so that their results are drawn anew.
void UpdateHostLines(IConsole* console, const std::vector<CHostNode*>& hosts);
// The host of the group named `name` other than `except`, or null. Host
// names are unique within a group: paths name hosts by them.
CHostNode* HostNamed(CGroupNode& group, std::u16string_view name, const CHostNode* except = nullptr);
// Why a host may not be named `name` in the group (a refusal as a dialog
// shows it), or an empty text when it may.
std::u16string CheckHostName(CGroupNode& group, std::u16string_view name, const CHostNode* except = nullptr);
// The same for a group's name among the groups of `root` (`except`: the
// group being renamed).
std::u16string CheckGroupName(const CRootNode& root, std::u16string_view name, const CGroupNode* except);
