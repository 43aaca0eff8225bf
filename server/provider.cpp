#include "server/provider.h"

#include "server/applydata.h"
#include "server/auth.h"
#include "server/authz.h"
#include "server/sql/backend.h"

#include <QCborArray>
#include <QCborMap>
#include <QRegularExpression>
#include <QSet>

namespace server {

namespace {
QVariant fromCbor(const QCborValue &v)
{
    if (v.isNull() || v.isUndefined())
        return QVariant();
    if (v.isDateTime())
        return QVariant(v.toDateTime().toLocalTime());
    if (v.isInteger())
        return QVariant(qlonglong(v.toInteger()));
    if (v.isDouble())
        return QVariant(v.toDouble());
    if (v.isBool())
        return QVariant(v.toBool() ? 1 : 0);
    if (v.isByteArray())
        return QVariant(v.toByteArray());
    if (v.isString())
        return QVariant(v.toString());
    throw DbError(QStringLiteral("unsupported parameter value"));
}
} // namespace

QVariantList bindProviderParams(const TranslatedSql &sql, const QCborValue &params)
{
    QVariantList values;
    for (const QString &name : sql.parameterNames) {
        bool numeric = false;
        const int index = name.toInt(&numeric);
        QCborValue v = QCborValue(QCborValue::Undefined);
        if (params.isArray()) {
            const QCborArray a = params.toArray();
            if (numeric && index >= 1 && index <= a.size())
                v = a.at(index - 1);
        } else if (params.isMap()) {
            const QCborMap m = params.toMap();
            for (auto it = m.constBegin(); it != m.constEnd(); ++it)
                if (it.key().toString().compare(name, Qt::CaseInsensitive) == 0)
                    v = it.value();
        }
        if (v.isUndefined())
            throw DbError(QStringLiteral("no value for parameter :%1").arg(name));
        values.append(fromCbor(v));
    }
    return values;
}

namespace {

TranslatedSql checkedProviderSql(Connection &c, const QString &oracleSql)
{
    TranslatedSql sql = c.translate(oracleSql);
    // Queries only: the first word decides before the database looks at the text.
    static const QRegularExpression head(QStringLiteral("^[\\s(]*(select|with)\\b"),
                                         QRegularExpression::CaseInsensitiveOption);
    if (!head.match(sql.sql).hasMatch())
        throw ClientRefusal(QStringLiteral("查询只能读取数据，不能修改数据。请通过窗口的保存功能修改数据。"));
    // Password hashes, keys, roles and grants stay on the server.
    for (const QString &id : sql.identifiers)
        if (isProtectedTable(id) && id != QLatin1String("dual"))
            throw ClientRefusal(QStringLiteral("数据表 %1 只由服务器使用，客户端不能查看。请联系系统管理员。")
                                    .arg(id));
    return sql;
}

void nameProviderFields(const TranslatedSql &sql, QList<quillon::FieldDef> &fields)
{
    QSet<QString> seen;
    for (quillon::FieldDef &f : fields) {
        if (!sql.quotedNames.contains(f.name))
            f.name = f.name.toUpper();
        QString name = f.name;
        for (int n = 1; seen.contains(name.toUpper()); ++n)
            name = f.name + QLatin1Char('_') + QString::number(n);
        f.name = name;
        seen.insert(name.toUpper());
    }
}

} // namespace

quillon::DataPacket runProviderQuery(Connection &c, const QString &oracleSql,
                                     const QCborValue &params)
{
    const TranslatedSql sql = checkedProviderSql(c, oracleSql);
    QueryResult r = c.query(sql.sql, bindProviderParams(sql, params), true);
    nameProviderFields(sql, r.fields);
    quillon::DataPacket packet;
    packet.fields = std::move(r.fields);
    packet.rows = std::move(r.rows);
    return packet;
}

QByteArray runProviderQueryBinary(Connection &c, const QString &oracleSql, const QCborValue &params)
{
    const TranslatedSql sql = checkedProviderSql(c, oracleSql);
    return c.queryPacket(sql.sql, bindProviderParams(sql, params),
                         [&sql](QList<quillon::FieldDef> &fields) { nameProviderFields(sql, fields); });
}

} // namespace server

namespace server {

QByteArray runClientQuery(Backend &backend, const SessionInfo &session, const QString &oracleSql,
                          const QCborValue &params)
{
    struct Collect : Connection::PacketOutput
    {
        QByteArray bytes;
        void whole(QByteArray packet) override { bytes = std::move(packet); }
        void piece(QByteArray more) override { bytes.append(more); }
    } collect;
    runClientQueryStream(backend, session, oracleSql, params, collect, -1);
    return std::move(collect.bytes);
}

void runClientQueryStream(Backend &backend, const SessionInfo &session, const QString &oracleSql,
                          const QCborValue &params, Connection::PacketOutput &out, qsizetype streamFrom)
{
    const std::shared_ptr<const Rights> rights = sessionRights(backend, session);
    auto conn = backend.acquireForClient(clientScope(*rights, session));
    const TranslatedSql sql = checkedProviderSql(*conn, oracleSql);
    authorizeRead(backend, *rights, sql.identifiers, session.sysid);
    conn->queryPacketStream(sql.sql, bindProviderParams(sql, params),
                            [&sql](QList<quillon::FieldDef> &fields) { nameProviderFields(sql, fields); },
                            out, streamFrom);
}

} // namespace server
