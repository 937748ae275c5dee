// What a scan worker and its parent hand each other: a host record and an
// answer. Whatever decodes must encode back to the same bytes, and nothing
// may read past the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "inventory/host_node.h"
#include "scan/fleet_refresh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    int code = 0;
    std::u16string failure;
    std::u16string xml;
    if (DecodeWorkerAnswer(bytes, code, failure, xml)) {
        int again = 0;
        std::u16string failureAgain;
        std::u16string xmlAgain;
        const std::string encoded = EncodeWorkerAnswer(code, failure, xml);
        if (!DecodeWorkerAnswer(encoded, again, failureAgain, xmlAgain) || again != code || failureAgain != failure ||
            xmlAgain != xml)
            std::abort();
    }
    CHostNode host(nullptr);
    if (DecodeWorkerRecord(bytes, host)) {
        CHostNode copy(nullptr);
        if (!DecodeWorkerRecord(EncodeWorkerRecord(host), copy) || copy.m_bstrHost != host.m_bstrHost ||
            copy.m_nPort != host.m_nPort || copy.m_bstrLogin != host.m_bstrLogin ||
            copy.m_bstrPassword != host.m_bstrPassword || copy.m_bSudo != host.m_bSudo)
            std::abort();
    }
    return 0;
}
