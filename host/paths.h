#pragma once
// Path helpers. Texts of the system write paths with backslashes ("LocalData\cds\");
// these accept both separators.
//
//   QString dir = host::normalizePath(host::g_lstVars->value("iExePath") + "LocalData\\cds\\");

#include <QString>

namespace host {

// Turns every backslash into "/" (Qt accepts "/" on every platform).
QString normalizePath(const QString &path);

// Directory of the executable with a trailing "/" (the value of "iExePath").
QString exeDir();

} // namespace host
