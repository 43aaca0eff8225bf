#include "server/sql/sqlitebackend.h"

#include "server/noticerules.h"
#include "server/serverfunctions.h"
#include "server/sql/oracledialect.h"
#include "server/sql/sqlitereads.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <QFileInfo>
#include <QRegularExpression>
#include <cmath>
#include <cstdio>
#include <QSet>
#include <sodium.h>
#include <sqlite3.h>
#include <string>
#include <string_view>
#include <unordered_map>
#include <memory>
#include <mutex>

namespace server {

namespace {

QString dbMessage(sqlite3 *db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

quillon::FieldType typeFromDecl(const QString &declUpper, int *size)
{
    using quillon::FieldType;
    *size = 0;
    static const QRegularExpression sizeRe(QStringLiteral("\\(\\s*(\\d+)"));
    const auto m = sizeRe.match(declUpper);
    const int declSize = m.hasMatch() ? m.captured(1).toInt() : 0;
    if (declUpper.contains(QLatin1String("BIGINT")))
        return FieldType::LargeInt;
    if (declUpper.contains(QLatin1String("SMALLINT")))
        return FieldType::SmallInt;
    if (declUpper.contains(QLatin1String("INT")))
        return FieldType::Integer;
    if (declUpper.contains(QLatin1String("DATE")) || declUpper.contains(QLatin1String("TIME")))
        return FieldType::DateTime;
    if (declUpper.contains(QLatin1String("CLOB")) || declUpper == QLatin1String("TEXT"))
        return FieldType::Memo;
    if (declUpper.contains(QLatin1String("CHAR")) || declUpper.contains(QLatin1String("TEXT"))) {
        *size = declSize;
        return FieldType::String;
    }
    if (declUpper.contains(QLatin1String("BLOB")))
        return FieldType::Blob;
    if (declUpper.contains(QLatin1String("REAL")) || declUpper.contains(QLatin1String("FLOA"))
        || declUpper.contains(QLatin1String("DOUB")) || declUpper.contains(QLatin1String("NUM"))
        || declUpper.contains(QLatin1String("DEC")))
        return FieldType::Float;
    *size = declSize;
    return FieldType::String;
}

void bindValue(sqlite3_stmt *st, int index, const QVariant &v)
{
    if (v.isNull() || !v.isValid()) {
        sqlite3_bind_null(st, index);
        return;
    }
    switch (v.typeId()) {
    case QMetaType::Bool:
        sqlite3_bind_int(st, index, v.toBool() ? 1 : 0);
        return;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        sqlite3_bind_int64(st, index, v.toLongLong());
        return;
    case QMetaType::Double:
    case QMetaType::Float:
        sqlite3_bind_double(st, index, v.toDouble());
        return;
    case QMetaType::QDateTime: {
        const QByteArray t = canonicalDate(v.toDateTime()).toUtf8();
        sqlite3_bind_text(st, index, t.constData(), int(t.size()), SQLITE_TRANSIENT);
        return;
    }
    case QMetaType::QDate: {
        const QByteArray t = canonicalDate(QDateTime(v.toDate(), QTime(0, 0))).toUtf8();
        sqlite3_bind_text(st, index, t.constData(), int(t.size()), SQLITE_TRANSIENT);
        return;
    }
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        sqlite3_bind_blob(st, index, b.constData(), int(b.size()), SQLITE_TRANSIENT);
        return;
    }
    default: {
        const QByteArray t = v.toString().toUtf8();
        sqlite3_bind_text(st, index, t.constData(), int(t.size()), SQLITE_TRANSIENT);
        return;
    }
    }
}

QVariant readValue(sqlite3_stmt *st, int col)
{
    switch (sqlite3_column_type(st, col)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(st, col)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(st, col));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, col)),
                                          sqlite3_column_bytes(st, col)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char *>(sqlite3_column_blob(st, col)),
                                   sqlite3_column_bytes(st, col)));
    default:
        return QVariant();
    }
}

QVariant valueArg(sqlite3_value *v)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_value_int64(v)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_value_double(v));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(v)),
                                          sqlite3_value_bytes(v)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char *>(sqlite3_value_blob(v)),
                                   sqlite3_value_bytes(v)));
    default:
        return QVariant();
    }
}

void resultValue(sqlite3_context *ctx, const QVariant &v)
{
    if (v.isNull() || !v.isValid()) {
        sqlite3_result_null(ctx);
    } else if (v.typeId() == QMetaType::Double) {
        sqlite3_result_double(ctx, v.toDouble());
    } else if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int) {
        sqlite3_result_int64(ctx, v.toLongLong());
    } else {
        const QByteArray t = v.toString().toUtf8();
        sqlite3_result_text(ctx, t.constData(), int(t.size()), SQLITE_TRANSIENT);
    }
}

void resultError(sqlite3_context *ctx, const QString &message)
{
    const QByteArray m = message.toUtf8();
    sqlite3_result_error(ctx, m.constData(), int(m.size()));
}

bool dateArg(sqlite3_value *v, QDateTime *out)
{
    if (sqlite3_value_type(v) != SQLITE_TEXT)
        return false;
    return parseCanonicalDate(valueArg(v).toString(), out);
}

void fnSysdate(sqlite3_context *ctx, int, sqlite3_value **)
{
    resultValue(ctx, canonicalDate(QDateTime::currentDateTime()));
}

void fnToDate(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString text = valueArg(argv[0]).toString();
    QDateTime dt;
    bool ok;
    if (argc >= 2 && sqlite3_value_type(argv[1]) != SQLITE_NULL)
        ok = parseOracleDate(text, valueArg(argv[1]).toString(), &dt);
    else
        ok = parseCanonicalDate(text, &dt);
    if (!ok) {
        resultError(ctx, QStringLiteral("to_date: '%1' does not match the format '%2'")
                             .arg(text, argc >= 2 ? valueArg(argv[1]).toString() : QString()));
        return;
    }
    resultValue(ctx, canonicalDate(dt));
}

void fnToChar(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    QDateTime dt;
    if (argc >= 2 && dateArg(argv[0], &dt)) {
        resultValue(ctx, formatOracleDate(dt, valueArg(argv[1]).toString()));
        return;
    }
    resultValue(ctx, valueArg(argv[0]).toString());
}

