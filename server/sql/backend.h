#pragma once

#include "dataaccess/packet/datapacket.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace server {

// A database error with a text for the caller (bad SQL, constraint, busy ...).
class DbError : public std::runtime_error
{
public:
    explicit DbError(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {}
    const QString &message() const noexcept { return m_message; }

private:
    QString m_message;
};

// A client's statement that the database engine refused (a table of another deployment or
// of the server, a write, a file function ...): answered with 403.
class AccessDenied : public DbError
{
public:
    using DbError::DbError;
};

// The database cannot be reached or was lost during the statement (server stopped, a
// failover under way, a broken network): the caller may retry later, the connection that
// reported it is dropped instead of going back to the pool.
class DbUnavailable : public DbError
{
public:
    using DbError::DbError;
};

// An answer larger than the server hands out (rows or bytes); the text is for the user.
class AnswerTooLarge : public DbError
{
public:
    using DbError::DbError;
};

// Bounds of one query answer: a query that would give more is stopped while its rows are
// read (AnswerTooLarge), before they exhaust memory. 0: no bound.
struct AnswerLimit
{
    qint64 rows = 0;
    qint64 bytes = 0; // cell bytes as read (texts and blobs by size, other values 8)
    bool bounded() const { return rows > 0 || bytes > 0; }
    // Throws AnswerTooLarge when `rowCount` rows of `byteCount` bytes pass a bound.
    void check(qint64 rowCount, qint64 byteCount) const;
};

// Tables that only the server reads and writes (users and their password hashes, keys,
// tenant logins): no client connection can read them, whatever its SQL says.
bool isServerTable(const QString &table);

// Rows of a query with typed field definitions (the packet's field model). Dates come
// back as QDateTime, integers as int/qlonglong, decimals as double, texts as QString.
struct QueryResult
{
    QList<quillon::FieldDef> fields;
    QList<QVariantList> rows;
};

struct TableInfo
{
    QString name;                 // as declared
    QStringList columns;          // as declared
    QList<quillon::FieldType> types;
    QList<int> sizes;             // characters of VARCHAR2(n) columns, 0 otherwise
    QStringList declared;         // declared type as the database reports it ("NUMBER(10,2)")
    QStringList primaryKey;       // as declared, in key order
    bool exists() const { return !columns.isEmpty(); }
    int columnIndex(const QString &name) const; // case-insensitive, -1 if none
};

// A query in the Oracle dialect translated for one backend.
struct TranslatedSql
{
    QString sql;
    // For each backend placeholder in order: the client's parameter name ("1" for :1).
    QStringList parameterNames;
    // Identifiers that the text wrote in double quotes: their case is kept.
    QStringList quotedNames;
    // Every identifier of the text, in lower case (quoted ones without their quotes).
    QStringList identifiers;
};

// One connection to a database, used by one thread at a time.
class Connection
{
public:
    virtual ~Connection() = default;

    // Oracle-dialect text to this backend's SQL. Throws DbError on unsupported text.
    virtual TranslatedSql translate(const QString &oracleSql) const = 0;

    // Runs a statement that must not write (provider, GetData). Throws DbError.
    virtual QueryResult query(const QString &sql, const QVariantList &params,
                              bool readOnly = true) = 0;
    // The same query's answer in the binary packet form, the field names first passed
    // through `nameFields`. By default the typed rows of query() encoded; a backend may
    // write the packet straight from the database's rows (same bytes). Throws DbError.
    using NameFields = std::function<void(QList<quillon::FieldDef> &)>;
    virtual QByteArray queryPacket(const QString &sql, const QVariantList &params,
                                   const NameFields &nameFields);
    // Runs a writing statement; returns the number of rows changed. Throws DbError.
    virtual qint64 execute(const QString &sql, const QVariantList &params = {}) = 0;
    // Runs a script of several statements without parameters (schema).
    virtual void executeScript(const QString &sql) = 0;
    // After the tables are made: installs what the backend keeps in the database itself
    // (SQL functions, row-level security). Inside the schema transaction.
    virtual void finishSchema() {}

    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    // When a lease ends: rolls back a transaction its user left open, so that an idle
    // connection holds no lock.
    virtual void endLeftOverTransaction() {}
    // True once the connection to the database is lost: it is then closed, not reused.
    virtual bool broken() const { return false; }

    // Columns and primary key of a table (name compared without regard to case);
    // an empty TableInfo when there is no such table.
    virtual TableInfo tableInfo(const QString &table) = 0;

    // Quotes an identifier for this backend.
    virtual QString quoteIdentifier(const QString &name) const = 0;

    // While set, unqualified reads of every table with a sysid column see only the rows
    // of that deployment (empty: no restriction). Writes are not affected.
    virtual void restrictRows(const QString &sysid) = 0;
    virtual QString rowFilter() const = 0;

    // Reads of client queries (restricted connections) are bounded by this; set by the
    // backend when the connection is handed out.
    void setAnswerLimit(const AnswerLimit &limit) { m_answerLimit = limit; }
    const AnswerLimit &answerLimit() const { return m_answerLimit; }

private:
    AnswerLimit m_answerLimit;
};

// Restricts the reads of a connection to one deployment for its lifetime.
class RowRestriction
{
public:
    RowRestriction(Connection &c, const QString &sysid)
        : m_c(c)
    {
        m_c.restrictRows(sysid);
    }
    ~RowRestriction()
    {
        try {
            m_c.restrictRows(QString());
        } catch (...) {
        }
    }

private:
    Connection &m_c;
};

// Rolls back unless committed.
class Transaction
{
public:
    explicit Transaction(Connection &c)
        : m_c(c)
    {
        m_c.begin();
    }
    ~Transaction()
    {
        if (!m_done) {
            try {
                m_c.rollback();
            } catch (...) {
            }
        }
    }
    void commit()
    {
        m_c.commit();
        m_done = true;
    }

private:
    Connection &m_c;
    bool m_done = false;
};

// A database: hands out connections from a pool, one per worker at a time.
class Backend
{
public:
    virtual ~Backend() = default;
    virtual QString describe() const = 0;

    using Lease = std::unique_ptr<Connection, std::function<void(Connection *)>>;
    // A connection whose reads are restricted to rowFilter (empty: unrestricted). Idle
    // connections that already carry the same restriction are preferred, so that
    // switching restrictions (which rebuilds views) stays rare.
    Lease acquire(const QString &rowFilter = QString());

    // "file.sqlite" (or any path) selects SQLite; "postgresql://..." (or "postgres://...")
    // selects PostgreSQL. Throws DbError when the database cannot be opened.
    static std::unique_ptr<Backend> open(const QString &location, bool create = false);

    // Bound of the answers of restricted connections (client queries); set before serving.
    void setAnswerLimit(const AnswerLimit &limit) { m_answerLimit = limit; }
    const AnswerLimit &answerLimit() const { return m_answerLimit; }

    // Runs a trivial statement on a fresh lease: whether the database answers now (for the
    // health route). Never throws.
    bool reachable();

protected:
    virtual std::unique_ptr<Connection> connect() = 0;

private:
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Connection>> m_idle;
    AnswerLimit m_answerLimit;
};

} // namespace server
