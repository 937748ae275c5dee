// libcrypto initialised without its process-exit handler: the module that
// holds it may be unloaded before the process exits.
#include "platform/module_runtime.h"

#include <openssl/crypto.h>

void PrepareModuleRuntime()
{
    // The first initialisation chooses; a later one with other options does
    // not add the handler back.
    static const bool prepared = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
    (void)prepared;
}