void fnTrunc(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    const int type = sqlite3_value_type(argv[0]);
    if (type == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    QDateTime dt;
    if (dateArg(argv[0], &dt)) {
        const QString fmt = argc >= 2 ? valueArg(argv[1]).toString().toUpper() : QString();
        QDate d = dt.date();
        if (fmt == QLatin1String("MM") || fmt == QLatin1String("MON"))
            d = QDate(d.year(), d.month(), 1);
        else if (fmt == QLatin1String("YYYY") || fmt == QLatin1String("YEAR"))
            d = QDate(d.year(), 1, 1);
        resultValue(ctx, canonicalDate(QDateTime(d, QTime(0, 0))));
        return;
    }
    if (type == SQLITE_INTEGER) {
        sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
        return;
    }
    bool ok = false;
    const double d = valueArg(argv[0]).toString().toDouble(&ok);
    if (!ok) {
        resultError(ctx, QStringLiteral("trunc: not a number or date: %1")
                             .arg(valueArg(argv[0]).toString()));
        return;
    }
    const int digits = argc >= 2 ? sqlite3_value_int(argv[1]) : 0;
    const double scale = std::pow(10.0, digits);
    sqlite3_result_double(ctx, std::trunc(d * scale) / scale);
}

void fnDateArith(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    QDateTime a;
    if (!dateArg(argv[0], &a)) {
        resultError(ctx, QStringLiteral("date arithmetic on a value that is not a date"));
        return;
    }
    const bool minus = valueArg(argv[1]).toString() == QLatin1String("-");
    QDateTime b;
    if (dateArg(argv[2], &b)) {
        if (!minus) {
            resultError(ctx, QStringLiteral("a date cannot be added to a date"));
            return;
        }
        sqlite3_result_double(ctx, double(b.secsTo(a)) / 86400.0);
        return;
    }
    bool ok = false;
    const double days = valueArg(argv[2]).toString().toDouble(&ok);
    if (!ok) {
        resultError(ctx, QStringLiteral("date arithmetic needs a number of days"));
        return;
    }
    const qint64 secs = qint64(std::llround(days * 86400.0)) * (minus ? -1 : 1);
    resultValue(ctx, canonicalDate(a.addSecs(secs)));
}

// Runs the rule queries of the server functions on the connection of the caller. Its
// statements are kept while it lives (one call of a server function, a whole batch of
// F_CallBatch), so a batch compiles each rule query once.
class SqliteRuleReader : public RuleReader
{
public:
    explicit SqliteRuleReader(sqlite3 *db)
        : m_db(db)
    {}
    ~SqliteRuleReader() override
    {
        for (sqlite3_stmt *st : std::as_const(m_statements))
            sqlite3_finalize(st);
    }
    SqliteRuleReader(const SqliteRuleReader &) = delete;
    SqliteRuleReader &operator=(const SqliteRuleReader &) = delete;

    QList<QVariantList> rows(const QString &sql, const QVariantList &params) override
    {
        sqlite3_stmt *st = m_statements.value(sql);
        if (st) {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        } else {
            const QByteArray s = sql.toUtf8();
            if (sqlite3_prepare_v2(m_db, s.constData(), int(s.size()), &st, nullptr) != SQLITE_OK)
                throw DbError(dbMessage(m_db));
            m_statements.insert(sql, st);
        }
        for (int i = 0; i < params.size(); ++i)
            bindValue(st, i + 1, params.at(i));
        QList<QVariantList> out;
        int rc;
        const int cols = sqlite3_column_count(st);
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            QVariantList row;
            row.reserve(cols);
            for (int c = 0; c < cols; ++c)
                row.append(readValue(st, c));
            out.append(row);
        }
        sqlite3_reset(st);
        if (rc != SQLITE_DONE)
            throw DbError(dbMessage(m_db));
        return out;
    }

private:
    sqlite3 *m_db;
    QHash<QString, sqlite3_stmt *> m_statements;
};

void fnServer(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    const char *name = static_cast<const char *>(sqlite3_user_data(ctx));
    QVariantList args;
    for (int i = 0; i < argc; ++i)
        args.append(valueArg(argv[i]));
    try {
        SqliteRuleReader reader(sqlite3_context_db_handle(ctx));
        resultValue(ctx, callServerFunction(QString::fromLatin1(name), args, reader));
    } catch (const std::exception &e) {
        resultError(ctx, QStringLiteral("%1: %2").arg(QString::fromLatin1(name),
                                                      QString::fromUtf8(e.what())));
    }
}

// Shares equal short texts of a column (site names, types ...) so that they are decoded
// and allocated once per query; gives up on columns whose texts are mostly distinct.
class TextPool
{
public:
    QString get(const char *t, int n)
    {
        if (m_off || n > 48)
            return QString::fromUtf8(t, n);
        const std::string_view key(t, size_t(n));
        const auto it = m_map.find(key);
        if (it != m_map.end())
            return it->second;
        QString s = QString::fromUtf8(t, n);
        if (m_map.size() >= 512) {
            m_off = true;
            m_map.clear();
            return s;
        }
        m_map.emplace(std::string(key), s);
        return s;
    }

private:
    struct Hash
    {
        using is_transparent = void;
        size_t operator()(std::string_view v) const { return std::hash<std::string_view>()(v); }
    };
    std::unordered_map<std::string, QString, Hash, std::equal_to<>> m_map;
    bool m_off = false;
};

// Reads a column of a declared type into the value type of its field; values of another
// storage class (a text in a number column ...) are converted or, failing that, kept.
QVariant readTyped(sqlite3_stmt *st, int c, quillon::FieldType type, bool *odd, TextPool &pool)
{
    using quillon::FieldType;
    const int storage = sqlite3_column_type(st, c);
    if (storage == SQLITE_NULL)
        return QVariant();
    switch (type) {
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::LargeInt:
        if (storage == SQLITE_INTEGER) {
            const qint64 n = sqlite3_column_int64(st, c);
            if (type != FieldType::LargeInt && n >= INT32_MIN && n <= INT32_MAX)
                return QVariant(int(n));
            *odd = true; // the field becomes a large integer
            return QVariant(qlonglong(n));
        }
        break;
    case FieldType::Float:
        if (storage == SQLITE_FLOAT || storage == SQLITE_INTEGER)
            return QVariant(sqlite3_column_double(st, c));
        break;
    case FieldType::DateTime:
        if (storage == SQLITE_TEXT) {
            const char *t = reinterpret_cast<const char *>(sqlite3_column_text(st, c));
            const int n = sqlite3_column_bytes(st, c);
            auto digits = [t](int from, int len) {
                int v = 0;
                for (int i = from; i < from + len; ++i) {
                    if (t[i] < '0' || t[i] > '9')
                        return -1;
                    v = v * 10 + (t[i] - '0');
                }
                return v;
            };
            if (n == 19 && t[4] == '-' && t[7] == '-' && t[10] == ' ' && t[13] == ':' && t[16] == ':') {
                const QDate d(digits(0, 4), digits(5, 2), digits(8, 2));
                const QTime tm(digits(11, 2), digits(14, 2), digits(17, 2));
                if (d.isValid() && tm.isValid())
                    return QVariant(QDateTime(d, tm));
            }
            QDateTime dt;
            if (parseCanonicalDate(QString::fromUtf8(t, n), &dt))
                return QVariant(dt);
            return QVariant();
        }
        break;
    case FieldType::String:
    case FieldType::WideString:
    case FieldType::Memo:
        if (storage == SQLITE_TEXT)
            return QVariant(pool.get(reinterpret_cast<const char *>(sqlite3_column_text(st, c)),
                                     sqlite3_column_bytes(st, c)));
        break;
    default:
        break;
    }
    *odd = true;
    return readValue(st, c);
}

