// The scan history of a fleet in both back ends: HOSTS hosts with SCANS
// pictures each (default 5,000 x 20, about 1 KB of XML a picture), in an
// SQLite file and in PostgreSQL (a private cluster on a Unix socket, as the
// tests start one). Times the store operations that `find` over the fleet's
// latest scans and `export` with its change marks use: every host's entries
// and its last picture (find), or its last two (export), read through the
// one interface; and new scans recorded one at a time. Exits 0 with a line
// when PostgreSQL is not installed.
//   shared_history_bench [HOSTS] [SCANS]
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "history/history_store.h"
#include "tests/support/postgres_peer.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The picture of host `h` at scan `s`: the same text in both back ends
// (built by SQL for PostgreSQL, here for SQLite).
std::string Xml(int h, int s)
{
    std::string xml = "<node id=\"h" + std::to_string(h) + "\"><serial>" + std::to_string(s) + "</serial>";
    for (int i = 0; i < 70; ++i) xml += "<x>filler</x>";
    return xml + "</node>";
}
constexpr char kXmlSql[] =
    "'<node id=\"h' || h || '\"><serial>' || s || '</serial>' || repeat('<x>filler</x>', 70) || '</node>'";

HistoryHost Asked(int h)
{
    HistoryHost asked = HistoryHost::OfKey("c." + std::to_string(h));
    asked.path = "Lab/h" + std::to_string(h);
    asked.address = "10.0." + std::to_string(h / 250) + "." + std::to_string(h % 250 + 1);
    asked.port = 22;
    return asked;
}

