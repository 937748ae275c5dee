#include "tests/support/postgres_peer.h"

#include "tests/support/test_helpers.h"

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace {

constexpr char kTestUser[] = "fdxtest";
constexpr char kSocketPort[] = "5432";  // names the socket file only

// The bin folder of the newest PostgreSQL Debian installs; empty when none.
std::string PostgresBin()
{
    std::string best;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
        const std::string bin = entry.path().string() + "/bin";
        if (std::filesystem::exists(bin + "/initdb") && std::filesystem::exists(bin + "/pg_ctl") &&
            (best.empty() || std::stoi(entry.path().filename().string()) > std::stoi(best.substr(19))))
            best = bin;
    }
    return best;
}

// A word as the shell reads it back unchanged.
std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::string CPostgresPeer::Unavailable()
{
    if (PostgresBin().empty()) return "PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb)";
    if (::geteuid() == 0 && ::getpwnam(kTestUser) == nullptr)
        return std::string("the server refuses root and the user ") + kTestUser + " is missing";
    return {};
}

CPostgresPeer::CPostgresPeer(const std::string& database, bool durable)
{
    m_bin = PostgresBin();
    if (m_bin.empty() || m_folder.path().empty()) {
        m_why = m_bin.empty() ? Unavailable() : "no temporary folder";
        return;
    }
    if (::geteuid() == 0) {
        m_owner = kTestUser;
        const passwd* user = ::getpwnam(kTestUser);
        if (user == nullptr || ::chown(m_folder.path().c_str(), user->pw_uid, user->pw_gid) != 0) {
            m_why = "the folder cannot be given to " + m_owner;
            return;
        }
    }
    const std::string data = m_folder.path() + "/data";
    if (!AsOwner(Quoted(m_bin + "/initdb") + " -A trust -U ferrodex -E UTF8 --no-sync -D " + Quoted(data))) {
        m_why = "initdb failed";
        return;
    }
    // pg_ctl -w waits until the server accepts connections, at most -t seconds.
    const std::string options = "-k " + m_folder.path() + " -p " + kSocketPort +
                                " -c listen_addresses= -c max_connections=40" + (durable ? "" : " -c fsync=off");
    if (!AsOwner(Quoted(m_bin + "/pg_ctl") + " -D " + Quoted(data) + " -l " + Quoted(m_folder.path() + "/log") +
                 " -w -t 60 -o " + Quoted(options) + " start")) {
        m_why = "the server did not start: " + peer::ReadWholeFile(m_folder.path() + "/log");
        return;
    }
    m_bRunning = true;
    if (!Sql("CREATE DATABASE " + database, nullptr, "postgres")) {
        m_why = "the database could not be made";
        m_bRunning = false;
    }
}

CPostgresPeer::~CPostgresPeer()
{
    if (m_bin.empty() || m_folder.path().empty() || !std::filesystem::exists(m_folder.path() + "/data/postmaster.pid"))
        return;
    AsOwner(Quoted(m_bin + "/pg_ctl") + " -D " + Quoted(m_folder.path() + "/data") + " -m immediate -w -t 30 stop");
}

bool CPostgresPeer::AsOwner(const std::string& command) const
{
    const std::string line = (m_owner.empty() ? command : "runuser -u " + m_owner + " -- sh -c " + Quoted(command)) +
                             " >>" + Quoted(m_folder.path() + "/commands.log") + " 2>&1";
    const int status = std::system(line.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string CPostgresPeer::Location(const std::string& database) const
{
    return "host=" + m_folder.path() + " port=" + kSocketPort + " dbname=" + database + " user=ferrodex";
}

std::string CPostgresPeer::Url(const std::string& database) const
{
    // The socket folder as the URL's host, percent-encoded.
    std::string host;
    for (char c : m_folder.path()) host += c == '/' ? std::string("%2F") : std::string(1, c);
    return "postgresql://ferrodex@" + host + ":" + kSocketPort + "/" + database;
}

bool CPostgresPeer::Sql(const std::string& sql, std::string* out, const std::string& database) const
{
    const std::string line = Quoted(m_bin + "/psql") + " -X -q -A -t -F '|' -v ON_ERROR_STOP=1 -h " +
                             Quoted(m_folder.path()) + " -p " + kSocketPort + " -U ferrodex -d " + Quoted(database) +
                             " -c " + Quoted(sql) + " 2>>" + Quoted(m_folder.path() + "/commands.log");
    int status = -1;
    std::string text = ShellOutput(line, &status);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    if (out != nullptr) *out = text;
    return status == 0;
}
