// Owners of SQLite's connection and statement handles, and a statement
// helper that binds and reads columns by position.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using SqlitePtr = std::unique_ptr<sqlite3, SqliteCloser>;

struct SqliteFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqliteStatementPtr = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

// One prepared statement. Binding counts from 1, reading from 0, as SQLite
// does. Step() is true while a row is ready; a failure sets Failed().
class CSqlStatement {
public:
    CSqlStatement(sqlite3* db, std::string_view sql);
    bool Prepared() const { return m_statement != nullptr; }
    CSqlStatement& Bind(int index, std::int64_t value);
    CSqlStatement& Bind(int index, std::string_view text);
    CSqlStatement& BindBlob(int index, std::string_view bytes);
    // True when a row is ready; false at the end or on failure.
    bool Step();
    // Runs to the end; true when nothing failed.
    bool Run();
    bool Failed() const { return m_failed; }
    std::int64_t Integer(int column) const;
    std::string Text(int column) const;

private:
    SqliteStatementPtr m_statement;
    bool m_failed = false;
};
