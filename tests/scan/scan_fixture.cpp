#include "tests/scan/scan_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "inventory/module_state.h"
#include "inventory/node_types.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "scan/engine_deployment.h"
#include "tests/support/test_helpers.h"

void ResetDeployUser()
{
    const std::string home = std::string("/home/") + kDeployUser;
    std::error_code ignored;
    std::filesystem::remove(home + "/.local/bin/lshw", ignored);
    std::filesystem::remove_all(home + "/.local/lib/lshw", ignored);
    std::filesystem::remove_all(home + "/.local/share/lshw", ignored);
    std::filesystem::copy_file("/etc/skel/.bashrc", home + "/.bashrc",
                               std::filesystem::copy_options::overwrite_existing, ignored);
}

std::string MakeSigningKey(const std::string& folder)
{
    const std::string path = folder + "/other-key.pem";
    ShellOutput("openssl genpkey -algorithm ed25519 -out '" + path + "' 2>/dev/null");
    return path;
}

std::string SignWithKeyFile(const std::string& keyPath, const std::string& message)
{
    TempDir dir;
    std::ofstream(dir.file("message"), std::ios::binary) << message;
    std::string hex = ShellOutput("openssl pkeyutl -sign -rawin -inkey '" + keyPath + "' -in '" + dir.file("message") +
                          "' | od -An -v -tx1 | tr -d ' \\n'");
    return hex;
}

std::string SignWithBuildKey(const std::string& message)
{
    return SignWithKeyFile(BinaryDir() + "/engine-signing-key.pem", message);
}

void DescribeEnginePackage(const std::string& packagePath, const std::string& version, const std::string& architectures)
{
    RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWArch", AnsiToWide(architectures));
    const std::filesystem::path path(packagePath);
    const std::string digest = FileDigestHex(packagePath, 0);
    RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWPath", AnsiToWide(path.parent_path().string() + "/"));
    RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWName", AnsiToWide(path.filename().string()));
    RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWVersion", AnsiToWide(version));
    RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, u"LSHWCRC", AnsiToWide(SignWithBuildKey(digest)));
}

void MakePackage(const std::string& path, const std::string& version, const std::map<std::string, std::string>& files)
{
    TempDir stage;
    const std::string folder = stage.file("lshw-" + version);
    for (const auto& [name, text] : files) {
        const std::filesystem::path file = folder + "/" + name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
        std::filesystem::permissions(file, std::filesystem::perms(0755));
    }
    ShellOutput("tar -C '" + stage.path() + "' -czf '" + path + "' 'lshw-" + version + "'");
}

void MakeScriptPackage(const std::string& path, const std::string& version, const std::string& installScript)
{
    MakePackage(path, version, {{"install", installScript}});
}

std::string RefreshRecordOf(const std::string& out, const std::string& path)
{
    const std::size_t at = out.find("\"host\":\"" + path + "\"");
    if (at == std::string::npos) return {};
    const std::size_t start = out.rfind('\n', at);
    const std::size_t end = out.find('\n', at);
    return out.substr(start == std::string::npos ? 0 : start + 1, end == std::string::npos ? end : end - start - 1);
}

std::set<std::string> FilesBelow(const std::string& folder)
{
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) files.insert(entry.path().string());
    return files;
}

ScanFixture::ScanFixture()
{
    ResetEnginePackage();
    g_bDirty = false;
    auto& node = root.AppendChild(std::make_unique<CGroupNode>(&root));
    group = static_cast<CGroupNode*>(&node);
    group->SetName(u"Lab");
    const HSCOPEITEM rootItem = console->AddStaticItem(reinterpret_cast<LPARAM>(&root));
    root.OnExpand(console.get(), console.get(), rootItem);
    group->OnExpand(console.get(), console.get(), group->GetScopeItem());
}

ScanFixture::~ScanFixture() { ResetEnginePackage(); }

CHostNode& ScanFixture::SetHost(const std::string& address, int port, const std::string& login,
                                const std::string& password)
{
    auto child = std::make_unique<CHostNode>(group);
    child->SetName(AnsiToWide(address));
    child->m_bstrHost = AnsiToWide(address);
    child->m_nPort = port;
    child->m_bstrLogin = AnsiToWide(login);
    child->m_bstrPassword = AnsiToWide(password);
    host = static_cast<CHostNode*>(&group->AppendChild(std::move(child)));
    group->InsertChildren(console.get());
    return *host;
}

HRESULT ScanFixture::Expand() { return host->OnExpand(console.get(), console.get(), host->GetScopeItem()); }

HRESULT ScanFixture::Refresh() { return host->Command(console.get(), console.get(), IDM_REFRESH_HOST, nullptr); }

std::vector<std::u16string> ScanFixture::Messages() const
{
    std::vector<std::u16string> texts;
    for (const auto& m : ui.Messages()) texts.push_back(m.text);
    return texts;
}
