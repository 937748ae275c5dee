// A host of the inventory: where to connect, how to log in, and the hardware
// its last scan found.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "inventory/console_node.h"
#include "inventory/scan_status.h"
#include "inventory/stored_picture.h"
#include "platform/xml.h"

class CGroupNode;
class CGeneralNode;
class CHostDialog;

// The host's login method as the host's settings say it (never what a
// server accepted): the agent when it is checked, else the key file when
// one is named, else the password.
enum ELoginMethod { LOGIN_PASSWORD = 0, LOGIN_KEY_FILE = 1, LOGIN_AGENT = 2 };
class CHostNode;
ELoginMethod HostLoginMethod(const CHostNode& host);

class CHostNode : public CConsoleNode {
public:
    explicit CHostNode(CGroupNode* group);
    ~CHostNode() override;

    std::u16string GetDisplayText(int column) override;
    const GUID& GetNodeType() override;
    int GetImageIndex() override;
    HRESULT GetResultViewType(LPOLESTR* viewType, long* viewOptions, bool viewFlag) override;
    HRESULT Save(IStream* stream, bool encrypt) override;
    int Load(IStream* stream, bool* encrypt) override;
    HRESULT OnExpand(IConsoleNameSpace2* nameSpace, IConsole* console, HSCOPEITEM item) override;
    HRESULT AddMenuItems(IContextMenuCallback* callback, long insertionAllowed) override;
    HRESULT Command(IConsole* console, IConsoleNameSpace2* nameSpace, long commandId, IDataObject* data) override;
    HRESULT OnShow(bool viewFlag, IConsole* console, BOOL show, HSCOPEITEM item) override;
    HRESULT OnSelect(IConsole* console, BOOL scope, BOOL select) override;
    // A new name, unique within the group; the address stays.
    HRESULT OnRename(LPOLESTR newName) override;

    // Drops the hardware tree: children, "general" node and the top rows.
    void ClearHardware();
    // Drops the picture of the host: the hardware's scope items and nodes,
    // the XML and the scan status (the host was given a new address).
    void DropHardware(IConsoleNameSpace2* nameSpace);
    // Takes a picture of the hardware handed over by the console (a pasted
    // lshw XML) in place of the one it holds, kept as one read from the
    // console file is: no scan of this session. A host already expanded
    // shows it at once.
    void TakePicture(std::u16string xml, IConsoleNameSpace2* nameSpace);
    // Sets host, port, login and password from the host dialog's texts. An
    // empty password keeps the stored one (the dialog never shows it).
    void SetFromDialog(std::u16string_view host, std::u16string_view port, std::u16string_view login,
                       std::u16string_view password);
    // Takes an accepted host dialog: the name and the four texts as above,
    // the password cleared when the dialog says so, the key file and the
    // agent check (a new key file drops the old one's passphrase unless a
    // new one was typed), and the hardware dropped when the host or port
    // changed. True when it was dropped.
    bool TakeDialog(const CHostDialog& dialog, IConsoleNameSpace2* nameSpace);
    // Shows the scan status in the "general" node, after its own rows, then
    // the sudo setting when it is on, and the notice when the XML says lshw
    // ran without root rights.
    void ShowScanStatus();
    // The rows the "general" node shows: the top element's, the scan status,
    // sudo and the notice.
    void StatusRows(std::vector<std::u16string>& names, std::vector<std::u16string>& values) const;
    // Takes a newly fetched picture if the console file can keep it: it packs
    // within kMaxNewPictureBytes. If not, `refusal` says why in a few words
    // and the previous picture stays.
    bool TakeNewPicture(std::u16string_view xml, std::u16string& refusal);
    static std::u16string NewPictureRefusal(EPictureError error);
    // How the host logs in, as the group's list shows it.
    std::u16string LoginMethod() const;
    // The columns of the host's line in its group's list: EHostColumn
    // (platform/snapin_contract.h).

    // The host record.
    std::u16string m_bstrHost;
    int m_nPort = 22;
    std::u16string m_bstrLogin;
    std::u16string m_bstrPassword;
    // The last lshw XML, held packed; a view unpacks it when it is built.
    CStoredPicture m_picture;
    // Scans run lshw through sudo (see scan/sudo_scan.h).
    bool m_bSudo = false;
    // The host's identity (platform/random_id.h): kept across renames and
    // moves, saved with the record; a host without one (added, imported, or
    // read from an older file) gets one when the snap-in saves the inventory.
    std::string m_strId;
    // The login's other ways in: a private key file (its path is no secret;
    // its passphrase is kept like the password) and the SSH agent.
    // scan/login_settings.h turns them into what a login offers.
    std::u16string m_bstrKeyFile;
    std::u16string m_bstrPassphrase;
    bool m_bUseAgent = false;
    // The jump hosts in front of it, "[user@]host[:port][,...]" as
    // NormalJumpRoute writes it; empty when it is reached directly.
    std::u16string m_bstrJump;
    CGroupNode* m_pGroup;

    // Working state of the hardware tree.
    HRESULT m_hrXml = S_OK;
    com_ptr<IXMLDOMDocument> m_spXmlDoc;
    std::unique_ptr<CGeneralNode> m_pGeneral;
    std::vector<std::u16string> m_generalNames;
    std::vector<std::u16string> m_generalValues;

    // When the shown hardware was scanned; whether a refresh failed since.
    CScanStatus m_scanStatus;
    // The last refresh's failure in a few words; empty when it succeeded or
    // none ran in this session.
    std::u16string m_bstrLastResult;

    // What the last scan of this session said beyond its XML (not saved),
    // for the lists and the terminal console's output: lshw ran with root
    // rights; if not while sudo was wanted, why (the note told); the notes
    // told during the scan, in order; lshw was missing on the host and not
    // deployed; no usable engine package is installed here.
    bool m_bScannedAsRoot = false;
    std::u16string m_bstrRootReason;
    std::vector<std::u16string> m_scanNotes;
    bool m_bLshwMissing = false;
    bool m_bEnginePackageMissing = false;
    // What the last scan job said went wrong (told to the user as well);
    // empty after one that worked.
    std::u16string m_bstrScanFailure;
};
