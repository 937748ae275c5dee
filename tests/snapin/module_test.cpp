#include <gtest/gtest.h>

#include "inventory/module_state.h"
#include "platform/registry.h"
#include "res/resource_ids.h"
#include "snapin/guids.h"
#include "snapin/module.h"
#include "tests/snapin/snapin_session.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"

namespace {

com_ptr<IClassFactory> Factory(const CLSID& clsid)
{
    com_ptr<IClassFactory> factory;
    EXPECT_EQ(DllGetClassObject(clsid, IID_IClassFactory, factory.put_void()), S_OK);
    return factory;
}

std::u16string TakeString(LPOLESTR text)
{
    std::u16string out = text ? text : u"";
    CoTaskMemFree(text);
    return out;
}

TEST(Module, ClassObjectRulesAndLocks)
{
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(IID_IUnknown, IID_IClassFactory, nullptr), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(DllGetClassObject(CLSID_Ferrodex, IID_IClassFactory, nullptr), E_FAIL);
    EXPECT_EQ(DllGetClassObject(CLSID_Ferrodex, IID_IComponentData, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    com_ptr<IClassFactory> factory = Factory(CLSID_Ferrodex);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    com_ptr<IUnknown> outer = factory.query<IUnknown>();
    EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IComponentData, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IComponentData, nullptr), E_FAIL);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ISnapinAbout, &out), E_NOINTERFACE);
    outer = nullptr;
    factory->LockServer(TRUE);
    factory = nullptr;
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    Factory(CLSID_Ferrodex)->LockServer(FALSE);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(Module, AboutInformation)
{
    com_ptr<ISnapinAbout> about;
    ASSERT_EQ(Factory(CLSID_FerrodexAbout)->CreateInstance(nullptr, IID_ISnapinAbout, about.put_void()), S_OK);
    LPOLESTR text = nullptr;
    ASSERT_EQ(about->GetSnapinVersion(&text), S_OK);
    EXPECT_EQ(TakeString(text), u"1.1");
    ASSERT_EQ(about->GetSnapinDescription(&text), S_OK);
    EXPECT_EQ(TakeString(text), u"Scan , Get and Browse the hardware details from your Linux servers");
    ASSERT_EQ(about->GetProvider(&text), S_OK);
    EXPECT_FALSE(TakeString(text).empty());
    HBITMAP small = nullptr, open = nullptr, large = nullptr;
    COLORREF mask = 0;
    ASSERT_EQ(about->GetStaticFolderImage(&small, &open, &large, &mask), S_OK);
    EXPECT_EQ(small->width, 16);
    EXPECT_EQ(large->width, 32);
    EXPECT_NE(small, open);
    EXPECT_EQ(mask, RGB(0, 128, 128));
    HICON icon = nullptr;
    EXPECT_EQ(about->GetSnapinImage(&icon), S_OK);
    EXPECT_NE(icon, nullptr);
    about = nullptr;
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(Module, RegistrationIsRepeatableAndUnregistrationComplete)
{
    TempRegistry registry;
    ASSERT_EQ(DllRegisterServer(), S_OK);
    const std::string classes = registry.hiveText("HKEY_CLASSES_ROOT");
    const std::string machine = registry.hiveText("HKEY_LOCAL_MACHINE");
    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(registry.hiveText("HKEY_CLASSES_ROOT"), classes);
    EXPECT_EQ(registry.hiveText("HKEY_LOCAL_MACHINE"), machine);

    EXPECT_NE(classes.find("[HKEY_CLASSES_ROOT\\CLSID\\{D89C902C-BBEF-4E6D-BD92-E71764806F79}]\n@=\"Ferrodex\""),
              std::string::npos);
    EXPECT_NE(classes.find("\"ThreadingModel\"=\"Apartment\""), std::string::npos);
    EXPECT_NE(classes.find("{3C233F7B-D357-4DB7-9572-0F990C3D420D}\\InprocServer32]"), std::string::npos);
    EXPECT_NE(machine.find("\\SnapIns\\{D89C902C-BBEF-4E6D-BD92-E71764806F79}\\StandAlone]"), std::string::npos);
    EXPECT_NE(machine.find("\"About\"=\"{3C233F7B-D357-4DB7-9572-0F990C3D420D}\""), std::string::npos);
    std::u16string path;
    ASSERT_TRUE(RegReadString(HKEY_CLASSES_ROOT, u"CLSID\\{D89C902C-BBEF-4E6D-BD92-E71764806F79}\\InprocServer32", u"",
                              path));
    EXPECT_EQ(path.front(), u'/');

    ASSERT_EQ(DllUnregisterServer(), S_OK);
    ASSERT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_EQ(registry.hiveText("HKEY_CLASSES_ROOT").find("D89C902C"), std::string::npos);
    EXPECT_EQ(registry.hiveText("HKEY_LOCAL_MACHINE").find("D89C902C"), std::string::npos);
    // The parents stay: other programs keep their keys there.
    EXPECT_NE(registry.hiveText("HKEY_LOCAL_MACHINE").find("\\MMC\\SnapIns]"), std::string::npos);
}

// The whole life of a snap-in instance, driven only through the exports and
// the console interfaces.
class Session : public CSnapinSession {
public:
    // Expands the node behind a cookie as the console would.
    void Expand(MMC_COOKIE cookie, HSCOPEITEM item)
    {
        EXPECT_EQ(data->Notify(Query(cookie).get(), MMCN_EXPAND, TRUE, item), S_OK);
    }
    HRESULT Command(MMC_COOKIE cookie, long id) { return menu->Command(id, Query(cookie).get()); }
    std::u16string Text(const CFakeConsole::ScopeItem& item)
    {
        SCOPEDATAITEM request{};
        request.mask = SDI_STR;
        request.lParam = item.lParam;
        data->GetDisplayInfo(&request);
        return TakeString(request.displayname);
    }
};

TEST(Module, AnInventorySurvivesSaveDestroyAndLoad)
{
    CScopedScriptedUi ui;
    std::vector<std::uint8_t> saved;
    {
        Session session;
        const HSCOPEITEM rootItem = session.console->AddStaticItem(0);
        session.Expand(0, rootItem);
        ui.AnswerDialog({IDOK, {{IDC_GROUP_NAME, u"Lab"}}, {}});
        ASSERT_EQ(session.Command(0, 0), S_OK);
        const auto groups = session.console->ScopeChildren(rootItem);
        ASSERT_EQ(groups.size(), 1u);
        session.Expand(groups[0].lParam, groups[0].handle);
        ui.AnswerDialog({IDOK, {{IDC_HOST, u"srv"}, {IDC_PORT, u"2222"}, {IDC_LOGIN, u"root"}, {IDC_PASSWORD, u"pw"}}, {}});
        ASSERT_EQ(session.Command(groups[0].lParam, 2), S_OK);
        EXPECT_EQ(session.persist->IsDirty(), S_OK);

        com_ptr<IStream> stream = CreateMemoryStream();
        ASSERT_EQ(session.persist->Save(stream.get(), TRUE), S_OK);
        EXPECT_EQ(session.persist->IsDirty(), S_FALSE);
        saved = MemoryStreamBytes(stream.get());
        CLSID id{};
        session.persist->GetClassID(&id);
        EXPECT_EQ(GuidToString(id), u"{3A92C98A-1FC8-4482-AD60-4D78790549DB}");
    }
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    {
        Session session;
        com_ptr<IStream> stream = CreateMemoryStream(saved);
        ASSERT_EQ(session.persist->Load(stream.get()), S_OK);
        EXPECT_EQ(session.persist->IsDirty(), S_FALSE);
        const HSCOPEITEM rootItem = session.console->AddStaticItem(0);
        session.Expand(0, rootItem);
        const auto groups = session.console->ScopeChildren(rootItem);
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(session.Text(groups[0]), u"Lab");
        session.Expand(groups[0].lParam, groups[0].handle);
        const auto hosts = session.console->ScopeChildren(groups[0].handle);
        ASSERT_EQ(hosts.size(), 1u);
        EXPECT_EQ(session.Text(hosts[0]), u"srv");
        EXPECT_EQ(hosts[0].nImage, 2);
    }
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    {
        // Changes left unsaved by one instance are not the next one's.
        Session dirty;
        dirty.Expand(0, dirty.console->AddStaticItem(0));
        ui.AnswerDialog({IDOK, {{IDC_GROUP_NAME, u"Left"}}, {}});
        ASSERT_EQ(dirty.Command(0, 0), S_OK);
        EXPECT_EQ(dirty.persist->IsDirty(), S_OK);
    }
    EXPECT_EQ(Session().persist->IsDirty(), S_FALSE);
    EXPECT_EQ(CFakeConsole::LiveCount(), 0);
}

}  // namespace
