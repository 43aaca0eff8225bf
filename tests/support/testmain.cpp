// GoogleTest entry for Waylink tests. Listing tests (as ctest's discovery does) must not
// create an application object, which would abort without a display.
#include "testbackend.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cstring>

#ifdef WAYLINK_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

namespace {

bool s_expectsPostgres = false;
int s_postgresUses = 0;
int s_sqliteUses = 0;
bool s_wrongBackend = false;

// Takes --waylink-backend=NAME out of the arguments (GoogleTest leaves unknown ones).
void takeBackendArgument(int &argc, char **argv)
{
    static const char kFlag[] = "--waylink-backend=";
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], kFlag, sizeof kFlag - 1) == 0)
            s_expectsPostgres = std::strcmp(argv[i] + sizeof kFlag - 1, "postgresql") == 0;
        else
            argv[out++] = argv[i];
    }
    argc = out;
    argv[argc] = nullptr;
}

// The cluster's URL as the test-database helper will read it; empty when withheld.
QByteArray postgresUrl()
{
    QByteArray url = qgetenv("WAYLINK_TEST_PG_URL");
    if (url.isEmpty() && qEnvironmentVariableIsSet("WAYLINK_TEST_PG_URL_FILE")) {
        QFile f(qEnvironmentVariable("WAYLINK_TEST_PG_URL_FILE"));
        if (f.open(QIODevice::ReadOnly))
            url = f.readAll().trimmed();
    }
    return url;
}

// Fails the process of a PostgreSQL test that opened no PostgreSQL database, or a
// SQLite one: the test passed, but not where its name says it ran. Counted for the whole
// process (ctest runs one test a process), so that a database opened by the suite's set-up
// counts for its tests.
class BackendGuard : public ::testing::EmptyTestEventListener
{
    void OnTestEnd(const ::testing::TestInfo &info) override
    {
        if (info.result()->Skipped() || info.result()->Failed())
            return;
        if (s_postgresUses == 0 || s_sqliteUses > 0) {
            s_wrongBackend = true;
            fprintf(stderr,
                    "[waylink] %s.%s was started for PostgreSQL but opened %d PostgreSQL and %d "
                    "SQLite databases\n",
                    info.test_suite_name(), info.name(), s_postgresUses, s_sqliteUses);
        }
    }
};

// GoogleTest reports the tests of a suite whose SetUpTestSuite failed as skipped, and ctest
// counts a skipped test as not run rather than failed: a suite that could not even set
// itself up passed the run. Each of its tests is failed instead.
class SuiteSetUpGuard : public ::testing::EmptyTestEventListener
{
    void OnTestStart(const ::testing::TestInfo &) override
    {
        const ::testing::TestSuite *suite = ::testing::UnitTest::GetInstance()->current_test_suite();
        if (suite && suite->ad_hoc_test_result().Failed())
            ADD_FAILURE() << "the test suite's set-up failed (see above): this test did not run";
    }
};

} // namespace

namespace waylink::test {

bool expectsPostgres()
{
    return s_expectsPostgres;
}

void noteDatabase(bool postgres)
{
    (postgres ? s_postgresUses : s_sqliteUses)++;
}

} // namespace waylink::test

int main(int argc, char **argv)
{
    takeBackendArgument(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    ::testing::UnitTest::GetInstance()->listeners().Append(new SuiteSetUpGuard);
    if (s_expectsPostgres) {
        if (postgresUrl().isEmpty()) {
            fprintf(stderr, "[waylink] started for PostgreSQL, but no cluster URL reached the test "
                            "(WAYLINK_TEST_PG_URL or the file named by WAYLINK_TEST_PG_URL_FILE)\n");
            return 1;
        }
        ::testing::UnitTest::GetInstance()->listeners().Append(new BackendGuard);
    }
#ifdef WAYLINK_TEST_GUI
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    // The server's configuration folder (the operation log's key and checkpoints) lies in
    // a folder of this test process, never in the user's own; programs the tests start
    // inherit it.
    QTemporaryDir configFolder;
    qputenv("WAYLINK_CONFIG_DIR", configFolder.path().toLocal8Bit());
    TestApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    return s_wrongBackend ? 1 : result;
}
