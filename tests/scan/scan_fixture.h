// What the scan tests share: signing packages with the build tree's key,
// making small packages, and an inventory with one host on a recording
// console.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "inventory/group_node.h"
#include "inventory/host_node.h"
#include "inventory/root_node.h"
#include "tests/support/fake_console.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/temp_dir.h"

// Makes a new Ed25519 key in `folder`; returns its path.
std::string MakeSigningKey(const std::string& folder);
// The Ed25519 signature of `message` as hexadecimal text.
std::string SignWithKeyFile(const std::string& keyPath, const std::string& message);
// ... with the key the build made for signing engine packages.
std::string SignWithBuildKey(const std::string& message);
// Describes a package file in the registry, signed with the build key,
// with the architectures it carries a prebuilt lshw for.
void DescribeEnginePackage(const std::string& packagePath, const std::string& version,
                           const std::string& architectures = "");
// Writes a gzip-compressed tar at `path` holding lshw-<version>/install
// with the given script text.
void MakeScriptPackage(const std::string& path, const std::string& version, const std::string& installScript);
// Writes a gzip-compressed tar at `path` holding lshw-<version>/ with the
// given files (paths relative to that folder, all executable).
void MakePackage(const std::string& path, const std::string& version, const std::map<std::string, std::string>& files);

// The test user the deployment tests install into (scripts/setup-peers.sh).
constexpr const char* kDeployUser = "fdxdeploy";
// No lshw in that user's home, and Debian's stock ~/.bashrc.
void ResetDeployUser();

// Every path below `folder`, to compare a home before and after a scan.
std::set<std::string> FilesBelow(const std::string& folder);
// The line of `ferrodex refresh --json` output whose record is GROUP/HOST
// `path`; empty when there is none.
std::string RefreshRecordOf(const std::string& out, const std::string& path);

// One group with one host, on a recording console and a scripted user
// interface, in a registry of its own.
class ScanFixture {
public:
    ScanFixture();
    ~ScanFixture();

    CHostNode& SetHost(const std::string& address, int port, const std::string& login, const std::string& password);
    // Expands the host as the console would; returns the node's result.
    HRESULT Expand();
    HRESULT Refresh();
    // The texts of the message boxes shown so far.
    std::vector<std::u16string> Messages() const;

    TempRegistry registry;
    CScopedScriptedUi ui;
    com_ptr<CFakeConsole> console = CFakeConsole::Create();
    CRootNode root;
    CGroupNode* group = nullptr;
    CHostNode* host = nullptr;
};
