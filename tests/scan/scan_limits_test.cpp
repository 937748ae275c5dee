// The scan's limits: what the settings may change, what they may not, and
// that a value given for the process stands above the stored one without
// being stored.
#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/settings.h"
#include "scan/engine_deployment.h"
#include "scan/scan_limits.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ScanLimits, DefaultsSettingsAndTheirBounds)
{
    TempRegistry registry;
    SScanLimits limits = ReadScanLimits();
    EXPECT_EQ(limits.connectSeconds, 30);
    EXPECT_EQ(limits.loginSeconds, 60);
    EXPECT_EQ(limits.commandSeconds, 600);
    EXPECT_EQ(limits.maxOutputMiB, 16u);

    RegWriteDword(HKEY_CURRENT_USER, kProductKey, kConnectTimeoutSetting, 5);
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, kLoginTimeoutSetting, 7);
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, kCommandTimeoutSetting, 86400);
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, kMaxOutputSetting, 64);
    limits = ReadScanLimits();
    EXPECT_EQ(limits.connectSeconds, 5);
    EXPECT_EQ(limits.loginSeconds, 7);
    EXPECT_EQ(limits.commandSeconds, 86400);
    EXPECT_EQ(limits.maxOutputMiB, 64u);

    // No limit turned off, none beyond its maximum, none wrapped negative.
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, kConnectTimeoutSetting, 0);
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, kLoginTimeoutSetting, 0xFFFFFFFFu);
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, kCommandTimeoutSetting, 86401);
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, kMaxOutputSetting, 65);
    limits = ReadScanLimits();
    EXPECT_EQ(limits.connectSeconds, 30);
    EXPECT_EQ(limits.loginSeconds, 60);
    EXPECT_EQ(limits.commandSeconds, 600);
    EXPECT_EQ(limits.maxOutputMiB, 16u);
}

TEST(ScanLimits, AProcessValueStandsAboveTheStoredOneAndIsNeverStored)
{
    TempRegistry registry;
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, kCommandTimeoutSetting, 120);
    OverrideSettingDword(kProductKey, kCommandTimeoutSetting, 3);
    EXPECT_EQ(ReadScanLimits().commandSeconds, 3);
    DWORD stored = 0;
    ASSERT_TRUE(RegReadDword(HKEY_CURRENT_USER, kProductKey, kCommandTimeoutSetting, stored));
    EXPECT_EQ(stored, 120u);
    EXPECT_EQ(registry.hiveText("HKEY_CURRENT_USER").find("dword:00000003"), std::string::npos);
    ForgetSettingOverride(kProductKey, kCommandTimeoutSetting);
    EXPECT_EQ(ReadScanLimits().commandSeconds, 120);
}

}  // namespace