// Writes a cell of a declared column straight into the packet, as readTyped and the
// packet encoder together would; false for a value they would treat otherwise (another
// storage class, a number beyond the field's range, an unusual date text, text that is
// not plain UTF-8), so that the caller falls back to the typed rows. Adds the cell's size
// as query() counts it against the answer limit to `bytes`. The cell is read through its
// sqlite3_value: one call into the statement per cell instead of one per property.
bool writeCell(quillon::BinaryPacketWriter &w, sqlite3_value *v, quillon::FieldType type, qint64 *bytes)
{
    using quillon::FieldType;
    const int storage = sqlite3_value_type(v);
    if (storage == SQLITE_NULL) {
        *bytes += 8;
        w.null();
        return true;
    }
    switch (type) {
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::LargeInt: {
        if (storage != SQLITE_INTEGER)
            return false;
        const qint64 n = sqlite3_value_int64(v);
        if (type == FieldType::Integer && (n < INT32_MIN || n > INT32_MAX))
            return false;
        if (type == FieldType::SmallInt && (n < -32768 || n > 32767))
            return false;
        *bytes += 8;
        w.integer(n);
        return true;
    }
    case FieldType::Float:
        if (storage != SQLITE_FLOAT && storage != SQLITE_INTEGER)
            return false;
        *bytes += 8;
        w.real(sqlite3_value_double(v));
        return true;
    case FieldType::DateTime: {
        if (storage != SQLITE_TEXT)
            return false;
        const char *t = reinterpret_cast<const char *>(sqlite3_value_text(v));
        const int n = sqlite3_value_bytes(v);
        if (n != 19 || t[4] != '-' || t[7] != '-' || t[10] != ' ' || t[13] != ':' || t[16] != ':')
            return false;
        auto digits = [t](int from, int len) {
            int value = 0;
            for (int i = from; i < from + len; ++i) {
                if (t[i] < '0' || t[i] > '9')
                    return -1;
                value = value * 10 + (t[i] - '0');
            }
            return value;
        };
        const QDate d(digits(0, 4), digits(5, 2), digits(8, 2));
        const QTime tm(digits(11, 2), digits(14, 2), digits(17, 2));
        if (!d.isValid() || !tm.isValid())
            return false;
        *bytes += n;
        w.dateTime(d.toJulianDay(), tm.msecsSinceStartOfDay());
        return true;
    }
    case FieldType::String:
    case FieldType::WideString:
    case FieldType::Memo: {
        if (storage != SQLITE_TEXT)
            return false;
        const char *t = reinterpret_cast<const char *>(sqlite3_value_text(v));
        const QByteArrayView utf8(t, sqlite3_value_bytes(v));
        if (!quillon::isValidUtf8(utf8))
            return false;
        *bytes += utf8.size();
        w.text(utf8);
        return true;
    }
    case FieldType::Blob: {
        if (storage != SQLITE_BLOB)
            return false;
        const void *b = sqlite3_value_blob(v);
        const int n = sqlite3_value_bytes(v);
        *bytes += n;
        w.blob(QByteArrayView(static_cast<const char *>(b), n));
        return true;
    }
    default:
        return false;
    }
}

// Writers of one database file inside this process take turns here before they ask SQLite
// for its write lock. SQLite lets a writer that finds the lock taken sleep in its busy
// handler (1, 2, 5 ... 100 ms steps), not wake when the lock is free: under many workers
// publishing at once they slept while the file was idle. Here a waiting writer is woken
// when the turn is given back. Writers of other processes still meet busy_timeout.
// A turn is held by a connection, not a thread, so it may be given back from any thread.
class WriterGate
{
public:
    // The gate of a database file, shared by every connection of this process to it.
    static std::shared_ptr<WriterGate> forFile(const QString &path)
    {
        const QString key = QFileInfo(path).canonicalFilePath();
        if (key.isEmpty())
            return std::make_shared<WriterGate>(); // no file: nothing to share
        static std::mutex registryMutex;
        static std::unordered_map<std::string, std::weak_ptr<WriterGate>> registry;
        std::lock_guard lock(registryMutex);
        std::weak_ptr<WriterGate> &slot = registry[key.toStdString()];
        std::shared_ptr<WriterGate> gate = slot.lock();
        if (!gate) {
            gate = std::make_shared<WriterGate>();
            slot = gate;
        }
        return gate;
    }

    // False when the turn did not come within `timeout`.
    bool take(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        if (!m_cv.wait_for(lock, timeout, [this] { return !m_held; }))
            return false;
        m_held = true;
        return true;
    }

