#pragma once

// Which database a test binary was started for, and what its tests really got. The
// PostgreSQL registration of a test binary passes --waylink-backend=postgresql; a test
// run that way must use a PostgreSQL database, or it fails instead of passing on SQLite.
namespace waylink::test {

// True when the binary was started with --waylink-backend=postgresql.
bool expectsPostgres();

// Called by the test-database helpers for each database a test opens.
void noteDatabase(bool postgres);

} // namespace waylink::test
