#pragma once

#include <QString>

namespace server {

class Backend;
class Connection;
struct Rights;
struct SessionInfo;
class SessionFiles;

// Who may replace and fetch the files of a deployment's area (docs/roles.md):
// - a new file may be written by anyone signed on; the server notes the writer as owner;
// - an existing file may be overwritten only by its owner or by a holder of the function
//   that manages its folder (notice files, folder "notice": 公告管理);
// - a file may be read by its owner, by such a manager, and by whoever may read a notice
//   that names it (MSGFILE or MSGCONTENT of a notice row the caller sees).
// Update files (folder "update") keep their own rule (mayReplaceUpdateFiles).
// Refusals throw ServerError(403) with a Chinese text; nothing is written.

// Creates the owner table (a server table); called by the schema.
void createFileOwnerTable(Connection &c);

void authorizeFileWrite(Backend &backend, const SessionInfo &session, const Rights &rights,
                        const SessionFiles &files, const QString &serverPath);
// After a write: the first writer of a path becomes its owner.
void noteFileOwner(Backend &backend, const SessionInfo &session, const QString &serverPath);
void authorizeFileRead(Backend &backend, const SessionInfo &session, const Rights &rights,
                       const SessionFiles &files, const QString &serverPath);

// GetLstFile: of `names` (the files below `serverFolder`, one a line, relative to it), the
// ones the caller may read by the rule of authorizeFileRead, in the same form.
QString readableFileList(Backend &backend, const SessionInfo &session, const Rights &rights,
                         const SessionFiles &files, const QString &serverFolder, const QString &names);

// The path as the owner table keeps it: backslashes, no leading ".\" or "\".
QString fileKey(const QString &serverPath);

} // namespace server
