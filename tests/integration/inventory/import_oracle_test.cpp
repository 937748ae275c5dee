// The import against the programs administrators check their files with:
// every host of a corpus of real-world shaped ssh configs and Ansible
// inventories is compared with what `ssh -G` and `ansible-inventory --list`
// say for it. A value that differs fails the test unless the import's notes
// name the host as imported without it.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "inventory/import/host_file_import.h"
#include "platform/paths.h"
#include "tests/console/json_value.h"
#include "tests/support/peer_required.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

using namespace hostimport;

namespace {

std::string Corpus() { return SourceDir() + "/tests/data/import/corpus"; }

std::string Quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool Runs(const std::string& program)
{
    int status = 0;
    ShellOutput("command -v " + program + " >/dev/null 2>&1", &status);
    return status == 0;
}

// Compares one field of one host: a value that differs fails unless the
// import's notes name the host as imported without it.
void Compare(const std::string& host, const char* field, const std::string& ours, const std::string& theirs,
             bool noted)
{
    if (ours != theirs && !noted)
        ADD_FAILURE() << host << ": " << field << ": ours \"" << ours << "\", theirs \"" << theirs << "\"";
}

bool Noted(const SImportResult& result, const std::string& host, const std::string& part = "")
{
    for (const SImportNote& note : result.notes)
        if (note.text.find("host " + host + ":") != std::string::npos && note.text.find(part) != std::string::npos)
            return true;
    return false;
}

std::string Replace(std::string text, const std::string& mark, const std::string& value)
{
    for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
        text.replace(at, mark.size(), value);
    return text;
}

// --- ssh -G ------------------------------------------------------------------

using SshOptions = std::multimap<std::string, std::string>;

SshOptions SshG(const std::string& config, const std::string& host)
{
    int status = 0;
    const std::string out = ShellOutput("ssh -G -F " + Quote(config) + " " + Quote(host) + " 2>/dev/null", &status);
    SshOptions options;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t blank = line.find(' ');
        if (blank != std::string::npos) options.emplace(line.substr(0, blank), line.substr(blank + 1));
    }
    return options;
}

std::string One(const SshOptions& options, const std::string& key)
{
    const auto found = options.find(key);
    return found == options.end() ? std::string() : found->second;
}

// The hops of a ProxyJump as ssh takes them: each looked up in the file
// again, the first one reached by its own route.
std::string SshRoute(const std::string& config, const std::string& written, int depth = 0)
{
    if (written.empty() || written == "none" || depth > 4) return {};
    std::string route;
    std::istringstream hops(written);
    bool first = true;
    for (std::string hop; std::getline(hops, hop, ',');) {
        std::string user, port;
        if (const std::size_t at = hop.rfind('@'); at != std::string::npos) {
            user = hop.substr(0, at);
            hop = hop.substr(at + 1);
        }
        if (const std::size_t colon = hop.find(':'); colon != std::string::npos) {
            port = hop.substr(colon + 1);
            hop = hop.substr(0, colon);
        }
        const SshOptions options = SshG(config, hop);
        if (first) {
            const std::string before = SshRoute(config, One(options, "proxyjump"), depth + 1);
            if (!before.empty()) route += before + ",";
        }
        if (!route.empty() && !first) route += ",";
        route += (user.empty() ? One(options, "user") : user) + "@" + One(options, "hostname");
        const std::string hopPort = port.empty() ? One(options, "port") : port;
        if (hopPort != "22") route += ":" + hopPort;
        first = false;
    }
    return route;
}

// ssh prints key files as written; it expands them when it reads them.
std::string SshKeyFile(std::string path, const SshOptions& options, const std::string& alias)
{
    if (path.rfind("~/", 0) == 0) path = UserHomeFolder() + path.substr(1);
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '%' || i + 1 == path.size()) {
            out += path[i];
            continue;
        }
        switch (path[++i]) {
        case 'h': out += One(options, "hostname"); break;
        case 'n': out += alias; break;
        case 'p': out += One(options, "port"); break;
        case 'r': out += One(options, "user"); break;
        case 'u': out += LocalUserName(); break;
        case 'd': out += UserHomeFolder(); break;
        case '%': out += '%'; break;
        default: out += std::string("%") + path[i];
        }
    }
    return out;
}

// The key files ssh tries when the file names none.
bool DefaultKeys(const std::vector<std::string>& keys)
{
    static const std::vector<std::string> defaults = {"~/.ssh/id_rsa",         "~/.ssh/id_ecdsa", "~/.ssh/id_ecdsa_sk",
                                                      "~/.ssh/id_ed25519",     "~/.ssh/id_ed25519_sk",
                                                      "~/.ssh/id_xmss",        "~/.ssh/id_dsa"};
    return keys == defaults;
}

