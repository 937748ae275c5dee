// A private PostgreSQL cluster for one test: initdb into a temporary
// folder, the server listening only on a Unix socket in that folder (no
// TCP), started as the test user when the test runs as root (the server
// refuses root), and stopped and removed with the object. The superuser
// `ferrodex` logs in without a password over the socket.
#pragma once

#include <memory>
#include <string>

#include "tests/support/peer_process.h"

class CPostgresPeer {
public:
    // Why no cluster can be made here (no PostgreSQL binaries); empty when one can.
    static std::string Unavailable();

    // Starts the cluster and makes the database `database`; running() tells.
    // Tests run it without fsync; a `durable` one (for figures) syncs its
    // commits as a real server does.
    explicit CPostgresPeer(const std::string& database = "ferrodex", bool durable = false);
    ~CPostgresPeer();
    CPostgresPeer(const CPostgresPeer&) = delete;
    CPostgresPeer& operator=(const CPostgresPeer&) = delete;

    bool running() const { return m_bRunning; }
    const std::string& why() const { return m_why; }
    // A libpq connection string of the database, and the same as a URL.
    std::string Location(const std::string& database = "ferrodex") const;
    std::string Url(const std::string& database = "ferrodex") const;
    // Runs SQL through psql (as the superuser); true when it succeeded,
    // `out` takes the rows unaligned, "|" between the columns.
    bool Sql(const std::string& sql, std::string* out = nullptr, const std::string& database = "ferrodex") const;

private:
    // Runs a command line as the cluster's owner; true on exit 0.
    bool AsOwner(const std::string& command) const;

    peer::CTempFolder m_folder{"fdx-pg"};
    std::string m_bin;
    std::string m_owner;  // empty: this user
    bool m_bRunning = false;
    std::string m_why;
};
