// Fuzz target: the console file parser. Any input either is refused or
// parses into instances that format back to exactly the same bytes.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "console/console_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<ConsoleFileInstance> instances;
    ConsoleFileIdentity identity;
    const ConsoleFileParse parse = ParseConsoleFile(std::span(data, size), instances, &identity);
    if (parse.error != ConsoleFileError::None) {
        if (!instances.empty() || parse.reason.empty()) std::abort();
        return 0;
    }
    if (instances.size() > kMaxInstances) std::abort();
    const std::vector<std::uint8_t> again = FormatConsoleFile(instances, identity);
    if (again.size() != size || !std::equal(again.begin(), again.end(), data)) std::abort();
    return 0;
}
