#include "server/oplog.h"

#include "server/sql/backend.h"
#include "server/sql/oracledialect.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QUrl>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sodium.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace server {

namespace {

const char kDatabaseIdName[] = "database_id";
// Where versions before the key file kept the chain's key: read once to check the old chain,
// then removed (see ensureOpLogSchema).
const char kOldKeyName[] = "oplog_key";
const char kCheckpointTag[] = "waylink-oplog-checkpoint";
constexpr int kMaxKeys = 5;
constexpr int kRowsPerInsert = 50;
constexpr int kKeyBytes = crypto_generichash_KEYBYTES; // 32

// ---- the key file and the checkpoint file ------------------------------------------------

struct Files
{
    std::mutex mutex;
    OpLogFiles files;
    QByteArray key; // loaded on first use
    bool syslogOpen = false;
};

Files &files()
{
    static Files f;
    return f;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QByteArray parseKey(const QByteArray &text, const QString &path)
{
    const QByteArray key = QByteArray::fromHex(text.trimmed());
    if (key.size() != kKeyBytes)
        throw DbError(QStringLiteral("the operation log's key file %1 does not hold a key (64 "
                                     "hexadecimal digits); restore it from your backup")
                          .arg(path));
    return key;
}

QByteArray readKeyFile(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        throw DbError(QStringLiteral("the operation log's key file %1 cannot be read: %2")
                          .arg(path, systemError()));
    if (st.st_mode & (S_IRWXG | S_IRWXO))
        throw DbError(QStringLiteral("the operation log's key file %1 may be read by other users "
                                     "than its owner; allow only the server's user "
                                     "(chmod 600 %1)")
                          .arg(path));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw DbError(QStringLiteral("the operation log's key file %1 cannot be read: %2")
                          .arg(path, f.errorString()));
    return parseKey(f.read(256), path);
}

// Makes the key file with mode 0600 (its folder 0700 when it is new); an existing file is
// read instead, so that two processes starting at once agree on one key.
QByteArray readOrCreateKeyFile(const QString &path)
{
    if (QFileInfo::exists(path))
        return readKeyFile(path);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder)) {
        if (!QDir().mkpath(folder))
            throw DbError(QStringLiteral("the folder %1 for the operation log's key cannot be made")
                              .arg(folder));
        ::chmod(QFile::encodeName(folder).constData(), 0700);
    }
    QByteArray key(kKeyBytes, '\0');
    randombytes_buf(key.data(), size_t(key.size()));
    const QByteArray text = key.toHex() + '\n';
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          0600);
    if (fd < 0) {
        if (errno == EEXIST)
            return readKeyFile(path);
        throw DbError(QStringLiteral("the operation log's key file %1 cannot be made: %2")
                          .arg(path, systemError()));
    }
    const bool ok = ::write(fd, text.constData(), size_t(text.size())) == text.size()
                    && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok)
        throw DbError(QStringLiteral("the operation log's key file %1 cannot be written").arg(path));
    return key;
}

QByteArray writerKey()
{
    Files &f = files();
    std::lock_guard lock(f.mutex);
    if (f.files.keyFile.isEmpty())
        f.files = defaultOpLogFiles();
    if (f.key.isEmpty())
        f.key = readOrCreateKeyFile(f.files.keyFile);
    return f.key;
}

using Hasher = crypto_generichash_state;

Hasher startHash(const QByteArray &key)
{
    Hasher st;
    crypto_generichash_init(&st, reinterpret_cast<const unsigned char *>(key.constData()),
                            size_t(qMin<qsizetype>(key.size(), crypto_generichash_KEYBYTES_MAX)),
                            crypto_generichash_BYTES);
    return st;
}

// Each value length-prefixed, so that no two sequences of values give the same input.
void addText(Hasher &st, const QString &s)
{
    const QByteArray b = s.toUtf8();
    const quint32 n = qToBigEndian(quint32(b.size()));
    crypto_generichash_update(&st, reinterpret_cast<const unsigned char *>(&n), sizeof n);
    crypto_generichash_update(&st, reinterpret_cast<const unsigned char *>(b.constData()),
                              size_t(b.size()));
}

QString finishHash(Hasher &st)
{
    unsigned char out[crypto_generichash_BYTES];
    crypto_generichash_final(&st, out, sizeof out);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(out), sizeof out).toHex());
}

QString checkpointMac(const QByteArray &key, const OpLogCheckpoint &cp)
{
    Hasher st = startHash(key);
    addText(st, QString::fromLatin1(kCheckpointTag));
    addText(st, cp.databaseId);
    addText(st, cp.sysid);
    addText(st, QString::number(cp.from));
    addText(st, QString::number(cp.seq));
    addText(st, cp.hash);
    addText(st, canonicalDate(cp.time));
    return finishHash(st);
}

QByteArray checkpointLine(const QByteArray &key, const OpLogCheckpoint &cp)
{
    return QStringLiteral("%1 1 time=%2 db=%3 sysid=%4 from=%5 seq=%6 hash=%7 mac=%8\n")
        .arg(QString::fromLatin1(kCheckpointTag),
             cp.time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")), cp.databaseId,
             QString::fromLatin1(QUrl::toPercentEncoding(cp.sysid)))
        .arg(cp.from)
        .arg(cp.seq)
        .arg(cp.hash, checkpointMac(key, cp))
        .toUtf8();
}

