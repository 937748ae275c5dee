#include <gtest/gtest.h>

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/node_types.h"
#include "res/resource_ids.h"
#include "snapin/component_data.h"
#include "snapin/data_object.h"
#include "snapin/guids.h"
#include "tests/snapin/snapin_session.h"
#include "tests/support/scripted_ui.h"

namespace {

// A foreign data object: answers the private format with bytes of its own.
class CForeignDataObject final : public IDataObject {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetData(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT GetDataHere(FORMATETC*, STGMEDIUM* medium) override
    {
        com_ptr<IStream> stream;
        CreateStreamOnHGlobal(medium->hGlobal, FALSE, stream.put());
        const void* bogus = this;
        return stream->Write(&bogus, sizeof bogus, nullptr);
    }
    HRESULT QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    HRESULT GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    HRESULT SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT EnumFormatEtc(DWORD, IUnknown**) override { return E_NOTIMPL; }
    HRESULT DAdvise(FORMATETC*, DWORD, IUnknown*, DWORD*) override { return E_NOTIMPL; }
    HRESULT DUnadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT EnumDAdvise(IUnknown**) override { return E_NOTIMPL; }
};

std::vector<std::uint8_t> Format(IDataObject* data, UINT format, HRESULT* result = nullptr)
{
    HGLOBAL block = GlobalAlloc(GMEM_SHARE, 0);
    FORMATETC etc{static_cast<CLIPFORMAT>(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{TYMED_HGLOBAL, block, nullptr};
    const HRESULT hr = data->GetDataHere(&etc, &medium);
    if (result) *result = hr;
    const auto* p = static_cast<const std::uint8_t*>(GlobalLock(block));
    std::vector<std::uint8_t> bytes(p, p + GlobalSize(block));
    GlobalFree(block);
    return bytes;
}

std::vector<std::uint8_t> Utf16WithTerminator(std::u16string_view text)
{
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text) bytes.insert(bytes.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8)});
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// The scripted interface is there before the instance is made and until it
// is gone.
struct CScriptedUiFirst {
    CScopedScriptedUi ui;
};

class DispatchTest : public ::testing::Test, protected CScriptedUiFirst, public CSnapinSession {
protected:
    CRootNode& Root() { return static_cast<CFerrodexData*>(data.get())->Root(); }
};

TEST_F(DispatchTest, ClipboardFormatsAreByteExact)
{
    com_ptr<IDataObject> root = Query(0);
    const ClipboardFormats& f = GetClipboardFormats();
    EXPECT_EQ(Format(root.get(), f.displayName), Utf16WithTerminator(u"My Linux Servers"));
    const auto type = Format(root.get(), f.nodeType);
    ASSERT_EQ(type.size(), 16u);
    EXPECT_EQ(std::memcmp(type.data(), &kRootNodeType, 16), 0);
    const auto clsid = Format(root.get(), f.snapinClassId);
    ASSERT_EQ(clsid.size(), 16u);
    EXPECT_EQ(std::memcmp(clsid.data(), &CLSID_Ferrodex, 16), 0);

    CGroupNode group(&Root());
    com_ptr<IDataObject> groupObject = Query(group.GetCookie());
    const auto text = Format(groupObject.get(), f.szNodeType);
    EXPECT_EQ(text.size(), 78u);
    EXPECT_EQ(text, Utf16WithTerminator(u"{DA119E39-0D74-4CE9-ABE4-BFEDFCD8DE0D}"));

    HRESULT hr = S_OK;
    Format(root.get(), RegisterClipboardFormat(u"CF_SOMETHING_ELSE"), &hr);
    EXPECT_EQ(hr, DV_E_FORMATETC);
    EXPECT_EQ(Format(root.get(), f.privateObject).size(), sizeof(void*));
}

TEST_F(DispatchTest, AHostTellsWhetherItHoldsAPictureAndOtherNodesDoNot)
{
    const ClipboardFormats& f = GetClipboardFormats();
    CGroupNode group(&Root());
    CHostNode host(&group);
    com_ptr<IDataObject> hostObject = Query(host.GetCookie());
    // The held word, then the flags (bit 0: scans through sudo; bits 8-15:
    // the login method plus one).
    const std::vector<std::uint8_t> none{0, 0, 0, 0, 0, 1, 0, 0};
    const std::vector<std::uint8_t> held{1, 0, 0, 0, 0, 1, 0, 0};
    const std::vector<std::uint8_t> heldSudo{1, 0, 0, 0, 1, 1, 0, 0};
    EXPECT_EQ(Format(hostObject.get(), f.hostPicture), none);
    host.m_picture.SetText(u"<node/>");  // read from the console file, not yet expanded
    EXPECT_EQ(Format(hostObject.get(), f.hostPicture), held);
    host.m_bSudo = true;
    EXPECT_EQ(Format(hostObject.get(), f.hostPicture), heldSudo);
    host.m_bstrKeyFile = u"/k";
    EXPECT_EQ(Format(hostObject.get(), f.hostPicture), (std::vector<std::uint8_t>{1, 0, 0, 0, 1, 2, 0, 0}));
    host.m_bUseAgent = true;
    EXPECT_EQ(Format(hostObject.get(), f.hostPicture), (std::vector<std::uint8_t>{1, 0, 0, 0, 1, 3, 0, 0}));
    // After a scan of this session: byte 6 says whether lshw ran as root,
    // and a scan without root says why, as a text after the eight bytes.
    host.m_scanStatus.Scanned(CScanStatus::Clock::now());
    host.m_bScannedAsRoot = true;
    EXPECT_EQ(Format(hostObject.get(), f.hostPicture), (std::vector<std::uint8_t>{1, 0, 0, 0, 1, 3, 1, 0}));
    host.m_bScannedAsRoot = false;
    host.m_bstrRootReason = u"no";
    EXPECT_EQ(Format(hostObject.get(), f.hostPicture),
              (std::vector<std::uint8_t>{1, 0, 0, 0, 1, 3, 2, 0, 'n', 0, 'o', 0, 0, 0}));

    HRESULT hr = S_OK;
    com_ptr<IDataObject> groupObject = Query(group.GetCookie());
    Format(groupObject.get(), f.hostPicture, &hr);
    EXPECT_EQ(hr, DV_E_FORMATETC);
}

TEST_F(DispatchTest, ForeignAndSpecialDataObjectsNameNoNode)
{
    CForeignDataObject foreign;
    EXPECT_EQ(GetDataClass(&foreign), nullptr);
    for (std::intptr_t special : {0, -1, -5, -10}) {
        auto* object = reinterpret_cast<IDataObject*>(special);
        EXPECT_EQ(GetDataClass(object), nullptr);
        EXPECT_EQ(data->Notify(object, MMCN_EXPAND, TRUE, 0x100), S_FALSE);
        EXPECT_EQ(component->Notify(object, MMCN_SHOW, TRUE, 0), S_FALSE);
    }
    EXPECT_EQ(data->Notify(&foreign, MMCN_EXPAND, TRUE, 0x100), S_FALSE);
    EXPECT_FALSE(Root().IsExpanded());
    EXPECT_EQ(data->CompareObjects(&foreign, Query(0).get()), S_FALSE);
}

TEST_F(DispatchTest, NotificationsReachTheNodes)
{
    com_ptr<IDataObject> root = Query(0);
    const HSCOPEITEM item = console->AddStaticItem(0);
    EXPECT_EQ(data->Notify(root.get(), MMCN_EXPAND, TRUE, item), S_OK);
    EXPECT_TRUE(Root().IsExpanded());
    EXPECT_EQ(Root().GetScopeItem(), item);
    EXPECT_EQ(data->Notify(root.get(), MMCN_DELETE, 0, 0), S_FALSE);

    // Add a group through the scope pane's context menu.
    ASSERT_TRUE(menu);
    long allowed = CCM_INSERTIONALLOWED_TOP;
    EXPECT_EQ(menu->AddMenuItems(root.get(), console.get(), &allowed), S_OK);
    EXPECT_EQ(console->MenuItems().size(), 7u);
    ui.AnswerDialog({IDOK, {{IDC_GROUP_NAME, u"Lab"}}, {}});
    EXPECT_EQ(menu->Command(0, root.get()), S_OK);
    ASSERT_EQ(Root().GetChildren().size(), 1u);
    CConsoleNode& group = *Root().GetChildren()[0];

    // Display information comes from the node named by the item.
    SCOPEDATAITEM scope{};
    scope.mask = SDI_STR | SDI_IMAGE;
    scope.lParam = reinterpret_cast<LPARAM>(&group);
    ASSERT_EQ(data->GetDisplayInfo(&scope), S_OK);
    EXPECT_EQ(std::u16string(scope.displayname), u"Lab");
    EXPECT_EQ(scope.nImage, 0);
    CoTaskMemFree(scope.displayname);

    // Rename and selection go to the group.
    com_ptr<IDataObject> groupObject = Query(group.GetCookie());
    std::u16string name = u"Renamed";
    EXPECT_EQ(data->Notify(groupObject.get(), MMCN_RENAME, 0, reinterpret_cast<LPARAM>(name.data())), S_OK);
    EXPECT_EQ(group.GetDisplayText(0), u"Renamed");
    EXPECT_EQ(component->Notify(groupObject.get(), MMCN_SELECT, 0x00010001, 0), S_OK);
    EXPECT_TRUE(console->VerbState(MMC_VERB_RENAME, ENABLED));
    EXPECT_EQ(data->CompareObjects(groupObject.get(), Query(group.GetCookie()).get()), S_OK);
    EXPECT_EQ(data->CompareObjects(groupObject.get(), root.get()), S_FALSE);

    // Images and show.
    com_ptr<IImageList> images;
    console->QueryResultImageList(images.put());
    EXPECT_EQ(component->Notify(root.get(), MMCN_ADD_IMAGES, reinterpret_cast<LPARAM>(images.get()), 0), S_OK);
    EXPECT_EQ(console->ImageStrips().back().list, CFakeConsole::ImageListKind::Result);
    EXPECT_EQ(console->ImageStrips().back().mask, RGB(0, 128, 128));
    EXPECT_EQ(component->Notify(root.get(), MMCN_SHOW, TRUE, item), S_FALSE);

    // The result pane's view of the static node and of a group.
    LPOLESTR view = nullptr;
    long options = -1;
    ASSERT_EQ(component->GetResultViewType(0, &view, &options), S_OK);
    EXPECT_TRUE(std::u16string(view).ends_with(u"/mycomputers.html"));
    EXPECT_EQ(options, 0);
    CoTaskMemFree(view);
    // A group lists its hosts in the default list view.
    EXPECT_EQ(component->GetResultViewType(group.GetCookie(), &view, &options), S_OK);
    EXPECT_EQ(view, nullptr);
}

TEST_F(DispatchTest, ComponentSideMenusAndTaskPadAnswerNothing)
{
    com_ptr<IDataObject> root = Query(0);
    com_ptr<IExtendContextMenu> viewMenu = component.query<IExtendContextMenu>();
    long allowed = CCM_INSERTIONALLOWED_TOP;
    EXPECT_EQ(viewMenu->AddMenuItems(root.get(), console.get(), &allowed), S_OK);
    EXPECT_TRUE(console->MenuItems().empty());
    com_ptr<IExtendTaskPad> pad = component.query<IExtendTaskPad>();
    ASSERT_TRUE(pad);
    IEnumTASK* tasks = reinterpret_cast<IEnumTASK*>(1);
    EXPECT_EQ(pad->EnumTasks(root.get(), nullptr, &tasks), S_FALSE);
    EXPECT_EQ(tasks, nullptr);
    EXPECT_EQ(component.query<IPersistStream>().get(), nullptr);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(component->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(component->QueryInterface(IID_IComponent, nullptr), E_FAIL);
}

}  // namespace
