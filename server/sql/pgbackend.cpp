#include "server/sql/pgbackend.h"

#include "server/noticerules.h"
#include "server/sql/oracledialect.h"
#include "server/sql/pgfunctions.sql.h"
#include "server/tables.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>
#include <QUrl>
#include <cstring>
#include <libpq-fe.h>
#include <sodium.h>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace server {

namespace {

// Type OIDs of pg_type that the results use.
enum : Oid {
    kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kOid = 26,
    kFloat4 = 700, kFloat8 = 701, kUnknown = 705, kBpchar = 1042, kVarchar = 1043,
    kDate = 1082, kTimestamp = 1114, kTimestamptz = 1184, kNumeric = 1700,
};

QString pgMessage(PGconn *db)
{
    return QString::fromUtf8(PQerrorMessage(db)).trimmed();
}

QString resultMessage(PGresult *r)
{
    const char *primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
    if (primary)
        return QString::fromUtf8(primary);
    return QString::fromUtf8(PQresultErrorMessage(r)).trimmed();
}

// Refusals of the engine (no privilege, a write in a read-only transaction) are 403s.
[[noreturn]] void throwResultError(PGresult *r, PGconn *db)
{
    const QString msg = r ? resultMessage(r) : pgMessage(db);
    const char *state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const QByteArray code(state ? state : "");
    PQclear(r);
    // Lost connection (class 08), server shutting down (57P01..57P03), or a write on a
    // server that has become a standby (25006 there, not a client's read-only statement).
    if (PQstatus(db) == CONNECTION_BAD || code.startsWith("08") || code == "57P01"
        || code == "57P02" || code == "57P03")
        throw DbUnavailable(QStringLiteral("the database connection was lost: %1").arg(msg));
    const char *standby = PQparameterStatus(db, "in_hot_standby");
    if (code == "25006" && standby && std::strcmp(standby, "on") == 0)
        throw DbUnavailable(QStringLiteral("the database is no longer the primary: %1").arg(msg));
    if (code == "42501" || code == "25006")
        throw AccessDenied(QStringLiteral("the statement was refused: %1").arg(msg));
    if (code == "23505")
        throw DuplicateKey(msg);
    throw DbError(msg);
}

struct ResultGuard
{
    PGresult *r;
    ~ResultGuard() { PQclear(r); }
};

// Declared spelling of every table and column of the schema, by lower-case name: the
// names PostgreSQL reports come back folded to lower case.
class NameCase
{
public:
    void learn(const QString &ddl)
    {
        static const QRegularExpression table(
            QStringLiteral("create\\s+table\\s+(?:if\\s+not\\s+exists\\s+)?([A-Za-z_][A-Za-z0-9_$#]*)\\s*\\(([^;]*)\\)\\s*;"),
            QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression column(QStringLiteral("(?:^|,)\\s*([A-Za-z_][A-Za-z0-9_$#]*)\\s"));
        std::lock_guard lock(m_mutex);
        for (auto it = table.globalMatch(ddl); it.hasNext();) {
            const auto m = it.next();
            m_names.insert(m.captured(1).toLower(), m.captured(1));
            for (auto ci = column.globalMatch(m.captured(2)); ci.hasNext();) {
                const QString name = ci.next().captured(1);
                const QString lower = name.toLower();
                if (lower == QLatin1String("primary") || lower == QLatin1String("unique")
                    || lower == QLatin1String("constraint"))
                    continue;
                if (!m_names.contains(lower))
                    m_names.insert(lower, name);
            }
        }
    }
    QString spelling(const QString &lower) const
    {
        std::lock_guard lock(m_mutex);
        return m_names.value(lower);
    }

private:
    mutable std::mutex m_mutex;
    QHash<QString, QString> m_names;
};

NameCase &nameCase()
{
    static NameCase n;
    return n;
}

// Oracle/SQLite column types of the schema script in PostgreSQL's spelling.
QString pgDdl(const QString &script)
{
    QString s = script;
    static const QList<QPair<QRegularExpression, QString>> swaps = {
        {QRegularExpression(QStringLiteral("\\bVARCHAR2\\b"), QRegularExpression::CaseInsensitiveOption), QStringLiteral("varchar")},
        {QRegularExpression(QStringLiteral("\\bBLOB\\b"), QRegularExpression::CaseInsensitiveOption), QStringLiteral("bytea")},
        {QRegularExpression(QStringLiteral("\\bCLOB\\b"), QRegularExpression::CaseInsensitiveOption), QStringLiteral("text")},
        {QRegularExpression(QStringLiteral("\\bNUMBER\\b"), QRegularExpression::CaseInsensitiveOption), QStringLiteral("numeric")},
        {QRegularExpression(QStringLiteral("(\\w\\s+)DATE\\b")), QStringLiteral("\\1timestamp(0)")},
    };
    for (const auto &sw : swaps)
        s.replace(sw.first, sw.second);
    return s;
}

// "?" and "?N" placeholders (outside literals) to "$N".
QString pgPlaceholders(const QString &source)
{
    if (!source.contains(QLatin1Char('?')))
        return source;
    // "a IS ?" compares with nulls equal.
    static const QRegularExpression isParam(QStringLiteral("\\bIS\\s+\\?"));
    QString sql = source;
    sql.replace(isParam, QStringLiteral("IS NOT DISTINCT FROM ?"));
    QString out;
    out.reserve(sql.size() + 8);
    int next = 1;
    QChar quote;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar ch = sql.at(i);
        if (!quote.isNull()) {
            out += ch;
            if (ch == quote)
                quote = QChar();
            continue;
        }
        if (ch == QLatin1Char('\'') || ch == QLatin1Char('"')) {
            quote = ch;
            out += ch;
            continue;
        }
        if (ch != QLatin1Char('?')) {
            out += ch;
            continue;
        }
        qsizetype j = i + 1;
        while (j < sql.size() && sql.at(j).isDigit())
            ++j;
        if (j > i + 1) {
            out += QLatin1Char('$') + sql.mid(i + 1, j - i - 1);
            i = j - 1;
        } else {
            out += QStringLiteral("$%1").arg(next++);
        }
    }
    return out;
}

QString firstWord(const QString &sql)
{
    qsizetype i = 0;
    while (i < sql.size() && (sql.at(i).isSpace() || sql.at(i) == QLatin1Char('(')))
        ++i;
    qsizetype j = i;
    while (j < sql.size() && sql.at(j).isLetter())
        ++j;
    return sql.mid(i, j - i).toLower();
}

quillon::FieldType fieldType(Oid oid, int mod, int *size)
{
    using quillon::FieldType;
    *size = 0;
    switch (oid) {
    case kInt2: return FieldType::SmallInt;
    case kInt4: case kBool: case kOid: return FieldType::Integer;
    case kInt8: return FieldType::LargeInt;
    case kFloat4: case kFloat8: case kNumeric: return FieldType::Float;
    case kDate: case kTimestamp: case kTimestamptz: return FieldType::DateTime;
    case kBytea: return FieldType::Blob;
    case kVarchar: case kBpchar:
        *size = mod > 4 ? mod - 4 : 0;
        return FieldType::String;
    default: return FieldType::String;
    }
}

QVariant readCell(PGresult *r, int row, int col, Oid oid)
{
    if (PQgetisnull(r, row, col))
        return QVariant();
    const char *v = PQgetvalue(r, row, col);
    const int len = PQgetlength(r, row, col);
    switch (oid) {
    case kInt2: case kInt4: case kOid:
        return QVariant(int(std::strtol(v, nullptr, 10)));
    case kInt8:
        return QVariant(qlonglong(std::strtoll(v, nullptr, 10)));
    case kBool:
        return QVariant(int(v[0] == 't' ? 1 : 0));
    case kFloat4: case kFloat8: case kNumeric: {
        // from_chars reads C-locale digits whatever LC_NUMERIC the process runs with
        // (strtod would stop at the '.' under a locale with a decimal comma).
        double d = 0;
        std::from_chars(v, v + len, d);
        return QVariant(d);
    }
    case kDate: case kTimestamp: case kTimestamptz: {
        QDateTime dt;
        QString t = QString::fromLatin1(v, len);
        if (oid == kTimestamptz) {
            QDateTime z = QDateTime::fromString(t.replace(QLatin1Char(' '), QLatin1Char('T')), Qt::ISODateWithMs);
            if (z.isValid())
                return QVariant(z.toLocalTime());
            return QVariant();
        }
        const qsizetype dot = t.indexOf(QLatin1Char('.'));
        if (dot > 0)
            t.truncate(dot);
        if (parseCanonicalDate(t, &dt))
            return QVariant(dt);
        return QVariant();
    }
    case kBytea: {
        if (len >= 2 && v[0] == '\\' && v[1] == 'x')
            return QVariant(QByteArray::fromHex(QByteArray(v + 2, len - 2)));
        size_t n = 0;
        unsigned char *raw = PQunescapeBytea(reinterpret_cast<const unsigned char *>(v), &n);
        QByteArray out(reinterpret_cast<const char *>(raw), qsizetype(n));
        PQfreemem(raw);
        return QVariant(out);
    }
    default:
        return QVariant(QString::fromUtf8(v, len));
    }
}

// Values as text with the type left to the server, except bytes.
struct Params
{
    explicit Params(const QVariantList &values)
    {
        data.reserve(values.size());
        for (const QVariant &v : values) {
            if (v.isNull() || !v.isValid()) {
                data.append(QByteArray());
                isNull.push_back(true);
                types.push_back(0);
                continue;
            }
            isNull.push_back(false);
            switch (v.typeId()) {
            case QMetaType::Bool:
                data.append(v.toBool() ? "1" : "0");
                types.push_back(0);
                break;
            case QMetaType::Double:
            case QMetaType::Float: {
                // The shortest digits that read back as the same double: 1234567.89 and
                // not 1234567.8899999999, which a numeric column would keep (or, when
                // compared with its stored 1234567.89, find different).
                char digits[32];
                const auto end = std::to_chars(digits, digits + sizeof digits, v.toDouble()).ptr;
                data.append(QByteArray(digits, end - digits));
                types.push_back(0);
                break;
            }
            case QMetaType::QDateTime:
                data.append(canonicalDate(v.toDateTime()).toUtf8());
                types.push_back(0);
                break;
            case QMetaType::QDate:
                data.append(canonicalDate(QDateTime(v.toDate(), QTime(0, 0))).toUtf8());
                types.push_back(0);
                break;
            case QMetaType::QByteArray:
                data.append("\\x" + v.toByteArray().toHex());
                types.push_back(kBytea);
                break;
            default:
                data.append(v.toString().toUtf8());
                types.push_back(0);
                break;
            }
        }
        for (qsizetype i = 0; i < data.size(); ++i)
            pointers.push_back(isNull[size_t(i)] ? nullptr : data.at(i).constData());
    }
    QList<QByteArray> data;
    std::vector<bool> isNull;
    std::vector<Oid> types;
    std::vector<const char *> pointers;
};

} // namespace

