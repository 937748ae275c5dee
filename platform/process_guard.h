// The process-wide guard of secrets held in memory: once switched on, the
// process cannot dump core and other users' processes cannot trace it or
// read its memory. It stays on until the process ends.
#pragma once

// Switches the guard on; cheap to call again. Call it before a main
// password, a password or a passphrase is asked for or loaded.
void HoldSecretsInProcess();

// True once the guard is on.
bool SecretsHeldInProcess();
