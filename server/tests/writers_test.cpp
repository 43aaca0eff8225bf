// Many writers of one database at once: every write lands, and no way out of a
// transaction (commit, rollback, an exception, a stopped statement, a lease handed back
// mid-transaction, a closed connection) keeps the other writers waiting.
#include "server/sql/backend.h"
#include "server/sql/sqlitebackend.h"
#include "testserver.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

using namespace server;
using server::test::onPostgres;
using server::test::testDatabase;

namespace {

class Writers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        location = testDatabase(dir, QStringLiteral("w.sqlite"));
        backend = Backend::open(location, true);
        auto c = backend->acquireForServer();
        c->executeScript(QStringLiteral("create table wl_counter (id integer primary key, n integer);"
                                        "create table wl_row (id integer, who integer)"));
        c->execute(QStringLiteral("insert into wl_counter (id, n) values (1, 0)"));
    }

    qint64 scalar(const QString &sql)
    {
        auto c = backend->acquireForServer();
        return c->query(sql, {}, true).rows.value(0).value(0).toLongLong();
    }

    // A write on a connection of its own, in another thread: true when it was done within
    // a few seconds (a writer's turn that is never given back makes it wait the full busy
    // time of 10 s and fail).
    bool anotherWriterGetsThrough()
    {
        auto done = std::async(std::launch::async, [this] {
            auto c = backend->acquireForServer();
            Transaction t(*c);
            c->execute(QStringLiteral("update wl_counter set n = n + 1 where id = 1"));
            t.commit();
        });
        if (done.wait_for(std::chrono::seconds(4)) != std::future_status::ready) {
            done.wait();
            return false;
        }
        done.get();
        return true;
    }

    QTemporaryDir dir;
    QString location;
    std::unique_ptr<Backend> backend;
};

