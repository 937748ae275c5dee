// Hosts from a CSV list (RFC 4180: commas, "quoted" fields with "" for a
// quote, line breaks inside quotes) whose first record names the columns:
// host (required), port, login (or user), group, identity, and optionally
// name, jump and sudo, in any order.
#pragma once

#include <string>
#include <string_view>

#include "inventory/import/host_record.h"

namespace hostimport {

void ReadHostCsv(std::string_view text, const std::string& file, SImportResult& result);

}  // namespace hostimport
