#include "baseforms/fidm.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "testdata.h"

#include <gtest/gtest.h>

using namespace tessera;

namespace {
// A connection that nothing answers: every open fails at once.
std::unique_ptr<quillon::TMySktConnection> deadConnection()
{
    auto c = std::make_unique<quillon::TMySktConnection>();
    c->SetHost(QStringLiteral("127.0.0.1"));
    c->SetPort(1);
    c->setTimeout(2000);
    return c;
}
} // namespace

TEST(TfIDM, OpenCdsBindsUnconnectedDatasetsAndKeepsCommandTextWhenSqlIsEmpty)
{
    testdata::RecordingDM dm;
    auto server = deadConnection();
    dm.cnServer = server.get();

    quillon::TMyDataSet unbound;
    unbound.SetMyConn(nullptr);
    unbound.SetCommandText(QStringLiteral("select * from tab_site"));
    EXPECT_ANY_THROW(dm.OpenCds(&unbound, QString())) << "open errors reach the caller";
    EXPECT_EQ(unbound.MyConn(), server.get());
    EXPECT_EQ(unbound.CommandText(), QStringLiteral("select * from tab_site"));
    EXPECT_FALSE(unbound.ControlsDisabled()) << "controls are enabled again after a failure";

    auto own = deadConnection();
    quillon::TMyDataSet bound;
    bound.SetMyConn(own.get());
    EXPECT_ANY_THROW(dm.OpenCds(&bound, QStringLiteral("select 1 from dual")));
    EXPECT_EQ(bound.MyConn(), own.get()) << "a dataset with a connection keeps it";
    EXPECT_EQ(bound.CommandText(), QStringLiteral("select 1 from dual"));

    quillon::TMyDataSet fresh; // its private connection has no provider
    fresh.SetCommandText(QStringLiteral("select * from tab_site"));
    EXPECT_ANY_THROW(dm.OpenCds(&fresh, QString()));
    EXPECT_EQ(fresh.MyConn(), server.get());

    EXPECT_THROW(dm.OpenCds(nullptr, QString()), host::UserError);
}
