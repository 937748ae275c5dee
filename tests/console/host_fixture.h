// The base of the tests that drive the real snap-in module through the host
// core: the module registered in a registry of the test's own, a scripted
// user interface, and nodes and menu entries found by their names.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/host_core.h"
#include "console/inventory_image.h"
#include "platform/text.h"
#include "res/resource_ids.h"
#include "tests/console/image_registry.h"
#include "tests/support/scripted_ui.h"

class CHostFixture : public ::testing::Test {
protected:
    static std::u16string Lshw(const std::string& name)
    {
        const std::string xml = ReadWholeFile(SourceDir() + "/tests/data/lshw/" + name);
        EXPECT_FALSE(xml.empty()) << name;
        return AnsiToWide(xml);
    }
    static std::vector<std::u16string> Names(CConsoleHost& host, HSCOPEITEM parent)
    {
        std::vector<std::u16string> names;
        for (HSCOPEITEM child : host.Children(parent)) names.push_back(host.DisplayName(child));
        return names;
    }
    static HSCOPEITEM Child(CConsoleHost& host, HSCOPEITEM parent, std::u16string_view name)
    {
        for (HSCOPEITEM child : host.Children(parent))
            if (host.DisplayName(child) == name) return child;
        ADD_FAILURE() << "no child " << WideToAnsi(name);
        return 0;
    }
    static long Command(CConsoleHost& host, HSCOPEITEM item, std::u16string_view name)
    {
        for (const MenuItemView& entry : host.MenuItems(item))
            if (entry.name == name) return entry.commandId;
        ADD_FAILURE() << "no menu item " << WideToAnsi(name);
        return -1;
    }
    // Opens a console whose group "Lab" holds host "srv" with an lshw
    // output file as its picture; the host, not expanded yet.
    static HSCOPEITEM OpenHostWithXml(CConsoleHost& host, const std::string& xmlFile)
    {
        EXPECT_TRUE(host.OpenImage(InventoryImageWithXml(u"Lab", u"srv", Lshw(xmlFile))));
        host.Expand(host.RootItem());
        const HSCOPEITEM lab = Child(host, host.RootItem(), u"Lab");
        host.Expand(lab);
        return Child(host, lab, u"srv");
    }
    // Expands a host that asks for its login first, as a stored one does.
    void ExpandHost(CConsoleHost& host, HSCOPEITEM item)
    {
        m_ui.AnswerDialog({IDOK, {{IDC_LOGIN, u"root"}}, {}});
        ASSERT_EQ(host.Expand(item), S_OK);
    }

    CImageModuleRegistry m_registry;
    CScopedScriptedUi m_ui;
};
