// Comparing two scans of real lshw outputs, read through the snap-in as the
// views show them, after edits that matter to an administrator.
#include <gtest/gtest.h>

#include "console/scan_snapshot.h"
#include "console/snapin_module.h"
#include "history/scan_diff.h"
#include "platform/text.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace {

// `xml` with the first `from` replaced by `to`.
std::string Edit(std::string xml, const std::string& from, const std::string& to)
{
    const std::size_t at = xml.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) xml.replace(at, from.size(), to);
    return xml;
}

std::string Bank(const std::string& id, const std::string& serial, const std::string& size)
{
    return "<node id=\"" + id + "\" class=\"memory\"><description>DIMM DDR4</description><serial>" + serial +
           "</serial><size units=\"bytes\">" + size + "</size></node>";
}

// root.xml with memory banks under "memory", and extra nodes under the
// storage controller.
std::string WithParts(const std::string& banks, const std::string& storage = "")
{
    std::string xml = Edit(LshwSample("root.xml"), "<size units=\"bytes\">25769803776</size>",
                           "<size units=\"bytes\">25769803776</size>" + banks);
    if (!storage.empty())
        xml = Edit(xml, "<node id=\"virtio1\" claimed=\"true\" class=\"disk\">",
                   storage + "<node id=\"virtio1\" claimed=\"true\" class=\"disk\">");
    return xml;
}

std::string Disk(const std::string& bus, const std::string& serial)
{
    std::string node = "<node id=\"disk\" class=\"disk\"><product>QEMU HARDDISK</product>";
    if (!bus.empty()) node += "<businfo>" + bus + "</businfo>";
    return node + "<serial>" + serial + "</serial><size units=\"bytes\">107374182400</size></node>";
}

class ScanDiffTest : public ::testing::Test {
protected:
    // The module of the build tree, registered in the test's registry.
    void SetUp() override
    {
        std::string error;
        const std::unique_ptr<CSnapinModule> module =
            CSnapinModule::Load(BinaryDir() + "/snapin/libferrodex-snapin.so", error);
        ASSERT_TRUE(module) << error;
        ASSERT_EQ(module->Register(), S_OK);
    }
    std::vector<ScanChange> Diff(const std::string& before, const std::string& after)
    {
        std::vector<SnapshotNode> old;
        std::vector<SnapshotNode> now;
        std::string error;
        EXPECT_TRUE(SnapshotOfXml(AnsiToWide(before), old, error)) << error;
        EXPECT_TRUE(SnapshotOfXml(AnsiToWide(after), now, error)) << error;
        return DiffScans(old, now);
    }
    static std::string Describe(const std::vector<ScanChange>& changes)
    {
        std::string text;
        for (const ScanChange& change : changes)
            text += (change.kind == EChange::Added ? "+ " : change.kind == EChange::Removed ? "- " : "~ ") +
                    change.path + " " + change.row + ": " + change.oldValue + " -> " + change.newValue + "\n";
        return text;
    }
    TempRegistry registry;
    CScopedScriptedUi ui;
};

TEST_F(ScanDiffTest, AScanComparedWithItselfHasNoChanges)
{
    for (const char* name : {"root.xml", "user.xml", "list_wrapped.xml", "laptop.xml", "hostile.xml"}) {
        const std::string xml = LshwSample(name);
        std::vector<SnapshotNode> nodes;
        std::string error;
        ASSERT_TRUE(SnapshotOfXml(AnsiToWide(xml), nodes, error)) << name << ": " << error;
        EXPECT_GT(nodes.size(), 1u) << name;
        EXPECT_EQ(Describe(DiffScans(nodes, nodes)), "") << name;
    }
}

TEST_F(ScanDiffTest, AModuleRemovedAndASizeChangedAreReportedInTheViewsUnits)
{
    const std::string before = WithParts(Bank("bank:0", "S0", "17179869184") + Bank("bank:1", "S1", "8589934592"));
    std::string after = WithParts(Bank("bank:0", "S0", "17179869184"));
    after = Edit(after, "<size units=\"bytes\">25769803776</size>", "<size units=\"bytes\">17179869184</size>");
    const std::vector<ScanChange> changes = Diff(before, after);
    ASSERT_EQ(changes.size(), 2u) << Describe(changes);
    EXPECT_EQ(changes[0].kind, EChange::RowChanged);
    EXPECT_EQ(changes[0].path, "core/memory");
    EXPECT_EQ(changes[0].row, "size");
    EXPECT_EQ(changes[0].oldValue, "24 Gb");
    EXPECT_EQ(changes[0].newValue, "16 Gb");
    EXPECT_EQ(changes[1].kind, EChange::Removed);
    EXPECT_EQ(changes[1].path, "core/memory/bank:1");

    // The other way round, the module is added.
    const std::vector<ScanChange> back = Diff(after, before);
    ASSERT_EQ(back.size(), 2u) << Describe(back);
    EXPECT_EQ(back[1].kind, EChange::Added);
    EXPECT_EQ(back[1].path, "core/memory/bank:1");
}

