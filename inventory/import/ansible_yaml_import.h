// Hosts from an Ansible inventory in its YAML form: groups (usually under
// "all") with "hosts:", "vars:" and "children:" mappings.
#pragma once

#include <string>
#include <string_view>

#include "inventory/import/ansible_inventory.h"
#include "inventory/import/host_record.h"

namespace hostimport {

// A document that is no YAML this reader understands sets result.error
// and adds no host.
void ReadAnsibleYaml(std::string_view text, const std::string& file, SImportResult& result,
                     const VarsFileLoader& loadVars = {});

}  // namespace hostimport
