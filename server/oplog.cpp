#include "server/oplog.h"

#include "server/sql/backend.h"
#include "server/sql/oracledialect.h"

#include <QtEndian>
#include <cmath>
#include <sodium.h>

namespace server {

namespace {

const char kKeyName[] = "oplog_key";
constexpr int kMaxKeys = 5;
constexpr int kRowsPerInsert = 50;

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

OpLogEntry normalised(OpLogEntry e)
{
    e.tableName = fitText(e.tableName, 40);
    e.key = fitText(e.key, 40);
    while (e.keys.size() > kMaxKeys)
        e.keys.removeLast();
    for (QString &k : e.keys)
        k = fitText(k, 40);
    e.content = fitContent(e.content);
    e.site = fitText(e.site, 50);
    e.emp = fitText(e.emp, 30);
    // An IPv4 client on a dual-stack socket shows as "::ffff:a.b.c.d".
    if (e.address.startsWith(QLatin1String("::ffff:")) && e.address.contains(QLatin1Char('.')))
        e.address = e.address.mid(7);
    e.address = fitText(e.address, 40);
    e.note = fitText(e.note, 200);
    e.time = e.time.isValid() ? e.time : QDateTime::currentDateTime();
    e.time.setTime(QTime(e.time.time().hour(), e.time.time().minute(), e.time.time().second()));
    return e;
}

QByteArray logKey(Connection &c)
{
    const QueryResult r = c.query(QStringLiteral("select VALUE from sys_server where NAME=?"),
                                  {QString::fromLatin1(kKeyName)}, false);
    const QByteArray key = r.rows.isEmpty() ? QByteArray() : r.rows.first().value(0).toByteArray();
    if (key.size() < int(crypto_generichash_KEYBYTES_MIN))
        throw DbError(QStringLiteral("the operation log has no hash key; run waylink-server init"));
    return key;
}

// Keyed BLAKE2b-256 over the previous hash and every value of the row, each value
// length-prefixed so that no two rows give the same input.
QString chainHash(const QByteArray &key, const QString &prev, const QString &sysid, qint64 seq,
                  qint64 id, const OpLogEntry &e)
{
    crypto_generichash_state st;
    crypto_generichash_init(&st, reinterpret_cast<const unsigned char *>(key.constData()),
                            size_t(qMin<qsizetype>(key.size(), crypto_generichash_KEYBYTES_MAX)),
                            crypto_generichash_BYTES);
    auto add = [&st](const QString &s) {
        const QByteArray b = s.toUtf8();
        const quint32 n = qToBigEndian(quint32(b.size()));
        crypto_generichash_update(&st, reinterpret_cast<const unsigned char *>(&n), sizeof n);
        crypto_generichash_update(&st, reinterpret_cast<const unsigned char *>(b.constData()),
                                  size_t(b.size()));
    };
    add(prev);
    add(sysid);
    add(QString::number(seq));
    add(QString::number(id));
    add(e.tableName);
    add(e.key);
    for (int i = 0; i < kMaxKeys; ++i)
        add(e.keys.value(i));
    add(e.opType);
    add(e.content);
    add(e.site);
    add(e.emp);
    add(e.address);
    add(canonicalDate(e.time));
    add(e.note);
    unsigned char out[crypto_generichash_BYTES];
    crypto_generichash_final(&st, out, sizeof out);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(out), sizeof out).toHex());
}

QVariant nullIfEmpty(const QString &s)
{
    return s.isEmpty() ? QVariant() : QVariant(s);
}

// One writer of the log at a time: the row lock on the key row serialises PostgreSQL
// transactions until they end (SQLite's write transaction is exclusive already). Taken
// only after the business rows are written, and nothing else is waited for while it is
// held, so it cannot deadlock with row locks.
void lockLog(Connection &c)
{
    c.execute(QStringLiteral("update sys_server set VALUE=VALUE where NAME=?"),
              {QString::fromLatin1(kKeyName)});
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

} // namespace

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
                {QString::fromLatin1(kKeyName)}, false)
            .rows.isEmpty()) {
        QByteArray key(crypto_generichash_KEYBYTES, '\0');
        randombytes_buf(key.data(), size_t(key.size()));
        c.execute(QStringLiteral("insert into sys_server (NAME, VALUE) values (?, ?)"),
                  {QString::fromLatin1(kKeyName), key});
    }
    if (upgrade)
        sealUnchained(c, logKey(c));
}

