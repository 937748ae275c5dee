// Settings a host program overrides for its own process: the override wins
// over the registry, is never written there, and goes when cleared.
#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/settings.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr char16_t kKey[] = u"Software\\Quillon\\Ferrodex";

TEST(Settings, AnOverrideWinsForTheProcessOnly)
{
    TempRegistry registry;
    DWORD value = 99;
    EXPECT_FALSE(ReadSettingDword(kKey, u"StrictHostKeys", value));
    ASSERT_EQ(RegWriteDword(HKEY_CURRENT_USER, kKey, u"StrictHostKeys", 0), ERROR_SUCCESS);
    ASSERT_TRUE(ReadSettingDword(kKey, u"StrictHostKeys", value));
    EXPECT_EQ(value, 0u);

    OverrideSettingDword(kKey, u"StrictHostKeys", 1);
    ASSERT_TRUE(ReadSettingDword(kKey, u"StrictHostKeys", value));
    EXPECT_EQ(value, 1u);
    // Another name, or the same name under another key, is not overridden.
    EXPECT_FALSE(ReadSettingDword(kKey, u"Other", value));
    EXPECT_FALSE(ReadSettingDword(u"Software\\Quillon\\Corvel", u"StrictHostKeys", value));
    DWORD stored = 7;
    ASSERT_TRUE(RegReadDword(HKEY_CURRENT_USER, kKey, u"StrictHostKeys", stored));
    EXPECT_EQ(stored, 0u);

    ClearSettingOverrides();
    ASSERT_TRUE(ReadSettingDword(kKey, u"StrictHostKeys", value));
    EXPECT_EQ(value, 0u);
}

}  // namespace