// Appends one checkpoint (after the commit that made it): one write() of one line on a
// file opened for appending, so that lines of several threads or processes never mix.
void writeCheckpoint(const OpLogCheckpoint &cp)
{
    const QByteArray key = writerKey();
    Files &f = files();
    std::lock_guard lock(f.mutex);
    const QByteArray line = checkpointLine(key, cp);
    const int fd = ::open(QFile::encodeName(f.files.checkpointFile).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        if (::write(fd, line.constData(), size_t(line.size())) != line.size())
            qWarning("operation log: checkpoint not written to %s: %s",
                     qPrintable(f.files.checkpointFile), std::strerror(errno));
        ::close(fd);
    } else {
        qWarning("operation log: checkpoint file %s cannot be opened: %s",
                 qPrintable(f.files.checkpointFile), std::strerror(errno));
    }
    if (f.files.syslog) {
        if (!f.syslogOpen) {
            ::openlog("waylink-server", LOG_PID, LOG_AUTHPRIV);
            f.syslogOpen = true;
        }
        ::syslog(LOG_NOTICE, "%s", line.trimmed().constData());
    }
}

// ---- chain ---------------------------------------------------------------------------------

// Column sizes of sys_log: longer values are cut so that every backend stores (and the
// hash covers) exactly the same text.
QString fitText(QString s, int size)
{
    if (s.size() <= size)
        return s;
    s.truncate(size);
    if (!s.isEmpty() && s.back().isHighSurrogate())
        s.chop(1);
    return s;
}

QString fitContent(const QString &s)
{
    if (s.size() <= 2000)
        return s;
    return fitText(s, 1999) + QChar(0x2026);
}

// What no backend stores as sent (NUL, unpaired surrogates) becomes U+FFFD, so that the
// hash covers exactly what the database keeps.
QString storable(QString s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar ch = s.at(i);
        if (ch.unicode() == 0) {
            s[i] = QChar::ReplacementCharacter;
        } else if (ch.isHighSurrogate()) {
            if (i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
                ++i;
            else
                s[i] = QChar::ReplacementCharacter;
        } else if (ch.isLowSurrogate()) {
            s[i] = QChar::ReplacementCharacter;
        }
    }
    return s;
}

OpLogEntry normalised(OpLogEntry e)
{
    e.tableName = fitText(storable(e.tableName), 40);
    e.key = fitText(storable(e.key), 40);
    while (e.keys.size() > kMaxKeys)
        e.keys.removeLast();
    for (QString &k : e.keys)
        k = fitText(storable(k), 40);
    e.content = fitContent(storable(e.content));
    e.site = fitText(storable(e.site), 50);
    e.emp = fitText(storable(e.emp), 30);
    // An IPv4 client on a dual-stack socket shows as "::ffff:a.b.c.d".
    if (e.address.startsWith(QLatin1String("::ffff:")) && e.address.contains(QLatin1Char('.')))
        e.address = e.address.mid(7);
    e.address = fitText(storable(e.address), 40);
    e.note = fitText(storable(e.note), 200);
    e.time = e.time.isValid() ? e.time : QDateTime::currentDateTime();
    e.time.setTime(QTime(e.time.time().hour(), e.time.time().minute(), e.time.time().second()));
    return e;
}

// Keyed BLAKE2b-256 over the previous MAC and every value of the row.
QString chainHash(const QByteArray &key, const QString &prev, const QString &sysid, qint64 seq,
                  qint64 id, const OpLogEntry &e)
{
    Hasher st = startHash(key);
    addText(st, prev);
    addText(st, sysid);
    addText(st, QString::number(seq));
    addText(st, QString::number(id));
    addText(st, e.tableName);
    addText(st, e.key);
    for (int i = 0; i < kMaxKeys; ++i)
        addText(st, e.keys.value(i));
    addText(st, e.opType);
    addText(st, e.content);
    addText(st, e.site);
    addText(st, e.emp);
    addText(st, e.address);
    addText(st, canonicalDate(e.time));
    addText(st, e.note);
    return finishHash(st);
}

QVariant nullIfEmpty(const QString &s)
{
    return s.isEmpty() ? QVariant() : QVariant(s);
}

// One writer of the log at a time: the row lock on the database id serialises PostgreSQL
// transactions until they end (SQLite's write transaction is exclusive already). Taken
// only after the business rows are written, and nothing else is waited for while it is
// held, so it cannot deadlock with row locks.
void lockLog(Connection &c)
{
    c.execute(QStringLiteral("update sys_server set VALUE=VALUE where NAME=?"),
              {QString::fromLatin1(kDatabaseIdName)});
}

struct Head
{
    qint64 seq = 0;
    QString hash;
    bool exists = false;
};

Head readHead(Connection &c, const QString &sysid)
{
    Head h;
    const QueryResult r = c.query(
        QStringLiteral("select lastseq, lasthash from sys_logchain where sysid=?"), {sysid}, false);
    if (!r.rows.isEmpty()) {
        h.exists = true;
        h.seq = r.rows.first().value(0).toLongLong();
        h.hash = r.rows.first().value(1).toString();
    }
    return h;
}

void writeHead(Connection &c, const QString &sysid, qint64 seq, const QString &hash, bool exists)
{
    if (exists)
        c.execute(QStringLiteral("update sys_logchain set lastseq=?, lasthash=? where sysid=?"),
                  {seq, hash, sysid});
    else
        c.execute(QStringLiteral("insert into sys_logchain (sysid, lastseq, lasthash) values (?,?,?)"),
                  {sysid, seq, hash});
}

const QString kLogColumns = QStringLiteral(
    "id, seq, hash, tablename, key, key1, key2, key3, key4, key5, optype, content, opsite, "
    "opemp, opaddress, optime, opnote, sysid");

