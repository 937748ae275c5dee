// "Import Hosts..." on a group: the dialog that names the file and its
// format, then the import itself (read and parse the whole file first,
// apply only when it could be read) and its report.
#pragma once

#include <string>

#include "inventory/import/host_file_import.h"
#include "platform/console.h"
#include "res/resource_ids.h"

class CGroupNode;

// The file (a leading "~/" is the home folder) and the format ("auto",
// "ssh-config", "ansible" or "csv"); a refused value is explained and the
// dialog shown again.
class CImportDialog {
public:
    int DoModal();

    std::u16string m_bstrFile;
    hostimport::EImportFormat m_format = hostimport::EImportFormat::Guess;
    // The report as one JSON document (for tools) instead of text.
    bool m_bJson = false;
};

// Runs the command; S_FALSE when the dialog was cancelled or nothing could
// be imported.
HRESULT RunHostImport(CGroupNode& group, IConsoleNameSpace2* nameSpace);

