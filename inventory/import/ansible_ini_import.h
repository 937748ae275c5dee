// Hosts from an Ansible inventory in its INI form: "[group]" sections of
// host lines ("name key=value ..."; ranges; "name:port"),
// "[group:vars]" sections of "key=value" lines and "[group:children]"
// sections of group names. Host lines before the first section are
// ungrouped.
#pragma once

#include <string>
#include <string_view>

#include "inventory/import/ansible_inventory.h"
#include "inventory/import/host_record.h"

namespace hostimport {

void ReadAnsibleIni(std::string_view text, const std::string& file, SImportResult& result,
                    const VarsFileLoader& loadVars = {});

}  // namespace hostimport
