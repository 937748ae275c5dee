// The scan history in a PostgreSQL database that the consoles of a team
// share, through libpq (and its own TLS: sslmode=verify-full and friends in
// the location). Ferrodex keeps the schema itself: a version table, and
// forward steps that bring an older database up to this version on open.
//
// Every console keeps its scans under its own key ("consoleId.hostId"), with
// the host's path, address, port and login beside each entry. A host in two
// console files is the same host when its path GROUP/HOST, address and port
// agree and so does the login the scans were taken with; asked with a
// HistoryHost, the store answers with the scans of every console that agree.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "history/history_store.h"

// The schema version this code writes and reads up to.
inline constexpr int kSharedHistorySchemaVersion = 1;
// How often a write is tried again after PostgreSQL refused it to keep the
// writers serializable (or broke a deadlock).
inline constexpr int kSharedHistoryAttempts = 8;

// A PostgreSQL URL (postgresql://, postgres://) or a libpq connection
// string of key=value pairs; anything else is an SQLite file's path.
bool IsSharedHistoryLocation(std::string_view location);

// Why a shared location is refused (empty when it is not): it cannot be
// read, or it carries a password (passwords come only from ~/.pgpass or
// the file PGPASSFILE names). Never repeats the location's text.
std::string CheckSharedHistoryLocation(const std::string& location);

// The location as messages name it: "HOST:PORT/DATABASE" from what it sets
// (libpq's defaults for the rest), never a password or another option.
std::string DescribeSharedHistory(const std::string& location);

// Connects (within `connectTimeout` seconds unless the location sets
// connect_timeout) and brings the schema up to date. Null with a reason
// naming host and port.
std::unique_ptr<CHistoryStore> OpenSharedHistory(const std::string& location, int connectTimeout, std::string& error);
