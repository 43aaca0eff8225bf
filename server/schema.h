#pragma once

#include <QString>

namespace server {

class Connection;

// Creates every table of the system when missing (idempotent) and the server's signing key.
void createSchema(Connection &c);

// The schema version that createSchema writes.
int schemaVersion();

} // namespace server
