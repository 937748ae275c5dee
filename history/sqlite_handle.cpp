#include "history/sqlite_handle.h"

#include <climits>

CSqlStatement::CSqlStatement(sqlite3* db, std::string_view sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sql.size() > INT_MAX ||
        sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK)
        m_failed = true;
    m_statement.reset(statement);
}

CSqlStatement& CSqlStatement::Bind(int index, std::int64_t value)
{
    if (!m_statement || sqlite3_bind_int64(m_statement.get(), index, value) != SQLITE_OK) m_failed = true;
    return *this;
}

CSqlStatement& CSqlStatement::Bind(int index, std::string_view text)
{
    if (!m_statement ||
        sqlite3_bind_text64(m_statement.get(), index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) !=
            SQLITE_OK)
        m_failed = true;
    return *this;
}

CSqlStatement& CSqlStatement::BindBlob(int index, std::string_view bytes)
{
    if (!m_statement ||
        sqlite3_bind_blob64(m_statement.get(), index, bytes.data(), bytes.size(), SQLITE_TRANSIENT) != SQLITE_OK)
        m_failed = true;
    return *this;
}

bool CSqlStatement::Step()
{
    if (m_failed || !m_statement) return false;
    const int result = sqlite3_step(m_statement.get());
    if (result == SQLITE_ROW) return true;
    if (result != SQLITE_DONE) m_failed = true;
    return false;
}

bool CSqlStatement::Run()
{
    while (Step()) {
    }
    return !m_failed;
}

std::int64_t CSqlStatement::Integer(int column) const { return sqlite3_column_int64(m_statement.get(), column); }

std::string CSqlStatement::Text(int column) const
{
    const auto* text = sqlite3_column_blob(m_statement.get(), column);
    const int size = sqlite3_column_bytes(m_statement.get(), column);
    if (text == nullptr || size <= 0) return {};
    return std::string(static_cast<const char*>(text), static_cast<std::size_t>(size));
}
