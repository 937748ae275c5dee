#include "history/pg_history_store.h"

#include <libpq-fe.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <thread>
#include <vector>

namespace {

struct SPgConnCloser {
    void operator()(PGconn* conn) const { PQfinish(conn); }
};
using PgConnPtr = std::unique_ptr<PGconn, SPgConnCloser>;
struct SPgResultCloser {
    void operator()(PGresult* result) const { PQclear(result); }
};
using PgResultPtr = std::unique_ptr<PGresult, SPgResultCloser>;
struct SPgOptionsCloser {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};
using PgOptionsPtr = std::unique_ptr<PQconninfoOption, SPgOptionsCloser>;

// The steps from each schema version to the next: kSchemaSteps[v] brings a
// database of version v to v + 1. Version 0 is a database without our tables.
constexpr const char* kSchemaSteps[] = {
    // 1: one row per picture of a host, as the SQLite file keeps them, with
    // the key of the console and host that took it.
    "CREATE TABLE ferrodex_scans("
    " id bigserial PRIMARY KEY,"
    " scan_key text NOT NULL,"
    " host text NOT NULL,"
    " address text NOT NULL,"
    " port integer NOT NULL,"
    " login text NOT NULL,"
    " first_seen bigint NOT NULL,"
    " last_seen bigint NOT NULL,"
    " hash text NOT NULL,"
    " xml bytea NOT NULL);"
    "CREATE INDEX ferrodex_scans_by_key ON ferrodex_scans(scan_key, last_seen, id);"
    "CREATE INDEX ferrodex_scans_by_host ON ferrodex_scans(host, address, port, login);",
};
static_assert(std::size(kSchemaSteps) == kSharedHistorySchemaVersion);

// Held while the schema is changed, so that two consoles opening an empty
// database at once create it once ("fdx" "hist" as a number).
constexpr char kMigrationLock[] = "SELECT pg_advisory_xact_lock(6677888400105)";

// Whether a row belongs to the host a console asks about: its own key, or
// the scans of other consoles at the same path, address and port taken with
// the login (or a login this console's own scans were taken with; any, when
// it has none). $1 key, $2 address, $3 path, $4 port, $5 login.
constexpr char kOtherConsoles[] =
    "$2 <> '' AND host = $3 AND address = $2 AND port = $4::integer AND "
    "CASE WHEN $5 <> '' THEN login = $5"
    " ELSE NOT EXISTS (SELECT 1 FROM ferrodex_scans m WHERE m.scan_key = $1)"
    "   OR login IN (SELECT m.login FROM ferrodex_scans m WHERE m.scan_key = $1) END";

PgOptionsPtr ParseLocation(const std::string& location)
{
    char* message = nullptr;
    PgOptionsPtr options(PQconninfoParse(location.c_str(), &message));
    // The message may quote a piece of the text, which may be a secret.
    if (message != nullptr) PQfreemem(message);
    return options;
}

std::string OptionOf(const PQconninfoOption* options, std::string_view name)
{
    for (const PQconninfoOption* option = options; option != nullptr && option->keyword != nullptr; ++option)
        if (name == option->keyword && option->val != nullptr) return option->val;
    return {};
}

class CPgHistoryStore final : public CHistoryStore {
public:
    CPgHistoryStore(PgConnPtr conn, std::string where) : m_conn(std::move(conn)), m_where(std::move(where)) {}
    bool Migrate(std::string& error);

    bool Record(const ScanRecord& scan, int keep, std::string& error) override;
    std::vector<ScanEntry> ListOf(const HistoryHost& host, std::string& error) override;
    std::optional<std::int64_t> LastSeenOther(const std::string& key, const std::string& hash,
                                              std::string& error) override;
    std::optional<ScanEntry> GetOf(const HistoryHost& host, std::int64_t id, std::string& error) override;
    bool Prune(int keep, const std::string& key, std::int64_t& removed, std::string& error) override;
    bool Adopt(const std::string& path, const std::string& key, std::string& error) override;
    bool HoldsPathKeys(std::string& error) override;
    std::vector<std::string> Keys(std::string& error) override;
    bool Merge(const std::string& key, const ScanEntry& entry, bool& added, std::string& error) override;

private:
    struct SParam {
        std::string value;
        bool binary = false;
    };
    // Runs one statement; null with `error` (and the SQLSTATE kept) when it failed.
    PgResultPtr Run(const char* sql, const std::vector<SParam>& params, std::string& error);
    bool Command(const char* sql, const std::vector<SParam>& params, std::string& error)
    {
        return Run(sql, params, error) != nullptr;
    }
    // Runs `body` in a serializable transaction, again after a
    // serialization failure or a deadlock, at most kSharedHistoryAttempts times.
    template <typename Body>
    bool Transact(Body body, std::string& error);
    bool PruneKey(const std::string& key, int keep, std::int64_t& removed, std::string& error);
    static std::vector<SParam> HostParams(const HistoryHost& host);
    static ScanEntry EntryOf(const PGresult* rows, int row);