    void giveBack()
    {
        {
            std::lock_guard lock(m_mutex);
            m_held = false;
        }
        m_cv.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_held = false;
};

class SqliteConnection : public Connection
{
public:
    SqliteConnection(const QString &path, bool create)
    {
        const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX
                          | (create ? SQLITE_OPEN_CREATE : 0);
        if (!create && !QFileInfo::exists(path))
            throw DbError(QStringLiteral("database file not found: %1").arg(path));
        if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr) != SQLITE_OK) {
            const QString msg = m_db ? dbMessage(m_db) : QStringLiteral("out of memory");
            sqlite3_close(m_db);
            m_db = nullptr;
            throw DbError(QStringLiteral("cannot open %1: %2").arg(path, msg));
        }
        sqlite3_busy_timeout(m_db, int(kBusyMs.count()));
        m_gate = WriterGate::forFile(path);
        // The WAL is copied back by the writer itself (checkpointIfDue), in a way that
        // lets it start over under a steady stream of readers.
        sqlite3_wal_hook(m_db, &SqliteConnection::onWalCommit, this);
        // A runaway statement (a join without conditions ...) is interrupted instead of
        // holding a worker for ever.
        sqlite3_progress_handler(m_db, 100000, &SqliteConnection::onProgress, this);
        runScript(QStringLiteral("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                                 "PRAGMA case_sensitive_like=ON;"));
        runScript(QString::fromLatin1(kSqliteReadPragmas));
        const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
        sqlite3_create_function(m_db, "wl_sysdate", 0, SQLITE_UTF8, nullptr, fnSysdate, nullptr, nullptr);
        sqlite3_create_function(m_db, "wl_to_date", -1, det, nullptr, fnToDate, nullptr, nullptr);
        sqlite3_create_function(m_db, "wl_to_char", -1, det, nullptr, fnToChar, nullptr, nullptr);
        sqlite3_create_function(m_db, "wl_trunc", -1, det, nullptr, fnTrunc, nullptr, nullptr);
        sqlite3_create_function(m_db, "wl_datearith", 3, det, nullptr, fnDateArith, nullptr, nullptr);
        // The reader of the lease (setNoticeReader), for the notice tables' filter views;
        // NULL until one is set, which no row matches.
        sqlite3_create_function(m_db, "wl_reader_site", 0, SQLITE_UTF8 | SQLITE_INNOCUOUS, this,
                                fnReaderSite, nullptr, nullptr);
        sqlite3_create_function(m_db, "wl_reader_emp", 0, SQLITE_UTF8 | SQLITE_INNOCUOUS, this,
                                fnReaderEmployee, nullptr, nullptr);
        for (const ServerFunction &f : serverFunctions())
            sqlite3_create_function(m_db, f.name, f.argCount, SQLITE_UTF8,
                                    const_cast<char *>(f.name), fnServer, nullptr, nullptr);
        // No other database files, no extensions, no writes to the schema's internals.
        sqlite3_limit(m_db, SQLITE_LIMIT_ATTACHED, 0);
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        // The name of the inner filter views: the authorizer knows a read of a business
        // table through them by this name, which a client's text cannot guess.
        unsigned char tag[8];
        if (sodium_init() < 0)
            throw DbError(QStringLiteral("libsodium cannot start"));
        randombytes_buf(tag, sizeof tag);
        m_viewPrefix = QStringLiteral("wl_%1_")
                           .arg(QString::fromLatin1(QByteArray(reinterpret_cast<char *>(tag), sizeof tag).toHex()));
        sqlite3_set_authorizer(m_db, &SqliteConnection::authorize, this);
    }

    ~SqliteConnection() override
    {
        for (sqlite3_stmt *st : std::as_const(m_cache))
            sqlite3_finalize(st);
        sqlite3_close(m_db); // rolls back a transaction left open
        if (m_turnHeld)
            m_gate->giveBack();
    }

    TranslatedSql translate(const QString &oracleSql) const override
    {
        static const DialectTarget target;
        return translateOracle(oracleSql, target);
    }

    // Every statement prepared while the connection is restricted to a deployment is a
    // client's: it may only read, and read a business table only through the filter views
    // of the deployment. Server tables, other databases, pragmas, writes, schema changes and
    // functions that reach outside the database are refused while it is compiled.
    static int authorize(void *self, int action, const char *a3, const char *a4,
                         const char *database, const char *context)
    {
        auto *c = static_cast<SqliteConnection *>(self);
        if (!c->m_clientMode) {
            // An update limited to some columns of a table: the others are refused.
            if (action == SQLITE_UPDATE && !c->m_limitedTable.isEmpty() && a3 && a4
                && QString::fromUtf8(a3).compare(c->m_limitedTable, Qt::CaseInsensitive) == 0
                && !c->m_limitedColumns.contains(QString::fromUtf8(a4).toUpper())) {
                if (s_traceDenials)
                    std::fprintf(stderr, "sqlite authorizer refused: update of %s.%s\n", a3, a4);
                return SQLITE_DENY;
            }
            return SQLITE_OK;
        }
        const bool ok = c->clientAccess(action, a3, a4, database, context);
        if (!ok && s_traceDenials)
            std::fprintf(stderr, "sqlite authorizer refused: action %d %s %s %s %s\n", action,
                         a3 ? a3 : "-", a4 ? a4 : "-", database ? database : "-",
                         context ? context : "-");
        return ok ? SQLITE_OK : SQLITE_DENY;
    }

    bool clientAccess(int action, const char *a3, const char *a4, const char *database,
                      const char *context) const
    {
        auto lower = [](const char *t) { return t ? QString::fromUtf8(t).toLower() : QString(); };
        switch (action) {
        case SQLITE_SELECT:
        case SQLITE_RECURSIVE:
            return true;
        case SQLITE_READ: {
            const QString table = lower(a3);
            const QString db = lower(database);
            if (db == QLatin1String("temp"))
                return m_viewNames.contains(table); // the filter views themselves
            // No database: a table of which no column is read (count(*) ...); the rules
            // of the main database hold.
            if (!db.isEmpty() && db != QLatin1String("main"))
                return false;
            if (table == QLatin1String("dual"))
                return true;
            // A business table only from inside its inner filter view. A CTE or a subquery
            // named like the table does not carry this name.
            const auto it = m_innerViewOf.constFind(table);
            if (it != m_innerViewOf.constEnd() && lower(context) == *it)
                return true;
            // The other notice tables from inside a notice table's inner view, which asks
            // them whose notice a row belongs to.
            return m_alsoReadFrom.value(table).contains(lower(context));
        }
        case SQLITE_FUNCTION: {
            static const QStringList refused = {
                QStringLiteral("load_extension"), QStringLiteral("readfile"),
                QStringLiteral("writefile"), QStringLiteral("edit"), QStringLiteral("fts3_tokenizer"),
                QStringLiteral("zipfile"), QStringLiteral("sqlar_compress"),
                QStringLiteral("sqlar_uncompress"), QStringLiteral("lsmode"),
                QStringLiteral("sqlite_dbpage"), QStringLiteral("sqlite_compileoption_get"),
                QStringLiteral("sqlite_compileoption_used")};
            return !refused.contains(lower(a4));
        }
        case SQLITE_PRAGMA: {
            // Column lists of the tables a client may read; nothing that changes anything.
            static const QStringList allowed = {QStringLiteral("table_info"),
                                                QStringLiteral("table_xinfo")};
            const QString arg = lower(a4);
            return allowed.contains(lower(a3))
                   && (m_innerViewOf.contains(arg) || arg == QLatin1String("dual"));
        }
        default:
            return false; // writes, schema changes, ATTACH, transactions ...
        }
    }

    static inline const bool s_traceDenials = qEnvironmentVariableIsSet("WAYLINK_SQLITE_TRACE");

    static void resultText(sqlite3_context *ctx, const QByteArray &text, bool set)
    {
        if (set)
            sqlite3_result_text(ctx, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        else
            sqlite3_result_null(ctx);
    }
    static void fnReaderSite(sqlite3_context *ctx, int, sqlite3_value **)
    {
        const auto *c = static_cast<SqliteConnection *>(sqlite3_user_data(ctx));
        resultText(ctx, c->m_readerSite, c->m_readerSet);
    }
    static void fnReaderEmployee(sqlite3_context *ctx, int, sqlite3_value **)
    {
        const auto *c = static_cast<SqliteConnection *>(sqlite3_user_data(ctx));
        resultText(ctx, c->m_readerEmployee, c->m_readerSet);
    }

    // The rows of a notice table that its reader sees (docs/roles.md): the notices
    // addressed to his site or to him and those he published; of the recipient and receipt
    // tables his own rows and those of the notices he published. `table` finds a notice
    // table's declared name, `d` is the deployment as a literal.
    static QString ownNoticeCondition(const QString &table, const QString &d,
                                      const std::function<QString(const char *)> &main)
    {
        const QString me = QStringLiteral("wl_reader_site() and %1=wl_reader_emp()");
        const QString published =
            QStringLiteral("MSGID in (select r.MSGID from %1 r where r.sysid=%2 and r.OPSITE=%3)")
                .arg(main("TAB_MSGRECORD"), d, me.arg(QStringLiteral("r.OPEMP")));
        const QString t = table.toUpper();
        if (t == QLatin1String("TAB_MSGRECORD"))
            return QStringLiteral("(OPSITE=%1) or MSGID in (select s.MSGID from %2 s where s.sysid=%3 and "
                                  "s.MSGSITE=wl_reader_site()) or MSGID in (select e.MSGID from %4 e where "
                                  "e.sysid=%3 and e.MSGSITE=%5)")
                .arg(me.arg(QStringLiteral("OPEMP")), main("TAB_MSGSITE"), d, main("TAB_MSGEMP"),
                     me.arg(QStringLiteral("e.MSGEMP")));
        if (t == QLatin1String("TAB_MSGSITE"))
            return QStringLiteral("MSGSITE=wl_reader_site() or ") + published;
        if (t == QLatin1String("TAB_MSGEMP"))
            return QStringLiteral("(MSGSITE=%1) or %2").arg(me.arg(QStringLiteral("MSGEMP")), published);
        if (t == QLatin1String("TAB_MSGREAD"))
            return QStringLiteral("(MSGReadSite=%1) or %2").arg(me.arg(QStringLiteral("MSGReader")), published);
        return QStringLiteral("0");
    }

    static int onProgress(void *self)
    {
        auto *c = static_cast<SqliteConnection *>(self);
        return c->m_deadline.hasExpired() ? 1 : 0;
    }

    // Statement time limit in milliseconds; 0 or less: none.
    static inline std::atomic<qint64> s_limitMs{120000};

    sqlite3_stmt *prepare(const QString &sql)
    {
        m_deadline = s_limitMs > 0 ? QDeadlineTimer(s_limitMs.load()) : QDeadlineTimer();
        // A statement compiled for the server is never reused for a client's text, and the
        // other way round: the authorizer only looks at a statement while it is compiled.
        // A statement compiled under a column limit carries the limit in its key: the
        // authorizer judged it for that limit only.
        const QString key = (m_clientMode ? QLatin1Char('c') : QLatin1Char('s'))
                            + (m_limitedTable.isEmpty() ? QString() : m_limitKey) + sql;
        auto it = m_cache.find(key);
        if (it != m_cache.end()) {
            sqlite3_reset(it.value());
            sqlite3_clear_bindings(it.value());
            return it.value();
        }
        sqlite3_stmt *st = nullptr;
        const QByteArray s = sql.toUtf8();
        const char *tail = nullptr;
        if (sqlite3_prepare_v2(m_db, s.constData(), int(s.size()), &st, &tail) != SQLITE_OK) {
            if (sqlite3_errcode(m_db) == SQLITE_AUTH)
                throw AccessDenied(QStringLiteral("the statement was refused: %1").arg(dbMessage(m_db)));
            throw DbError(dbMessage(m_db));
        }
        if (!st)
            throw DbError(QStringLiteral("empty SQL text"));
        if (m_clientMode && sqlite3_stmt_isexplain(st)) {
            sqlite3_finalize(st);
            throw AccessDenied(QStringLiteral("the statement was refused: EXPLAIN"));
        }
        if (tail && QByteArray(tail).trimmed().size() > 0) {
            sqlite3_finalize(st);
            throw DbError(QStringLiteral("only one statement per request"));
        }
        if (m_cache.size() >= 128) {
            for (sqlite3_stmt *old : std::as_const(m_cache))
                sqlite3_finalize(old);
            m_cache.clear();
        }
        m_cache.insert(key, st);
        return st;
    }

    void bindAll(sqlite3_stmt *st, const QVariantList &params)
    {
        const int expected = sqlite3_bind_parameter_count(st);
        if (params.size() > expected)
            throw DbError(QStringLiteral("%1 parameters given, the statement takes %2")
                              .arg(params.size())
                              .arg(expected));
        for (int i = 0; i < params.size(); ++i)
            bindValue(st, i + 1, params.at(i));
    }

    QueryResult query(const QString &sql, const QVariantList &params, bool readOnly) override
    {
        sqlite3_stmt *st = prepare(sql);
        if (readOnly && !sqlite3_stmt_readonly(st))
            throw DbError(QStringLiteral("the provider only runs queries; writing statements "
                                         "are refused"));
        bindAll(st, params);
        const WriterTurn turn(*this, !sqlite3_stmt_readonly(st));
        const int cols = sqlite3_column_count(st);
        QueryResult result;
        std::vector<bool> declared(size_t(cols), false);
        for (int c = 0; c < cols; ++c) {
            quillon::FieldDef f;
            f.name = QString::fromUtf8(sqlite3_column_name(st, c));
            const char *decl = sqlite3_column_decltype(st, c);
            if (decl) {
                int size = 0;
                f.type = typeFromDecl(QString::fromUtf8(decl).toUpper(), &size);
                f.size = size;
                declared[size_t(c)] = true;
            }
            result.fields.append(f);
        }
        // Declared columns are read straight into their field's type; expressions are
        // read by storage class and typed afterwards.
        std::vector<quillon::FieldType> kind(size_t(cols), quillon::FieldType::String);
        std::vector<bool> odd(size_t(cols), false);
        std::vector<TextPool> pools(static_cast<size_t>(cols));
        for (int c = 0; c < cols; ++c)
            kind[size_t(c)] = result.fields.at(c).type;
        const AnswerLimit limit = answerLimit();
        qint64 answerBytes = 0;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            QVariantList row;
            row.reserve(cols);
            for (int c = 0; c < cols; ++c) {
                if (!declared[size_t(c)]) {
                    row.append(readValue(st, c));
                    continue;
                }
                bool o = false;
                row.append(readTyped(st, c, kind[size_t(c)], &o, pools[size_t(c)]));
                if (o)
                    odd[size_t(c)] = true;
            }
            result.rows.append(std::move(row));
            if (limit.bounded()) {
                for (int c = 0; c < cols; ++c) {
                    const int t = sqlite3_column_type(st, c);
                    answerBytes += t == SQLITE_TEXT || t == SQLITE_BLOB ? sqlite3_column_bytes(st, c) : 8;
                }
                checkAnswer(st, limit, result.rows.size(), answerBytes);
            }
        }
        finishStepping(st, rc);
        std::vector<bool> check(static_cast<size_t>(cols), false);
        for (int c = 0; c < cols; ++c)
            check[size_t(c)] = !declared[size_t(c)] || odd[size_t(c)];
        finishTypes(result, declared, check);
        return result;
    }

    // The answer limit, checked while stepping; the statement is reset before a refusal.
    static void checkAnswer(sqlite3_stmt *st, const AnswerLimit &limit, qsizetype rows, qint64 bytes)
    {
        try {
            limit.check(rows, bytes);
        } catch (...) {
            sqlite3_reset(st);
            throw;
        }
    }

    // Resets a statement stepped to its end; a step that ended otherwise (the time limit,
    // an error) throws with the reason.
    void finishStepping(sqlite3_stmt *st, int rc)
    {
        if (rc != SQLITE_DONE) {
            const QString msg = rc == SQLITE_INTERRUPT
                                    ? QStringLiteral("the statement ran longer than %1 s and was stopped")
                                          .arg(double(s_limitMs.load()) / 1000.0)
                                    : dbMessage(m_db);
            const int code = sqlite3_extended_errcode(m_db);
            sqlite3_reset(st);
            if (code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY)
                throw DuplicateKey(msg);
            throw DbError(msg);
        }
        sqlite3_reset(st);
    }

    // Columns of declared types are written into the packet as they are stepped, with no
    // typed value in between; a result with an expression column, or a value that needs
    // the typing of query(), is answered through query() instead.
    QByteArray queryPacket(const QString &sql, const QVariantList &params,
                           const NameFields &nameFields) override
    {
        struct Collect : PacketOutput
        {
            QByteArray bytes;
            void whole(QByteArray packet) override { bytes = std::move(packet); }
            void piece(QByteArray) override { Q_ASSERT(false); }
        } collect;
        writePacket(sql, params, nameFields, collect, -1);
        return std::move(collect.bytes);
    }

    void queryPacketStream(const QString &sql, const QVariantList &params, const NameFields &nameFields,
                           PacketOutput &out, qsizetype streamFrom) override
    {
        writePacket(sql, params, nameFields, out, streamFrom);
    }

    // The rows written into the packet as they are stepped; once they pass `streamFrom`
    // bytes (-1: never) they go out in pieces of about that size. A value that needs the
    // typing of query() makes the answer come from query(): whole when nothing went out
    // yet, else as a restart of the streamed packet.
    void writePacket(const QString &sql, const QVariantList &params, const NameFields &nameFields,
                     PacketOutput &out, qsizetype streamFrom)
    {
        sqlite3_stmt *st = prepare(sql);
        if (!sqlite3_stmt_readonly(st))
            throw DbError(QStringLiteral("the provider only runs queries; writing statements "
                                         "are refused"));
        const int cols = sqlite3_column_count(st);
        QList<quillon::FieldDef> fields;
        std::vector<quillon::FieldType> kind(static_cast<size_t>(cols));
        for (int c = 0; c < cols; ++c) {
            const char *decl = sqlite3_column_decltype(st, c);
            if (!decl)
                return out.whole(Connection::queryPacket(sql, params, nameFields));
            quillon::FieldDef f;
            f.name = QString::fromUtf8(sqlite3_column_name(st, c));
            int size = 0;
            f.type = typeFromDecl(QString::fromUtf8(decl).toUpper(), &size);
            f.size = size;
            kind[size_t(c)] = f.type;
            fields.append(f);
        }
        nameFields(fields);
        bindAll(st, params);
        quillon::BinaryPacketWriter w(cols);
        const AnswerLimit limit = answerLimit();
        qint64 answerBytes = 0;
        bool streaming = false;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            const qsizetype rowStart = w.size();
            w.beginRow();
            for (int c = 0; c < cols; ++c) {
                if (!writeCell(w, sqlite3_column_value(st, c), kind[size_t(c)], &answerBytes)) {
                    sqlite3_reset(st);
                    QByteArray typed = Connection::queryPacket(sql, params, nameFields);
                    if (!streaming)
                        return out.whole(std::move(typed));
                    QByteArray rest = w.takeRows();
                    rest.truncate(rowStart); // the rows before this one, still unsent
                    rest.append(quillon::BinaryPacketWriter::streamRestart(typed));
                    return out.piece(std::move(rest));
                }
            }
            w.endRow();
            if (limit.bounded()) { // counted as query() counts
                checkAnswer(st, limit, w.rows(), answerBytes);
            }
            if (streamFrom >= 0 && w.size() >= streamFrom) {
                QByteArray piece = streaming ? QByteArray() : quillon::BinaryPacketWriter::streamHead(fields);
                piece.append(w.takeRows());
                streaming = true;
                out.piece(std::move(piece));
            }
        }
        finishStepping(st, rc);
        if (!streaming)
            return out.whole(w.finish(fields));
        QByteArray last = w.takeRows();
        last.append(quillon::BinaryPacketWriter::streamEnd());
        out.piece(std::move(last));
    }