OpLogEntry entryFromRow(const QVariantList &r, int first)
{
    auto text = [&r](int i) { return r.value(i).isNull() ? QString() : r.value(i).toString(); };
    OpLogEntry e;
    e.tableName = text(first);
    e.key = text(first + 1);
    for (int i = 0; i < kMaxKeys; ++i)
        e.keys.append(text(first + 2 + i));
    e.opType = text(first + 7);
    e.content = text(first + 8);
    e.site = text(first + 9);
    e.emp = text(first + 10);
    e.address = text(first + 11);
    const QVariant t = r.value(first + 12);
    e.time = t.typeId() == QMetaType::QDateTime ? t.toDateTime()
                                                 : QDateTime::fromString(text(first + 12),
                                                                         QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    e.note = text(first + 13);
    return e;
}

// Puts the rows of an older database that have no place in the chain yet into it.
void sealUnchained(Connection &c, const QByteArray &key)
{
    const QueryResult ids = c.query(
        QStringLiteral("select distinct sysid from sys_log where seq is null"), {}, false);
    for (const QVariantList &s : ids.rows) {
        const QString sysid = s.value(0).toString();
        Head head = readHead(c, sysid);
        const QueryResult rows = c.query(
            QStringLiteral("select id, tablename, key, key1, key2, key3, key4, key5, optype, "
                           "content, opsite, opemp, opaddress, optime, opnote from sys_log "
                           "where sysid=? and seq is null order by id"),
            {sysid}, false);
        qint64 seq = head.seq;
        QString prev = head.hash;
        for (const QVariantList &r : rows.rows) {
            const qint64 id = r.value(0).toLongLong();
            const OpLogEntry e = entryFromRow(r, 1);
            ++seq;
            prev = chainHash(key, prev, sysid, seq, id, e);
            c.execute(QStringLiteral("update sys_log set seq=?, hash=? where id=?"), {seq, prev, id});
        }
        writeHead(c, sysid, seq, prev, head.exists);
    }
}

QString numberText(double d)
{
    if (std::isfinite(d) && d == std::trunc(d) && std::abs(d) < 1e15)
        return QString::number(qint64(d));
    QString s = QString::number(d, 'f', 6);
    while (s.endsWith(QLatin1Char('0')))
        s.chop(1);
    if (s.endsWith(QLatin1Char('.')))
        s.chop(1);
    return s;
}

// ---- walking a chain ----------------------------------------------------------------------

struct Walk
{
    qint64 rows = 0;
    QStringList problems;
    qint64 firstBadId = -1;
    qint64 lastSeq = 0;      // position of the last row walked
    QString lastHash;
    Head head;
    QHash<qint64, QString> hashAt; // stored MACs at the positions asked for
};

// Walks the chain of one deployment with `key` and reports every finding; consecutive rows
// that do not match their MACs are reported as one range.
Walk walkChain(Connection &c, const QString &dep, const QByteArray &key, const QSet<qint64> &wanted)
{
    Walk w;
    w.head = readHead(c, dep);
    w.rows = c.query(QStringLiteral("select count(*) from sys_log where sysid=?"), {dep}, false)
                 .rows.value(0)
                 .value(0)
                 .toLongLong();
    auto finding = [&w](qint64 id, const QString &text) {
        if (w.firstBadId < 0 && id >= 0)
            w.firstBadId = id;
        w.problems.append(text);
    };
    // Rows without a place in the chain were never written by the server.
    const QueryResult loose = c.query(
        QStringLiteral("select id from sys_log where sysid=? and (seq is null or hash is null) "
                       "order by id"),
        {dep}, false);
    if (!loose.rows.isEmpty()) {
        QStringList ids;
        for (const QVariantList &r : loose.rows.mid(0, 20))
            ids.append(r.value(0).toString());
        finding(loose.rows.first().value(0).toLongLong(),
                QStringLiteral("%1 row(s) without a place in the chain, inserted outside the "
                               "server: id %2%3")
                    .arg(loose.rows.size())
                    .arg(ids.join(QStringLiteral(", ")),
                         loose.rows.size() > 20 ? QStringLiteral(" ...") : QString()));
    }

    // A run of rows that do not match their MACs, reported when it ends.
    qint64 badFirstId = -1, badLastId = -1, badFirstSeq = 0, badLastSeq = 0;
    auto flushBad = [&]() {
        if (badFirstId < 0)
            return;
        if (badFirstId == badLastId)
            finding(badFirstId, QStringLiteral("row id %1 (chain position %2) does not match its "
                                               "MAC: it was altered outside the server")
                                    .arg(badFirstId)
                                    .arg(badFirstSeq));
        else
            finding(badFirstId, QStringLiteral("rows id %1 to %2 (chain positions %3 to %4) do "
                                               "not match their MACs: they were altered, "
                                               "reordered or rewritten outside the server")
                                    .arg(badFirstId)
                                    .arg(badLastId)
                                    .arg(badFirstSeq)
                                    .arg(badLastSeq));
        badFirstId = -1;
    };

    qint64 expected = 1;
    QString prev;
    qint64 lastSeq = -1, lastId = -1;
    for (;;) {
        const QueryResult page = c.query(
            QStringLiteral("select %1 from sys_log where sysid=? and seq is not null and hash is "
                           "not null and (seq > ? or (seq = ? and id > ?)) order by seq, id "
                           "limit 2000")
                .arg(kLogColumns),
            {dep, lastSeq, lastSeq, lastId}, false);
        for (const QVariantList &r : page.rows) {
            const qint64 id = r.value(0).toLongLong();
            const qint64 seq = r.value(1).toLongLong();
            const QString stored = r.value(2).toString();
            lastSeq = seq;
            lastId = id;
            if (seq < expected) {
                flushBad();
                finding(id, QStringLiteral("row id %1 repeats chain position %2: it was inserted "
                                           "outside the server")
                                .arg(id)
                                .arg(seq));
                continue;
            }
            if (wanted.contains(seq))
                w.hashAt.insert(seq, stored);
            if (seq > expected) {
                flushBad();
                finding(id, QStringLiteral("chain positions %1 to %2 are missing before row id %3: "
                                           "rows were removed outside the server")
                                .arg(expected)
                                .arg(seq - 1)
                                .arg(id));
            } else if (w.head.exists && seq > w.head.seq) {
                flushBad();
                finding(id, QStringLiteral("row id %1 lies beyond the recorded end of the chain "
                                           "(position %2): it was inserted outside the server")
                                .arg(id)
                                .arg(w.head.seq));
            } else if (chainHash(key, prev, dep, seq, id, entryFromRow(r, 3)) != stored) {
                if (badFirstId < 0) {
                    badFirstId = id;
                    badFirstSeq = seq;
                }
                badLastId = id;
                badLastSeq = seq;
            } else {
                flushBad();
            }
            prev = stored;
            expected = seq + 1;
        }
        if (page.rows.size() < 2000)
            break;
    }
    flushBad();
    const qint64 walked = expected - 1;
    w.lastSeq = walked;
    w.lastHash = prev;
    if (!w.head.exists && walked > 0)
        finding(-1, QStringLiteral("the chain head of deployment %1 is missing: it was removed "
                                   "outside the server")
                        .arg(dep));
    else if (w.head.exists && w.head.seq > walked)
        finding(-1, QStringLiteral("chain positions %1 to %2 are missing at the end: the last "
                                   "rows were removed outside the server")
                        .arg(walked + 1)
                        .arg(w.head.seq));
    else if (w.head.exists && walked > 0 && w.head.hash != prev)
        finding(-1, QStringLiteral("the chain head of deployment %1 does not match its last row: "
                                   "the head or that row was altered outside the server")
                        .arg(dep));
    return w;
}

QDateTime whole(QDateTime t)
{
    t.setTime(QTime(t.time().hour(), t.time().minute(), t.time().second()));
    return t;
}

} // namespace

