#pragma once

// The yardstick of the data-path benchmarks: rows stepped directly in SQLite, every
// column read, on a connection with the library's defaults or set up as the server sets
// up its own.
#include "server/sql/sqlitereads.h"

#include <QString>

#include <sqlite3.h>

namespace bench {

inline sqlite3 *openDirect(const QString &path, bool asTheServer)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db,
                    SQLITE_OPEN_READONLY | (asTheServer ? SQLITE_OPEN_NOMUTEX : 0), nullptr);
    if (asTheServer)
        sqlite3_exec(db, server::kSqliteReadPragmas, nullptr, nullptr, nullptr);
    return db;
}

// 10,000 account rows; returns a sum of what was read, so that nothing is optimised away.
inline double stepAccountRows(sqlite3 *db)
{
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "select * from TAB_ACCOUNT limit 10000", -1, &st, nullptr);
    double sink = 0;
    const int cols = sqlite3_column_count(st);
    while (sqlite3_step(st) == SQLITE_ROW) {
        for (int c = 0; c < cols; ++c) {
            switch (sqlite3_column_type(st, c)) {
            case SQLITE_INTEGER: sink += double(sqlite3_column_int64(st, c)); break;
            case SQLITE_FLOAT: sink += sqlite3_column_double(st, c); break;
            case SQLITE_TEXT: sink += double(sqlite3_column_bytes(st, c)) + double(*sqlite3_column_text(st, c)); break;
            default: break;
            }
        }
    }
    sqlite3_finalize(st);
    return sink;
}

} // namespace bench