    static void finishTypes(QueryResult &r, const std::vector<bool> &declared,
                            const std::vector<bool> &check)
    {
        using quillon::FieldType;
        for (qsizetype c = 0; c < r.fields.size(); ++c) {
            quillon::FieldDef &f = r.fields[c];
            if (!check[size_t(c)])
                continue; // read in its type already
            if (!declared[size_t(c)]) {
                // An expression: the type of its values.
                bool anyInt = false, anyFloat = false, anyText = false, anyBlob = false;
                bool allDates = true;
                int maxLen = 0;
                for (const QVariantList &row : std::as_const(r.rows)) {
                    const QVariant &v = row.at(c);
                    switch (v.typeId()) {
                    case QMetaType::LongLong: anyInt = true; break;
                    case QMetaType::Double: anyFloat = true; break;
                    case QMetaType::QByteArray: anyBlob = true; break;
                    case QMetaType::QString: {
                        anyText = true;
                        const QString s = v.toString();
                        maxLen = std::max(maxLen, int(s.size()));
                        QDateTime dt;
                        if (allDates && (s.size() != 19 || !parseCanonicalDate(s, &dt)))
                            allDates = false;
                        break;
                    }
                    default: break;
                    }
                }
                if (anyBlob)
                    f.type = FieldType::Blob;
                else if (anyText && allDates && !anyInt && !anyFloat)
                    f.type = FieldType::DateTime;
                else if (anyText) {
                    f.type = FieldType::String;
                    f.size = std::max(1, maxLen);
                } else if (anyFloat)
                    f.type = FieldType::Float;
                else if (anyInt)
                    f.type = FieldType::Integer;
                else {
                    f.type = FieldType::String;
                    f.size = 1;
                }
            }
            // Values take the field's type.
            bool large = false;
            for (QVariantList &row : r.rows) {
                QVariant &v = row[c];
                if (v.isNull())
                    continue;
                switch (f.type) {
                case FieldType::SmallInt:
                case FieldType::Integer:
                case FieldType::LargeInt: {
                    if (v.typeId() == QMetaType::LongLong) {
                        const qlonglong n = v.toLongLong();
                        if (n < INT32_MIN || n > INT32_MAX)
                            large = true;
                    } else if (v.typeId() == QMetaType::Double) {
                        f.type = FieldType::Float; // a REAL value in an integer column
                    } else if (v.typeId() == QMetaType::Int) {
                        // read in its type already
                    } else {
                        bool ok = false;
                        const qlonglong n = v.toString().toLongLong(&ok);
                        v = ok ? QVariant(n) : QVariant();
                    }
                    break;
                }
                case FieldType::Float:
                    if (v.typeId() != QMetaType::Double) {
                        bool ok = false;
                        const double d = v.toString().toDouble(&ok);
                        v = ok ? QVariant(d) : QVariant();
                    }
                    break;
                case FieldType::DateTime: {
                    QDateTime dt;
                    v = parseCanonicalDate(v.toString(), &dt) ? QVariant(dt) : QVariant();
                    break;
                }
                case FieldType::Blob:
                    if (v.typeId() != QMetaType::QByteArray)
                        v = v.toString().toUtf8();
                    break;
                default:
                    if (v.typeId() != QMetaType::QString)
                        v = v.toString();
                    break;
                }
            }
            if (f.type == FieldType::Integer || f.type == FieldType::SmallInt) {
                if (large) {
                    f.type = FieldType::LargeInt;
                    for (QVariantList &row : r.rows)
                        if (row.at(c).typeId() == QMetaType::Int)
                            row[c] = QVariant(qlonglong(row.at(c).toInt()));
                } else {
                    for (QVariantList &row : r.rows)
                        if (row.at(c).typeId() == QMetaType::LongLong)
                            row[c] = QVariant(int(row.at(c).toLongLong()));
                }
            } else if (f.type == FieldType::Float) {
                for (QVariantList &row : r.rows)
                    if (row.at(c).typeId() == QMetaType::LongLong)
                        row[c] = QVariant(double(row.at(c).toLongLong()));
            }
            if (f.type == FieldType::String && f.size <= 0) {
                int maxLen = 1;
                for (const QVariantList &row : std::as_const(r.rows))
                    maxLen = std::max(maxLen, int(row.at(c).toString().size()));
                f.size = maxLen;
            }
        }
    }