// ---- files -------------------------------------------------------------------------------

QString serverConfigFolder()
{
    const QString own = qEnvironmentVariable("WAYLINK_CONFIG_DIR");
    if (!own.isEmpty())
        return own;
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty())
        return xdg + QStringLiteral("/waylink");
    return QDir::homePath() + QStringLiteral("/.config/waylink");
}

OpLogFiles defaultOpLogFiles()
{
    const QString folder = serverConfigFolder();
    OpLogFiles f;
    f.keyFile = folder + QStringLiteral("/oplog.key");
    f.checkpointFile = folder + QStringLiteral("/oplog.checkpoints");
    return f;
}

void configureOpLog(const OpLogFiles &wanted)
{
    const OpLogFiles defaults = defaultOpLogFiles();
    Files &f = files();
    std::lock_guard lock(f.mutex);
    f.files.keyFile = wanted.keyFile.isEmpty() ? defaults.keyFile : wanted.keyFile;
    f.files.checkpointFile = wanted.checkpointFile.isEmpty() ? defaults.checkpointFile
                                                             : wanted.checkpointFile;
    f.files.syslog = wanted.syslog;
    f.key.clear();
}

OpLogFiles opLogFiles()
{
    Files &f = files();
    std::lock_guard lock(f.mutex);
    if (f.files.keyFile.isEmpty())
        f.files = defaultOpLogFiles();
    return f.files;
}