namespace {

// A connection to the database of the owner URL, as its own user or as another login.
PGconn *connectTo(const QString &ownerUrl, const QString &user, const QString &password)
{
    const QByteArray dbname = ownerUrl.toUtf8();
    const QByteArray u = user.toUtf8();
    const QByteArray pw = password.toUtf8();
    std::vector<const char *> keys = {"dbname"};
    std::vector<const char *> values = {dbname.constData()};
    if (!user.isEmpty()) {
        keys.push_back("user");
        values.push_back(u.constData());
        keys.push_back("password");
        values.push_back(pw.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    PGconn *db = PQconnectdbParams(keys.data(), values.data(), 1);
    if (PQstatus(db) != CONNECTION_OK) {
        const QString msg = pgMessage(db);
        PQfinish(db);
        throw DbUnavailable(QStringLiteral("cannot connect to PostgreSQL: %1").arg(msg));
    }
    PQsetNoticeProcessor(db, [](void *, const char *) {}, nullptr);
    return db;
}

} // namespace

// The login of each deployment's role, learnt once per process.
struct TenantLogins
{
    QPair<QString, QString> find(const QString &sysid)
    {
        std::lock_guard lock(mutex);
        return bySysid.value(sysid);
    }
    void store(const QString &sysid, const QPair<QString, QString> &login)
    {
        std::lock_guard lock(mutex);
        bySysid.insert(sysid, login);
    }
    std::mutex mutex;
    QHash<QString, QPair<QString, QString>> bySysid; // scope key -> (role, password)

    // Notes the reader of the client connection `pid` (logged in as `role`) in
    // sys_tenantreader, through a connection of the server's own login: the row policies of
    // the notice tables read it there, and the client's login cannot write it.
    void setReader(const QString &ownerUrl, int pid, const QString &role, const NoticeReader &reader)
    {
        std::lock_guard lock(readerMutex);
        for (int attempt = 0;; ++attempt) {
            if (!readerDb || PQstatus(readerDb) != CONNECTION_OK) {
                PQfinish(readerDb);
                readerDb = nullptr;
                readerDb = connectTo(ownerUrl, QString(), QString());
                PGresult *prepared = PQprepare(
                    readerDb, "wl_set_reader",
                    "insert into sys_tenantreader (PID, ROLNAME, SITE, EMP) values ($1::integer, $2, $3, $4) "
                    "on conflict (PID) do update set ROLNAME = excluded.ROLNAME, SITE = excluded.SITE, "
                    "EMP = excluded.EMP",
                    4, nullptr);
                if (PQresultStatus(prepared) != PGRES_COMMAND_OK) {
                    PQfinish(readerDb);
                    readerDb = nullptr;
                    throwResultError(prepared, nullptr);
                }
                PQclear(prepared);
            }
            const QByteArray p = QByteArray::number(pid), r = role.toUtf8(), site = reader.site.toUtf8(),
                             emp = reader.employee.toUtf8();
            const char *params[] = {p.constData(), r.constData(), site.constData(), emp.constData()};
            PGresult *res = PQexecPrepared(readerDb, "wl_set_reader", 4, params, nullptr, nullptr, 0);
            const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
            if (ok) {
                PQclear(res);
                return;
            }
            if (attempt == 0 && PQstatus(readerDb) != CONNECTION_OK) {
                PQclear(res);
                continue; // the server restarted: connect again once
            }
            throwResultError(res, readerDb);
        }
    }
    ~TenantLogins() { PQfinish(readerDb); }
    std::mutex readerMutex;
    PGconn *readerDb = nullptr;
};

namespace {

class PgConnection : public Connection
{
public:
    static inline std::atomic<qint64> s_limitMs{120000};
    static inline const bool s_trace = qEnvironmentVariableIsSet("WAYLINK_PG_TRACE");
    PgConnection(const QString &url, std::shared_ptr<TenantLogins> tenants)
        : m_ownerUrl(url)
        , m_tenants(std::move(tenants))
    {
        m_db = open(QString(), QString());
        applySettings();
    }

    PGconn *open(const QString &user, const QString &password) const
    {
        return connectTo(m_ownerUrl, user, password);
    }

    // Replaces the connection by one of another login; the old one stays when that fails.
    void reconnect(const QString &user, const QString &password)
    {
        PGconn *fresh = open(user, password);
        PQfinish(m_db);
        m_db = fresh;
        m_login = user;
        m_readerSet = false; // another backend process: its reader is not noted yet
        m_inTransaction = false;
        applySettings();
    }

    // The session settings of every connection; client statements restore them afterwards.
    QString settingsScript() const
    {
        // orafce, when installed, adds further Oracle functions (decode, nvl2, instr ...)
        // after the own schema; the translation layer does not rely on it.
        QString s = QStringLiteral("set client_encoding = 'UTF8'; set datestyle = 'ISO, YMD'; "
                                   "set intervalstyle = 'iso_8601'; set bytea_output = 'hex'; "
                                   "set search_path = \"$user\", public, oracle; "
                                   "set statement_timeout = %1")
                        .arg(m_appliedLimit);
        if (!m_zone.isEmpty())
            s += QStringLiteral("; set timezone = '%1'").arg(m_zone);
        return s;
    }

    void applySettings()
    {
        m_appliedLimit = s_limitMs.load();
        m_zone.clear();
        executeScript(settingsScript());
        // sysdate and the dates the server reads are local times of the server's zone.
        const QByteArray zone = QTimeZone::systemTimeZoneId();
        static const QRegularExpression zoneName(QStringLiteral("^[A-Za-z0-9_+/-]+$"));
        if (!zone.isEmpty() && zoneName.match(QString::fromLatin1(zone)).hasMatch()) {
            try {
                executeScript(QStringLiteral("set timezone = '%1'").arg(QString::fromLatin1(zone)));
                m_zone = QString::fromLatin1(zone);
            } catch (const DbError &) {
                // the database does not know the zone: keep its own
            }
        }
    }

    ~PgConnection() override { PQfinish(m_db); }

    bool broken() const override { return !m_db || PQstatus(m_db) == CONNECTION_BAD; }

    TranslatedSql translate(const QString &oracleSql) const override
    {
        static const DialectTarget target = [] {
            DialectTarget t;
            t.nvl = QStringLiteral("coalesce");
            t.sysdate = QStringLiteral("localtimestamp(0)");
            t.placeholder = [](int i) { return QStringLiteral("$%1").arg(i); };
            return t;
        }();
        return translateOracle(oracleSql, target);
    }

    PGresult *run(const QString &sql, const QVariantList &params)
    {
        const qint64 limit = s_limitMs.load();
        if (limit != m_appliedLimit) {
            executeScript(QStringLiteral("set statement_timeout = %1").arg(limit));
            m_appliedLimit = limit;
        }
        QString statement = pgPlaceholders(sql);
        if (firstWord(statement) == QLatin1String("create")) {
            nameCase().learn(statement + QLatin1Char(';'));
            statement = pgDdl(statement);
        } else if (firstWord(statement) == QLatin1String("alter")) {
            statement = pgDdl(statement);
        }
        const QByteArray text = statement.toUtf8();
        if (s_trace)
            std::fprintf(stderr, "pg: %s\n", text.constData());
        const Params p(params);
        PGresult *r = PQexecParams(m_db, text.constData(), int(p.pointers.size()),
                                   p.types.empty() ? nullptr : p.types.data(),
                                   p.pointers.empty() ? nullptr : p.pointers.data(), nullptr,
                                   nullptr, 0);
        const ExecStatusType st = PQresultStatus(r);
        if (st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK)
            throwResultError(r, m_db);
        return r;
    }

    QueryResult query(const QString &sql, const QVariantList &params, bool readOnly) override
    {
        if (readOnly)
            checkReadOnly(sql);
        // A client's statement, and every read-only one, runs in a read-only transaction, so
        // that nothing it calls can write whatever its text; afterwards every setting a
        // client's statement may have changed goes back to the server's. Inside a
        // transaction a read-only query runs in a read-only savepoint instead; releasing it
        // makes the transaction writable again.
        const bool idle = !m_inTransaction && PQtransactionStatus(m_db) == PQTRANS_IDLE;
        const bool client = !m_filter.isEmpty() && idle;
        const bool ownTransaction = client || (readOnly && idle);
        const bool savepoint = readOnly && !idle;
        if (ownTransaction)
            executeScript(QStringLiteral("begin read only"));
        else if (savepoint)
            executeScript(QStringLiteral("savepoint wl_read_only; set transaction read only"));
        std::vector<PGresult *> parts;
        struct PartsGuard
        {
            std::vector<PGresult *> &p;
            ~PartsGuard()
            {
                for (PGresult *r : p)
                    PQclear(r);
            }
        } g{parts};
        try {
            if (readOnly && answerLimit().bounded())
                runBounded(sql, params, parts);
            else
                parts.push_back(run(sql, params));
        } catch (...) {
            try {
                if (client)
                    executeScript(QStringLiteral("rollback; reset all; ") + settingsScript());
                else if (ownTransaction)
                    executeScript(QStringLiteral("rollback; set statement_timeout = %1").arg(m_appliedLimit));
                else if (savepoint && PQtransactionStatus(m_db) == PQTRANS_INTRANS)
                    executeScript(QStringLiteral("release savepoint wl_read_only"));
                // A statement that failed inside the transaction leaves it failed, as
                // without the savepoint: the caller rolls it back.
            } catch (...) {
            }
            throw;
        }
        if (client)
            executeScript(QStringLiteral("commit; reset all; ") + settingsScript());
        else if (ownTransaction)
            executeScript(QStringLiteral("commit"));
        else if (savepoint)
            executeScript(QStringLiteral("release savepoint wl_read_only"));
        return toResult(parts, sql);
    }

    // A reading statement whose rows arrive one at a time (single-row mode), so that an
    // answer over the limit is stopped before libpq holds all of it. `parts` gets the row
    // results and, last, the final one (it carries the column descriptions).
    void runBounded(const QString &sql, const QVariantList &params, std::vector<PGresult *> &parts)
    {
        const qint64 limit = s_limitMs.load();
        if (limit != m_appliedLimit) {
            executeScript(QStringLiteral("set statement_timeout = %1").arg(limit));
            m_appliedLimit = limit;
        }
        const QByteArray text = pgPlaceholders(sql).toUtf8();
        if (s_trace)
            std::fprintf(stderr, "pg: %s\n", text.constData());
        const Params p(params);
        if (!PQsendQueryParams(m_db, text.constData(), int(p.pointers.size()),
                               p.types.empty() ? nullptr : p.types.data(),
                               p.pointers.empty() ? nullptr : p.pointers.data(), nullptr, nullptr, 0))
            throw DbError(pgMessage(m_db));
        PQsetSingleRowMode(m_db);
        const AnswerLimit bound = answerLimit();
        qint64 rows = 0, bytes = 0;
        QString error;
        QByteArray errorState;
        bool tooLarge = false;
        QString tooLargeText;
        while (PGresult *r = PQgetResult(m_db)) {
            const ExecStatusType st = PQresultStatus(r);
            if (st == PGRES_SINGLE_TUPLE && !tooLarge) {
                ++rows;
                for (int c = 0; c < PQnfields(r); ++c)
                    bytes += PQgetisnull(r, 0, c) ? 8 : std::max(8, PQgetlength(r, 0, c));
                try {
                    bound.check(rows, bytes);
                    parts.push_back(r);
                    continue;
                } catch (const AnswerTooLarge &e) {
                    // Stop the statement on the server; the rest is read and dropped.
                    tooLarge = true;
                    tooLargeText = e.message();
                    if (PGcancel *cancel = PQgetCancel(m_db)) {
                        char buf[256];
                        PQcancel(cancel, buf, int(sizeof buf));
                        PQfreeCancel(cancel);
                    }
                }
            } else if (st == PGRES_TUPLES_OK && !tooLarge && error.isEmpty()) {
                parts.push_back(r);
                continue;
            } else if (st != PGRES_SINGLE_TUPLE && st != PGRES_TUPLES_OK && error.isEmpty()) {
                error = resultMessage(r);
                const char *state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
                errorState = state ? state : "";
            }
            PQclear(r);
        }
        if (tooLarge)
            throw AnswerTooLarge(tooLargeText);
        if (errorState == "42501" || errorState == "25006")
            throw AccessDenied(QStringLiteral("the statement was refused: %1").arg(error));
        if (!error.isEmpty())
            throw DbError(error);
    }

    static void checkReadOnly(const QString &sql)
    {
        const QString w = firstWord(sql);
        if (w != QLatin1String("select") && w != QLatin1String("with") && w != QLatin1String("values"))
            throw DbError(QStringLiteral("the provider only runs queries; writing statements "
                                         "are refused"));
        // Functions that change the session or reach outside the database.
        static const QRegularExpression refused(
            QStringLiteral("\\b(set_config|pg_read_file|pg_read_binary_file|pg_ls_dir|lo_import|"
                           "lo_export|dblink\\w*|pg_terminate_backend|pg_cancel_backend|"
                           "pg_reload_conf|pg_sleep\\w*|nextval|setval)\\s*\\("),
            QRegularExpression::CaseInsensitiveOption);
        if (refused.match(sql).hasMatch())
            throw DbError(QStringLiteral("the provider only runs queries; this function is refused"));
        static const QRegularExpression writes(
            QStringLiteral("\\b(insert|update|delete|merge|truncate)\\b"),
            QRegularExpression::CaseInsensitiveOption);
        const QString bare = stripLiterals(sql);
        if (w == QLatin1String("with") && writes.match(bare).hasMatch())
            throw DbError(QStringLiteral("the provider only runs queries; writing statements "
                                         "are refused"));
        // "select ... into t" makes a table.
        static const QRegularExpression into(QStringLiteral("\\binto\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
        if (into.match(bare).hasMatch())
            throw DbError(QStringLiteral("the provider only runs queries; select into is refused"));
    }

    static QString stripLiterals(const QString &sql)
    {
        static const QRegularExpression lit(QStringLiteral("'(?:[^']|'')*'"));
        QString s = sql;
        s.replace(lit, QStringLiteral("''"));
        return s;
    }

    QueryResult toResult(const std::vector<PGresult *> &parts, const QString &sql) const
    {
        QueryResult result;
        PGresult *r = parts.back(); // the final result describes the columns
        const int cols = PQnfields(r);
        int rows = 0;
        for (PGresult *part : parts)
            rows += PQntuples(part);
        // Names as the statement wrote them; columns of "select *" as the schema declares.
        QHash<QString, QString> written;
        static const QRegularExpression ident(QStringLiteral("[A-Za-z_][A-Za-z0-9_$#]*"));
        const QString bare = stripLiterals(sql);
        for (auto it = ident.globalMatch(bare); it.hasNext();) {
            const QString w = it.next().captured(0);
            const QString lower = w.toLower();
            if (!written.contains(lower))
                written.insert(lower, w);
        }
        std::vector<Oid> oids(static_cast<size_t>(cols));
        for (int c = 0; c < cols; ++c) {
            quillon::FieldDef f;
            const QString name = QString::fromUtf8(PQfname(r, c));
            QString spelled = written.value(name);
            if (spelled.isEmpty())
                spelled = nameCase().spelling(name);
            f.name = spelled.isEmpty() ? name : spelled;
            oids[size_t(c)] = PQftype(r, c);
            int size = 0;
            f.type = fieldType(oids[size_t(c)], PQfmod(r, c), &size);
            if (oids[size_t(c)] == kText && PQftable(r, c) != InvalidOid)
                f.type = quillon::FieldType::Memo;
            f.size = size;
            result.fields.append(f);
        }
        result.rows.reserve(rows);
        for (PGresult *part : parts) {
            for (int i = 0, n = PQntuples(part); i < n; ++i) {
                QVariantList row;
                row.reserve(cols);
                for (int c = 0; c < cols; ++c)
                    row.append(readCell(part, i, c, oids[size_t(c)]));
                result.rows.append(std::move(row));
            }
        }
        // Counts and sums come as bigint: an Integer field while they fit.
        for (int c = 0; c < cols; ++c) {
            quillon::FieldDef &f = result.fields[c];
            if (f.type == quillon::FieldType::LargeInt) {
                bool fits = true;
                for (const QVariantList &row : std::as_const(result.rows)) {
                    const QVariant &v = row.at(c);
                    if (!v.isNull() && (v.toLongLong() < INT32_MIN || v.toLongLong() > INT32_MAX)) {
                        fits = false;
                        break;
                    }
                }
                if (fits) {
                    f.type = quillon::FieldType::Integer;
                    for (QVariantList &row : result.rows)
                        if (!row.at(c).isNull())
                            row[c] = QVariant(int(row.at(c).toLongLong()));
                }
            } else if (f.type == quillon::FieldType::String && f.size <= 0) {
                int maxLen = 1;
                for (const QVariantList &row : std::as_const(result.rows))
                    maxLen = std::max(maxLen, int(row.at(c).toString().size()));
                f.size = maxLen;
            }
        }
        return result;
    }

    qint64 execute(const QString &sql, const QVariantList &params) override
    {
        PGresult *r = run(sql, params);
        ResultGuard g{r};
        const char *n = PQcmdTuples(r);
        return n && *n ? std::strtoll(n, nullptr, 10) : 0;
    }

    void executeScript(const QString &sql) override
    {
        QString script = sql;
        if (script.contains(QLatin1String("create table"), Qt::CaseInsensitive)) {
            nameCase().learn(script);
            script = pgDdl(script);
        } else if (script.contains(QLatin1String("alter table"), Qt::CaseInsensitive)) {
            // Columns added to a database of an earlier release use the schema's type names.
            script = pgDdl(script);
        }
        PGresult *r = PQexec(m_db, script.toUtf8().constData());
        ResultGuard g{r};
        const ExecStatusType st = PQresultStatus(r);
        if (st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK) {
            g.r = nullptr;
            throwResultError(r, m_db);
        }
    }

    void finishSchema() override
    {
        executeScript(QString::fromUtf8(pgsql::kFunctions));
        executeScript(QString::fromUtf8(noticeRulesPostgres()));
        executeScript(QString::fromUtf8(pgsql::kTenants));
        executeScript(QString::fromUtf8(pgsql::kNoticeReaders));
        // Readers of processes that are gone (this or another server restarted).
        executeScript(QStringLiteral("delete from sys_tenantreader where PID not in "
                                     "(select pid from pg_stat_activity where pid is not null)"));
        // No temporary tables for anyone but the owner (the tenant roles get no TEMP).
        executeScript(QStringLiteral("do $$ begin execute format('revoke temporary on database %I "
                                     "from public', current_database()); end $$"));
        for (const QString &t : sysidTables()) {
            const QString q = quoteIdentifier(t);
            // A login limited to its site or centre sees a scoped table's rows whose
            // declared columns hold its value (the functions are evaluated once a query).
            QString rows;
            const QString lower = t.toLower();
            const QStringList cols = allRowScopeColumns(t);
            if (isNoticeTable(t)) {
                rows = QStringLiteral(" and (not (select wl_tenant_own_notices('%1')) or %2)")
                           .arg(lower, ownNoticeCondition(t));
            } else if (!cols.isEmpty()) {
                QStringList any;
                for (const QString &col : cols)
                    any.append(QStringLiteral("%1 = (select wl_tenant_scope('%2', '%3'))")
                                   .arg(col.toLower(), lower, col.toLower()));
                rows = QStringLiteral(" and (not (select wl_tenant_scoped('%1')) or %2)")
                           .arg(lower, any.join(QLatin1String(" or ")));
            }
            executeScript(QStringLiteral(
                              "alter table %1 enable row level security; "
                              "drop policy if exists waylink_deployment on %1; "
                              "create policy waylink_deployment on %1 for select "
                              "using (sysid = (select wl_tenant_sysid())%2)")
                              .arg(q, rows));
        }
        // The roles whose updates change only the fee and refresh columns of a finance
        // table (beginLimitedUpdate): no login, read and UPDATE of those columns only; the
        // server's login may take them on.
        for (const QString &t : columnLimitedTables()) {
            const QString role = limitedRole(t);
            QStringList cols;
            for (const QString &c : updatableColumns(t))
                cols.append(c.toLower());
            const QString q = quoteIdentifier(t);
            executeScript(QStringLiteral(
                              "do $$ begin if not exists (select 1 from pg_roles where rolname = '%1') "
                              "then create role %1 nologin noinherit; end if; end $$; "
                              "grant usage on schema public to %1; grant select on %2 to %1; "
                              "revoke insert, update, delete, truncate on %2 from %1; "
                              "grant update (%3) on %2 to %1; "
                              "drop policy if exists waylink_limited_update on %2; "
                              "create policy waylink_limited_update on %2 for all to %1 using (true) "
                              "with check (true); grant %1 to current_user;")
                              .arg(role, q, cols.join(u',')));
        }
        // Tables made since the tenant roles were: grant them too (those the login reads).
        const QueryResult roles = query(QStringLiteral("select ROLNAME, TABLES from sys_tenant"), {}, false);
        for (const QVariantList &row : roles.rows)
            grantTenant(row.at(0).toString(), tablesOf(row.at(1).toString()));
    }

    // The rows of a notice table that a login limited to its reader's own notices sees
    // (docs/roles.md); the reader and the notice sets come from security-definer
    // functions, which read the other notice tables without their policies.
    static QString ownNoticeCondition(const QString &table)
    {
        const QString t = table.toUpper();
        const QString me = QStringLiteral("(select wl_reader_site()) and %1 = (select wl_reader_emp())");
        const QString published = QStringLiteral("msgid in (select wl_reader_published())");
        if (t == QLatin1String("TAB_MSGRECORD"))
            return QStringLiteral("msgid in (select wl_reader_notices())");
        if (t == QLatin1String("TAB_MSGSITE"))
            return QStringLiteral("msgsite = (select wl_reader_site()) or ") + published;
        if (t == QLatin1String("TAB_MSGEMP"))
            return QStringLiteral("(msgsite = %1) or %2").arg(me.arg(QStringLiteral("msgemp")), published);
        if (t == QLatin1String("TAB_MSGREAD"))
            return QStringLiteral("(msgreadsite = %1) or %2").arg(me.arg(QStringLiteral("msgreader")), published);
        return QStringLiteral("false");
    }

    static QStringList tablesOf(const QString &text)
    {
        if (text.isEmpty() || text == QLatin1String("*"))
            return {QStringLiteral("*")};
        return text.split(u',', Qt::SkipEmptyParts);
    }

    // What a login may do: read the business tables it is given (row policies filter
    // them; "*": all of them) and dual. Nothing on the server's tables, no writes.
    void grantTenant(const QString &role, const QStringList &tables)
    {
        QString script = QStringLiteral("grant usage on schema public to %1; grant select on dual to %1;")
                             .arg(role);
        const bool all = tables.contains(QStringLiteral("*"));
        for (const QString &t : sysidTables())
            if (all || tables.contains(t.toLower()))
                script += QStringLiteral("grant select on %1 to %2;").arg(quoteIdentifier(t), role);
        executeScript(script);
    }

    // The login role of a deployment and read scope: made on first use, with a random
    // password kept in sys_server, no memberships and no rights beyond logging in and
    // reading what the scope grants. The login of a whole deployment keeps the name it
    // always had; a narrower scope gets a name with a digest of its key.
    QPair<QString, QString> provisionTenant(const ClientScope &scope)
    {
        const QString sysid = scope.sysid;
        Transaction t(*this);
        auto scalar = [this](const QString &sql, const QVariantList &params) {
            const QueryResult r = query(sql, params, false);
            return r.rows.isEmpty() ? QVariant() : r.rows.first().value(0);
        };
        scalar(QStringLiteral("select pg_advisory_xact_lock(7405712) is not null"), {});
        const QString oid = scalar(QStringLiteral("select oid::text from pg_database "
                                                  "where datname = current_database()"),
                                   {})
                                .toString();
        QString role = QStringLiteral("wlt_%1_%2").arg(oid, QString::fromLatin1(sysid.toUtf8().toHex()));
        const bool whole = scope.allTables && scope.rows.isEmpty();
        if (!whole)
            role += QLatin1Char('_')
                    + QString::fromLatin1(QCryptographicHash::hash(scope.key().toUtf8(),
                                                                   QCryptographicHash::Sha256)
                                              .toHex()
                                              .left(16));
        if (role.size() > 63)
            throw DbError(QStringLiteral("the deployment key %1 is too long").arg(sysid));
        const QString secretName = QStringLiteral("tenant:") + role;
        QString password = QString::fromLatin1(
            scalar(QStringLiteral("select VALUE from sys_server where NAME=?"), {secretName}).toByteArray());
        if (password.isEmpty()) {
            QByteArray raw(24, '\0');
            randombytes_buf(raw.data(), size_t(raw.size()));
            password = QString::fromLatin1(raw.toHex());
            execute(QStringLiteral("insert into sys_server (NAME, VALUE) values (?, ?)"),
                    {secretName, password.toLatin1()});
        }
        const QueryResult existing = query(
            QStringLiteral("select rolsuper or rolcreaterole or rolcreatedb or rolreplication "
                           "or rolbypassrls or exists (select 1 from pg_auth_members m "
                           "where m.member = r.oid) from pg_roles r where rolname = ?"),
            {role}, false);
        if (existing.rows.isEmpty()) {
            executeScript(QStringLiteral("create role %1 login noinherit password '%2'").arg(role, password));
        } else {
            if (existing.rows.first().value(0).toInt() != 0)
                throw DbError(QStringLiteral("the login role %1 has more rights than a deployment "
                                             "may have: remove them").arg(role));
            executeScript(QStringLiteral("alter role %1 with login noinherit password '%2'").arg(role, password));
        }
        const QString tables = scope.allTables ? QStringLiteral("*") : scope.tables.join(u',');
        execute(QStringLiteral("insert into sys_tenant (ROLNAME, TENANT, TABLES, OWNNOTICES) values (?, ?, ?, ?) "
                               "on conflict (ROLNAME) do update set TENANT = excluded.TENANT, "
                               "TABLES = excluded.TABLES, OWNNOTICES = excluded.OWNNOTICES"),
                {role, sysid, tables, scope.ownNoticeTables.join(u',')});
        execute(QStringLiteral("delete from sys_tenantscope where ROLNAME=?"), {role});
        for (auto it = scope.rows.constBegin(); it != scope.rows.constEnd(); ++it)
            for (const QString &col : it->columns)
                execute(QStringLiteral("insert into sys_tenantscope (ROLNAME, TABLENAME, COLNAME, VALUE) "
                                       "values (?, ?, ?, ?)"),
                        {role, it.key().toLower(), col.toLower(), it->value});
        grantTenant(role, tablesOf(tables));
        t.commit();
        return {role, password};
    }

    QStringList sysidTables()
    {
        const QueryResult r = query(QStringLiteral(
                                        "select c.table_name from information_schema.columns c "
                                        "join information_schema.tables t on t.table_schema=c.table_schema "
                                        "and t.table_name=c.table_name and t.table_type='BASE TABLE' "
                                        "where c.table_schema='public' and c.column_name='sysid'"),
                                    {}, false);
        QStringList out;
        for (const QVariantList &row : r.rows)
            if (!isServerTable(row.at(0).toString()))
                out.append(row.at(0).toString());
        return out;
    }

    void begin() override
    {
        // PostgreSQL only warns about a nested begin; refused as on SQLite, so that a
        // caller that lost track of its transaction learns it at once.
        if (m_inTransaction || PQtransactionStatus(m_db) != PQTRANS_IDLE)
            throw DbError(QStringLiteral("cannot start a transaction within a transaction"));
        executeScript(QStringLiteral("begin"));
        m_inTransaction = true;
    }
    void commit() override
    {
        m_inTransaction = false;
        executeScript(QStringLiteral("commit"));
    }
    void rollback() override
    {
        m_inTransaction = false;
        if (PQtransactionStatus(m_db) != PQTRANS_IDLE)
            executeScript(QStringLiteral("rollback"));
    }
    void endLeftOverTransaction() override
    {
        if (m_inTransaction || PQtransactionStatus(m_db) != PQTRANS_IDLE) {
            try {
                rollback();
            } catch (...) {
            }
        }
    }

    TableInfo tableInfo(const QString &table) override
    {
        TableInfo info;
        static const QRegularExpression ident(QStringLiteral("^[A-Za-z_][A-Za-z0-9_$#]*$"));
        if (!ident.match(table).hasMatch())
            return info;
        const QueryResult r = query(
            QStringLiteral("select a.attname, format_type(a.atttypid, a.atttypmod), "
                           "coalesce(array_position(i.indkey::int2[], a.attnum) "
                           "- array_lower(i.indkey::int2[], 1) + 1, 0), c.relname "
                           "from pg_class c join pg_namespace n on n.oid=c.relnamespace "
                           "join pg_attribute a on a.attrelid=c.oid and a.attnum>0 and not a.attisdropped "
                           "left join pg_index i on i.indrelid=c.oid and i.indisprimary "
                           "where n.nspname='public' and c.relkind='r' and c.relname=lower($1) "
                           "order by a.attnum"),
            {table}, false);
        QList<QPair<int, QString>> pk;
        for (const QVariantList &row : r.rows) {
            const QString lower = row.at(0).toString();
            const QString spelled = nameCase().spelling(lower);
            const QString name = spelled.isEmpty() ? lower : spelled;
            info.columns.append(name);
            const QString decl = row.at(1).toString().toUpper();
            info.declared.append(decl);
            int size = 0;
            quillon::FieldType type = quillon::FieldType::String;
            if (decl.startsWith(QLatin1String("CHARACTER VARYING")) || decl.startsWith(QLatin1String("CHARACTER("))) {
                static const QRegularExpression n(QStringLiteral("\\((\\d+)\\)"));
                const auto m = n.match(decl);
                size = m.hasMatch() ? m.captured(1).toInt() : 0;
            } else if (decl == QLatin1String("TEXT")) {
                type = quillon::FieldType::Memo;
            } else if (decl == QLatin1String("SMALLINT")) {
                type = quillon::FieldType::SmallInt;
            } else if (decl == QLatin1String("INTEGER")) {
                type = quillon::FieldType::Integer;
            } else if (decl == QLatin1String("BIGINT")) {
                type = quillon::FieldType::LargeInt;
            } else if (decl.startsWith(QLatin1String("TIMESTAMP")) || decl == QLatin1String("DATE")) {
                type = quillon::FieldType::DateTime;
            } else if (decl == QLatin1String("BYTEA")) {
                type = quillon::FieldType::Blob;
            } else if (decl.startsWith(QLatin1String("NUMERIC")) || decl.startsWith(QLatin1String("DOUBLE"))
                       || decl == QLatin1String("REAL")) {
                type = quillon::FieldType::Float;
            }
            info.types.append(type);
            info.sizes.append(size);
            if (row.at(2).toInt() > 0)
                pk.append({row.at(2).toInt(), name});
            if (info.name.isEmpty()) {
                const QString t = nameCase().spelling(row.at(3).toString());
                info.name = t.isEmpty() ? row.at(3).toString() : t;
            }
        }
        std::sort(pk.begin(), pk.end());
        for (const auto &p : pk)
            info.primaryKey.append(p.second);
        return info;
    }

    // Reads of a restricted session run on a connection that logs in as the role of its
    // deployment and read scope; the row policies compare sysid (and the scoped columns)
    // with what sys_tenant holds for session_user, which no SQL text of a role without
    // superuser rights can change. Switching the scope (or back to the server's own login)
    // opens a new connection.
    void restrictRows(const ClientScope &scope) override
    {
        const QString key = scope.key();
        if (key == m_filter)
            return;
        if (key.isEmpty()) {
            reconnect(QString(), QString());
            m_filter.clear();
            return;
        }
        QPair<QString, QString> login = m_tenants->find(key);
        if (login.first.isEmpty()) {
            if (!m_filter.isEmpty()) {
                reconnect(QString(), QString());
                m_filter.clear();
            }
            login = provisionTenant(scope);
            m_tenants->store(key, login);
        }
        reconnect(login.first, login.second);
        m_filter = key;
    }

    QString rowFilter() const override { return m_filter; }

    void setNoticeReader(const NoticeReader &reader) override
    {
        if (m_login.isEmpty())
            return; // the server's own login reads every row
        if (m_readerSet && m_reader == reader)
            return;
        m_readerSet = false;
        m_tenants->setReader(m_ownerUrl, PQbackendPID(m_db), m_login, reader);
        m_reader = reader;
        m_readerSet = true;
    }
    NoticeReader noticeReader() const override { return m_readerSet ? m_reader : NoticeReader(); }

    // The role of a column-limited table, per database: wlu_<database oid>_<table>.
    QString limitedRole(const QString &table)
    {
        if (m_databaseOid.isEmpty())
            m_databaseOid = query(QStringLiteral("select oid::text from pg_database "
                                                 "where datname = current_database()"),
                                  {}, false)
                                .rows.value(0)
                                .value(0)
                                .toString();
        return QStringLiteral("wlu_%1_%2").arg(m_databaseOid, table.toLower());
    }

    // Until the end of the transaction or endLimitedUpdate, statements run as the table's
    // limited role: PostgreSQL refuses an update of any other column (42501).
    void beginLimitedUpdate(const QString &table, const QStringList &columns) override
    {
        QStringList declared = updatableColumns(table);
        QStringList asked = columns;
        for (QString &c : declared)
            c = c.toUpper();
        for (QString &c : asked)
            c = c.toUpper();
        declared.sort();
        asked.sort();
        if (declared.isEmpty() || declared != asked)
            throw AccessDenied(QStringLiteral("no role limits the updates of %1 to %2")
                                   .arg(table, columns.join(u',')));
        executeScript(QStringLiteral("set local role %1").arg(limitedRole(table)));
        m_limited = true;
    }

    void endLimitedUpdate() override
    {
        if (!m_limited)
            return;
        m_limited = false;
        PGresult *r = PQexec(m_db, "reset role");
        PQclear(r); // in a failed transaction the rollback ends the role as well
    }

    QString lockRowsClause() const override { return QStringLiteral(" for update"); }

    QString quoteIdentifier(const QString &name) const override
    {
        // Unquoted names fold to lower case, as the tables were made.
        static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
        if (plain.match(name).hasMatch())
            return name.toLower();
        QString n = name;
        n.replace(QLatin1Char('"'), QLatin1String("\"\""));
        return QLatin1Char('"') + n + QLatin1Char('"');
    }

private:
    QString m_ownerUrl;
    std::shared_ptr<TenantLogins> m_tenants;
    PGconn *m_db = nullptr;
    qint64 m_appliedLimit = s_limitMs.load();
    QString m_zone;
    QString m_filter;
    QString m_login; // the client login in use; empty: the server's own
    NoticeReader m_reader;
    bool m_readerSet = false; // m_reader is noted in sys_tenantreader for this process
    QString m_databaseOid; // limitedRole
    bool m_limited = false; // a limited role taken on by beginLimitedUpdate
    bool m_inTransaction = false;
};

// The URL with another database name.
QString withDatabase(const QString &url, const QString &db)
{
    QUrl u(url);
    u.setPath(QLatin1Char('/') + db);
    return u.toString();
}

} // namespace

PgBackend::PgBackend(const QString &url, bool create)
    : m_url(url)
    , m_tenants(std::make_shared<TenantLogins>())
{
    if (create) {
        PGconn *probe = PQconnectdb(url.toUtf8().constData());
        const bool ok = PQstatus(probe) == CONNECTION_OK;
        const QByteArray state = ok ? QByteArray() : QByteArray(PQerrorMessage(probe));
        PQfinish(probe);
        if (!ok && state.contains("does not exist")) {
            const QString name = QUrl(url).path().mid(1);
            static const QRegularExpression ident(QStringLiteral("^[A-Za-z0-9_]+$"));
            if (!ident.match(name).hasMatch())
                throw DbError(QStringLiteral("cannot create the database %1: use letters, digits "
                                             "and _ in its name").arg(name));
            PgConnection admin(withDatabase(url, QStringLiteral("postgres")),
                               std::make_shared<TenantLogins>());
            admin.executeScript(QStringLiteral("create database %1").arg(name));
        }
    }
    auto c = acquireForServer(); // fails early on a bad URL
    if (create) {
        try {
            c->executeScript(QStringLiteral("create extension if not exists orafce"));
        } catch (const DbError &) {
            // orafce is optional
        }
    }
}

void PgBackend::setStatementTimeLimit(qint64 milliseconds)
{
    PgConnection::s_limitMs = std::max<qint64>(0, milliseconds);
}

QString PgBackend::describe() const
{
    QUrl u(m_url);
    u.setPassword(QString());
    return QStringLiteral("PostgreSQL %1").arg(u.toString());
}

std::unique_ptr<Connection> PgBackend::connect()
{
    return std::make_unique<PgConnection>(m_url, m_tenants);
}

} // namespace server