bool isLoggedTable(Connection &c, const QString &table, const QString &sysid)
{
    if (table.compare(QLatin1String("SYS_TABLES"), Qt::CaseInsensitive) == 0)
        return true;
    return !c.query(QStringLiteral("select 1 from SYS_TABLES where upper(TABLENAME)=upper(?) "
                                   "and sysid=?"),
                    {table.trimmed(), sysid}, false)
                .rows.isEmpty();
}

void appendOpLog(Connection &c, const QString &sysid, const QList<OpLogEntry> &entries)
{
    if (entries.isEmpty())
        return;
    lockLog(c);
    const QByteArray key = logKey(c);
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
    auto fieldOf = [this](const QString &column) {
        for (qsizetype i = 0; i < m_fieldColumns.size(); ++i)
            if (!m_fieldColumns.at(i).isEmpty()
                && m_fieldColumns.at(i).compare(column, Qt::CaseInsensitive) == 0)
                return int(i);
        return -1;
    };
    QStringList keyColumns;
    for (const QString &k : table.primaryKey)
        if (k.compare(QLatin1String("sysid"), Qt::CaseInsensitive) != 0)
            keyColumns.append(k);
    const int bill = table.columnIndex(QStringLiteral("BILLCODE"));
    const QString keyColumn = bill >= 0 ? table.columns.at(bill) : keyColumns.value(0);
    m_keyField = keyColumn.isEmpty() ? -1 : fieldOf(keyColumn);
    for (const QString &k : std::as_const(keyColumns))
        if (k.compare(keyColumn, Qt::CaseInsensitive) != 0 && m_moreKeyFields.size() < kMaxKeys)
            m_moreKeyFields.append(fieldOf(k));
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

OpLogEntry OpLogWriter::entryFor(const QVariantList &original, const QString &opType) const
{
    OpLogEntry e;
    e.tableName = m_table;
    e.opType = opType;
    auto keyText = [&original](int field) {
        if (field < 0 || original.value(field).isNull())
            return QString();
        return displayValue(original.value(field));
    };
    e.key = keyText(m_keyField);
    for (int f : m_moreKeyFields)
        e.keys.append(keyText(f));
    e.site = m_actor.site;
    e.emp = m_actor.emp;
    e.address = m_actor.address;
    e.time = QDateTime::currentDateTime();
    return e;
}

void OpLogWriter::logUpdate(const QVariantList &original, const QVariantList &row,
                            const QList<int> &changedFields)
{
    if (!m_active || changedFields.isEmpty())
        return;
    OpLogEntry e = entryFor(original, QStringLiteral("UPT"));
    QStringList parts;
    for (int f : changedFields)
        parts.append(m_fieldColumns.value(f) + QStringLiteral(": ") + displayValue(original.value(f))
                     + QStringLiteral(" -> ") + displayValue(row.value(f)));
    e.content = parts.join(QStringLiteral("; "));
    m_entries.append(e);
}

void OpLogWriter::logDelete(const QVariantList &original)
{
    if (!m_active)
        return;
    OpLogEntry e = entryFor(original, QStringLiteral("DEL"));
    QStringList parts;
    for (qsizetype f = 0; f < m_fieldColumns.size(); ++f) {
        const QString &column = m_fieldColumns.at(f);
        if (column.isEmpty() || column.compare(QLatin1String("sysid"), Qt::CaseInsensitive) == 0
            || original.value(f).isNull())
            continue;
        parts.append(column + QStringLiteral(": ") + displayValue(original.value(f)));
    }
    e.content = QStringLiteral("删除记录: ") + parts.join(QStringLiteral("; "));
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
    const QByteArray key = logKey(c);
    QStringList deployments;
    if (!sysid.isEmpty()) {
        deployments.append(sysid);
    } else {
        const QueryResult r = c.query(QStringLiteral("select sysid from sys_log union "
                                                     "select sysid from sys_logchain order by 1"),
                                      {}, false);
        for (const QVariantList &row : r.rows)
            deployments.append(row.value(0).toString());
    }

    QList<OpLogAudit> out;
    for (const QString &dep : std::as_const(deployments)) {
        OpLogAudit a;
        a.sysid = dep;
        const Head head = readHead(c, dep);
        a.rows = c.query(QStringLiteral("select count(*) from sys_log where sysid=?"), {dep}, false)
                     .rows.value(0)
                     .value(0)
                     .toLongLong();
        auto fail = [&a](qint64 id, const QString &text) {
            a.intact = false;
            a.badId = id;
            a.problem = text;
        };
        // Rows without a place in the chain were never written by the server.
        const QueryResult loose = c.query(
            QStringLiteral("select id from sys_log where sysid=? and (seq is null or hash is null) "
                           "order by id limit 1"),
            {dep}, false);
        if (!loose.rows.isEmpty()) {
            const qint64 id = loose.rows.first().value(0).toLongLong();
            fail(id, QStringLiteral("row id %1 has no place in the chain: it was inserted outside "
                                    "the server")
                         .arg(id));
            out.append(a);
            continue;
        }
        qint64 expected = 1;
        QString prev;
        qint64 lastSeq = -1, lastId = -1;
        bool done = false;
        while (!done) {
            const QueryResult page = c.query(
                QStringLiteral("select %1 from sys_log where sysid=? and (seq > ? or (seq = ? and "
                               "id > ?)) order by seq, id limit 2000")
                    .arg(kLogColumns),
                {dep, lastSeq, lastSeq, lastId}, false);
            for (const QVariantList &r : page.rows) {
                const qint64 id = r.value(0).toLongLong();
                const qint64 seq = r.value(1).toLongLong();
                const QString stored = r.value(2).toString();
                lastSeq = seq;
                lastId = id;
                if (seq < expected) {
                    fail(id, QStringLiteral("row id %1 repeats chain position %2: it was inserted "
                                            "outside the server")
                                 .arg(id)
                                 .arg(seq));
                } else if (seq > expected) {
                    fail(id, QStringLiteral("chain positions %1 to %2 are missing before row id %3: "
                                            "rows were removed outside the server")
                                 .arg(expected)
                                 .arg(seq - 1)
                                 .arg(id));
                } else if (head.exists && seq > head.seq) {
                    fail(id, QStringLiteral("row id %1 lies beyond the recorded end of the chain "
                                            "(position %2): it was inserted outside the server")
                                 .arg(id)
                                 .arg(head.seq));
                } else if (chainHash(key, prev, dep, seq, id, entryFromRow(r, 3)) != stored) {
                    fail(id, QStringLiteral("row id %1 (chain position %2) does not match its hash: "
                                            "it was altered outside the server")
                                 .arg(id)
                                 .arg(seq));
                }
                if (!a.intact) {
                    done = true;
                    break;
                }
                prev = stored;
                ++expected;
            }
            if (page.rows.size() < 2000)
                done = true;
        }
        if (a.intact) {
            const qint64 walked = expected - 1;
            if (!head.exists && walked > 0)
                fail(-1, QStringLiteral("the chain head of deployment %1 is missing: it was removed "
                                        "outside the server")
                             .arg(dep));
            else if (head.exists && head.seq > walked)
                fail(-1, QStringLiteral("chain positions %1 to %2 are missing at the end: the last "
                                        "rows were removed outside the server")
                             .arg(walked + 1)
                             .arg(head.seq));
            else if (head.exists && head.hash != prev)
                fail(-1, QStringLiteral("the chain head of deployment %1 does not match its last "
                                        "row: the head or that row was altered outside the server")
                             .arg(dep));
        }
        a.headHash = prev;
        out.append(a);
    }
    return out;
}

} // namespace server