void prepareOpLog()
{
    writerKey();
    const OpLogFiles f = opLogFiles();
    const QString folder = QFileInfo(f.checkpointFile).absolutePath();
    if (!QFileInfo::exists(folder) && !QDir().mkpath(folder))
        throw DbError(QStringLiteral("the folder %1 for the operation log's checkpoints cannot be "
                                     "made")
                          .arg(folder));
    const int fd = ::open(QFile::encodeName(f.checkpointFile).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw DbError(QStringLiteral("the operation log's checkpoint file %1 cannot be appended "
                                     "to: %2")
                          .arg(f.checkpointFile, systemError()));
    ::close(fd);
}

QByteArray readOpLogKey(const QString &file)
{
    return readKeyFile(file);
}

QString opLogDatabaseId(Connection &c)
{
    const QueryResult r = c.query(QStringLiteral("select VALUE from sys_server where NAME=?"),
                                  {QString::fromLatin1(kDatabaseIdName)}, false);
    const QString id = r.rows.isEmpty() ? QString()
                                        : QString::fromLatin1(r.rows.first().value(0).toByteArray());
    if (id.isEmpty())
        throw DbError(QStringLiteral("the database has no id for the operation log; run "
                                     "waylink-server init"));
    return id;
}

QList<OpLogCheckpoint> readOpLogCheckpoints(const QString &file, const QByteArray &key,
                                            QList<int> *damaged)
{
    QList<OpLogCheckpoint> out;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    int lineNo = 0;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine(4096).trimmed();
        ++lineNo;
        if (line.isEmpty())
            continue;
        const QList<QByteArray> parts = line.split(' ');
        QHash<QByteArray, QByteArray> v;
        for (const QByteArray &p : parts) {
            const qsizetype eq = p.indexOf('=');
            if (eq > 0)
                v.insert(p.left(eq), p.mid(eq + 1));
        }
        OpLogCheckpoint cp;
        cp.line = lineNo;
        cp.databaseId = QString::fromLatin1(v.value("db"));
        cp.sysid = QString::fromUtf8(QByteArray::fromPercentEncoding(v.value("sysid")));
        bool okFrom = false, okSeq = false;
        cp.from = v.value("from").toLongLong(&okFrom);
        cp.seq = v.value("seq").toLongLong(&okSeq);
        cp.hash = QString::fromLatin1(v.value("hash"));
        cp.time = QDateTime::fromString(QString::fromLatin1(v.value("time")),
                                        QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        const bool wellFormed = parts.value(0) == kCheckpointTag && okFrom && okSeq
                                && cp.time.isValid() && !cp.databaseId.isEmpty();
        if (!wellFormed || checkpointMac(key, cp) != QString::fromLatin1(v.value("mac"))) {
            if (damaged)
                damaged->append(lineNo);
            continue;
        }
        out.append(cp);
    }
    return out;
}

void ensureOpLogSchema(Connection &c)
{
    const TableInfo log = c.tableInfo(QStringLiteral("sys_log"));
    const bool upgrade = log.columnIndex(QStringLiteral("seq")) < 0;
    if (upgrade)
        c.execute(QStringLiteral("alter table sys_log add column seq INTEGER"));
    if (log.columnIndex(QStringLiteral("hash")) < 0)
        c.execute(QStringLiteral("alter table sys_log add column hash varchar(64)"));
    c.executeScript(QStringLiteral(
        "create table if not exists sys_logchain (\n"
        "  sysid VARCHAR2(3) primary key,\n"
        "  lastseq INTEGER not null,\n"
        "  lasthash VARCHAR2(64) not null);\n"
        "create index if not exists ix_log_chain on sys_log (sysid, seq);\n"
        "create index if not exists ix_log_sysid_time on sys_log (sysid, optime);\n"));
    if (c.query(QStringLiteral("select 1 from sys_server where NAME=?"),
                {QString::fromLatin1(kDatabaseIdName)}, false)
            .rows.isEmpty()) {
        QByteArray id(16, '\0');
        randombytes_buf(id.data(), size_t(id.size()));
        c.execute(QStringLiteral("insert into sys_server (NAME, VALUE) values (?, ?)"),
                  {QString::fromLatin1(kDatabaseIdName), id.toHex()});
    }
    const QByteArray key = writerKey();
    if (upgrade)
        sealUnchained(c, key);

    // A chain MACed with the key that the database itself held: checked with that key,
    // sealed again with the key file's, and the check's result written into the chain.
    const QueryResult old = c.query(QStringLiteral("select VALUE from sys_server where NAME=?"),
                                    {QString::fromLatin1(kOldKeyName)}, false);
    if (old.rows.isEmpty())
        return;
    const QByteArray oldKey = old.rows.first().value(0).toByteArray();
    const QueryResult deps = c.query(QStringLiteral("select sysid from sys_log union select sysid "
                                                    "from sys_logchain order by 1"),
                                     {}, false);
    for (const QVariantList &d : deps.rows) {
        const QString dep = d.value(0).toString();
        const Walk before = walkChain(c, dep, oldKey, {});
        const QueryResult rows = c.query(
            QStringLiteral("select %1 from sys_log where sysid=? and seq is not null order by seq, id")
                .arg(kLogColumns),
            {dep}, false);
        QString prev;
        qint64 seq = 0;
        for (const QVariantList &r : rows.rows) {
            const qint64 id = r.value(0).toLongLong();
            seq = r.value(1).toLongLong();
            prev = chainHash(key, prev, dep, seq, id, entryFromRow(r, 3));
            c.execute(QStringLiteral("update sys_log set hash=? where id=?"), {prev, id});
        }
        writeHead(c, dep, seq, prev, before.head.exists);
        OpLogEntry e;
        e.tableName = QStringLiteral("sys_log");
        e.key = dep;
        e.opType = QStringLiteral("SYS");
        e.content = QStringLiteral("操作日志改用服务器密钥文件签名，原有 %1 行已重新签名。此前的检查：%2")
                        .arg(rows.rows.size())
                        .arg(before.problems.isEmpty() ? QStringLiteral("链完整")
                                                       : before.problems.join(QStringLiteral("; ")));
        e.emp = QStringLiteral("server");
        e.time = QDateTime::currentDateTime();
        appendOpLog(c, dep, {e});
    }
    c.execute(QStringLiteral("delete from sys_server where NAME=?"), {QString::fromLatin1(kOldKeyName)});
}

bool isLoggedTable(Connection &c, const QString &table, const QString &sysid)
{
    const QString t = table.trimmed();
    for (const char *always : {"SYS_TABLES", "TAB_PARAMETER", "TAB_MSGRECORD"})
        if (t.compare(QLatin1String(always), Qt::CaseInsensitive) == 0)
            return true;
    return !c.query(QStringLiteral("select 1 from SYS_TABLES where upper(TABLENAME)=upper(?) "
                                   "and sysid=?"),
                    {t, sysid}, false)
                .rows.isEmpty();
}

void appendOpLog(Connection &c, const QString &sysid, const QList<OpLogEntry> &entries)
{
    if (entries.isEmpty())
        return;
    lockLog(c);
    const QByteArray key = writerKey();
    const QString databaseId = opLogDatabaseId(c);
    qint64 id = c.query(QStringLiteral("select coalesce(max(id),0)+1 from sys_log"), {}, false)
                    .rows.value(0)
                    .value(0)
                    .toLongLong();
    const Head head = readHead(c, sysid);
    qint64 seq = head.seq;
    QString prev = head.hash;
    const QString oneRow = QStringLiteral("(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    for (qsizetype start = 0; start < entries.size(); start += kRowsPerInsert) {
        const qsizetype end = qMin(entries.size(), start + kRowsPerInsert);
        QStringList marks;
        QVariantList params;
        params.reserve((end - start) * 18);
        for (qsizetype i = start; i < end; ++i) {
            const OpLogEntry e = normalised(entries.at(i));
            ++seq;
            prev = chainHash(key, prev, sysid, seq, id, e);
            params << id << seq << prev << e.tableName << nullIfEmpty(e.key);
            for (int k = 0; k < kMaxKeys; ++k)
                params << nullIfEmpty(e.keys.value(k));
            params << e.opType << e.content << nullIfEmpty(e.site) << nullIfEmpty(e.emp)
                   << nullIfEmpty(e.address) << e.time << nullIfEmpty(e.note) << sysid;
            marks.append(oneRow);
            ++id;
        }
        c.execute(QStringLiteral("insert into sys_log (%1) values %2")
                      .arg(kLogColumns, marks.join(QLatin1Char(','))),
                  params);
    }
    writeHead(c, sysid, seq, prev, head.exists);
    OpLogCheckpoint cp;
    cp.databaseId = databaseId;
    cp.sysid = sysid;
    cp.from = head.seq;
    cp.seq = seq;
    cp.hash = prev;
    cp.time = whole(QDateTime::currentDateTime());
    c.afterCommit([cp] { writeCheckpoint(cp); });
}

// ---- OpLogWriter ------------------------------------------------------------------------

OpLogWriter::OpLogWriter(Connection &c, const TableInfo &table, const QString &sysid,
                         const OpActor &actor, const QStringList &fieldColumns)
    : m_c(c)
    , m_table(table.name)
    , m_sysid(sysid)
    , m_actor(actor)
    , m_fieldColumns(fieldColumns)
{
    m_active = isLoggedTable(c, table.name, sysid);
    if (!m_active)
        return;
    QStringList keyColumns;
    for (const QString &k : table.primaryKey)
        if (k.compare(QLatin1String("sysid"), Qt::CaseInsensitive) != 0)
            keyColumns.append(k);
    const int bill = table.columnIndex(QStringLiteral("BILLCODE"));
    const QString keyColumn = bill >= 0 ? table.columns.at(bill) : keyColumns.value(0);
    m_keyColumns.append(keyColumn);
    for (const QString &k : std::as_const(keyColumns))
        if (k.compare(keyColumn, Qt::CaseInsensitive) != 0 && m_keyColumns.size() <= kMaxKeys)
            m_keyColumns.append(k);
    for (const QString &k : std::as_const(m_keyColumns)) {
        int field = -1;
        for (qsizetype i = 0; i < m_fieldColumns.size() && !k.isEmpty(); ++i)
            if (m_fieldColumns.at(i).compare(k, Qt::CaseInsensitive) == 0)
                field = int(i);
        m_keyFields.append(field);
    }
}

QString OpLogWriter::displayValue(const QVariant &v)
{
    if (v.isNull())
        return QStringLiteral("(空)");
    QString s;
    switch (v.typeId()) {
    case QMetaType::QDateTime:
        s = canonicalDate(v.toDateTime());
        break;
    case QMetaType::QDate:
        s = v.toDate().toString(QStringLiteral("yyyy-MM-dd"));
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        s = numberText(v.toDouble());
        break;
    case QMetaType::QByteArray:
        return QStringLiteral("(二进制 %1 字节)").arg(v.toByteArray().size());
    default:
        s = v.toString();
    }
    // One line of printable text: line breaks and control characters become blanks.
    for (QChar &ch : s)
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7f)
            ch = QLatin1Char(' ');
    if (s.size() > 200)
        s = fitText(s, 199) + QChar(0x2026);
    return s;
}