TEST_F(ScanDiffTest, RepeatedIdsAreToldApartByBusInfoThenSerial)
{
    // Same bus place, new serial: the disk was swapped there.
    const std::vector<ScanChange> swapped =
        Diff(WithParts("", Disk("scsi@0:0.0.0", "OLD1") + Disk("scsi@0:0.1.0", "KEEP")),
             WithParts("", Disk("scsi@0:0.0.0", "NEW9") + Disk("scsi@0:0.1.0", "KEEP")));
    ASSERT_EQ(swapped.size(), 1u) << Describe(swapped);
    EXPECT_EQ(swapped[0].path, "core/pci/storage/disk[scsi@0:0.0.0]");
    EXPECT_EQ(swapped[0].row, "serial");
    EXPECT_EQ(swapped[0].oldValue, "OLD1");
    EXPECT_EQ(swapped[0].newValue, "NEW9");

    // No bus info: the serial names the node, so the order of the siblings
    // does not matter and a new serial is one disk gone, one come.
    const std::vector<ScanChange> reordered = Diff(WithParts("", Disk("", "A1") + Disk("", "B2")),
                                                   WithParts("", Disk("", "B2") + Disk("", "A1")));
    EXPECT_EQ(Describe(reordered), "");
    const std::vector<ScanChange> replaced = Diff(WithParts("", Disk("", "A1") + Disk("", "B2")),
                                                  WithParts("", Disk("", "C3") + Disk("", "B2")));
    ASSERT_EQ(replaced.size(), 2u) << Describe(replaced);
    EXPECT_EQ(replaced[0].kind, EChange::Removed);
    EXPECT_EQ(replaced[0].path, "core/pci/storage/disk[A1]");
    EXPECT_EQ(replaced[1].kind, EChange::Added);
    EXPECT_EQ(replaced[1].path, "core/pci/storage/disk[C3]");

    // Neither: the order pairs them.
    const std::vector<ScanChange> plain = Diff(WithParts(Bank("bank", "", "1024") + Bank("bank", "", "2048")),
                                               WithParts(Bank("bank", "", "1024") + Bank("bank", "", "4096")));
    ASSERT_EQ(plain.size(), 1u) << Describe(plain);
    EXPECT_EQ(plain[0].path, "core/memory/bank#2");
    EXPECT_EQ(plain[0].row, "size");
}

TEST_F(ScanDiffTest, TwoRealOutputsDifferBothWaysAlike)
{
    const std::vector<ScanChange> forward = Diff(LshwSample("user.xml"), LshwSample("root.xml"));
    const std::vector<ScanChange> backward = Diff(LshwSample("root.xml"), LshwSample("user.xml"));
    ASSERT_FALSE(forward.empty());
    ASSERT_EQ(forward.size(), backward.size());
    std::size_t added = 0;
    std::size_t removedBack = 0;
    for (const ScanChange& change : forward) added += change.kind == EChange::Added;
    for (const ScanChange& change : backward) removedBack += change.kind == EChange::Removed;
    EXPECT_EQ(added, removedBack);
    for (const ScanChange& change : forward) {
        EXPECT_FALSE(change.kind == EChange::RowChanged && change.oldValue == change.newValue) << change.path;
    }
}

// Rows that share a name (two logical names of a disk) pair in order, and
// a row that went is reported with an empty new value.
TEST(ScanDiffRowsTest, RowsWithTheSameNamePairInOrder)
{
    SnapshotNode before{"disk", {{"logicalname", "/dev/vda"}, {"logicalname", "/"}, {"vendor", "QEMU"}}, {}};
    SnapshotNode after{"disk", {{"logicalname", "/dev/vda"}, {"logicalname", "/srv"}}, {}};
    const std::vector<ScanChange> changes = DiffScans({before}, {after});
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].row, "logicalname");
    EXPECT_EQ(changes[0].oldValue, "/");
    EXPECT_EQ(changes[0].newValue, "/srv");
    EXPECT_EQ(changes[1].row, "vendor");
    EXPECT_EQ(changes[1].newValue, "");
}

}  // namespace
