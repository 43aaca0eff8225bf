#pragma once

namespace server {

// How the server sets up its SQLite connections for reading: pages through a mapping of
// the file instead of a read call each, and a page cache that holds a large answer's
// table (the provider's lists are mostly reads of the same few tables).
inline constexpr char kSqliteReadPragmas[] = "PRAGMA mmap_size=268435456; PRAGMA cache_size=-16384;";

} // namespace server