OpLogEntry OpLogWriter::entryFor(const QString &opType) const
{
    OpLogEntry e;
    e.tableName = m_table;
    e.opType = opType;
    e.site = m_actor.site;
    e.emp = m_actor.emp;
    e.address = m_actor.address;
    e.time = QDateTime::currentDateTime();
    return e;
}

namespace {
// The key values of a row given as columns and values (names compared without regard to case).
void setKeys(OpLogEntry &e, const QStringList &keyColumns, const QStringList &columns,
             const QVariantList &values)
{
    auto valueOf = [&](const QString &column) {
        for (qsizetype i = 0; i < columns.size(); ++i)
            if (!columns.at(i).isEmpty() && columns.at(i).compare(column, Qt::CaseInsensitive) == 0)
                return values.value(i).isNull() ? QString() : OpLogWriter::displayValue(values.value(i));
        return QString();
    };
    for (qsizetype k = 0; k < keyColumns.size(); ++k) {
        if (k == 0)
            e.key = keyColumns.at(0).isEmpty() ? QString() : valueOf(keyColumns.at(0));
        else
            e.keys.append(valueOf(keyColumns.at(k)));
    }
}
} // namespace

void OpLogWriter::logUpdate(const QVariantList &before, const QVariantList &row,
                            const QList<int> &changedFields)
{
    if (!m_active || changedFields.isEmpty())
        return;
    OpLogEntry e = entryFor(QStringLiteral("UPT"));
    for (qsizetype k = 0; k < m_keyFields.size(); ++k) {
        const QVariant v = before.value(m_keyFields.at(k));
        const QString text = v.isNull() ? QString() : displayValue(v);
        if (k == 0)
            e.key = text;
        else
            e.keys.append(text);
    }
    QStringList parts;
    for (int f : changedFields)
        parts.append(m_fieldColumns.value(f) + QStringLiteral(": ") + displayValue(before.value(f))
                     + QStringLiteral(" -> ") + displayValue(row.value(f)));
    e.content = parts.join(QStringLiteral("; "));
    m_entries.append(e);
}

