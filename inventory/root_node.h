// "My Linux Servers": the top of the inventory, holding the groups.
#pragma once

#include "inventory/console_node.h"

class CRootNode : public CConsoleNode {
public:
    CRootNode();

    std::u16string GetDisplayText(int column) override;
    const GUID& GetNodeType() override;
    int GetImageIndex() override;
    HRESULT GetResultViewType(LPOLESTR* viewType, long* viewOptions, bool viewFlag) override;
    HRESULT InsertChildren(IConsoleNameSpace2* nameSpace) override;
    HRESULT Save(IStream* stream, bool encrypt) override;
    int Load(IStream* stream, bool* encrypt) override;
    HRESULT OnExpand(IConsoleNameSpace2* nameSpace, IConsole* console, HSCOPEITEM item) override;
    HRESULT AddMenuItems(IContextMenuCallback* callback, long insertionAllowed) override;
    HRESULT Command(IConsole* console, IConsoleNameSpace2* nameSpace, long commandId, IDataObject* data) override;

    // Turns Save Passwords on (asking for the main password) or off.
    void ToggleSavePasswords();

    bool m_bSavePasswords = false;
    // Loaded from version 1's encrypted records: the next save re-encrypts
    // them in a vault and says so once.
    bool m_bReencrypt = false;
    // Loaded from a stream of an earlier version: the next save writes
    // today's and says so once.
    bool m_bOlderForm = false;
    bool m_bInsertAll = false;
};

// Inserts children of `node` into the console below its scope item: all of
// them when insertAll is set, else only the last one.
HRESULT InsertChildNodes(CConsoleNode& node, IConsoleNameSpace2* nameSpace, bool insertAll);
