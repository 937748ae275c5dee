// What a scan worker and its parent hand each other: a scan request and a
// scan result. Whatever decodes must encode back to the same bytes, and
// nothing may read past the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scan/worker_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    SScanResult result;
    if (DecodeWorkerAnswer(bytes, result)) {
        const std::string encoded = EncodeWorkerAnswer(result);
        SScanResult again;
        if (encoded != bytes || !DecodeWorkerAnswer(encoded, again) || again.status != result.status ||
            again.step != result.step || again.failure != result.failure || again.notes != result.notes ||
            again.root != result.root || again.rootReason != result.rootReason ||
            again.lshwMissing != result.lshwMissing || again.enginePackageMissing != result.enginePackageMissing ||
            again.replacedHostKey != result.replacedHostKey || again.acceptedHostKey != result.acceptedHostKey ||
            again.xml != result.xml)
            std::abort();
    }
    SScanRequest request;
    if (DecodeWorkerRecord(bytes, request)) {
        const std::string encoded = EncodeWorkerRecord(request);
        SScanRequest again;
        if (encoded != bytes || !DecodeWorkerRecord(encoded, again) || again.address != request.address ||
            again.port != request.port || again.displayName != request.displayName || again.login != request.login ||
            again.password != request.password || again.jumps.size() != request.jumps.size() ||
            again.sudo != request.sudo || again.limits.commandSeconds != request.limits.commandSeconds)
            std::abort();
        for (std::size_t i = 0; i < request.jumps.size(); ++i)
            if (again.jumps[i].password != request.jumps[i].password ||
                again.jumps[i].inventory != request.jumps[i].inventory)
                std::abort();
    }
    return 0;
}
