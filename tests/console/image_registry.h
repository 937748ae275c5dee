// Console images are built by the snap-in module, which a process finds
// through its registry: this points the test process's registry at a fresh
// folder and registers the build tree's module there, until destroyed.
// (A ferrodex child process gets its own registry from RunFerrodex.)
#pragma once

#include "tests/support/temp_dir.h"

class CImageModuleRegistry {
public:
    CImageModuleRegistry();

private:
    TempRegistry m_registry;
};