// --- ansible-inventory -------------------------------------------------------

std::string Scalar(const JsonValue* value)
{
    if (value == nullptr) return {};
    switch (value->kind) {
    case JsonValue::Kind::String: return value->text;
    case JsonValue::Kind::Number: return std::to_string(static_cast<long long>(value->number));
    case JsonValue::Kind::Bool: return value->boolean ? "true" : "false";
    default: return "(not a single value)";
    }
}

}  // namespace

TEST(ImportOracle, SshConfigsAgreeWithSshG)
{
    if (!Runs("ssh")) FDX_PEER_MISSING() << "the OpenSSH client (ssh) is missing";
    TempDir dir;
    // The include tree names its own folder.
    const std::string tree = dir.file("include-tree");
    std::filesystem::create_directories(tree + "/conf.d");
    for (const char* part : {"config", "conf.d/10-web.conf", "conf.d/20-jump.conf", "conf.d/nested.inc"}) {
        std::ifstream in(Corpus() + "/ssh/include-tree/" + part, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::ofstream(tree + "/" + part, std::ios::binary) << Replace(text.str(), "@DIR@", tree);
    }
    std::vector<std::string> configs = {tree + "/config"};
    for (const char* name : {"workstation.conf", "bastions.conf", "match.conf", "two-logins.conf", "final.conf"})
        configs.push_back(Corpus() + "/ssh/" + name);

    std::size_t compared = 0;
    std::set<std::string> seenNames;
    for (const std::string& config : configs) {
        SCOPED_TRACE(config);
        const SImportResult result = ImportHostFile(config, EImportFormat::SshConfig);
        ASSERT_EQ(result.error, "");
        ASSERT_FALSE(result.hosts.empty());
        for (const SImportedHost& host : result.hosts) {
            const SshOptions ssh = SshG(config, host.name);
            ++compared;
            const bool noted = Noted(result, host.name);
            Compare(host.name, "address", host.address, One(ssh, "hostname"), noted);
            Compare(host.name, "port", std::to_string(host.port), One(ssh, "port"), noted);
            Compare(host.name, "login", host.login, One(ssh, "user"), noted);
            // Every key file, in ssh's order.
            std::vector<std::string> written;
            std::string keys;
            for (auto [it, end] = ssh.equal_range("identityfile"); it != end; ++it) written.push_back(it->second);
            if (!DefaultKeys(written))
                for (const std::string& key : written) keys += (keys.empty() ? "" : "\n") + SshKeyFile(key, ssh, host.name);
            Compare(host.name, "keys", host.identityFile, keys, noted);
            std::string route = SshRoute(config, One(ssh, "proxyjump"));
            const std::string command = One(ssh, "proxycommand");
            if (!command.empty()) {
                // The older spelling of a jump host: ssh itself says where
                // the inner ssh goes, given the command's own options.
                route = "(" + command + ")";
                if (const std::size_t w = command.find(" -W "); command.rfind("ssh ", 0) == 0 && w != std::string::npos) {
                    const std::string options = command.substr(3, w - 3) + command.substr(command.find(' ', w + 4));
                    int status = 0;
                    const std::string hop =
                        "\n" + ShellOutput("ssh -G -F " + Quote(config) + " " + options + " 2>/dev/null", &status);
                    const auto field = [&hop](const std::string& key) {
                        const std::size_t at = hop.find("\n" + key + " ");
                        return hop.substr(at + key.size() + 2, hop.find('\n', at + 1) - at - key.size() - 2);
                    };
                    route = field("user") + "@" + field("hostname") + (field("port") == "22" ? "" : ":" + field("port"));
                }
            }
            Compare(host.name, "jump", host.jump, route, noted);
            if (!One(ssh, "hostkeyalias").empty())
                Compare(host.name, "hostkeyalias", "", One(ssh, "hostkeyalias"), Noted(result, host.name, "HostKeyAlias"));
        }
        // Every Host name of the file is a host under that name.
        for (const SImportedHost& host : result.hosts) seenNames.insert(host.name);
    }
    // Both logins of one address are hosts of their own.
    EXPECT_TRUE(seenNames.count("ops1") && seenNames.count("legacy-app"));
    EXPECT_GE(compared, 25u);
}

TEST(ImportOracle, InventoriesAgreeWithAnsibleInventory)
{
    if (!Runs("ansible-inventory")) FDX_PEER_MISSING() << "ansible-inventory (Debian's ansible-core) is missing";
    TempDir dir;
    std::size_t compared = 0;
    for (const char* name : {"lab/hosts.ini", "flow.yml", "nested.ini", "jumps.yml", "ranges.ini", "vaulted/inventory.yml"}) {
        const std::string inventory = Corpus() + "/ansible/" + name;
        SCOPED_TRACE(inventory);
        int status = 0;
        const std::string out =
            ShellOutput("cd " + Quote(dir.path()) + " && HOME=" + Quote(dir.path()) + " ansible-inventory -i " +
                            Quote(inventory) + " --list 2>/dev/null",
                        &status);
        ASSERT_EQ(status, 0) << out;
        JsonValue listed;
        ASSERT_TRUE(ParseJson(out, listed)) << out;
        const JsonValue& hostvars = listed["_meta"]["hostvars"];

        // Every host of every group.
        std::set<std::string> known;
        for (const auto& [group, members] : listed.members)
            if (const JsonValue* hosts = members.Find("hosts"))
                for (const JsonValue& one : hosts->items) known.insert(one.text);
        const SImportResult result = ImportHostFile(inventory, EImportFormat::Ansible);
        ASSERT_EQ(result.error, "");
        std::set<std::string> imported;
        for (const SImportedHost& host : result.hosts) {
            imported.insert(host.name);
            // Hosts without variables are listed in their groups only.
            static const JsonValue kNone;
            const JsonValue* vars = hostvars.Find(host.name);
            if (vars == nullptr) vars = &kNone;
            EXPECT_TRUE(known.count(host.name)) << host.name << " is no host of the inventory";
            // The host's group (its path's last part) lists it.
            if (!host.group.empty()) {
                const std::string group = host.group.substr(host.group.rfind('/') + 1);
                const JsonValue* hosts = listed[group].Find("hosts");
                bool member = false;
                if (hosts != nullptr)
                    for (const JsonValue& one : hosts->items) member = member || one.text == host.name;
                EXPECT_TRUE(member) << host.name << " in " << group;
            }
            ++compared;
            const bool noted = Noted(result, host.name);
            const std::string address = Scalar(vars->Find("ansible_host"));
            Compare(host.name, "address", host.address, address.empty() ? host.name : address, noted);
            const std::string port = Scalar(vars->Find("ansible_port"));
            Compare(host.name, "port", std::to_string(host.port), port.empty() ? "22" : port, noted);
            Compare(host.name, "login", host.login, Scalar(vars->Find("ansible_user")), noted);
            std::string key = Scalar(vars->Find("ansible_ssh_private_key_file"));
            if (key.rfind("~/", 0) == 0) key = UserHomeFolder() + key.substr(1);
            Compare(host.name, "key", host.identityFile, key, noted);
            const std::string become = Scalar(vars->Find("ansible_become"));
            Compare(host.name, "sudo", host.sudo ? (*host.sudo ? "true" : "false") : "", become, noted);
            // A jump route in ssh's arguments; any other ssh option is named.
            std::string jump;
            const std::string arguments =
                Scalar(vars->Find("ansible_ssh_common_args")) + " " + Scalar(vars->Find("ansible_ssh_extra_args"));
            if (const std::size_t at = arguments.find("ProxyJump="); at != std::string::npos)
                jump = arguments.substr(at + 10, arguments.find_first_of(" '\"", at) - at - 10);
            else if (const std::size_t j = arguments.find("-J "); j != std::string::npos)
                jump = arguments.substr(j + 3, arguments.find(' ', j + 3) - j - 3);
            else if (const std::size_t w = arguments.find("-W %h:%p"); w != std::string::npos)
                jump = "jump@old-gw.example.com";
            else if (arguments.find("ProxyCommand") != std::string::npos)
                jump = "(" + arguments + ")";
            Compare(host.name, "jump", host.jump, jump, noted);
            if (arguments.find("StrictHostKeyChecking") != std::string::npos)
                Compare(host.name, "ssh options", "", "StrictHostKeyChecking", Noted(result, host.name, "not kept"));
        }
        // Every host Ansible knows is imported.
        for (const std::string& host : known) EXPECT_TRUE(imported.count(host)) << host;
        // An encrypted value is never opened, and said so.
        if (std::string(name).find("vault") != std::string::npos) {
            bool said = false;
            for (const SImportNote& note : result.notes) said = said || note.text.find("vault-encrypted") != std::string::npos;
            EXPECT_TRUE(said);
        }
    }
    EXPECT_GE(compared, 30u);
}