void OpLogWriter::logDelete(const QStringList &columns, const QVariantList &values,
                            const QString &removedWithIt)
{
    if (!m_active)
        return;
    OpLogEntry e = entryFor(QStringLiteral("DEL"));
    setKeys(e, m_keyColumns, columns, values);
    QStringList parts;
    for (qsizetype f = 0; f < columns.size(); ++f) {
        const QString &column = columns.at(f);
        if (column.isEmpty() || column.compare(QLatin1String("sysid"), Qt::CaseInsensitive) == 0
            || values.value(f).isNull())
            continue;
        parts.append(column + QStringLiteral(": ") + displayValue(values.value(f)));
    }
    e.content = QStringLiteral("删除记录: ") + parts.join(QStringLiteral("; "));
    if (!removedWithIt.isEmpty())
        e.content += QStringLiteral("；随之删除: ") + removedWithIt;
    m_entries.append(e);
}

void OpLogWriter::finish()
{
    if (!m_active)
        return;
    appendOpLog(m_c, m_sysid, m_entries);
    m_entries.clear();
}

// ---- verification ------------------------------------------------------------------------

QList<OpLogAudit> verifyOpLog(Connection &c, const QString &sysid)
{
    OpLogVerifyOptions o;
    o.sysid = sysid;
    return verifyOpLog(c, o);
}

