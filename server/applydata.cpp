#include "server/applydata.h"
#include "dataaccess/protocol/protocol.h"

#include "server/authz.h"
#include "server/noticerules.h"
#include "server/sql/backend.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>
#include <cmath>
#include <optional>

namespace server {

bool isProtectedTable(const QString &table)
{
    const QString t = table.toLower();
    return t == QLatin1String("sys_user") || t == QLatin1String("sys_server")
           || t == QLatin1String("sys_filepurge")
           || t == QLatin1String("dual") || t.startsWith(QLatin1String("sqlite_"))
           || authzTables().contains(t) || isServerTable(t);
}

bool isStorableText(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch.unicode() == 0)
            return false;
        if (ch.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate())
                return false;
            ++i;
        } else if (ch.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

QString unstorableTextMessage(const QString &where)
{
    return QStringLiteral("%1含有无法保存的字符（空字符 NUL 或不成对的代理字符）。请删除这些字符后重试。")
        .arg(where);
}

namespace {

QString columnTwice(const QString &table, const QString &column)
{
    return QStringLiteral("要保存到数据表 %1 的数据中列 %2 出现了两次，本次没有保存任何数据。"
                          "请检查程序或联系系统管理员。")
        .arg(table, column);
}

bool isNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() && b.isNull();
    if (isNumber(a) && isNumber(b))
        return a.toDouble() == b.toDouble();
    if (a.typeId() == QMetaType::QDateTime && b.typeId() == QMetaType::QDateTime)
        return a.toDateTime() == b.toDateTime();
    if (a.typeId() == QMetaType::QByteArray || b.typeId() == QMetaType::QByteArray)
        return a.toByteArray() == b.toByteArray();
    return a.toString() == b.toString();
}

QString describeKey(const QStringList &pk, const QVariantList &values)
{
    QStringList parts;
    for (qsizetype i = 0; i < pk.size() && i < values.size(); ++i)
        parts.append(pk.at(i) + QLatin1Char('=') + values.at(i).toString());
    return parts.join(QStringLiteral(", "));
}

// Why a number does not fit a column declared NUMBER(p,s) / NUMERIC / DECIMAL (or any
// number column, for NaN and infinities); empty when it fits. Values with more decimals
// than the scale are accepted (the database rounds them), digits before the point are not.
QString numberProblem(const QString &declared, double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("不是有效的数字");
    static const QRegularExpression decl(
        QStringLiteral("^\\s*(NUMBER|NUMERIC|DECIMAL)\\s*\\(\\s*(\\d+)\\s*(?:,\\s*(-?\\d+)\\s*)?\\)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = decl.match(declared);
    if (!m.hasMatch())
        return QString();
    const int precision = m.captured(2).toInt();
    const int scale = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
    const int integerDigits = precision - scale;
    const double rounded = std::round(value * std::pow(10.0, scale)) / std::pow(10.0, scale);
    if (integerDigits < 0 || std::fabs(rounded) >= std::pow(10.0, integerDigits))
        return QStringLiteral("超出范围（最多 %1 位整数、%2 位小数）").arg(std::max(0, integerDigits)).arg(scale);
    return QString();
}

// A row's key as text, from the values of the primary key's columns other than sysid
// (`values` by packet field); the same text for the packet's original and the database's row.
QString heldKey(const TableInfo &info, const QList<int> &pkFields, const QVariantList &values)
{
    QString key;
    for (qsizetype k = 0; k < info.primaryKey.size(); ++k) {
        if (info.primaryKey.at(k).compare(QLatin1String("sysid"), Qt::CaseInsensitive) == 0)
            continue;
        const QVariant v = values.value(pkFields.value(k, -1));
        key += v.isNull() ? QStringLiteral("\x01") : v.toString();
        key += QChar(0x1f);
    }
    return key;
}

// The rows that the packet's changes name, as the database holds them now: `readColumns`
// of each, keyed by heldKey().
QHash<QString, QVariantList> readHeldRows(Connection &c, const TableInfo &info,
                                          const QList<int> &colOf, const QList<int> &pkFields,
                                          const QString &readColumns, const QString &qtable,
                                          const QString &sysid, int sysidCol,
                                          const QList<quillon::DataPacket::Change> &changes)
{
    QHash<QString, QVariantList> out;
    QStringList keyColumns;
    QList<int> keyFields;
    for (qsizetype k = 0; k < info.primaryKey.size(); ++k) {
        if (info.primaryKey.at(k).compare(QLatin1String("sysid"), Qt::CaseInsensitive) == 0)
            continue;
        if (pkFields.value(k, -1) < 0)
            return out; // the packet lacks a key column: the changes are refused later
        keyColumns.append(c.quoteIdentifier(info.primaryKey.at(k)));
        keyFields.append(pkFields.at(k));
    }
    if (keyColumns.isEmpty())
        return out;
    // The key columns are selected first, then the columns to read.
    QList<const QVariantList *> wanted;
    for (const quillon::DataPacket::Change &ch : changes)
        if (ch.state == quillon::RowState::Modified)
            wanted.append(&ch.original);
    constexpr int kPerRead = 100;
    for (qsizetype start = 0; start < wanted.size(); start += kPerRead) {
        QStringList alternatives;
        QVariantList params{sysid};
        for (qsizetype i = start; i < qMin(wanted.size(), start + kPerRead); ++i) {
            QStringList conds;
            for (qsizetype k = 0; k < keyColumns.size(); ++k) {
                conds.append(keyColumns.at(k) + QStringLiteral(" = ?"));
                params.append(wanted.at(i)->value(keyFields.at(k)));
            }
            alternatives.append(QLatin1Char('(') + conds.join(QStringLiteral(" and ")) + QLatin1Char(')'));
        }
        const QueryResult r = c.query(
            QStringLiteral("select %1, %2 from %3 where %4 = ? and (%5)%6")
                .arg(keyColumns.join(QLatin1Char(',')), readColumns, qtable,
                     c.quoteIdentifier(info.columns.at(sysidCol)),
                     alternatives.join(QStringLiteral(" or ")), c.lockRowsClause()),
            params, false);
        for (const QVariantList &row : r.rows) {
            QVariantList byField(colOf.size());
            for (qsizetype k = 0; k < keyFields.size(); ++k)
                byField[keyFields.at(k)] = row.value(k);
            out.insert(heldKey(info, pkFields, byField), row.mid(keyColumns.size()));
        }
    }
    return out;
}

// What the database's own rules delete together with a row of `info` (the notice board's:
// a notice takes its site, employee and receipt rows along), as the operation log shows it;
// empty for tables without such rules. Read before the deletion, in its transaction.
QString ruleDeletions(Connection &c, const TableInfo &info, const QVariantList &orig,
                      const QList<int> &pkFields, const QString &sysid)
{
    if (info.name.compare(QLatin1String("TAB_MSGRECORD"), Qt::CaseInsensitive) != 0)
        return QString();
    const int idKey = int(info.primaryKey.indexOf(info.columns.value(info.columnIndex(QStringLiteral("MSGID")))));
    if (idKey < 0 || pkFields.value(idKey) < 0)
        return QString();
    const QVariant msgId = orig.value(pkFields.at(idKey));
    const struct
    {
        const char *table, *what;
    } dependents[] = {{"TAB_MSGSITE", "MSGSITE"},
                      {"TAB_MSGEMP", "MSGEMP"},
                      {"TAB_MSGREAD", "MSGReader"}};
    QStringList parts;
    for (const auto &d : dependents) {
        const QueryResult r = c.query(QStringLiteral("select %1 from %2 where MSGID=? and sysid=? "
                                                     "order by 1")
                                          .arg(QString::fromLatin1(d.what), QString::fromLatin1(d.table)),
                                      {msgId, sysid}, false);
        if (r.rows.isEmpty())
            continue;
        QStringList names;
        for (const QVariantList &row : r.rows.mid(0, 20))
            names.append(row.value(0).toString());
        parts.append(QStringLiteral("%1 %2 行（%3%4）")
                         .arg(QString::fromLatin1(d.table))
                         .arg(r.rows.size())
                         .arg(names.join(QStringLiteral(", ")),
                              r.rows.size() > 20 ? QStringLiteral(" …") : QString()));
    }
    return parts.join(QStringLiteral("; "));
}

} // namespace

quillon::DataPacket applyData(Connection &c, const QString &table, const QString &xml,
                              const QString &sysid, const OpActor &actor,
                              const ApplyAuthorizer &authorize, const ApplyRecorder &beforeCommit,
                              const QStringList &updatableColumns)
{
    static const QRegularExpression ident(QStringLiteral("^[A-Za-z_][A-Za-z0-9_$#]*$"));
    const QString tableName = table.trimmed();
    if (!ident.match(tableName).hasMatch())
        throw ServerError::technical(400, QStringLiteral("invalid table name: %1").arg(table));
    if (isProtectedTable(tableName) || isServerWrittenTable(tableName))
        throw ServerError(403,
                          QStringLiteral("数据表 %1 只能由服务器修改，本次没有保存任何数据。").arg(tableName),
                          QStringLiteral("table %1 cannot be written by clients").arg(tableName));
    const TableInfo info = c.tableInfo(tableName);
    if (!info.exists())
        throw ServerError(400,
                          QStringLiteral("服务器上没有数据表 %1，本次没有保存任何数据。请确认程序与服务器的"
                                         "版本一致，或联系系统管理员。")
                              .arg(tableName),
                          QStringLiteral("unknown table: %1").arg(tableName));
    const int sysidCol = info.columnIndex(QStringLiteral("sysid"));
    if (sysidCol < 0)
        throw ServerError::technical(403, QStringLiteral("table %1 has no sysid and cannot be written")
                                  .arg(tableName));

    quillon::DataPacket packet;
    try {
        packet = quillon::DataPacket::fromXml(xml);
    } catch (const quillon::PacketError &e) {
        throw ServerError(400,
                          QStringLiteral("要保存到数据表 %1 的数据有误（%2），本次没有保存任何数据。"
                                         "请改正后再保存；问题持续时请联系系统管理员。")
                              .arg(tableName, QString::fromUtf8(e.what()).left(200)),
                          QStringLiteral("bad data packet: %1").arg(QString::fromUtf8(e.what())));
    }

    // Texts that a backend would not store as sent are refused before anything is written,
    // on every backend alike (PostgreSQL cuts a text at a NUL).
    auto checkTexts = [&packet, &tableName](const QVariantList &values) {
        for (qsizetype i = 0; i < values.size(); ++i)
            if (values.at(i).typeId() == QMetaType::QString && !isStorableText(values.at(i).toString()))
                throw ServerError(400, unstorableTextMessage(
                                          QStringLiteral("%1.%2 的值").arg(tableName,
                                                                          packet.fields.value(i).name)));
    };
    for (const QVariantList &row : std::as_const(packet.rows))
        checkTexts(row);
    for (const quillon::DataPacket::Change &ch : std::as_const(packet.changes))
        checkTexts(ch.original);
    for (const quillon::FieldDef &f : std::as_const(packet.fields))
        if (!isStorableText(f.name))
            throw ServerError(400, unstorableTextMessage(QStringLiteral("字段名")));

    // Two fields for one column are refused before the rights look at the packet.
    for (qsizetype i = 0; i < packet.fields.size(); ++i)
        for (qsizetype j = 0; j < i; ++j)
            if (packet.fields.at(j).name.compare(packet.fields.at(i).name, Qt::CaseInsensitive) == 0)
                throw ServerError(400, columnTwice(tableName, packet.fields.at(i).name));

    if (authorize) {
        QString ops;
        for (const auto &[state, op] : {std::pair{quillon::RowState::Inserted, u'I'},
                                        std::pair{quillon::RowState::Modified, u'U'},
                                        std::pair{quillon::RowState::Deleted, u'D'}})
            for (const quillon::DataPacket::Change &ch : std::as_const(packet.changes))
                if (ch.state == state) {
                    ops.append(QChar(op));
                    break;
                }
        if (!ops.isEmpty())
            authorize(info.name, ops, packet);
    }

    // Packet field -> table column (as declared); -1 for fields the table lacks. Two fields
    // for one column (names differing in case ...) would let the second one write what the
    // checks of the first did not see: refused.
    QList<int> colOf;
    for (qsizetype i = 0; i < packet.fields.size(); ++i) {
        const QString &name = packet.fields.at(i).name;
        for (qsizetype j = 0; j < i; ++j)
            if (packet.fields.at(j).name.compare(name, Qt::CaseInsensitive) == 0)
                throw ServerError(400, columnTwice(tableName, name));
        const int col = info.columnIndex(name);
        if (col >= 0 && colOf.contains(col))
            throw ServerError(400, columnTwice(tableName, info.columns.at(col)));
        colOf.append(col);
    }
    const int sysidField = packet.fieldIndex(QStringLiteral("sysid"));
    QList<int> pkFields;
    for (const QString &k : info.primaryKey) {
        int idx = -1;
        for (qsizetype i = 0; i < packet.fields.size(); ++i)
            if (colOf.at(i) >= 0 && info.columns.at(colOf.at(i)) == k)
                idx = int(i);
        pkFields.append(idx);
    }

    auto q = [&c](const QString &name) { return c.quoteIdentifier(name); };
    const QString qtable = q(info.name);

    auto checkSysid = [&](const QVariant &v, bool required) {
        if (v.isNull() || v.toString().isEmpty()) {
            if (required)
                throw ServerError::technical(403, QStringLiteral("a row of %1 has no sysid").arg(tableName));
            return;
        }
        if (v.toString() != sysid)
            throw ServerError::technical(403, QStringLiteral("a row of %1 belongs to deployment %2, not to %3")
                                      .arg(tableName, v.toString(), sysid));
    };

    // WHERE clause on the key (original values), the caller's sysid when the packet
    // has none, and the original values of the columns in `checked`.
    auto whereClause = [&](const QVariantList &orig, const QList<int> &checked,
                           QVariantList *params) -> QString {
        if (info.primaryKey.isEmpty())
            throw ServerError::technical(400, QStringLiteral("table %1 has no primary key; rows cannot be "
                                                 "matched")
                                      .arg(tableName));
        QStringList conds;
        for (qsizetype k = 0; k < info.primaryKey.size(); ++k) {
            const int fi = pkFields.at(k);
            if (fi < 0) {
                if (info.primaryKey.at(k).compare(QLatin1String("sysid"), Qt::CaseInsensitive) == 0)
                    continue;
                throw ServerError::technical(400, QStringLiteral("the packet lacks the key column %1 of %2")
                                          .arg(info.primaryKey.at(k), tableName));
            }
            conds.append(q(info.primaryKey.at(k)) + QStringLiteral(" IS ?"));
            params->append(orig.value(fi));
        }
        // Only the caller's rows can be matched, whatever the packet says.
        conds.append(q(info.columns.at(sysidCol)) + QStringLiteral(" = ?"));
        params->append(sysid);
        for (int fi : checked) {
            if (pkFields.contains(fi))
                continue;
            conds.append(q(info.columns.at(colOf.at(fi))) + QStringLiteral(" IS ?"));
            params->append(orig.value(fi));
        }
        return conds.join(QStringLiteral(" and "));
    };

    // A value must fit its column, as the database would insist: a number where a
    // number is kept, a date where a date is, a text no longer than the column.
    auto fit = [&](int fi, const QVariant &v) -> QVariant {
        const int col = colOf.at(fi);
        if (v.isNull())
            return v;
        const quillon::FieldType type = info.types.at(col);
        const QString column = info.columns.at(col);
        if (type == quillon::FieldType::String || type == quillon::FieldType::Memo) {
            const QString text = v.typeId() == QMetaType::QDateTime
                                     ? v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                     : v.toString();
            const int size = info.sizes.value(col);
            if (size > 0 && text.size() > size)
                throw ServerError(400,
                                  QStringLiteral("%1.%2 最多 %3 个字符，“%4”太长，请缩短后再保存。")
                                      .arg(tableName, column)
                                      .arg(size)
                                      .arg(text.left(40)),
                                  QStringLiteral("%1.%2 takes at most %3 characters").arg(tableName, column).arg(size));
            return text;
        }
        bool ok = true;
        const QVariant converted = quillon::convertValue(type, v, &ok);
        if (!ok || converted.isNull())
            throw ServerError(400,
                              QStringLiteral("%1.%2 不能保存“%3”，请改正后再保存。")
                                  .arg(tableName, column, v.toString().left(40)),
                              QStringLiteral("%1.%2 cannot take the value %3")
                                  .arg(tableName, column, v.toString().left(40)));
        if (isNumber(converted) || isNumber(v)) {
            const double d = isNumber(v) && !std::isfinite(v.toDouble()) ? v.toDouble()
                                                                         : converted.toDouble();
            const QString problem = numberProblem(info.declared.value(col), d);
            if (!problem.isEmpty())
                throw ServerError(400, QStringLiteral("%1.%2 的值 %3 %4，请改正后再保存")
                                          .arg(tableName, column, v.toString().left(40), problem));
        }
        return converted;
    };

    auto conflictText = [&](const QVariantList &orig, bool deleting) {
        QVariantList keyValues;
        for (int fi : pkFields)
            keyValues.append(orig.value(fi));
        return deleting ? QStringLiteral("the row %1 of %2 was deleted by another user meanwhile")
                              .arg(describeKey(info.primaryKey, keyValues), tableName)
                        : QStringLiteral("the row %1 of %2 was changed or deleted by another user "
                                         "meanwhile")
                              .arg(describeKey(info.primaryKey, keyValues), tableName);
    };
    // Every column of the table, as a deletion's log shows the row.
    QStringList allList;
    for (const QString &column : info.columns)
        allList.append(q(column));
    const QString allColumns = allList.join(QLatin1Char(','));

    QList<int> written; // rows to re-read
    try {
        Transaction t(c);
        QStringList fieldColumns;
        for (int col : std::as_const(colOf))
            fieldColumns.append(col >= 0 ? info.columns.at(col) : QString());
        OpLogWriter oplog(c, info, sysid, actor, fieldColumns);
        // A read receipt marks notice rows read through the database's rule; those changes
        // are logged as the reader's (when their tables are logged).
        std::optional<ReceiptRuleLog> receiptLog;
        if (info.name.compare(QLatin1String("TAB_MSGREAD"), Qt::CaseInsensitive) == 0) {
            receiptLog.emplace(c, sysid, actor);
            if (!receiptLog->active())
                receiptLog.reset();
        }
        auto fieldOf = [&fieldColumns](const char *column) {
            for (qsizetype i = 0; i < fieldColumns.size(); ++i)
                if (fieldColumns.at(i).compare(QLatin1String(column), Qt::CaseInsensitive) == 0)
                    return int(i);
            return -1;
        };
        // The rows that the packet changes, as the database holds them, read (and locked on
        // PostgreSQL) in this transaction a hundred at a time; a row the read misses is read
        // alone below.
        // Only the columns that some change changes are read (the log shows no others).
        QList<int> oldFields;
        if (oplog.active()) {
            for (const quillon::DataPacket::Change &ch : std::as_const(packet.changes)) {
                if (ch.state != quillon::RowState::Modified || ch.row < 0 || ch.row >= packet.rows.size())
                    continue;
                for (qsizetype i = 0; i < packet.fields.size(); ++i)
                    if (colOf.at(i) >= 0 && !oldFields.contains(int(i))
                        && !sameValue(packet.rows.at(ch.row).value(i), ch.original.value(i)))
                        oldFields.append(int(i));
            }
        }
        QStringList oldList;
        for (int fi : std::as_const(oldFields))
            oldList.append(q(info.columns.at(colOf.at(fi))));
        const QString oldColumns = oldList.join(QLatin1Char(','));
        QHash<QString, QVariantList> held;
        if (oplog.active() && !oldFields.isEmpty())
            held = readHeldRows(c, info, colOf, pkFields, oldColumns, qtable, sysid, sysidCol,
                                packet.changes);
        for (const quillon::DataPacket::Change &ch : std::as_const(packet.changes)) {
            switch (ch.state) {
            case quillon::RowState::Inserted: {
                if (ch.row < 0 || ch.row >= packet.rows.size())
                    throw ServerError::technical(400, QStringLiteral("bad change log: row %1").arg(ch.row));
                const QVariantList &row = packet.rows.at(ch.row);
                QStringList cols, marks;
                QVariantList params;
                bool haveSysid = false;
                for (qsizetype i = 0; i < packet.fields.size(); ++i) {
                    if (colOf.at(i) < 0)
                        continue;
                    QVariant v = row.value(i);
                    if (colOf.at(i) == sysidCol) {
                        checkSysid(v, false);
                        v = sysid;
                        haveSysid = true;
                    }
                    cols.append(q(info.columns.at(colOf.at(i))));
                    marks.append(QStringLiteral("?"));
                    params.append(fit(int(i), v));
                }
                if (!haveSysid) {
                    cols.append(q(info.columns.at(sysidCol)));
                    marks.append(QStringLiteral("?"));
                    params.append(sysid);
                }
                if (sysidField >= 0 && colOf.at(sysidField) >= 0)
                    packet.rows[ch.row][sysidField] = sysid;
                if (receiptLog)
                    receiptLog->beforeReceipt(row.value(fieldOf("MSGID")),
                                              row.value(fieldOf("MSGReadSite")),
                                              row.value(fieldOf("MSGReader")));
                c.execute(QStringLiteral("insert into %1 (%2) values (%3)")
                              .arg(qtable, cols.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
                          params);
                written.append(ch.row);
                break;
            }
            case quillon::RowState::Modified: {
                if (ch.row < 0 || ch.row >= packet.rows.size())
                    throw ServerError::technical(400, QStringLiteral("bad change log: row %1").arg(ch.row));
                const QVariantList &row = packet.rows.at(ch.row);
                const QVariantList &orig = ch.original;
                if (sysidField >= 0 && colOf.at(sysidField) >= 0) {
                    checkSysid(orig.value(sysidField), false);
                    // A row stays in the caller's deployment: no other key, no empty one.
                    checkSysid(row.value(sysidField), true);
                }
                QList<int> changed;
                for (qsizetype i = 0; i < packet.fields.size(); ++i)
                    if (colOf.at(i) >= 0 && !sameValue(row.value(i), orig.value(i)))
                        changed.append(int(i));
                if (changed.isEmpty())
                    break; // only columns that the table lacks
                // The logged old values are the database's, read (and on PostgreSQL locked)
                // in this transaction; the packet only says which row.
                QVariantList before;
                if (oplog.active()) {
                    QVariantList stored = held.value(heldKey(info, pkFields, orig));
                    if (stored.isEmpty()) {
                        QVariantList keyParams;
                        const QString keyWhere = whereClause(orig, {}, &keyParams);
                        const QueryResult one = c.query(
                            QStringLiteral("select %1 from %2 where %3%4")
                                .arg(oldColumns, qtable, keyWhere, c.lockRowsClause()),
                            keyParams, false);
                        if (one.rows.isEmpty())
                            throw ServerError(409, conflictText(orig, false));
                        stored = one.rows.first();
                    }
                    // Key values as the packet names the row (the update matches on them).
                    before = orig;
                    for (qsizetype k = 0; k < oldFields.size(); ++k)
                        before[oldFields.at(k)] = stored.value(k);
                }
                QStringList sets;
                QVariantList params;
                for (int fi : changed) {
                    sets.append(q(info.columns.at(colOf.at(fi))) + QStringLiteral(" = ?"));
                    params.append(fit(fi, row.value(fi)));
                }
                const QString where = whereClause(orig, changed, &params);
                // Under a column limit the engine judges the statement (a refused column
                // throws AccessDenied).
                struct Limit
                {
                    Connection &c;
                    bool on;
                    ~Limit()
                    {
                        if (on)
                            c.endLimitedUpdate();
                    }
                } limit{c, !updatableColumns.isEmpty()};
                if (limit.on)
                    c.beginLimitedUpdate(info.name, updatableColumns);
                if (c.execute(QStringLiteral("update %1 set %2 where %3")
                                  .arg(qtable, sets.join(QLatin1Char(',')), where),
                              params)
                    == 0)
                    throw ServerError(409, conflictText(orig, false));
                oplog.logUpdate(before, row, changed);
                written.append(ch.row);
                break;
            }
            case quillon::RowState::Deleted: {
                const QVariantList &orig = ch.original;
                if (sysidField >= 0)
                    checkSysid(orig.value(sysidField), false);
                QVariantList params;
                const QString where = whereClause(orig, {}, &params);
                if (!oplog.active()) {
                    if (c.execute(QStringLiteral("delete from %1 where %2").arg(qtable, where), params)
                        == 0)
                        throw ServerError(409, conflictText(orig, true));
                    break;
                }
                // Logged: the row as the database held it, whatever the packet claims, and
                // what the database's own rules remove with it.
                const QString alsoRemoved = ruleDeletions(c, info, orig, pkFields, sysid);
                const QueryResult gone = c.query(QStringLiteral("delete from %1 where %2 returning %3")
                                                     .arg(qtable, where, allColumns),
                                                 params, false);
                if (gone.rows.isEmpty())
                    throw ServerError(409, conflictText(orig, true));
                oplog.logDelete(info.columns, gone.rows.first(), alsoRemoved);
                break;
            }
            case quillon::RowState::Unchanged:
                break;
            }
        }
        oplog.finish();
        if (receiptLog)
            appendOpLog(c, sysid, receiptLog->takeEntries());
        // The refreshed packet: rows as stored now, no change log; read before the commit so
        // that it can be stored with the changes (a retried request gets it back).
        packet.changes.clear();
        bool keysPresent = !info.primaryKey.isEmpty();
        for (qsizetype k = 0; k < pkFields.size(); ++k)
            if (pkFields.at(k) < 0
                && info.primaryKey.at(k).compare(QLatin1String("sysid"), Qt::CaseInsensitive) != 0)
                keysPresent = false;
        QStringList readCols;
        QList<int> readFields;
        for (qsizetype i = 0; i < packet.fields.size(); ++i) {
            if (colOf.at(i) >= 0) {
                readCols.append(q(info.columns.at(colOf.at(i))));
                readFields.append(int(i));
            }
        }
        if (keysPresent && !readCols.isEmpty()) {
            for (int r : std::as_const(written)) {
                QVariantList params;
                const QString where = whereClause(packet.rows.at(r), {}, &params);
                const QueryResult fresh = c.query(QStringLiteral("select %1 from %2 where %3")
                                                      .arg(readCols.join(QLatin1Char(',')), qtable, where),
                                                  params, true);
                if (fresh.rows.isEmpty())
                    continue;
                for (qsizetype k = 0; k < readFields.size(); ++k) {
                    const int fi = readFields.at(k);
                    bool ok = true;
                    const QVariant v = quillon::convertValue(packet.fields.at(fi).type,
                                                             fresh.rows.first().at(k), &ok);
                    if (ok)
                        packet.rows[r][fi] = v;
                }
            }
        }
        if (beforeCommit)
            beforeCommit(packet);
        t.commit();
    } catch (const DbUnavailable &) {
        throw; // the database went away: the caller may retry
    } catch (const AccessDenied &e) {
        throw ServerError(403,
                          QStringLiteral("您没有修改数据表 %1 这些列的权限，本次没有保存任何数据。"
                                         "请联系系统管理员。")
                              .arg(tableName),
                          QStringLiteral("%1: %2").arg(tableName, e.message()));
    } catch (const DuplicateKey &e) {
        throw ServerError(409,
                          QStringLiteral("数据表 %1 中已有关键字相同的记录，本次没有保存任何数据。"
                                         "请刷新后改用其他编号再保存。")
                              .arg(tableName),
                          QStringLiteral("%1: a row with the same key exists already (%2)")
                              .arg(tableName, e.message()))
            .withKind(QString::fromLatin1(quillon::protocol::kDuplicateKeyError));
    } catch (const DbError &e) {
        throw ServerError(400,
                          QStringLiteral("数据库拒绝保存数据表 %1 的这次修改，本次没有保存任何数据。"
                                         "请检查输入后重试；问题持续时请联系系统管理员。")
                              .arg(tableName),
                          QStringLiteral("%1: %2").arg(tableName, e.message()));
    }

    return packet;
}

} // namespace server
