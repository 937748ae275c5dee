// The console's own models: the scope tree's order and deletions, and the
// result pane's columns and lines.
#include <gtest/gtest.h>

#include "console/result_pane.h"
#include "console/scope_tree.h"

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

}  // namespace
