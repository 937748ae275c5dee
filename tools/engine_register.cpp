// Signs an engine package and describes it in the registry, where the scan
// looks for it:
//   fdx-engine-register --package FILE --version VERSION --key SIGNING_KEY
//                       [--architectures "x86_64 aarch64"]
//   fdx-engine-register --installed      (exit 0 when a package is described)

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/registry.h"
#include "platform/text.h"
#include "scan/engine_deployment.h"
#include "sshcore/product_crypto.h"

namespace {

bool Sign(const std::string& keyPath, const std::string& message, std::string& signatureHex)
{
    std::vector<std::uint8_t> signature;
    if (!sshcore::SignWithPemKeyFile(keyPath, message, signature)) return false;
    signatureHex = HexLower(signature.data(), signature.size());
    return true;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: fdx-engine-register --package FILE --version VERSION --key SIGNING_KEY [--architectures LIST]\n"
                 "       fdx-engine-register --installed\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string package, version, keyPath, architectures;
    bool checkInstalled = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--installed") {
            checkInstalled = true;
        } else if (i + 1 < argc && arg == "--package") {
            package = argv[++i];
        } else if (i + 1 < argc && arg == "--version") {
            version = argv[++i];
        } else if (i + 1 < argc && arg == "--architectures") {
            architectures = argv[++i];
        } else if (i + 1 < argc && arg == "--key") {
            keyPath = argv[++i];
        } else {
            return Usage();
        }
    }
    if (checkInstalled) {
        std::u16string folder, name;
        const bool described = RegReadString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWPath", folder) &&
                               RegReadString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWName", name);
        return described && std::filesystem::exists(WideToAnsi(folder + name)) ? 0 : 1;
    }
    if (package.empty() || version.empty() || keyPath.empty()) return Usage();
    if (!IsValidEngineArchitectureList(architectures)) {
        std::fprintf(stderr, "fdx-engine-register: not a list of architectures: %s\n", architectures.c_str());
        return 2;
    }

    const std::filesystem::path path = std::filesystem::absolute(package);
    std::string digest;
    try {
        digest = FileDigestHex(path.string(), 0);
    } catch (...) {
        std::fprintf(stderr, "fdx-engine-register: cannot read %s\n", path.c_str());
        return 1;
    }
    std::string signature;
    if (!Sign(keyPath, digest, signature)) {
        std::fprintf(stderr, "fdx-engine-register: cannot sign with %s\n", keyPath.c_str());
        return 1;
    }
    const std::string folder = path.parent_path().string() + "/";
    if (RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWPath", AnsiToWide(folder)) != ERROR_SUCCESS ||
        RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWName", AnsiToWide(path.filename().string())) != ERROR_SUCCESS ||
        RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWVersion", AnsiToWide(version)) != ERROR_SUCCESS ||
        RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWCRC", AnsiToWide(signature)) != ERROR_SUCCESS ||
        RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWArch", AnsiToWide(architectures)) != ERROR_SUCCESS) {
        std::fprintf(stderr, "fdx-engine-register: cannot write the registry in %s\n", RegistryFolder().c_str());
        return 1;
    }
    std::printf("registered %s (lshw %s, prebuilt for: %s), SHA-1 %s\n", path.c_str(), version.c_str(),
                architectures.empty() ? "none" : architectures.c_str(), digest.c_str());
    return 0;
}