QList<OpLogAudit> verifyOpLog(Connection &c, const OpLogVerifyOptions &options)
{
    const OpLogFiles configured = opLogFiles();
    const QString keyFile = options.keyFile.isEmpty() ? configured.keyFile : options.keyFile;
    const QString cpFile = options.checkpointFile.isEmpty() ? configured.checkpointFile
                                                            : options.checkpointFile;
    const QByteArray key = readKeyFile(keyFile);
    const QString databaseId = opLogDatabaseId(c);

    QStringList damagedFiles; // "lines 3, 7 of FILE"
    QList<OpLogCheckpoint> all;
    const bool haveFile = options.useCheckpoints && QFileInfo::exists(cpFile);
    QStringList files;
    if (haveFile)
        files.append(cpFile);
    if (options.useCheckpoints)
        files.append(options.otherCheckpointFiles);
    for (const QString &file : std::as_const(files)) {
        QList<int> damaged;
        QList<OpLogCheckpoint> read = readOpLogCheckpoints(file, key, &damaged);
        for (OpLogCheckpoint &cp : read)
            cp.file = file;
        all.append(read);
        if (!damaged.isEmpty()) {
            QStringList lines;
            for (int l : std::as_const(damaged))
                lines.append(QString::number(l));
            damagedFiles.append(QStringLiteral("%1 of %2").arg(lines.join(QStringLiteral(", ")), file));
        }
    }
    // Several servers' files: one history in the order of time (each file is in order; the
    // positions that two servers wrote never overlap, so equal times cannot mislead).
    if (files.size() > 1)
        std::stable_sort(all.begin(), all.end(), [](const OpLogCheckpoint &a, const OpLogCheckpoint &b) {
            return a.time < b.time;
        });
    QHash<QString, QList<OpLogCheckpoint>> bySysid;
    QSet<QString> otherDatabases;
    for (const OpLogCheckpoint &cp : std::as_const(all)) {
        if (cp.databaseId == databaseId)
            bySysid[cp.sysid].append(cp);
        else
            otherDatabases.insert(cp.databaseId);
    }

    QStringList deployments;
    if (!options.sysid.isEmpty()) {
        deployments.append(options.sysid);
    } else {
        const QueryResult r = c.query(QStringLiteral("select sysid from sys_log union "
                                                     "select sysid from sys_logchain order by 1"),
                                      {}, false);
        for (const QVariantList &row : r.rows)
            deployments.append(row.value(0).toString());
        for (auto it = bySysid.cbegin(); it != bySysid.cend(); ++it)
            if (!deployments.contains(it.key()))
                deployments.append(it.key());
        deployments.sort();
    }

    QList<OpLogAudit> out;
    for (const QString &dep : std::as_const(deployments)) {
        OpLogAudit a;
        a.sysid = dep;
        auto worse = [&a](OpLogAudit::Status s) {
            if (s == OpLogAudit::Tampered || a.status == OpLogAudit::Intact)
                a.status = s;
        };

        // The checkpoints of the chain's present history: a checkpoint whose positions
        // overlap those of an earlier one means that the chain was set back in between
        // (a restored backup, or rows removed and the head moved back).
        QList<OpLogCheckpoint> current;
        QStringList rewinds;
        for (const OpLogCheckpoint &cp : bySysid.value(dep)) {
            qint64 reached = 0;
            bool overlaps = false;
            for (const OpLogCheckpoint &r : std::as_const(current)) {
                reached = qMax(reached, r.seq);
                overlaps = overlaps || (cp.from < r.seq && r.from < cp.seq);
            }
            if (overlaps) {
                rewinds.append(QStringLiteral("at %1 the chain was set back from position %2 to %3: "
                                              "entries %4 to %2 of the earlier history are gone "
                                              "(a backup restored, or rows removed outside the "
                                              "server)")
                                   .arg(cp.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                                   .arg(reached)
                                   .arg(cp.from)
                                   .arg(cp.from + 1));
                QList<OpLogCheckpoint> kept;
                for (const OpLogCheckpoint &r : std::as_const(current))
                    if (r.seq <= cp.from)
                        kept.append(r);
                current = kept;
            }
            current.append(cp);
        }
        const OpLogCheckpoint *latest = nullptr;
        for (const OpLogCheckpoint &cp : std::as_const(current))
            if (!latest || cp.seq > latest->seq)
                latest = &cp;

        QSet<qint64> wanted;
        for (const OpLogCheckpoint &cp : std::as_const(current))
            wanted.insert(cp.seq);
        if (options.headSeq > 0)
            wanted.insert(options.headSeq);

        const Walk w = walkChain(c, dep, key, wanted);
        a.rows = w.rows;
        a.headSeq = w.lastSeq;
        a.headHash = w.lastHash;
        a.problems = w.problems;
        a.badId = w.firstBadId;
        if (!w.problems.isEmpty())
            worse(OpLogAudit::Tampered);

        const bool chainMissing = w.rows == 0 && !w.head.exists;
        const bool severalFiles = files.size() > 1;
        auto when = [severalFiles](const OpLogCheckpoint &cp) {
            return QStringLiteral("the checkpoint of %1 (line %2%3)")
                .arg(cp.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                .arg(cp.line)
                .arg(severalFiles ? QStringLiteral(" of ") + cp.file : QString());
        };
        if (chainMissing && (latest || options.headSeq > 0)) {
            const qint64 end = latest ? latest->seq : options.headSeq;
            a.problems.append(QStringLiteral("the chain of deployment %1 is missing altogether: "
                                             "%2 names positions 1 to %3; they were removed "
                                             "outside the server")
                                  .arg(dep, latest ? when(*latest) : QStringLiteral("the noted head"))
                                  .arg(end));
            worse(OpLogAudit::Tampered);
        } else if (!chainMissing) {
            // Every checkpoint of the present history that the chain reaches must match it.
            int mismatches = 0;
            const OpLogCheckpoint *matched = nullptr;
            for (const OpLogCheckpoint &cp : std::as_const(current)) {
                if (cp.seq > w.lastSeq || cp.seq <= 0)
                    continue;
                if (w.hashAt.value(cp.seq) != cp.hash) {
                    if (++mismatches <= 5)
                        a.problems.append(QStringLiteral("chain position %1 does not match %2: the "
                                                         "chain was rewritten outside the server")
                                              .arg(cp.seq)
                                              .arg(when(cp)));
                    worse(OpLogAudit::Tampered);
                } else if (!matched || cp.seq > matched->seq) {
                    matched = &cp;
                }
            }
            if (mismatches > 5)
                a.problems.append(QStringLiteral("%1 further checkpoints do not match").arg(mismatches - 5));
            if (latest && latest->seq > w.lastSeq) {
                if (matched && matched->seq == w.lastSeq) {
                    a.problems.append(QStringLiteral("the chain ends at position %1, which matches "
                                                     "%2; %3 names %4 newer entries (positions %5 "
                                                     "to %6) that the database lacks: a backup of "
                                                     "that time was restored, or the newest entries "
                                                     "were removed outside the server")
                                          .arg(w.lastSeq)
                                          .arg(when(*matched), when(*latest))
                                          .arg(latest->seq - w.lastSeq)
                                          .arg(w.lastSeq + 1)
                                          .arg(latest->seq));
                    worse(OpLogAudit::Behind);
                } else {
                    a.problems.append(QStringLiteral("the chain ends at position %1, shorter than %2 "
                                                     "(position %3): positions %4 to %3 are missing, "
                                                     "removed outside the server")
                                          .arg(w.lastSeq)
                                          .arg(when(*latest))
                                          .arg(latest->seq)
                                          .arg(w.lastSeq + 1));
                    worse(OpLogAudit::Tampered);
                }
            } else if (latest && w.lastSeq > latest->seq) {
                a.notes.append(QStringLiteral("%1 entries are newer than the latest checkpoint (%2)")
                                   .arg(w.lastSeq - latest->seq)
                                   .arg(when(*latest)));
            } else if (latest) {
                a.notes.append(QStringLiteral("matches the latest checkpoint (%1)").arg(when(*latest)));
            } else if (options.useCheckpoints && w.rows > 0) {
                a.problems.append(QStringLiteral("no checkpoint names this deployment in %1: the end "
                                                 "of its chain cannot be confirmed (give --head, or "
                                                 "the checkpoint file that the server writes)")
                                      .arg(cpFile));
                worse(OpLogAudit::Behind);
            }
        }
        for (const QString &r : std::as_const(rewinds)) {
            a.problems.append(r);
            worse(OpLogAudit::Behind);
        }

        if (options.headSeq > 0) {
            if (options.headSeq > w.lastSeq) {
                if (!chainMissing)
                    a.problems.append(QStringLiteral("the chain ends at position %1, before the noted "
                                                     "head %2: positions %3 to %2 are missing")
                                          .arg(w.lastSeq)
                                          .arg(options.headSeq)
                                          .arg(w.lastSeq + 1));
                worse(OpLogAudit::Tampered);
            } else if (w.hashAt.value(options.headSeq).compare(options.headHash, Qt::CaseInsensitive)
                       != 0) {
                a.problems.append(QStringLiteral("chain position %1 does not match the noted head: "
                                                 "the chain was rewritten outside the server")
                                      .arg(options.headSeq));
                worse(OpLogAudit::Tampered);
            } else {
                a.notes.append(QStringLiteral("matches the noted head %1").arg(options.headSeq));
            }
        }
        for (const QString &d : std::as_const(damagedFiles)) {
            a.problems.append(QStringLiteral("checkpoint lines %1 do not match their MACs: "
                                             "the checkpoint file was altered")
                                  .arg(d));
            worse(OpLogAudit::Tampered);
        }
        if (!otherDatabases.isEmpty())
            a.notes.append(QStringLiteral("%1 also holds checkpoints of %2 other database(s)")
                               .arg(files.join(QStringLiteral(", ")))
                               .arg(otherDatabases.size()));
        if (options.useCheckpoints && !haveFile)
            a.notes.append(QStringLiteral("no checkpoint file at %1").arg(cpFile));
        a.intact = a.status == OpLogAudit::Intact;
        if (!a.problems.isEmpty())
            a.problem = a.problems.first();
        out.append(a);
    }
    return out;
}

} // namespace server