TEST_F(Writers, ConcurrentTransactionsAndSingleWritesAllLand)
{
    constexpr int kThreads = 8, kEach = 40;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int w = 0; w < kThreads; ++w)
        threads.emplace_back([&, w] {
            for (int i = 0; i < kEach; ++i) {
                try {
                    auto c = backend->acquireForServer();
                    if (i % 4 == 3) { // a write outside a transaction
                        c->execute(QStringLiteral("insert into wl_row (id, who) values (?, ?)"), {i, w});
                        continue;
                    }
                    Transaction t(*c);
                    c->execute(QStringLiteral("update wl_counter set n = n + 1 where id = 1"));
                    c->execute(QStringLiteral("insert into wl_row (id, who) values (?, ?)"), {i, w});
                    if (i % 5 == 4)
                        continue; // left without commit: rolled back
                    t.commit();
                } catch (const std::exception &e) {
                    ++failures;
                    ADD_FAILURE() << e.what();
                }
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    // Per thread: 30 transactions of which 8 roll back (i = 4, 9, ... 39 minus the single
    // writes among them), 10 single writes.
    int committed = 0, single = 0;
    for (int i = 0; i < kEach; ++i) {
        if (i % 4 == 3)
            ++single;
        else if (i % 5 != 4)
            ++committed;
    }
    EXPECT_EQ(scalar(QStringLiteral("select n from wl_counter where id = 1")), kThreads * committed);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from wl_row")), kThreads * (committed + single));
}

TEST_F(Writers, NoWayOutOfATransactionKeepsOthersWaiting)
{
    { // an exception inside the transaction
        auto c = backend->acquireForServer();
        try {
            Transaction t(*c);
            c->execute(QStringLiteral("update wl_counter set n = 100 where id = 1"));
            c->execute(QStringLiteral("insert into no_such_table values (1)"));
            t.commit();
            FAIL() << "the insert into a missing table went through";
        } catch (const DbError &) {
        }
        EXPECT_TRUE(anotherWriterGetsThrough());
    }
    { // a second begin on the same connection is refused and does not hold the turn twice
        auto c = backend->acquireForServer();
        Transaction t(*c);
        EXPECT_THROW(c->begin(), DbError);
    }
    EXPECT_TRUE(anotherWriterGetsThrough());
    { // a lease handed back in the middle of a transaction: rolled back
        auto c = backend->acquireForServer();
        c->begin();
        c->execute(QStringLiteral("update wl_counter set n = 500 where id = 1"));
    }
    EXPECT_TRUE(anotherWriterGetsThrough());
    EXPECT_EQ(scalar(QStringLiteral("select n from wl_counter where id = 1")), 3);
    // The same connection taken again starts a new transaction without complaint.
    {
        auto c = backend->acquireForServer();
        Transaction t(*c);
        c->execute(QStringLiteral("update wl_counter set n = n + 1 where id = 1"));
        t.commit();
    }
    EXPECT_EQ(scalar(QStringLiteral("select n from wl_counter where id = 1")), 4);
}

TEST_F(Writers, AStoppedStatementAndAClosedConnectionGiveTheTurnBack)
{
    if (onPostgres())
        GTEST_SKIP() << "the statement time limit and closing a file connection are SQLite's";
    SqliteBackend::setStatementTimeLimit(200);
    {
        auto c = backend->acquireForServer();
        Transaction t(*c);
        EXPECT_THROW(c->execute(QStringLiteral(
                         "insert into wl_row (id, who) with recursive r(x) as (select 1 union all "
                         "select x + 1 from r) select x, 0 from r")),
                     DbError);
    }
    SqliteBackend::setStatementTimeLimit(120000);
    EXPECT_TRUE(anotherWriterGetsThrough());
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from wl_row")), 0);

    // A connection closed while its transaction is open (the whole backend goes away).
    auto other = Backend::open(location, false);
    {
        auto c = other->acquireForServer();
        c->begin();
        c->execute(QStringLiteral("update wl_counter set n = 900 where id = 1"));
        c.reset();
        other.reset();
    }
    EXPECT_TRUE(anotherWriterGetsThrough());
    EXPECT_EQ(scalar(QStringLiteral("select n from wl_counter where id = 1")), 2);
}

TEST_F(Writers, TheWriteAheadLogIsCopiedBackUnderSteadyWrites)
{
    if (onPostgres())
        GTEST_SKIP() << "the write-ahead log file is SQLite's";
    auto c = backend->acquireForServer();
    c->executeScript(QStringLiteral("create table wl_blob (id integer, b blob)"));
    const QByteArray blob(64 * 1024, 'x');
    for (int i = 0; i < 320; ++i) { // 20 MB in all, 16 pages a transaction
        Transaction t(*c);
        c->execute(QStringLiteral("insert into wl_blob (id, b) values (?, ?)"), {i, blob});
        t.commit();
    }
    // Checkpoints keep the log near its 1,000 pages (4 MB) instead of the 20 MB written.
    const qint64 wal = QFileInfo(location + QStringLiteral("-wal")).size();
    EXPECT_GT(wal, 0);
    EXPECT_LT(wal, 10 * 1024 * 1024) << "write-ahead log of " << wal << " bytes";
}

TEST_F(Writers, TheWriteAheadLogStartsOverWhileReadersNeverPause)
{
    if (onPostgres())
        GTEST_SKIP() << "the write-ahead log file is SQLite's";
    {
        auto c = backend->acquireForServer();
        c->executeScript(QStringLiteral("create table wl_blob (id integer, b blob)"));
    }
    // Readers one after the other on four connections, always one of them inside a read:
    // the log can never be copied back in full while the writes go on, only started over
    // when the writer waits for a moment without readers of old pages.
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r)
        readers.emplace_back([&] {
            auto c = backend->acquireForServer();
            while (!stop)
                c->query(QStringLiteral("select count(*), sum(length(b)) from wl_blob"), {}, true);
        });
    auto c = backend->acquireForServer();
    const QByteArray blob(64 * 1024, 'x');
    for (int i = 0; i < 480; ++i) { // 30 MB
        Transaction t(*c);
        c->execute(QStringLiteral("insert into wl_blob (id, b) values (?, ?)"), {i, blob});
        t.commit();
    }
    stop = true;
    for (auto &t : readers)
        t.join();
    const qint64 wal = QFileInfo(location + QStringLiteral("-wal")).size();
    EXPECT_LT(wal, 12 * 1024 * 1024) << "write-ahead log of " << wal << " bytes";
}

} // namespace