    PgConnPtr m_conn;
    std::string m_where;
    std::string m_state;  // the SQLSTATE of the last failure
    // The statements prepared on this connection, by their text: each is
    // planned once.
    std::map<std::string, std::string, std::less<>> m_prepared;
};

PgResultPtr CPgHistoryStore::Run(const char* sql, const std::vector<SParam>& params, std::string& error)
{
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (const SParam& param : params) {
        values.push_back(param.value.c_str());
        lengths.push_back(static_cast<int>(param.value.size()));
        formats.push_back(param.binary ? 1 : 0);
    }
    // Without parameters, as a plain query: the schema steps are several
    // statements. With them, prepared the first time.
    PgResultPtr result;
    if (params.empty()) {
        result.reset(PQexec(m_conn.get(), sql));
    } else {
        auto prepared = m_prepared.find(std::string_view(sql));
        if (prepared == m_prepared.end()) {
            const std::string name = "fdx" + std::to_string(m_prepared.size());
            result.reset(PQprepare(m_conn.get(), name.c_str(), sql, static_cast<int>(params.size()), nullptr));
            if (result && PQresultStatus(result.get()) == PGRES_COMMAND_OK)
                prepared = m_prepared.emplace(sql, name).first;
        }
        if (prepared != m_prepared.end())
            result.reset(PQexecPrepared(m_conn.get(), prepared->second.c_str(), static_cast<int>(params.size()),
                                        values.data(), lengths.data(), formats.data(), 0));
    }
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return result;
    const char* state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
    m_state = state != nullptr ? state : "";
    if (PQstatus(m_conn.get()) == CONNECTION_BAD) {
        error = "the connection to the shared history " + m_where + " was lost";
        return nullptr;
    }
    std::string message = result ? PQresultErrorMessage(result.get()) : PQerrorMessage(m_conn.get());
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    error = "the shared history " + m_where + ": " + message;
    return nullptr;
}

template <typename Body>
bool CPgHistoryStore::Transact(Body body, std::string& error)
{
    std::minstd_rand jitter(std::random_device{}());
    for (int attempt = 1;; ++attempt) {
        m_state.clear();
        if (!Command("BEGIN ISOLATION LEVEL SERIALIZABLE", {}, error)) return false;
        if (body(error) && Command("COMMIT", {}, error)) return true;
        const bool again = m_state == "40001" || m_state == "40P01";
        std::string ignored;
        if (PQstatus(m_conn.get()) == CONNECTION_OK) Command("ROLLBACK", {}, ignored);
        if (!again) return false;
        if (attempt == kSharedHistoryAttempts) {
            error += " (tried " + std::to_string(attempt) + " times)";
            return false;
        }
        // The other writer finishes meanwhile; a random share keeps two
        // losers from meeting again.
        const int waitMs = (2 << attempt) + static_cast<int>(jitter() % 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        error.clear();
    }
}

bool CPgHistoryStore::Migrate(std::string& error)
{
    auto readVersion = [&](int& version) {
        PgResultPtr rows = Run("SELECT version FROM ferrodex_schema", {}, error);
        if (!rows) {
            if (m_state != "42P01") return false;  // no table: version 0
            error.clear();
            version = 0;
            return true;
        }
        version = PQntuples(rows.get()) > 0 ? std::atoi(PQgetvalue(rows.get(), 0, 0)) : 0;
        return true;
    };
    auto tooNew = [&](int version) {
        error = "the history database " + m_where + " has schema version " + std::to_string(version) +
                "; this Ferrodex reads up to " + std::to_string(kSharedHistorySchemaVersion);
        return false;
    };
    int version = 0;
    if (!readVersion(version)) return false;
    if (version == kSharedHistorySchemaVersion) return true;
    if (version > kSharedHistorySchemaVersion) return tooNew(version);
    // One console changes the schema; another waits and finds it done.
    if (!Command("BEGIN", {}, error)) return false;
    bool done = Command(kMigrationLock, {}, error) &&
                Command("CREATE TABLE IF NOT EXISTS ferrodex_schema(version integer NOT NULL)", {}, error) &&
                readVersion(version);
    if (done && version > kSharedHistorySchemaVersion) done = tooNew(version);
    for (int step = version; done && step < kSharedHistorySchemaVersion; ++step)
        done = Command(kSchemaSteps[step], {}, error);
    if (done && version < kSharedHistorySchemaVersion) {
        done = Command("DELETE FROM ferrodex_schema", {}, error) &&
               Command("INSERT INTO ferrodex_schema(version) VALUES($1::integer)",
                       {{std::to_string(kSharedHistorySchemaVersion)}}, error);
    }
    if (done && Command("COMMIT", {}, error)) return true;
    std::string ignored;
    if (PQstatus(m_conn.get()) == CONNECTION_OK) Command("ROLLBACK", {}, ignored);
    return false;
}

bool CPgHistoryStore::PruneKey(const std::string& key, int keep, std::int64_t& removed, std::string& error)
{
    PgResultPtr done = Run("DELETE FROM ferrodex_scans WHERE scan_key = $1 AND id NOT IN "
                           "(SELECT id FROM ferrodex_scans WHERE scan_key = $1 "
                           " ORDER BY last_seen DESC, id DESC LIMIT $2::integer)",
                           {{key}, {std::to_string(keep < 1 ? 1 : keep)}}, error);
    if (!done) return false;
    removed += std::atoll(PQcmdTuples(done.get()));
    return true;
}

bool CPgHistoryStore::Record(const ScanRecord& scan, int keep, std::string& error)
{
    const std::string hash = ContentHash(scan.xml);
    const std::string& key = scan.key.empty() ? scan.host : scan.key;
    return Transact(
        [&](std::string& failure) {
            if (key != scan.host &&
                !Command("UPDATE ferrodex_scans SET scan_key = $2 WHERE scan_key = $1", {{scan.host}, {key}}, failure))
                return false;
            PgResultPtr folded = Run(
                "UPDATE ferrodex_scans SET last_seen = greatest(last_seen, $2::bigint), address = $4, "
                "port = $5::integer, login = $6, host = $7 "
                "WHERE id = (SELECT id FROM ferrodex_scans WHERE scan_key = $1 ORDER BY last_seen DESC, id DESC "
                "LIMIT 1) AND hash = $3",
                {{key}, {std::to_string(scan.when)}, {hash}, {scan.address}, {std::to_string(scan.port)},
                 {scan.login}, {scan.host}},
                failure);
            if (!folded) return false;
            if (std::string_view(PQcmdTuples(folded.get())) == "0" &&
                !Command("INSERT INTO ferrodex_scans(scan_key, host, address, port, login, first_seen, last_seen, "
                         "hash, xml) VALUES($1, $2, $3, $4::integer, $5, $6::bigint, $6::bigint, $7, $8)",
                         {{key}, {scan.host}, {scan.address}, {std::to_string(scan.port)}, {scan.login},
                          {std::to_string(scan.when)}, {hash}, {scan.xml, true}},
                         failure))
                return false;
            std::int64_t removed = 0;
            return PruneKey(key, keep, removed, failure);
        },
        error);
}

std::vector<CPgHistoryStore::SParam> CPgHistoryStore::HostParams(const HistoryHost& host)
{
    return {{host.key}, {host.address}, {host.path}, {std::to_string(host.port)}, {host.login}};
}

ScanEntry CPgHistoryStore::EntryOf(const PGresult* rows, int row)
{
    ScanEntry entry;
    entry.id = std::atoll(PQgetvalue(rows, row, 0));
    entry.host = PQgetvalue(rows, row, 1);
    entry.address = PQgetvalue(rows, row, 2);
    entry.port = std::atoi(PQgetvalue(rows, row, 3));
    entry.login = PQgetvalue(rows, row, 4);
    entry.firstSeen = std::atoll(PQgetvalue(rows, row, 5));
    entry.lastSeen = std::atoll(PQgetvalue(rows, row, 6));
    entry.size = std::atoll(PQgetvalue(rows, row, 7));
    return entry;
}

std::vector<ScanEntry> CPgHistoryStore::ListOf(const HistoryHost& host, std::string& error)
{
    std::vector<ScanEntry> entries;
    // Two halves, each of which an index answers.
    static const std::string sql =
        std::string("SELECT id, host, address, port, login, first_seen, last_seen, octet_length(xml) "
                    "FROM ferrodex_scans WHERE scan_key = $1 UNION "
                    "SELECT id, host, address, port, login, first_seen, last_seen, octet_length(xml) "
                    "FROM ferrodex_scans WHERE ") +
        kOtherConsoles + " ORDER BY last_seen, id";
    PgResultPtr rows = Run(sql.c_str(), HostParams(host), error);
    if (!rows) return entries;
    for (int row = 0; row < PQntuples(rows.get()); ++row) entries.push_back(EntryOf(rows.get(), row));
    return entries;
}

std::optional<std::int64_t> CPgHistoryStore::LastSeenOther(const std::string& key, const std::string& hash,
                                                           std::string& error)
{
    PgResultPtr row =
        Run("SELECT max(last_seen) FROM ferrodex_scans WHERE scan_key = $1 AND hash <> $2", {{key}, {hash}}, error);
    if (!row || PQntuples(row.get()) == 0 || PQgetisnull(row.get(), 0, 0)) return std::nullopt;
    return std::atoll(PQgetvalue(row.get(), 0, 0));
}

std::optional<ScanEntry> CPgHistoryStore::GetOf(const HistoryHost& host, std::int64_t id, std::string& error)
{
    static const std::string sql =
        std::string("SELECT id, host, address, port, login, first_seen, last_seen, octet_length(xml), xml "
                    "FROM ferrodex_scans WHERE id = $6::bigint AND (scan_key = $1 OR (") +
        kOtherConsoles + "))";
    std::vector<SParam> params = HostParams(host);
    params.push_back({std::to_string(id)});
    PgResultPtr row = Run(sql.c_str(), params, error);
    if (!row || PQntuples(row.get()) == 0) return std::nullopt;
    ScanEntry entry = EntryOf(row.get(), 0);
    std::size_t size = 0;
    const auto* text = reinterpret_cast<const unsigned char*>(PQgetvalue(row.get(), 0, 8));
    std::unique_ptr<unsigned char, decltype(&PQfreemem)> bytes(PQunescapeBytea(text, &size), &PQfreemem);
    if (!bytes) {
        error = "the shared history " + m_where + ": out of memory";
        return std::nullopt;
    }
    entry.xml.assign(reinterpret_cast<const char*>(bytes.get()), size);
    return entry;
}

bool CPgHistoryStore::Prune(int keep, const std::string& key, std::int64_t& removed, std::string& error)
{
    return Transact(
        [&](std::string& failure) {
            removed = 0;
            std::vector<std::string> keys{key};
            if (key.empty()) {
                keys = Keys(failure);
                if (!failure.empty()) return false;
            }
            for (const std::string& each : keys)
                if (!PruneKey(each, keep, removed, failure)) return false;
            return true;
        },
        error);
}

bool CPgHistoryStore::Adopt(const std::string& path, const std::string& key, std::string& error)
{
    if (key == path) return true;
    return Transact(
        [&](std::string& failure) {
            return Command("UPDATE ferrodex_scans SET scan_key = $2 WHERE scan_key = $1", {{path}, {key}}, failure);
        },
        error);
}

bool CPgHistoryStore::HoldsPathKeys(std::string& error)
{
    PgResultPtr row = Run("SELECT EXISTS (SELECT 1 FROM ferrodex_scans WHERE strpos(scan_key, '/') > 0)", {}, error);
    return row && PQntuples(row.get()) > 0 && std::string_view(PQgetvalue(row.get(), 0, 0)) == "t";
}

std::vector<std::string> CPgHistoryStore::Keys(std::string& error)
{
    std::vector<std::string> keys;
    PgResultPtr rows = Run("SELECT DISTINCT scan_key FROM ferrodex_scans ORDER BY scan_key", {}, error);
    if (!rows) return keys;
    for (int row = 0; row < PQntuples(rows.get()); ++row) keys.emplace_back(PQgetvalue(rows.get(), row, 0));
    return keys;
}

bool CPgHistoryStore::Merge(const std::string& key, const ScanEntry& entry, bool& added, std::string& error)
{
    const std::string hash = ContentHash(entry.xml);
    return Transact(
        [&](std::string& failure) {
            added = false;
            PgResultPtr widened = Run(
                "UPDATE ferrodex_scans SET first_seen = least(first_seen, $3::bigint), "
                "last_seen = greatest(last_seen, $4::bigint) "
                "WHERE id = (SELECT id FROM ferrodex_scans WHERE scan_key = $1 AND hash = $2 AND "
                "first_seen <= $4::bigint AND last_seen >= $3::bigint ORDER BY last_seen DESC, id DESC LIMIT 1)",
                {{key}, {hash}, {std::to_string(entry.firstSeen)}, {std::to_string(entry.lastSeen)}}, failure);
            if (!widened) return false;
            if (std::string_view(PQcmdTuples(widened.get())) != "0") return true;
            added = true;
            return Command("INSERT INTO ferrodex_scans(scan_key, host, address, port, login, first_seen, last_seen, "
                           "hash, xml) VALUES($1, $2, $3, $4::integer, $5, $6::bigint, $7::bigint, $8, $9)",
                           {{key}, {entry.host}, {entry.address}, {std::to_string(entry.port)}, {entry.login},
                            {std::to_string(entry.firstSeen)}, {std::to_string(entry.lastSeen)}, {hash},
                            {entry.xml, true}},
                           failure);
        },
        error);
}

}  // namespace

bool IsSharedHistoryLocation(std::string_view location)
{
    if (location.starts_with("postgresql://") || location.starts_with("postgres://")) return true;
    // key=value: a word of letters and "_" before the first "=" (no path has
    // that shape unless it is a bare name with "=" in it, which libpq must
    // then take as a whole connection string).
    std::size_t at = location.find_first_not_of(" \t");
    if (at == std::string_view::npos) return false;
    const std::size_t start = at;
    while (at < location.size() && ((location[at] >= 'a' && location[at] <= 'z') || location[at] == '_')) ++at;
    if (at == start) return false;
    at = location.find_first_not_of(" \t", at);
    return at != std::string_view::npos && location[at] == '=' && ParseLocation(std::string(location)) != nullptr;
}

std::string CheckSharedHistoryLocation(const std::string& location)
{
    const PgOptionsPtr options = ParseLocation(location);
    if (!options) return "the history database location is no valid PostgreSQL URL or connection string";
    if (!OptionOf(options.get(), "password").empty())
        return "the history database location carries a password; Ferrodex takes PostgreSQL passwords only "
               "from ~/.pgpass or the file PGPASSFILE names: remove it from the location";
    return {};
}

std::string DescribeSharedHistory(const std::string& location)
{
    const PgOptionsPtr options = ParseLocation(location);
    std::string host = OptionOf(options.get(), "host");
    if (host.empty()) host = OptionOf(options.get(), "hostaddr");
    std::string port = OptionOf(options.get(), "port");
    std::string database = OptionOf(options.get(), "dbname");
    if (host.empty()) host = "localhost";
    if (port.empty()) port = "5432";
    return host + ":" + port + (database.empty() ? "" : "/" + database);
}

std::unique_ptr<CHistoryStore> OpenSharedHistory(const std::string& location, int connectTimeout, std::string& error)
{
    if (std::string refusal = CheckSharedHistoryLocation(location); !refusal.empty()) {
        error = refusal;
        return nullptr;
    }
    // libpq would take a password from the environment as well.
    if (const char* password = std::getenv("PGPASSWORD"); password != nullptr && *password != '\0') {
        error = "PGPASSWORD is set; Ferrodex takes PostgreSQL passwords only from ~/.pgpass or the file PGPASSFILE "
                "names: unset it";
        return nullptr;
    }
    const PgOptionsPtr options = ParseLocation(location);
    const std::string where = DescribeSharedHistory(location);
    std::vector<const char*> keywords{"dbname"};
    std::vector<const char*> values{location.c_str()};
    const std::string timeout = std::to_string(connectTimeout < 1 ? 1 : connectTimeout);
    if (OptionOf(options.get(), "connect_timeout").empty()) {
        keywords.push_back("connect_timeout");
        values.push_back(timeout.c_str());
    }
    if (OptionOf(options.get(), "application_name").empty()) {
        keywords.push_back("application_name");
        values.push_back("ferrodex");
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    PgConnPtr conn(PQconnectdbParams(keywords.data(), values.data(), 1));
    if (!conn || PQstatus(conn.get()) != CONNECTION_OK) {
        std::string message = conn ? PQerrorMessage(conn.get()) : "out of memory";
        const std::size_t end = message.find('\n');
        if (end != std::string::npos) message.resize(end);
        error = "the shared history " + where + " cannot be reached: " + message;
        return nullptr;
    }
    // The server's notices ("already exists, skipping") are no business of
    // the user's terminal.
    PQsetNoticeProcessor(conn.get(), [](void*, const char*) {}, nullptr);
    auto store = std::make_unique<CPgHistoryStore>(std::move(conn), where);
    if (!store->Migrate(error)) return nullptr;
    return store;
}
