#pragma once

#include <QString>
#include <QStringList>

namespace server {

class Connection;

// Creates every table of the system when missing (idempotent) and the server's signing key.
void createSchema(Connection &c);

// The names of the tables that createSchema makes (as declared).
QStringList schemaTables();

// The schema version that createSchema writes.
int schemaVersion();

} // namespace server
