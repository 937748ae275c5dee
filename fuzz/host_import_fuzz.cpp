// The readers of host lists an import takes from the user's files: the ssh
// client config, the Ansible inventory (INI and YAML) and CSV. The first
// byte chooses the reader, the rest is the file. Every record that comes
// back must hold what the inventory can use.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "inventory/import/ansible_ini_import.h"
#include "inventory/import/ansible_yaml_import.h"
#include "inventory/import/csv_import.h"
#include "inventory/import/host_file_import.h"
#include "inventory/import/ssh_config_import.h"

using namespace hostimport;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    SImportResult result;
    switch (data[0] % 5) {
    case 0: {
        // An Include reads the same text again, so nesting meets its bound.
        SSshConfigContext context{"/home/u", "u", [&text](const std::string& pattern, std::vector<SIncludedFile>& files, std::string&) {
                                      files.push_back({pattern, text});
                                      return true;
                                  }};
        ReadSshConfig(text, "config", context, result);
        break;
    }
    case 1:
    case 2: {
        // The inventory's variable files are the same text again.
        const VarsFileLoader loadVars = [&text](const std::string& folder, const std::string& name,
                                                std::vector<SIncludedFile>& files, std::string&) {
            if (name == "all" || name.size() % 3 == 0) files.push_back({folder + "/" + name, text});
            return true;
        };
        if (data[0] % 5 == 1)
            ReadAnsibleIni(text, "hosts.ini", result, loadVars);
        else
            ReadAnsibleYaml(text, "hosts.yml", result, loadVars);
        break;
    }
    case 3: ReadHostCsv(text, "hosts.csv", result); break;
    default: ReadHostList(text, "hosts", GuessImportFormat(text), SSshConfigContext{}, result); break;
    }
    if (result.hosts.size() > kMaxHosts) std::abort();
    if (!result.error.empty() && data[0] % 5 != 2 && data[0] % 5 != 3 && data[0] % 5 != 4) std::abort();
    for (const SImportedHost& host : result.hosts) {
        if (host.address.empty() || host.port < 1 || host.port > 65535 || host.line < 1) std::abort();
        for (char c : host.address + host.login)
            if (static_cast<unsigned char>(c) <= 32 || c == 127) std::abort();
    }
    return 0;
}
