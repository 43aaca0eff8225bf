#include "server/filerights.h"

#include "server/auth.h"
#include "server/authz.h"
#include "server/filearea.h"
#include "server/servererror.h"
#include "server/sql/backend.h"

#include <QSet>

namespace server {

namespace {

struct ManagedFolder
{
    const char *folder;   // first part of the server path
    const char *function; // the function that manages its files
};
const ManagedFolder kManaged[] = {{"notice", "px_Herald.fManagerMessage"}};

QString firstPart(const QString &key)
{
    return key.section(u'\\', 0, 0);
}

bool isUpdatePath(const QString &key)
{
    return firstPart(key).compare(QLatin1String("update"), Qt::CaseInsensitive) == 0;
}

bool manages(const Rights &rights, const QString &key)
{
    if (rights.superUser)
        return true;
    for (const ManagedFolder &m : kManaged)
        if (firstPart(key) == QLatin1String(m.folder) && rights.hasFunction(QString::fromLatin1(m.function)))
            return true;
    return false;
}

QString ownerOf(Connection &c, const QString &key, const QString &sysid)
{
    return c.query(QStringLiteral("select USERCODE from sys_fileowner where PATH=? and sysid=?"), {key, sysid}, true)
        .rows.value(0)
        .value(0)
        .toString();
}

} // namespace

QString fileKey(const QString &serverPath)
{
    QString p = serverPath.trimmed();
    p.replace(u'/', u'\\');
    while (p.startsWith(QLatin1String(".\\")))
        p = p.mid(2);
    while (p.startsWith(u'\\'))
        p = p.mid(1);
    return p; // file names are case-sensitive on the server
}

void createFileOwnerTable(Connection &c)
{
    c.executeScript(QStringLiteral("create table if not exists sys_fileowner (\n"
                                   "  PATH VARCHAR2(400) not null,\n"
                                   "  USERCODE VARCHAR2(40) not null,\n"
                                   "  sysid VARCHAR2(3) not null,\n"
                                   "  primary key (PATH, sysid));"));
}

void authorizeFileWrite(Backend &backend, const SessionInfo &session, const Rights &rights,
                        const SessionFiles &files, const QString &serverPath)
{
    const QString key = fileKey(serverPath);
    if (isUpdatePath(key) || files.version(serverPath).isEmpty() || manages(rights, key))
        return; // update files have their own rule; a new file is anyone's to write
    auto conn = backend.acquireForServer();
    if (ownerOf(*conn, key, session.sysid) == session.user)
        return;
    throw ServerError(403,
                      QStringLiteral("文件“%1”已经存在，只有上传它的用户或有管理权限的用户可以替换它，"
                                     "文件没有改变。请换一个文件名上传，或联系系统管理员。")
                          .arg(serverPath),
                      QStringLiteral("overwrite refused: %1 is not %2's").arg(serverPath, session.user));
}

void noteFileOwner(Backend &backend, const SessionInfo &session, const QString &serverPath)
{
    const QString key = fileKey(serverPath);
    if (isUpdatePath(key) || key.isEmpty())
        return;
    auto conn = backend.acquireForServer();
    conn->execute(QStringLiteral("insert into sys_fileowner (PATH, USERCODE, sysid) select ?, ?, ? "
                                 "where not exists (select 1 from sys_fileowner where PATH=? and sysid=?)"),
                  {key, session.user, session.sysid, key, session.sysid});
}

void authorizeFileRead(Backend &backend, const SessionInfo &session, const Rights &rights,
                       const SessionFiles &files, const QString &serverPath)
{
    const QString key = fileKey(serverPath);
    if (isUpdatePath(key) || manages(rights, key) || files.version(serverPath).isEmpty())
        return; // a missing file answers as missing
    {
        auto conn = backend.acquireForServer();
        if (ownerOf(*conn, key, session.sysid) == session.user)
            return;
    }
    // A notice that the caller may read names it: asked on the caller's own connection,
    // so that the notice must be one he sees.
    if (rights.mayRead(QStringLiteral("TAB_MSGRECORD"))) {
        auto conn = backend.acquireForClient(clientScope(rights, session));
        const QString p = serverPath.trimmed();
        // The body of a notice of the older layout is named by the notice's id
        // ("MSGData\<MSGID>.rtf"), not by a column.
        QString olderBodyOf;
        const QStringList parts = p.split(u'\\');
        if (parts.size() == 2 && parts.at(0).compare(QLatin1String("MSGData"), Qt::CaseInsensitive) == 0
            && parts.at(1).endsWith(QLatin1String(".rtf"), Qt::CaseInsensitive))
            olderBodyOf = parts.at(1).chopped(4);
        if (!conn->query(QStringLiteral("select 1 from TAB_MSGRECORD where MSGFILE=? or MSGCONTENT=? or MSGID=?"),
                         {p, p, olderBodyOf.isEmpty() ? QVariant() : QVariant(olderBodyOf)}, true)
                 .rows.isEmpty())
            return;
    }
    throw ServerError(403,
                      QStringLiteral("您无权查看文件“%1”：它不属于您能查看的公告或记录。如需查看请联系系统管理员。")
                          .arg(serverPath),
                      QStringLiteral("download refused: %1 for %2").arg(serverPath, session.user));
}

QString readableFileList(Backend &backend, const SessionInfo &session, const Rights &rights,
                         const SessionFiles &, const QString &serverFolder, const QString &names)
{
    const QStringList all = names.split(QLatin1String("\r\n"), Qt::SkipEmptyParts);
    if (all.isEmpty())
        return QString();
    QString folder = fileKey(serverFolder);
    while (folder.endsWith(u'\\'))
        folder.chop(1);
    auto keyOf = [&folder](const QString &name) {
        return folder.isEmpty() ? fileKey(name) : folder + QLatin1Char('\\') + fileKey(name);
    };
    QSet<QString> readable; // file keys the caller may read besides managed folders
    {
        auto conn = backend.acquireForServer();
        for (const QVariantList &row :
             conn->query(QStringLiteral("select PATH from sys_fileowner where USERCODE=? and sysid=?"),
                         {session.user, session.sysid}, true)
                 .rows)
            readable.insert(row.value(0).toString());
    }
    if (rights.mayRead(QStringLiteral("TAB_MSGRECORD"))) {
        auto conn = backend.acquireForClient(clientScope(rights, session));
        for (const QVariantList &row :
             conn->query(QStringLiteral("select MSGFILE, MSGCONTENT, MSGID from TAB_MSGRECORD"), {}, true).rows) {
            for (int i = 0; i < 2; ++i)
                if (!row.value(i).toString().trimmed().isEmpty())
                    readable.insert(fileKey(row.value(i).toString()));
            if (!row.value(2).toString().isEmpty())
                readable.insert(QStringLiteral("MSGData\\") + row.value(2).toString() + QStringLiteral(".rtf"));
        }
    }
    QStringList out;
    for (const QString &name : all) {
        const QString key = keyOf(name);
        if (isUpdatePath(key) || manages(rights, key) || readable.contains(key))
            out.append(name);
    }
    return out.join(QLatin1String("\r\n"));
}

} // namespace server
