#include "scan/scan_limits.h"

#include "platform/product_settings.h"
#include "platform/text.h"
#include "scan/engine_deployment.h"

namespace {

// The setting's value in force (its bounds and default are the table's).
template <typename T>
void ReadLimit(const char16_t* name, T& value)
{
    value = static_cast<T>(ProductSettingValue(WideToAnsi(name)));
}

}  // namespace

SScanLimits ReadScanLimits()
{
    SScanLimits limits;
    ReadLimit(kConnectTimeoutSetting, limits.connectSeconds);
    ReadLimit(kLoginTimeoutSetting, limits.loginSeconds);
    ReadLimit(kCommandTimeoutSetting, limits.commandSeconds);
    ReadLimit(kMaxOutputSetting, limits.maxOutputMiB);
    return limits;
}