bool FillSqlite(const std::string& file, int hosts, int scans)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return false;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO scans(scan_key, host, address, port, login, first_seen, last_seen, hash, xml) "
                       "VALUES(?1, ?2, ?3, 22, 'root', ?4, ?4, ?5, ?6)",
                       -1, &insert, nullptr);
    // Scan by scan across the fleet, as refreshes fill a history (and as
    // PostgreSQL is filled below): a host's entries lie apart.
    for (int s = 0; s < scans; ++s) {
        for (int h = 0; h < hosts; ++h) {
            const HistoryHost asked = Asked(h);
            const std::string xml = Xml(h, s);
            const std::string hash = ContentHash(xml);
            sqlite3_bind_text(insert, 1, asked.key.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 2, asked.path.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 3, asked.address.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(insert, 4, 1700000000 + s * 86400);
            sqlite3_bind_text(insert, 5, hash.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_blob(insert, 6, xml.data(), static_cast<int>(xml.size()), SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
    }
    sqlite3_finalize(insert);
    const bool done = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return done;
}

bool FillPostgres(const CPostgresPeer& pg, int hosts, int scans)
{
    const std::string sql =
        "INSERT INTO ferrodex_scans(scan_key, host, address, port, login, first_seen, last_seen, hash, xml) "
        "SELECT 'c.' || h, 'Lab/h' || h, '10.0.' || (h / 250) || '.' || (h % 250 + 1), 22, 'root', "
        "1700000000 + s * 86400, 1700000000 + s * 86400, encode(sha256(convert_to(x, 'UTF8')), 'hex'), "
        "convert_to(x, 'UTF8') FROM (SELECT h, s, " + std::string(kXmlSql) +
        " AS x FROM generate_series(0, " + std::to_string(scans - 1) + ") s, generate_series(0, " +
        std::to_string(hosts - 1) + ") h ORDER BY s, h) g; ANALYZE ferrodex_scans";
    return pg.Sql(sql);
}

struct SFigures {
    double fill = 0;
    double find = 0;
    double exportMarks = 0;
    double record = 0;
    std::size_t bytes = 0;
};

// Reads every host's entries and its last `pictures` pictures.
bool ReadFleet(CHistoryStore& store, int hosts, int pictures, std::size_t& bytes)
{
    std::string error;
    for (int h = 0; h < hosts; ++h) {
        const HistoryHost asked = Asked(h);
        const std::vector<ScanEntry> entries = store.ListOf(asked, error);
        for (int p = 1; p <= pictures && p <= static_cast<int>(entries.size()); ++p) {
            const std::optional<ScanEntry> entry = store.GetOf(asked, entries[entries.size() - p].id, error);
            if (!entry) break;
            bytes += entry->xml.size();
        }
        if (!error.empty()) {
            std::fprintf(stderr, "host %d: %s\n", h, error.c_str());
            return false;
        }
    }
    return true;
}

bool Measure(CHistoryStore& store, int hosts, SFigures& figures)
{
    auto started = Clock::now();
    if (!ReadFleet(store, hosts, 1, figures.bytes)) return false;
    figures.find = Seconds(Clock::now() - started);
    started = Clock::now();
    std::size_t ignored = 0;
    if (!ReadFleet(store, hosts, 2, ignored)) return false;
    figures.exportMarks = Seconds(Clock::now() - started);
    // New pictures of 200 hosts, one transaction each (fold check, insert,
    // retention of 50).
    constexpr int kRecords = 200;
    started = Clock::now();
    std::string error;
    for (int i = 0; i < kRecords; ++i) {
        const HistoryHost asked = Asked(i * (hosts / kRecords));
        const ScanRecord scan{asked.path, asked.address, 22, "root", Xml(i, -1), 1800000000 + i, asked.key};
        if (!store.Record(scan, 50, error)) {
            std::fprintf(stderr, "record: %s\n", error.c_str());
            return false;
        }
    }
    figures.record = Seconds(Clock::now() - started) / kRecords;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const int hosts = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int scans = argc > 2 ? std::atoi(argv[2]) : 20;
    if (hosts < 200 || scans < 2) {
        std::fprintf(stderr, "usage: shared_history_bench [HOSTS >= 200] [SCANS >= 2]\n");
        return 2;
    }
    if (const std::string why = CPostgresPeer::Unavailable(); !why.empty()) {
        std::printf("shared_history_bench: skipped: %s\n", why.c_str());
        return 0;
    }
    TempDir dir;
    const CPostgresPeer pg("ferrodex", true);
    if (!pg.running()) {
        std::fprintf(stderr, "the PostgreSQL cluster did not start: %s\n", pg.why().c_str());
        return 1;
    }
    std::string error;
    const std::string file = dir.file("fleet.history.db");
    SFigures lite;
    SFigures shared;
    {
        if (!CHistoryStore::Open(file, true, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const auto started = Clock::now();
        if (!FillSqlite(file, hosts, scans)) return 1;
        lite.fill = Seconds(Clock::now() - started);
        auto store = CHistoryStore::Open(file, false, error);
        if (!store || !Measure(*store, hosts, lite)) return 1;
    }
    {
        if (!OpenHistoryStore(pg.Location(), true, 10, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const auto started = Clock::now();
        if (!FillPostgres(pg, hosts, scans)) return 1;
        shared.fill = Seconds(Clock::now() - started);
        auto store = OpenHistoryStore(pg.Location(), false, 10, error);
        if (!store || !Measure(*store, hosts, shared)) return 1;
    }
    if (lite.bytes != shared.bytes) {
        std::fprintf(stderr, "the back ends read different pictures: %zu and %zu bytes\n", lite.bytes, shared.bytes);
        return 1;
    }
    std::printf("%d hosts x %d scans (%zu bytes of latest pictures)\n", hosts, scans, lite.bytes);
    std::printf("%-52s %10s %12s\n", "", "SQLite", "PostgreSQL");
    std::printf("%-52s %9.2fs %11.2fs\n", "fill (bulk, one transaction)", lite.fill, shared.fill);
    std::printf("%-52s %9.2fs %11.2fs\n", "find: every host's entries and last picture", lite.find, shared.find);
    std::printf("%-52s %9.2fs %11.2fs\n", "export: every host's entries and last two pictures", lite.exportMarks,
                shared.exportMarks);
    std::printf("%-52s %8.2fms %10.2fms\n", "record one new picture (of 200)", lite.record * 1000,
                shared.record * 1000);
    return 0;
}
