#include "tests/console/image_registry.h"

#include <gtest/gtest.h>

#include "console/snapin_module.h"

CImageModuleRegistry::CImageModuleRegistry()
{
    std::string error;
    const std::unique_ptr<CSnapinModule> module =
        CSnapinModule::Load(BinaryDir() + "/snapin/libferrodex-snapin.so", error);
    EXPECT_TRUE(module) << error;
    if (module) {
        EXPECT_EQ(module->Register(), S_OK);
    }
}
