#pragma once

#include <QString>

namespace server {

class Connection;

// Creates every table of the system when missing (idempotent) and the server's signing key.
void createSchema(Connection &c);

// The schema version that createSchema writes.
int schemaVersion();

// The version a database carries (0: none, an empty database); throws DbError when the
// database cannot be read.
int storedSchemaVersion(Connection &c);

struct SchemaUpgrade
{
    int from = 0;
    int to = 0;
};
// Brings a database of an earlier release (or an empty one) to this release's schema:
// missing tables, columns and functions are added, existing rows kept. Several servers
// starting at once on PostgreSQL take turns. Throws DbError for a database made by a newer
// release (this one would not know its tables).
SchemaUpgrade upgradeSchema(Connection &c);

} // namespace server
