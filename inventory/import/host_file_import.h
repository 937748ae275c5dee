// Reading one host list file of any format the import understands, with
// the format named or guessed from the content. The file is read whole and
// parsed before anything is applied: a file that cannot be read gives an
// error and no host.
#pragma once

#include <string>
#include <string_view>

#include "inventory/import/ansible_inventory.h"
#include "inventory/import/host_record.h"
#include "inventory/import/ssh_config_import.h"

namespace hostimport {

enum class EImportFormat { Guess, SshConfig, Ansible, Csv };

// "ssh-config", "ansible", "csv"; "" and "auto" guess.
bool ParseImportFormat(std::string_view name, EImportFormat& format);

// The format the text looks like, or Guess when it looks like none.
EImportFormat GuessImportFormat(std::string_view text);

// Parses text (a file's content, named `file` in the notes). Guess guesses
// and sets result.error when it cannot; Ansible reads YAML or INI by the
// look of the text.
void ReadHostList(std::string_view text, const std::string& file, EImportFormat format,
                  const SSshConfigContext& context, SImportResult& result, const VarsFileLoader& loadVars = {});

// Reads the file (at most kMaxImportFile bytes) and what it includes (an
// ssh config's Include files, an inventory's group_vars and host_vars
// beside it), and parses it. Identity files written "~/..." come back under
// the home folder.
SImportResult ImportHostFile(const std::string& path, EImportFormat format);

}  // namespace hostimport
