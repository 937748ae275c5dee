#include "scan/scan_limits.h"

#include "platform/settings.h"
#include "scan/engine_deployment.h"

namespace {

template <typename T>
void ReadLimit(const char16_t* name, T& value, T maximum)
{
    DWORD stored = 0;
    if (!ReadSettingDword(kProductKey, name, stored)) return;
    if (stored >= 1 && stored <= static_cast<DWORD>(maximum)) value = static_cast<T>(stored);
}

}  // namespace

SScanLimits ReadScanLimits()
{
    SScanLimits limits;
    ReadLimit(kConnectTimeoutSetting, limits.connectSeconds, SScanLimits::kMaxSeconds);
    ReadLimit(kLoginTimeoutSetting, limits.loginSeconds, SScanLimits::kMaxSeconds);
    ReadLimit(kCommandTimeoutSetting, limits.commandSeconds, SScanLimits::kMaxSeconds);
    ReadLimit(kMaxOutputSetting, limits.maxOutputMiB, SScanLimits::kMaxOutputMiB);
    return limits;
}
