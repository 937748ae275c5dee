// Each host's hardware as the console file keeps it: packed, read back to
// the same text, refused cleanly when damaged or inflated past its bounds,
// files of earlier versions written again in today's form once, and a
// fleet of real-sized servers kept beside a host whose picture is too large.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/module_state.h"
#include "inventory/persistence.h"
#include "inventory/root_node.h"
#include "inventory/stored_picture.h"
#include "inventory/vault.h"
#include "platform/text.h"
#include "scan/scan_error.h"
#include "inventory/scan_host.h"
#include "sshcore/zlib_stream.h"
#include "tests/inventory/inventory_bytes.h"
#include "tests/support/lshw_fleet.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"

namespace {

std::string ReadSource(const std::string& relative) { return ReadWholeFile(SourceDir() + "/" + relative); }

std::string Packed(std::uint32_t length, const std::string& text)
{
    std::vector<std::uint8_t> out;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    sshcore::DeflateWhole({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, out);
    return std::string(out.begin(), out.end());
}

class StoredPictureTest : public InventoryFileTest {
protected:
    static constexpr std::u16string_view kRepacked = u"This console file was written in the compact form";
};

TEST_F(StoredPictureTest, PicturesComeBackExactlyAndDamageIsRefused)
{
    // Text beyond ASCII (a surrogate pair among it) comes back unit for unit.
    const std::u16string xml = u"<node><vendor>M\u00fcller \u20ac \xD83D\xDE00</vendor>" + std::u16string(3000, u'z') +
                               u"</node>";
    std::string packed;
    ASSERT_EQ(PackPicture(xml, packed), PICTURE_OK);
    EXPECT_LT(packed.size(), 200u);
    std::u16string back;
    ASSERT_EQ(UnpackPicture(packed, back), PICTURE_OK);
    EXPECT_EQ(back, xml);
    // Whatever the text, it comes back as the platform's own conversion
    // through UTF-8 would give it: a lone surrogate, one at either end.
    const std::u16string texts[] = {u"<a>\xD800</a>\u00e9x", u"\xDC00<node/>", u"\u00fc<b/>\xD83D",
                                    u"\u20ac\u20ac" + std::u16string(70000, u'q') + u"\xDBFF\xDFFF"};
    for (const std::u16string& text : texts) {
        ASSERT_EQ(PackPicture(text, packed), PICTURE_OK);
        ASSERT_EQ(UnpackPicture(packed, back), PICTURE_OK);
        EXPECT_EQ(back, AnsiToWide(WideToAnsi(text))) << WideToAnsi(text).substr(0, 20);
    }
    ASSERT_EQ(PackPicture(u"", packed), PICTURE_OK);
    EXPECT_TRUE(packed.empty());

    ASSERT_EQ(PackPicture(xml, packed), PICTURE_OK);
    std::string flipped = packed;
    flipped[flipped.size() / 2] ^= 0x20;
    std::string shortLength = packed;
    shortLength[0] = static_cast<char>(shortLength[0] - 1);
    std::string longLength = packed;
    longLength[0] = static_cast<char>(longLength[0] + 1);
    const std::string cases[] = {
        packed.substr(0, packed.size() - 1),  // cut inside the checksum
        packed.substr(0, 3),                  // cut inside the length
        packed + "x",                         // a byte after the stream's end
        flipped,                              // altered (the checksum tells)
        shortLength,                          // more text than its length says
        longLength,                           // less text than its length says
        Packed(0, ""),                        // an empty text never packs to bytes
    };
    for (const std::string& damaged : cases) {
        back = u"left over";
        EXPECT_EQ(UnpackPicture(damaged, back), PICTURE_DAMAGED) << damaged.size();
        EXPECT_TRUE(back.empty());
    }
}

TEST_F(StoredPictureTest, ABombStopsAtItsBoundAndFailsTheLoadCleanly)
{
    // 32 MiB of one letter pack to about 32 KB; the length says 1 KB.
    const std::string bomb = Packed(1024, std::string(32u << 20, 'A'));
    ASSERT_LT(bomb.size(), 64u * 1024);
    std::u16string xml;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(UnpackPicture(bomb, xml), PICTURE_DAMAGED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "stopped at its bound";
    EXPECT_TRUE(xml.empty());
    // A length above what any scan may fetch is refused before inflating.
    EXPECT_EQ(UnpackPicture(Packed(static_cast<std::uint32_t>(kMaxPictureBytes + 1), "x"), xml), PICTURE_TOO_LARGE);

    // In a stream: the hosts before it stay, the load says the file is damaged.
    CRootNode root;
    CGroupNode& lab = AddGroup(root, u"Lab");
    AddHost(lab, u"good", 22, u"", u"", u"<node/>");
    AddHost(lab, u"bomb", 22, u"", u"", u"<node/>");
    Bytes bytes = Save(root);
    const std::string packedGood = Packed(7, "<node/>");
    const Bytes good(packedGood.begin(), packedGood.end());
    const auto at = std::search(bytes.rbegin(), bytes.rend(), good.rbegin(), good.rend()).base() - good.size();
    ASSERT_GT(at - bytes.begin(), 4);
    bytes.erase(at - 4, bytes.end());
    const std::uint32_t size = static_cast<std::uint32_t>(bomb.size());
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
    bytes.insert(bytes.end(), bomb.begin(), bomb.end());
    CRootNode back;
    EXPECT_EQ(Load(back, bytes), HRESULT_INVALID_DATA);
    ASSERT_EQ(back.GetChildren().size(), 1u);
    ASSERT_EQ(back.GetChildren()[0]->GetChildren().size(), 1u);
    EXPECT_EQ(HostAt(back, 0, 0).m_picture.Text(), u"<node/>");
}

TEST_F(StoredPictureTest, OlderVersionsOpenTheSameAndAreWrittenInTodaysFormOnce)
{
    const std::string v1 = ReadSource("tests/data/console/version1_plain.stream");
    ASSERT_FALSE(v1.empty());
    CRootNode root;
    ASSERT_EQ(Load(root, Bytes(v1.begin(), v1.end())), S_OK);
    ASSERT_EQ(root.GetChildren().size(), 2u);
    EXPECT_EQ(root.GetChildren()[1]->GetDisplayText(0), u"Empty");
    const std::u16string xml = HostAt(root, 0, 0).m_picture.Text();
    ASSERT_NE(xml.find(u"Rack server"), std::u16string::npos);
    EXPECT_EQ(HostAt(root, 0, 0).m_bstrHost, u"srv1");
    EXPECT_FALSE(HostAt(root, 0, 0).m_bSudo);
    EXPECT_EQ(HostAt(root, 0, 1).m_nPort, 2222);
    EXPECT_TRUE(HostAt(root, 0, 1).m_bSudo);
    EXPECT_TRUE(root.m_bOlderForm);
    EXPECT_EQ(Told(kRepacked), 0) << "opening says nothing";
    const Bytes saved = Save(root);
    EXPECT_EQ(saved[4], 0x34);
    EXPECT_LT(saved.size(), v1.size()) << "each XML packed";
    EXPECT_EQ(Told(kRepacked), 1);
    EXPECT_EQ(Save(root), saved) << "the packing kept is the packing made";
    EXPECT_EQ(Told(kRepacked), 1) << "said once";
    CRootNode back;
    ASSERT_EQ(Load(back, saved), S_OK);
    EXPECT_FALSE(back.m_bOlderForm);
    EXPECT_EQ(HostAt(back, 0, 0).m_picture.Text(), xml);
    EXPECT_EQ(HostAt(back, 0, 1).m_picture.Text(), HostAt(root, 0, 1).m_picture.Text());
    EXPECT_TRUE(HostAt(back, 0, 1).m_bSudo);
    EXPECT_EQ(HostAt(back, 0, 1).m_nPort, 2222);
    Save(back);
    EXPECT_EQ(Told(kRepacked), 1) << "a file of today's version is not converted";
}

TEST_F(StoredPictureTest, AHostTooLargeToKeepIsRefusedAndTheOthersSave)
{
    const std::string templ = ReadSource("tests/data/lshw/root.xml");
    ASSERT_FALSE(templ.empty());
    const std::string caps = fleetxml::ProcessorCapabilities(templ);
    CRootNode root;
    CGroupNode& fleet = AddGroup(root, u"Fleet");
    for (unsigned i = 0; i < 40; ++i)
        AddHost(fleet, u"srv-" + IntToDecimal(i), 22, u"", u"", AnsiToWide(fleetxml::HostXml(caps, i, 16 * 1024)));
    CHostNode& flood = AddHost(fleet, u"flood", 22, u"", u"", AnsiToWide(templ));
    const Bytes before = Save(root);

    // A real lshw text with a serial that does not pack: more than a host may keep.
    fleetxml::CRandom rnd(7);
    std::string huge = templ;
    huge.insert(huge.find("<description>"), "<serial>" + rnd.Text(kMaxNewPictureBytes / 3 * 4 + (1u << 20)) + "</serial>");
    EXPECT_EQ(TakeRefreshedXml(flood, nullptr, SCAN_OK, AnsiToWide(huge), {}), SCAN_FAILED);
    EXPECT_NE(flood.m_bstrLastResult.find(u"too large for the console file"), std::u16string::npos)
        << WideToAnsi(flood.m_bstrLastResult);
    EXPECT_EQ(flood.m_picture.Text(), AnsiToWide(templ)) << "the previous picture stays";

    // Another host's new scan is taken, and the save holds it.
    const std::u16string fresh = AnsiToWide(fleetxml::HostXml(caps, 1000, 16 * 1024));
    CHostNode& other = HostAt(root, 0, 3);
    EXPECT_EQ(TakeRefreshedXml(other, nullptr, SCAN_OK, fresh, {}), SCAN_OK);
    EXPECT_TRUE(other.m_bstrLastResult.empty());
    const Bytes after = Save(root);
    EXPECT_NE(after, before);
    EXPECT_LT(after.size(), before.size() + 64 * 1024);
    CRootNode back;
    ASSERT_EQ(Load(back, after), S_OK);
    EXPECT_EQ(HostAt(back, 0, 3).m_picture.Text(), fresh);
    EXPECT_EQ(HostAt(back, 0, 40).m_picture.Text(), AnsiToWide(templ));
}

TEST_F(StoredPictureTest, RealSizedServersPackSmallEnoughForFiveThousandAndReload)
{
    // 100 hosts of 161 KB each, every one different: a 5,000-host fleet
    // saves in 50 times this stream, which must stay well below the
    // console's 512 MiB for one stream.
    const std::string caps = fleetxml::ProcessorCapabilities(ReadSource("tests/data/lshw/root.xml"));
    for (bool vault : {false, true}) {
        SCOPED_TRACE(vault ? "vault" : "plain");
        CRootNode root;
        root.m_bSavePasswords = vault;
        g_bstrMainPassword = u"main";
        std::vector<std::u16string> texts;
        std::size_t textBytes = 0;
        for (unsigned g = 0; g < 2; ++g) {
            CGroupNode& group = AddGroup(root, u"rack " + IntToDecimal(g));
            for (unsigned h = 0; h < 50; ++h) {
                const std::string xml = fleetxml::HostXml(caps, g * 50 + h, 161 * 1024);
                textBytes += xml.size();
                texts.push_back(AnsiToWide(xml));
                AddHost(group, u"srv-" + IntToDecimal(g * 50 + h), 22, u"", u"", texts.back());
            }
        }
        const Bytes saved = Save(root);
        EXPECT_LT(saved.size() * 50, std::size_t{200} << 20) << saved.size();
        EXPECT_LT(saved.size() * 8, textBytes) << "packs at least eightfold";
        CRootNode back;
        g_bstrMainPassword = u"main";
        ASSERT_EQ(Load(back, saved), S_OK);
        for (std::size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(HostAt(back, i / 50, i % 50).m_picture.Text(), texts[i]) << i;
    }
}

}  // namespace
