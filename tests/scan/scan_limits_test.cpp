// The scan's limits: what the settings may change, what they may not, and
// that a value given for the process stands above the stored one.
#include <gtest/gtest.h>

#include <vector>

#include "platform/product_settings.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "scan/engine_deployment.h"
#include "scan/scan_limits.h"
#include "tests/support/temp_dir.h"

namespace {

// Each limit reads its own setting, and a stored value outside the
// setting's bounds (none turned off, none wrapped negative) gives way to the
// default.
TEST(ScanLimits, EachLimitReadsItsOwnSettingWithinItsBounds)
{
    TempRegistry registry;
    const auto fields = [](const SScanLimits& l) {
        return std::vector<long long>{l.connectSeconds, l.loginSeconds, l.commandSeconds,
                                      static_cast<long long>(l.maxOutputMiB)};
    };
    const std::vector<long long> defaults = fields(ReadScanLimits());
    const char16_t* const names[] = {kConnectTimeoutSetting, kLoginTimeoutSetting, kCommandTimeoutSetting,
                                     kMaxOutputSetting};
    for (std::size_t i = 0; i < 4; ++i) {
        const SProductSetting* setting = FindProductSetting(WideToAnsi(names[i]));
        ASSERT_NE(setting, nullptr);
        for (const DWORD stored : {setting->minimum, setting->maximum, setting->minimum - 1, setting->maximum + 1,
                                   DWORD{0xFFFFFFFFu}}) {
            RegWriteDword(HKEY_CURRENT_USER, kProductKey, names[i], stored);
            std::vector<long long> expected = defaults;
            if (stored >= setting->minimum && stored <= setting->maximum) expected[i] = stored;
            EXPECT_EQ(fields(ReadScanLimits()), expected) << ProductSettingName(*setting) << " stored " << stored;
        }
        RegWriteDword(HKEY_CURRENT_USER, kProductKey, names[i], setting->defaultValue);
    }
}

// That the value is never stored is the settings' own test's.
TEST(ScanLimits, AProcessValueStandsAboveTheStoredOne)
{
    TempRegistry registry;
    RegWriteDword(HKEY_CURRENT_USER, kProductKey, kCommandTimeoutSetting, 120);
    OverrideSettingDword(kProductKey, kCommandTimeoutSetting, 3);
    EXPECT_EQ(ReadScanLimits().commandSeconds, 3);
    ForgetSettingOverride(kProductKey, kCommandTimeoutSetting);
    EXPECT_EQ(ReadScanLimits().commandSeconds, 120);
}

}  // namespace
