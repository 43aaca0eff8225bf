#pragma once
// The finance windows against an in-process application server on loopback: a seeded
// SQLite database (PostgreSQL when the test cluster is set), signed on as the finance
// centre user 001.li of 上海中心. Each test writes its own account lines (station "测试站")
// and removes them afterwards.
#include "baseforms/environment.h"
#include "baseforms/fbase.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "host/uintf.h"
#include "host/varlist.h"
#include "modules/tally/udm_func.h"
#include "server/tests/testserver.h"
#include "tests/support/testday.h"
#include "tests/support/windowtest.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace tally::test {

inline constexpr char16_t kStation[] = u"测试站";

class TallyServer : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_srv = new server::test::TestServer(30); }
    static void TearDownTestSuite()
    {
        delete s_srv;
        s_srv = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // Rows stored "now" and windows that open on today: the test runs within one day.
        testsupport::settledNow();
        presenter = testsupport::prepareWindowTest(m_dir.path());
        testsupport::pointAt(m_conn, s_srv->http->port(), QStringLiteral("100"), QStringLiteral("001.li"));
        host::setConnection(&m_conn);
        DM_Func()->InitConn();
        host::g_lstVars->setValue(QStringLiteral("sysid"), QStringLiteral("001"));
        host::g_lstVars->setValue(QStringLiteral("LogOnSiteName"), QStringLiteral("上海中心"));
        host::g_lstVars->setValue(QStringLiteral("LogOnFinanceType"), QStringLiteral("1"));
    }

    void TearDown() override
    {
        m_forms.clear();
        s_srv->native(QStringLiteral("delete from TAB_ACCOUNT where STATIONCODE=?"),
                      {QString::fromUtf16(kStation)});
        host::setConnection(nullptr);
        DM_Func()->cnServer = nullptr;
        host::setDialogPresenter(nullptr);
        tessera::setAppPath(QString());
    }

    // A row of `table` stored directly: `defaults` with `values` on top (column → value).
    static void insertRow(const char *table, QVariantMap defaults, const QVariantMap &values)
    {
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            defaults.insert(it.key(), it.value());
        const QStringList marks(defaults.size(), QStringLiteral("?"));
        s_srv->native(QStringLiteral("insert into ") + QLatin1String(table) + u'('
                          + defaults.keys().join(QLatin1Char(',')) + QStringLiteral(") values (")
                          + marks.join(QLatin1Char(',')) + u')',
                      defaults.values());
    }
    // A column of the row of waybill `bill` in `table`, as the server holds it.
    static QVariant storedIn(const char *table, const QString &bill, const QString &column)
    {
        return scalar(QStringLiteral("select ") + column + QStringLiteral(" from ") + QLatin1String(table)
                          + QStringLiteral(" where BILLCODE=?"),
                      {bill});
    }
    static QVariant storedIn(const char *table, const QString &bill, const char *column)
    {
        return storedIn(table, bill, QString::fromLatin1(column));
    }

    // One account line of the test station, scanned now, of 上海中心, with `values` on top.
    static void insertLine(const QString &bill, const QString &scanType, const QVariantMap &values = {})
    {
        insertRow("TAB_ACCOUNT",
                  {{"BILLCODE", bill},
                   {"STATIONCODE", QString::fromUtf16(kStation)},
                   {"SCANTYPE", scanType},
                   {"SCANTIME", QDateTime::currentDateTime()},
                   {"FINANCECENTER", QStringLiteral("上海中心")},
                   {"PCS", 1},
                   {"WEIGHT", 1.0},
                   {"sysid", QStringLiteral("001")}},
                  values);
    }
    // A column of the line as the server holds it.
    static QVariant stored(const QString &bill, const QString &scanType, const QString &column)
    {
        return s_srv->native(QStringLiteral("select ") + column
                                 + QStringLiteral(" from TAB_ACCOUNT where BILLCODE=? and SCANTYPE=? and STATIONCODE=?"),
                             {bill, scanType, QString::fromUtf16(kStation)})
            .rows.value(0)
            .value(0);
    }
    static QVariant scalar(const QString &sql, const QVariantList &params = {})
    {
        return s_srv->native(sql, params).rows.value(0).value(0);
    }

    template<class W> W *open()
    {
        auto *w = tessera::createForm<W>();
        m_forms.emplace_back(w);
        w->resize(1200, 700);
        w->show();
        return w;
    }
    QStringList shownTexts() const
    {
        QStringList t;
        for (const auto &s : presenter->shown)
            t << s.text;
        return t;
    }

    static inline server::test::TestServer *s_srv = nullptr;
    QTemporaryDir m_dir;
    quillon::TMySktConnection m_conn;
    host::ScriptedPresenter *presenter = nullptr;
    std::vector<std::unique_ptr<QWidget>> m_forms;
};

} // namespace tally::test
