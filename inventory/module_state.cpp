#include "inventory/module_state.h"

#include "platform/text.h"

bool g_bDirty = false;
std::u16string g_bstrMainPassword;

namespace {

// Wipes the main password when the module goes away.
struct MainPasswordWiper {
    ~MainPasswordWiper() { WipeString(g_bstrMainPassword); }
} g_mainPasswordWiper;

}  // namespace
