// A host's identity in its record: it survives a save in both forms, a
// value that is no identity is dropped (the host gets a new one at the
// snap-in's next save), and an older release's reader skips the setting.
#include <gtest/gtest.h>

#include <cctype>

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/persistence.h"
#include "inventory/root_node.h"
#include "inventory/vault.h"
#include "platform/random_id.h"
#include "platform/text.h"
#include "res/resource_ids.h"
#include "tests/inventory/inventory_bytes.h"
#include "tests/support/scripted_ui.h"

namespace {

class HostIdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_bDirty = false;
        WipeString(g_bstrMainPassword);
        SetVaultTestParameters(&kCheapKdf);
    }
    void TearDown() override { SetVaultTestParameters(nullptr); }
    static constexpr SVaultKdfParams kCheapKdf{10, 8, 1};
    CScopedScriptedUi ui;
};

TEST_F(HostIdTest, TheIdentitySurvivesBothFormsAndAForgedOneIsDropped)
{
    const std::string id = NewRandomId();
    ASSERT_TRUE(IsRandomId(id));
    EXPECT_NE(NewRandomId(), id);
    for (const bool vault : {false, true}) {
        SCOPED_TRACE(vault ? "vault" : "plain");
        CRootNode root;
        if (vault) {
            root.m_bSavePasswords = true;
            g_bstrMainPassword = u"main";
        }
        CGroupNode& group = AddGroup(root, u"G");
        AddHost(group, u"a", 22, u"root", u"pw").m_strId = id;
        AddHost(group, u"b", 22, u"root", u"pw");
        const Bytes bytes = Save(root);
        if (vault) ui.AnswerDialog({IDOK, {{IDC_MAIN_PASSWORD, u"main"}}, {}});
        CRootNode back;
        ASSERT_EQ(Load(back, bytes), S_OK);
        EXPECT_EQ(HostAt(back, 0, 0).m_strId, id);
        EXPECT_EQ(HostAt(back, 0, 1).m_strId, "") << "none is made up by the record itself";
    }
    // An identity in the wrong form (upper case) is left out.
    CRootNode root;
    std::string upper = id;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    AddHost(AddGroup(root, u"G"), u"a").m_strId = upper;
    CRootNode back;
    ASSERT_EQ(Load(back, Save(root)), S_OK);
    EXPECT_EQ(HostAt(back, 0, 0).m_strId, "");
}

}  // namespace
