// Arbitrary bytes as a hive file: the parse must end cleanly, keeping only
// values within the reader's bounds, and whatever it read (of a damaged file
// too) must come back unchanged and whole from its own printed form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace {

bool SameKeys(const std::vector<RegistryKeyRecord>& a, const std::vector<RegistryKeyRecord>& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].path != b[i].path || a[i].values.size() != b[i].values.size()) return false;
        for (std::size_t j = 0; j < a[i].values.size(); ++j) {
            const RegistryValue& x = a[i].values[j];
            const RegistryValue& y = b[i].values[j];
            if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<RegistryKeyRecord> keys;
    std::string error;
    const bool whole = ParseRegistryText(text, keys, &error);
    if (whole != error.empty()) std::abort();
    for (const auto& key : keys)
        for (const auto& value : key.values)
            if (value.data.size() > kRegMaxValueSize || value.name.size() > kRegMaxNameLength) std::abort();
    std::vector<RegistryKeyRecord> again;
    if (!ParseRegistryText(FormatRegistryText(keys, u"HKEY_CURRENT_USER"), again)) std::abort();
    if (!SameKeys(keys, again)) std::abort();
    return 0;
}
