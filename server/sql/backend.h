#pragma once

#include "dataaccess/packet/datapacket.h"
#include "server/tables.h"

#include <QHash>
#include <QMap>
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

// A client's statement refused before the engine saw it (a writing statement, a server
// table): answered with 403 and this text, which is for the user.
class ClientRefusal : public AccessDenied
{
public:
    using AccessDenied::AccessDenied;
};

// A write refused because a row with the same unique key exists already.
class DuplicateKey : public DbError
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


// What one client's statements may read: the tables of a deployment that the caller's
// roles grant, and for some of them only the rows of the caller's site or finance centre.
// The backend enforces it in the engine (SQLite: filter views and the authorizer;
// PostgreSQL: a login with exactly these privileges and row policies).
struct RowScope
{
    QStringList columns; // a row is visible when one of these columns holds `value`
    QString value;
    bool operator==(const RowScope &o) const { return columns == o.columns && value == o.value; }
};

// Who reads when the notice tables are limited to the reader's own notices: his site and
// employee name as the log-on gave them (a notice names its publisher and recipients so).
struct NoticeReader
{
    QString site;
    QString employee;
    bool operator==(const NoticeReader &o) const { return site == o.site && employee == o.employee; }
};

struct ClientScope
{
    QString sysid;
    bool allTables = false;        // every business table of the deployment (super user)
    QStringList tables;            // lower-case names of the readable tables, sorted
    QMap<QString, RowScope> rows;  // lower-case table -> the rows it keeps (absent: all)
    // Lower-case notice tables (server/tables.h) of which only the reader's own notices are
    // visible, sorted. The reader himself is not part of key(): the connections of one key
    // are shared by its users, and each lease sets its reader (Connection::setNoticeReader).
    QStringList ownNoticeTables;
    NoticeReader reader;

    // Every business table of the deployment, all rows (server-side tools and tests).
    static ClientScope wholeDeployment(const QString &sysid);
    bool mayRead(const QString &table) const;
    // A text that identifies the scope: equal texts, equal rights (pooling, login names).
    QString key() const;
};

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
    // Where a packet goes that may be sent while its rows are stepped: either whole() once
    // (a small answer, or one the backend cannot stream: the bytes of queryPacket), or
    // piece() for each part of a streamed packet (quillon::BinaryPacketWriter's stream
    // form). An exception after the first piece is the caller's to report in the stream.
    class PacketOutput
    {
    public:
        virtual ~PacketOutput() = default;
        virtual void whole(QByteArray packet) = 0;
        virtual void piece(QByteArray bytes) = 0;
    };
    // queryPacket's answer, streamed once it passes `streamFrom` bytes where the backend
    // can (by default: whole).
    virtual void queryPacketStream(const QString &sql, const QVariantList &params,
                                   const NameFields &nameFields, PacketOutput &out, qsizetype streamFrom)
    {
        (void)streamFrom;
        out.whole(queryPacket(sql, params, nameFields));
    }
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

    // While set (a non-empty sysid), the connection runs client statements: unqualified
    // reads see only the scope's tables and, of them, only the deployment's rows (and the
    // scoped rows); everything else is refused by the engine. An empty sysid: the server's
    // own unrestricted connection. Called by Backend when it hands the connection out.
    virtual void restrictRows(const ClientScope &scope) = 0;
    // The key() of the scope in force, empty when unrestricted.
    virtual QString rowFilter() const = 0;
    // The reader whose own notices the restricted connection shows (ClientScope::
    // ownNoticeTables), set for each lease before any client statement runs. Until it is
    // set, those tables show nothing.
    virtual void setNoticeReader(const NoticeReader &reader) = 0;
    virtual NoticeReader noticeReader() const = 0;

    // Until endLimitedUpdate(), the updates this (server) connection runs may change only
    // these columns of `table`; the engine refuses any other column with AccessDenied
    // (SQLite: the authorizer's column argument; PostgreSQL: the statements run as a role
    // of the server that has UPDATE on exactly these columns, see columnLimitedTables()).
    // ApplyData uses it for callers whose rights limit the columns of a table.
    virtual void beginLimitedUpdate(const QString &table, const QStringList &columns) = 0;
    virtual void endLimitedUpdate() = 0;

    // Reads of client queries (restricted connections) are bounded by this; set by the
    // backend when the connection is handed out.
    void setAnswerLimit(const AnswerLimit &limit) { m_answerLimit = limit; }
    const AnswerLimit &answerLimit() const { return m_answerLimit; }

    // What a select appends to lock the rows it reads until the transaction ends
    // (" for update" on PostgreSQL; empty where the write transaction is exclusive).
    virtual QString lockRowsClause() const { return QString(); }

    // Work that must follow a successful commit of the current transaction (the operation
    // log's checkpoints, outside the database). Run by Transaction::commit(), dropped by a
    // rollback; an action that throws is skipped.
    void afterCommit(std::function<void()> action) { m_afterCommit.push_back(std::move(action)); }
    void runAfterCommit()
    {
        std::vector<std::function<void()>> actions;
        actions.swap(m_afterCommit);
        for (const auto &a : actions) {
            try {
                a();
            } catch (...) {
            }
        }
    }
    void dropAfterCommit() { m_afterCommit.clear(); }

private:
    AnswerLimit m_answerLimit;
    std::vector<std::function<void()>> m_afterCommit;
};

// Restricts a connection to a client scope for its lifetime, then makes it the server's
// own again (tools and benchmarks that hold one connection; requests use the Backend's
// acquireForClient).
class RowRestriction
{
public:
    RowRestriction(Connection &c, const ClientScope &scope)
        : m_c(c)
    {
        m_c.restrictRows(scope);
    }
    ~RowRestriction()
    {
        try {
            m_c.restrictRows(ClientScope());
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
            m_c.dropAfterCommit();
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
        m_c.runAfterCommit();
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
    // A connection for a client's statements, restricted to what `scope` may read (the
    // scope must name a deployment). Idle connections that already carry the same scope
    // are preferred, so that switching (which rebuilds views or logs in) stays rare.
    Lease acquireForClient(const ClientScope &scope);
    // The server's own unrestricted connection (writes, rights, log-on). Never for a
    // client's SQL text.
    Lease acquireForServer();

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
    Lease lease(const ClientScope &scope);

private:
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Connection>> m_idle;
    AnswerLimit m_answerLimit;
};

} // namespace server
