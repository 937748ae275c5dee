// What the module does once before its objects first run.
#pragma once

#ifdef _WIN32
// The Windows module carries libcrypto inside it. Left to itself, libcrypto
// registers a process-exit handler on its first use; that handler lives in
// the module, and a console that unloads the module before it exits (every
// COM host does) would call into unmapped code. This initialises libcrypto
// without that handler. Safe to call again and from any thread.
void PrepareModuleRuntime();
#else
// The Linux module shares the system's libcrypto, whose exit handler lives
// in libcrypto itself.
inline void PrepareModuleRuntime() {}
#endif
