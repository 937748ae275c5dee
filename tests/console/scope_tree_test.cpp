// The console's side of the snap-in interfaces, shared by every console:
// the scope tree's order and deletions, the result pane's columns and
// lines, the bounds on what a snap-in hands over, the console object once
// its console is gone, and the menu collection.
#include <gtest/gtest.h>

#include "console/menu_collector.h"
#include "console/result_pane.h"
#include "console/scope_tree.h"
#include "platform/ui.h"
#include "tests/support/fake_console.h"

namespace {

HSCOPEITEM Insert(CScopeTree& tree, HSCOPEITEM relative, DWORD where = SDI_PARENT, LPARAM param = 0)
{
    SCOPEDATAITEM item{};
    item.mask = SDI_STR | SDI_PARAM | SDI_IMAGE | where;
    item.displayname = MMC_CALLBACK;
    item.lParam = param;
    item.nImage = 4;
    item.relativeID = relative;
    EXPECT_EQ(tree.Insert(item), S_OK);
    return item.ID;
}

TEST(ScopeTree, SiblingPositionsAndDeletionOrder)
{
    CScopeTree tree;
    const HSCOPEITEM root = tree.AddStatic(0);
    const HSCOPEITEM a = Insert(tree, root);
    const HSCOPEITEM c = Insert(tree, root);
    const HSCOPEITEM b = Insert(tree, a, SDI_PREVIOUS);  // after a
    const HSCOPEITEM first = Insert(tree, root, SDI_FIRST);
    const HSCOPEITEM beforeC = Insert(tree, c, SDI_NEXT);  // before c
    EXPECT_EQ(tree.Find(root)->children, (std::vector<HSCOPEITEM>{first, a, b, beforeC, c}));
    EXPECT_EQ(tree.NextSibling(b), beforeC);
    EXPECT_EQ(tree.NextSibling(c), 0);
    EXPECT_EQ(tree.Find(b)->nOpenImage, 4);  // no open image given: the image

    SCOPEDATAITEM bad{};
    bad.mask = SDI_PARENT;
    bad.relativeID = 0xDEAD;
    EXPECT_EQ(tree.Insert(bad), E_INVALIDARG);
    bad.mask = SDI_PREVIOUS;
    bad.relativeID = root;  // a static node has no siblings to be placed by
    EXPECT_EQ(tree.Insert(bad), E_INVALIDARG);

    const HSCOPEITEM a1 = Insert(tree, a);
    const HSCOPEITEM a2 = Insert(tree, a1);
    // Children only: the item stays, its subtree goes, deepest first.
    EXPECT_EQ(tree.Delete(a, false), (std::vector<HSCOPEITEM>{a2, a1}));
    EXPECT_NE(tree.Find(a), nullptr);
    EXPECT_TRUE(tree.Find(a)->children.empty());
    EXPECT_EQ(tree.Delete(b, true), std::vector<HSCOPEITEM>{b});
    EXPECT_EQ(tree.Find(root)->children, (std::vector<HSCOPEITEM>{first, a, beforeC, c}));
    EXPECT_TRUE(tree.Delete(b, true).empty());  // gone already
    const std::size_t before = tree.Count();
    EXPECT_EQ(tree.Delete(root, true).size(), before);
    EXPECT_EQ(tree.Count(), 0u);
    EXPECT_TRUE(tree.Statics().empty());
}

TEST(ResultPane, ColumnsReplaceByIndexAndLinesKeepTheirIds)
{
    CResultPane pane;
    EXPECT_EQ(pane.InsertColumn(1, u"Value", LVCFMT_LEFT, 150), S_OK);
    EXPECT_EQ(pane.InsertColumn(0, u"Name", LVCFMT_LEFT, 150), S_OK);
    EXPECT_EQ(pane.InsertColumn(0, u"Name again", LVCFMT_LEFT, 100), S_OK);
    EXPECT_EQ(pane.InsertColumn(-1, u"x", LVCFMT_LEFT, 1), E_INVALIDARG);
    ASSERT_EQ(pane.Columns().size(), 2u);
    EXPECT_EQ(pane.Columns()[0].title, u"Name again");
    EXPECT_EQ(pane.Columns()[1].title, u"Value");
    // A gap in the header: each column keeps the index the snap-in asks
    // its cells by.
    EXPECT_EQ(pane.InsertColumn(5, u"Far", LVCFMT_LEFT, 10), S_OK);
    EXPECT_EQ(pane.Columns().back().index, 5);

    RESULTDATAITEM first{};
    first.mask = RDI_STR | RDI_PARAM;
    first.str = MMC_CALLBACK;
    first.lParam = 11;
    ASSERT_EQ(pane.InsertItem(first), S_OK);
    RESULTDATAITEM inFront = first;
    inFront.mask |= RDI_INDEX;
    inFront.nIndex = 0;
    inFront.lParam = 22;
    ASSERT_EQ(pane.InsertItem(inFront), S_OK);
    ASSERT_EQ(pane.Items().size(), 2u);
    EXPECT_EQ(pane.Items()[0].lParam, 22);
    HRESULTITEM found = 0;
    EXPECT_EQ(pane.FindByParam(11, found), S_OK);
    EXPECT_EQ(found, first.itemID);
    EXPECT_EQ(pane.DeleteItem(first.itemID), S_OK);
    EXPECT_EQ(pane.DeleteItem(first.itemID), E_INVALIDARG);
    EXPECT_EQ(pane.FindByParam(11, found), S_FALSE);
    pane.Reset();
    EXPECT_TRUE(pane.Columns().empty());
    EXPECT_TRUE(pane.Items().empty());
}

TEST(ConsoleSide, TextFromTheSnapinIsBoundedAndTheCallbackMarkerIsNoText)
{
    const std::u16string huge(kMaxSnapinText + 900, u'x');
    CScopeTree tree;
    const HSCOPEITEM root = tree.AddStatic(0);
    SCOPEDATAITEM item{};
    item.mask = SDI_STR;
    item.displayname = const_cast<LPOLESTR>(OleText(huge));
    item.relativeID = root;
    ASSERT_EQ(tree.Insert(item), S_OK);
    EXPECT_FALSE(tree.Find(item.ID)->textByCallback);
    EXPECT_EQ(tree.Find(item.ID)->text, huge.substr(0, kMaxSnapinText));
    item.displayname = MMC_CALLBACK;
    ASSERT_EQ(tree.SetItem(item), S_OK);
    EXPECT_TRUE(tree.Find(item.ID)->textByCallback);
    EXPECT_TRUE(tree.Find(item.ID)->text.empty());

    CResultPane pane;
    ASSERT_EQ(pane.InsertColumn(0, OleText(huge), LVCFMT_LEFT, 10), S_OK);
    EXPECT_EQ(pane.Column(0)->title.size(), kMaxSnapinText);
    ASSERT_EQ(pane.InsertColumn(1, nullptr, LVCFMT_LEFT, 10), S_OK);
    EXPECT_TRUE(pane.Column(1)->title.empty());
}

TEST(ConsoleSide, AConsoleGoneAnswersUnexpectedAndHandsOutNothing)
{
    auto console = CFakeConsole::Create();
    console->Detach();
    SCOPEDATAITEM scope{};
    scope.mask = SDI_PARAM;
    scope.relativeID = console->RootItem();
    EXPECT_EQ(console->InsertItem(&scope), E_UNEXPECTED);
    EXPECT_EQ(console->ScopeItemCount(), 0u);
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(console->GetMainWindow(&window), E_UNEXPECTED);
    EXPECT_EQ(window, nullptr);
    IConsoleVerb* verb = reinterpret_cast<IConsoleVerb*>(1);
    EXPECT_EQ(console->QueryConsoleVerb(&verb), E_UNEXPECTED);
    EXPECT_EQ(verb, nullptr);
    int answer = -1;
    EXPECT_EQ(console->MessageBox(u"text", u"title", MB_OK, &answer), E_UNEXPECTED);
    EXPECT_TRUE(console->Messages().empty());
    EXPECT_EQ(console->InsertColumn(0, u"Name", LVCFMT_LEFT, 10), E_UNEXPECTED);
    EXPECT_TRUE(console->Columns().empty());
    EXPECT_EQ(console->RefCount(), 1u);
}

TEST(ConsoleSide, MenuItemsKeepTheirFlagsAndAMenuNobodyCanUseIsRefused)
{
    com_ptr<CMenuCollector> menu = MakeComObject<CMenuCollector>();
    std::u16string name = u"Refresh";
    std::u16string status = u"Scan again";
    CONTEXTMENUITEM item{};
    item.strName = OleBuffer(name);
    item.strStatusBarText = OleBuffer(status);
    item.lCommandID = 5;
    item.fFlags = MF_CHECKED | MF_GRAYED;
    ASSERT_EQ(menu->AddItem(&item), S_OK);
    item.fFlags = 0;
    item.fSpecialFlags = CCM_SPECIAL_SEPARATOR;  // a separator's text is no entry's
    ASSERT_EQ(menu->AddItem(&item), S_OK);
    ASSERT_EQ(menu->Items().size(), 2u);
    const MenuItemView& first = menu->Items()[0];
    EXPECT_EQ(first.commandId, 5);
    EXPECT_EQ(first.name, name);
    EXPECT_EQ(first.statusText, status);
    EXPECT_TRUE(first.checked && first.grayed && !first.separator);
    EXPECT_TRUE(menu->Items()[1].separator);
    EXPECT_TRUE(menu->Items()[1].name.empty());

    item.fSpecialFlags = 0;
    HRESULT hr = S_OK;
    while (hr == S_OK && menu->Items().size() < 1000) hr = menu->AddItem(&item);
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(menu->Items().size(), 256u);
}

}  // namespace
