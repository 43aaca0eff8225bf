#include "server/applydata.h"

#include "server/authz.h"
#include "server/sql/backend.h"

#include <QDateTime>
#include <QRegularExpression>
#include <cmath>

namespace server {

bool isProtectedTable(const QString &table)
{
    const QString t = table.toLower();
    return t == QLatin1String("sys_user") || t == QLatin1String("sys_server")
           || t == QLatin1String("sys_filepurge")
           || t == QLatin1String("dual") || t.startsWith(QLatin1String("sqlite_"))
           || authzTables().contains(t) || isServerTable(t);
}

namespace {

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

} // namespace

quillon::DataPacket applyData(Connection &c, const QString &table, const QString &xml,
                              const QString &sysid, const OpActor &actor,
                              const ApplyAuthorizer &authorize, const ApplyRecorder &beforeCommit)
{
    static const QRegularExpression ident(QStringLiteral("^[A-Za-z_][A-Za-z0-9_$#]*$"));
    const QString tableName = table.trimmed();
    if (!ident.match(tableName).hasMatch())
        throw ApplyError(400, QStringLiteral("invalid table name: %1").arg(table));
    if (isProtectedTable(tableName) || isServerWrittenTable(tableName))
        throw ApplyError(403, QStringLiteral("table %1 cannot be written by clients").arg(tableName));
    const TableInfo info = c.tableInfo(tableName);
    if (!info.exists())
        throw ApplyError(400, QStringLiteral("unknown table: %1").arg(tableName));
    const int sysidCol = info.columnIndex(QStringLiteral("sysid"));
    if (sysidCol < 0)
        throw ApplyError(403, QStringLiteral("table %1 has no sysid and cannot be written")
                                  .arg(tableName));

    quillon::DataPacket packet;
    try {
        packet = quillon::DataPacket::fromXml(xml);
    } catch (const quillon::PacketError &e) {
        throw ApplyError(400, QStringLiteral("bad data packet: %1").arg(QString::fromUtf8(e.what())));
    }

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
                throw ApplyError(400, QStringLiteral("the packet names the column %1 twice").arg(name));
        const int col = info.columnIndex(name);
        if (col >= 0 && colOf.contains(col))
            throw ApplyError(400, QStringLiteral("the packet names the column %1 twice")
                                      .arg(info.columns.at(col)));
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
                throw ApplyError(403, QStringLiteral("a row of %1 has no sysid").arg(tableName));
            return;
        }
        if (v.toString() != sysid)
            throw ApplyError(403, QStringLiteral("a row of %1 belongs to deployment %2, not to %3")
                                      .arg(tableName, v.toString(), sysid));
    };

    // WHERE clause on the key (original values), the caller's sysid when the packet
    // has none, and the original values of the columns in `checked`.
    auto whereClause = [&](const QVariantList &orig, const QList<int> &checked,
                           QVariantList *params) -> QString {
        if (info.primaryKey.isEmpty())
            throw ApplyError(400, QStringLiteral("table %1 has no primary key; rows cannot be "
                                                 "matched")
                                      .arg(tableName));
        QStringList conds;
        for (qsizetype k = 0; k < info.primaryKey.size(); ++k) {
            const int fi = pkFields.at(k);
            if (fi < 0) {
                if (info.primaryKey.at(k).compare(QLatin1String("sysid"), Qt::CaseInsensitive) == 0)
                    continue;
                throw ApplyError(400, QStringLiteral("the packet lacks the key column %1 of %2")
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
                throw ApplyError(400, QStringLiteral("%1.%2 takes at most %3 characters: %4")
                                          .arg(tableName, column)
                                          .arg(size)
                                          .arg(text.left(40)));
            return text;
        }
        bool ok = true;
        const QVariant converted = quillon::convertValue(type, v, &ok);
        if (!ok || converted.isNull())
            throw ApplyError(400, QStringLiteral("%1.%2 cannot take the value %3")
                                      .arg(tableName, column, v.toString().left(40)));
        if (isNumber(converted) || isNumber(v)) {
            const double d = isNumber(v) && !std::isfinite(v.toDouble()) ? v.toDouble()
                                                                         : converted.toDouble();
            const QString problem = numberProblem(info.declared.value(col), d);
            if (!problem.isEmpty())
                throw ApplyError(400, QStringLiteral("%1.%2 的值 %3 %4，请改正后再保存")
                                          .arg(tableName, column, v.toString().left(40), problem));
        }
        return converted;
    };

    QList<int> written; // rows to re-read
    try {
        Transaction t(c);
        QStringList fieldColumns;
        for (int col : std::as_const(colOf))
            fieldColumns.append(col >= 0 ? info.columns.at(col) : QString());
        OpLogWriter oplog(c, info, sysid, actor, fieldColumns);
        for (const quillon::DataPacket::Change &ch : std::as_const(packet.changes)) {
            switch (ch.state) {
            case quillon::RowState::Inserted: {
                if (ch.row < 0 || ch.row >= packet.rows.size())
                    throw ApplyError(400, QStringLiteral("bad change log: row %1").arg(ch.row));
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
                c.execute(QStringLiteral("insert into %1 (%2) values (%3)")
                              .arg(qtable, cols.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
                          params);
                written.append(ch.row);
                break;
            }
            case quillon::RowState::Modified: {
                if (ch.row < 0 || ch.row >= packet.rows.size())
                    throw ApplyError(400, QStringLiteral("bad change log: row %1").arg(ch.row));
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
                QStringList sets;
                QVariantList params;
                for (int fi : changed) {
                    sets.append(q(info.columns.at(colOf.at(fi))) + QStringLiteral(" = ?"));
                    params.append(fit(fi, row.value(fi)));
                }
                const QString where = whereClause(orig, changed, &params);
                if (c.execute(QStringLiteral("update %1 set %2 where %3")
                                  .arg(qtable, sets.join(QLatin1Char(',')), where),
                              params)
                    == 0) {
                    QVariantList keyValues;
                    for (int fi : pkFields)
                        keyValues.append(orig.value(fi));
                    throw ApplyError(409, QStringLiteral("the row %1 of %2 was changed or deleted "
                                                         "by another user meanwhile")
                                              .arg(describeKey(info.primaryKey, keyValues), tableName));
                }
                oplog.logUpdate(orig, row, changed);
                written.append(ch.row);
                break;
            }
            case quillon::RowState::Deleted: {
                const QVariantList &orig = ch.original;
                if (sysidField >= 0)
                    checkSysid(orig.value(sysidField), false);
                QVariantList params;
                const QString where = whereClause(orig, {}, &params);
                if (c.execute(QStringLiteral("delete from %1 where %2").arg(qtable, where), params)
                    == 0) {
                    QVariantList keyValues;
                    for (int fi : pkFields)
                        keyValues.append(orig.value(fi));
                    throw ApplyError(409, QStringLiteral("the row %1 of %2 was deleted by another "
                                                         "user meanwhile")
                                              .arg(describeKey(info.primaryKey, keyValues), tableName));
                }
                oplog.logDelete(orig);
                break;
            }
            case quillon::RowState::Unchanged:
                break;
            }
        }
        oplog.finish();
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
    } catch (const DbError &e) {
        if (e.message().contains(QLatin1String("UNIQUE"), Qt::CaseInsensitive))
            throw ApplyError(409, QStringLiteral("%1: a row with the same key exists already (%2)")
                                      .arg(tableName, e.message()));
        throw ApplyError(400, QStringLiteral("%1: %2").arg(tableName, e.message()));
    }

    return packet;
}

} // namespace server