    qint64 execute(const QString &sql, const QVariantList &params) override
    {
        sqlite3_stmt *st = prepare(sql);
        bindAll(st, params);
        const WriterTurn turn(*this, !sqlite3_stmt_readonly(st));
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE) {
            const QString msg = dbMessage(m_db);
            const int code = sqlite3_extended_errcode(m_db);
            sqlite3_reset(st);
            if (code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY)
                throw DuplicateKey(msg);
            throw DbError(msg);
        }
        sqlite3_reset(st);
        return sqlite3_changes64(m_db);
    }

    void executeScript(const QString &sql) override
    {
        const WriterTurn turn(*this, true);
        runScript(sql);
    }

    void runScript(const QString &sql)
    {
        char *err = nullptr;
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
            const QString msg = QString::fromUtf8(err ? err : "error");
            sqlite3_free(err);
            throw DbError(msg);
        }
    }

    void finishSchema() override { executeScript(QString::fromUtf8(noticeRulesSqlite())); }

    // A transaction holds the writer's turn of its file from begin() until commit() or
    // rollback(); a writing statement outside a transaction holds it while it runs.
    void begin() override
    {
        const bool took = !m_turnHeld;
        if (took)
            takeTurn();
        try {
            runScript(QStringLiteral("BEGIN IMMEDIATE"));
        } catch (...) {
            if (took)
                giveBackTurn();
            throw;
        }
    }

    void commit() override
    {
        try {
            runScript(QStringLiteral("COMMIT"));
        } catch (...) {
            // SQLite may have rolled back already (I/O error, interrupt); otherwise the
            // transaction stays open for the caller's rollback().
            if (sqlite3_get_autocommit(m_db))
                giveBackTurn();
            throw;
        }
        checkpointIfDue();
        giveBackTurn();
    }

    void rollback() override
    {
        try {
            if (!sqlite3_get_autocommit(m_db))
                runScript(QStringLiteral("ROLLBACK"));
        } catch (...) {
            giveBackTurn();
            throw;
        }
        giveBackTurn();
    }

    // A connection handed back in a transaction (its user neither committed nor rolled
    // back) must not keep the file's writers waiting.
    void endLeftOverTransaction() override
    {
        if (m_turnHeld || !sqlite3_get_autocommit(m_db)) {
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
        const QueryResult r = query(QStringLiteral("select name, type, pk from pragma_table_info(?)"),
                                    {table}, true);
        QList<QPair<int, QString>> pk;
        for (const QVariantList &row : r.rows) {
            info.columns.append(row.at(0).toString());
            int size = 0;
            info.types.append(typeFromDecl(row.at(1).toString().toUpper(), &size));
            info.declared.append(row.at(1).toString().toUpper());
            info.sizes.append(size);
            if (row.at(2).toInt() > 0)
                pk.append({row.at(2).toInt(), row.at(0).toString()});
        }
        std::sort(pk.begin(), pk.end());
        for (const auto &p : pk)
            info.primaryKey.append(p.second);
        if (info.exists()) {
            const QVariant name = QVariant(query(QStringLiteral("select name from sqlite_schema "
                                                                "where type='table' and name=? "
                                                                "collate nocase"),
                                                 {table}, true)
                                               .rows.value(0)
                                               .value(0));
            info.name = name.toString();
        }
        return info;
    }

    // Temporary views named like the tables shadow them for unqualified names. Each reads
    // an inner view with the connection's secret prefix that keeps the deployment's rows
    // (and, for a scoped table, only the rows of the caller's site or centre):
    //   temp."tab_Site" -> temp."wl_<tag>_tab_Site" -> main."tab_Site" where sysid='001'
    // While restricted, the authorizer lets a statement read a business table only from
    // inside its inner view; server tables and the tables the scope does not grant get no
    // view and stay unreadable.
    void restrictRows(const ClientScope &scope) override
    {
        const QString key = scope.key();
        if (key == m_filter)
            return;
        m_clientMode = false;
        m_filter.clear();
        QString script;
        for (const QString &t : std::as_const(m_filterViews))
            script += QStringLiteral("drop view if exists temp.%1;drop view if exists temp.%2;")
                          .arg(quoteIdentifier(t), quoteIdentifier(m_viewPrefix + t));
        m_filterViews.clear();
        m_viewNames.clear();
        m_innerViewOf.clear();
        m_alsoReadFrom.clear();
        m_readerSet = false;
        if (!script.isEmpty())
            runScript(script);
        if (key.isEmpty())
            return;
        if (m_sysidTables.isEmpty()) {
            const QueryResult r = query(
                QStringLiteral("select m.name from main.sqlite_schema m where m.type='table' and "
                               "exists (select 1 from pragma_table_info(m.name) p where "
                               "lower(p.name)='sysid')"),
                {}, true);
            for (const QVariantList &row : r.rows)
                if (!isServerTable(row.at(0).toString()))
                    m_sysidTables.append(row.at(0).toString());
        }
        auto literal = [](QString v) -> QString {
            v.replace(QLatin1Char('\''), QLatin1String("''"));
            return QLatin1Char('\'') + v + QLatin1Char('\'');
        };
        script.clear();
        for (const QString &t : std::as_const(m_sysidTables)) {
            if (!scope.mayRead(t))
                continue;
            QString where = QStringLiteral("sysid=") + literal(scope.sysid);
            const auto rows = scope.rows.constFind(t.toLower());
            if (rows != scope.rows.constEnd()) {
                QStringList any;
                for (const QString &col : rows->columns)
                    any.append(quoteIdentifier(col) + QLatin1Char('=') + literal(rows->value));
                where += QStringLiteral(" and (") + (any.isEmpty() ? QStringLiteral("0") : any.join(QLatin1String(" or ")))
                         + QLatin1Char(')');
            }
            const QString inner = m_viewPrefix + t;
            if (scope.ownNoticeTables.contains(t.toLower())) {
                auto main = [this, &t](const char *name) -> QString {
                    for (const QString &declared : std::as_const(m_sysidTables))
                        if (declared.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) {
                            m_alsoReadFrom[declared.toLower()].insert((m_viewPrefix + t).toLower());
                            return QStringLiteral("main.") + quoteIdentifier(declared);
                        }
                    return QStringLiteral("(select null as MSGID where 0)"); // no such table
                };
                where += QStringLiteral(" and (") + ownNoticeCondition(t, literal(scope.sysid), main)
                         + QLatin1Char(')');
            }
            script += QStringLiteral("create temp view %2 as select * from main.%1 where %3;"
                                     "create temp view %1 as select * from temp.%2;")
                          .arg(quoteIdentifier(t), quoteIdentifier(inner), where);
            m_filterViews.append(t);
            m_viewNames.insert(t.toLower());
            m_viewNames.insert(inner.toLower());
            m_innerViewOf.insert(t.toLower(), inner.toLower());
        }
        if (!script.isEmpty())
            runScript(script);
        m_filter = key;
        m_clientMode = true;
    }

    QString rowFilter() const override { return m_filter; }

    void setNoticeReader(const NoticeReader &reader) override
    {
        m_reader = reader;
        m_readerSite = reader.site.toUtf8();
        m_readerEmployee = reader.employee.toUtf8();
        m_readerSet = true;
    }
    NoticeReader noticeReader() const override { return m_readerSet ? m_reader : NoticeReader(); }

    void beginLimitedUpdate(const QString &table, const QStringList &columns) override
    {
        m_limitedTable = table;
        m_limitedColumns.clear();
        for (const QString &c : columns)
            m_limitedColumns.insert(c.toUpper());
        QStringList sorted(m_limitedColumns.cbegin(), m_limitedColumns.cend());
        sorted.sort();
        m_limitKey = QStringLiteral("u%1:%2;").arg(table.toUpper(), sorted.join(u','));
    }

    void endLimitedUpdate() override
    {
        m_limitedTable.clear();
        m_limitedColumns.clear();
        m_limitKey.clear();
    }

    QString quoteIdentifier(const QString &name) const override
    {
        QString n = name;
        n.replace(QLatin1Char('"'), QLatin1String("\"\""));
        return QLatin1Char('"') + n + QLatin1Char('"');
    }

private:
    static constexpr std::chrono::milliseconds kBusyMs{10000};
    static constexpr int kCheckpointFrames = 1000; // SQLite's own autocheckpoint size
    static constexpr int kCheckpointWaitMs = 200;

    // The writer's turn for one writing statement outside a transaction (none inside one:
    // the transaction holds it already).
    class WriterTurn
    {
    public:
        WriterTurn(SqliteConnection &c, bool writes)
            : m_c(writes && !c.m_turnHeld && sqlite3_get_autocommit(c.m_db) ? &c : nullptr)
        {
            if (m_c)
                m_c->takeTurn();
        }
        ~WriterTurn()
        {
            if (m_c) {
                m_c->checkpointIfDue();
                m_c->giveBackTurn();
            }
        }
        WriterTurn(const WriterTurn &) = delete;
        WriterTurn &operator=(const WriterTurn &) = delete;

    private:
        SqliteConnection *m_c;
    };

    void takeTurn()
    {
        if (!m_gate->take(kBusyMs))
            throw DbError(QStringLiteral("database is locked (another writer held it for %1 s)")
                              .arg(kBusyMs.count() / 1000));
        m_turnHeld = true;
    }

    void giveBackTurn()
    {
        if (m_turnHeld) {
            m_turnHeld = false;
            m_gate->giveBack();
        }
    }

    static int onWalCommit(void *self, sqlite3 *, const char *, int frames)
    {
        static_cast<SqliteConnection *>(self)->m_walFrames = frames;
        return SQLITE_OK;
    }

    // Past 1,000 pages in the WAL, while this connection still holds the writer's turn:
    // SQLite's own (passive) checkpoint copies back only what no reader still needs and
    // starts the WAL over only at a moment without readers, so under a steady stream of
    // short reads the WAL grew without end (100 MB in 15 s of 200 clients) and every read
    // searched a longer WAL index. A restarting checkpoint waits for the reads that began
    // before it (at most kCheckpointWaitMs, they are short), then the WAL starts over.
    // Other writers of the process wait for the turn meanwhile; readers never wait.
    void checkpointIfDue()
    {
        if (m_walFrames < kCheckpointFrames)
            return;
        m_walFrames = 0;
        sqlite3_busy_timeout(m_db, kCheckpointWaitMs);
        // SQLITE_BUSY: a long read is still going; the frames it allows are copied back
        // and the next commit tries again.
        sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_RESTART, nullptr, nullptr);
        sqlite3_busy_timeout(m_db, int(kBusyMs.count()));
    }

    sqlite3 *m_db = nullptr;
    std::shared_ptr<WriterGate> m_gate;
    bool m_turnHeld = false;
    int m_walFrames = 0;
    QHash<QString, sqlite3_stmt *> m_cache;
    QDeadlineTimer m_deadline;
    QString m_filter;
    QStringList m_filterViews;
    QStringList m_sysidTables;
    // Client mode: set while the connection is restricted to a deployment.
    bool m_clientMode = false;
    QString m_limitedTable;         // beginLimitedUpdate: the table ...
    QSet<QString> m_limitedColumns; // ... and its columns that may change (upper case)
    QString m_limitKey;             // "u<table>:<columns>;" for the statement cache
    QString m_viewPrefix;
    QSet<QString> m_viewNames;             // every filter view, lower case
    QHash<QString, QString> m_innerViewOf; // table -> its inner view, lower case
    QHash<QString, QSet<QString>> m_alsoReadFrom; // notice table -> other inner views reading it
    NoticeReader m_reader;
    QByteArray m_readerSite, m_readerEmployee; // UTF-8, as the reader functions answer
    bool m_readerSet = false;
};

} // namespace

SqliteBackend::SqliteBackend(const QString &path, bool create)
    : m_path(path)
    , m_create(create)
{
    acquireForServer(); // fails early on a bad path
}

void SqliteBackend::setStatementTimeLimit(qint64 milliseconds)
{
    SqliteConnection::s_limitMs = milliseconds;
}

QString SqliteBackend::describe() const
{
    return QStringLiteral("SQLite %1").arg(m_path);
}

std::unique_ptr<Connection> SqliteBackend::connect()
{
    return std::make_unique<SqliteConnection>(m_path, m_create);
}

} // namespace server
