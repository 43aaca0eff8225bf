// Notice board figures against an in-process application server on loopback: publishing a
// notice with a 10 MB attachment to 200 sites, and opening the unread list with 500 unread
// notices (query, window, list filled).
#include "baseforms/environment.h"
#include "bench/benchmain.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "host/uintf.h"
#include "modules/herald/fnoreadmessage.h"
#include "modules/herald/fsendmessage.h"
#include "modules/herald/udm_func.h"
#include "server/httpserver.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/sql/backend.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <memory>

namespace {

struct BenchServer
{
    QTemporaryDir dir;
    std::unique_ptr<server::Backend> backend;
    std::unique_ptr<server::HttpServer> http;
    quillon::TMySktConnection conn;

    BenchServer()
    {
        backend = server::Backend::open(dir.filePath(QStringLiteral("b.sqlite")), true);
        {
            auto c = backend->acquireForServer();
            server::createSchema(*c);
            server::SeedOptions o;
            o.waybills = 10;
            o.fastHash = true;
            server::seedDemo(*c, o);
        }
        server::ServerOptions so;
        so.port = 0;
        so.threads = 2;
        so.quiet = true;
        http = std::make_unique<server::HttpServer>(*backend, dir.filePath(QStringLiteral("files")), so);
        http->start();
        conn.SetHost(QStringLiteral("127.0.0.1"));
        conn.SetPort(http->port());
        conn.SetSiteCode(QStringLiteral("101"));
        conn.SetUsername(QStringLiteral("001.zhang"));
        conn.SetPassword(QString::fromLatin1(server::kDemoPassword));
        host::CdbCommObj();
        host::setConnection(&conn);
        herald::DM_Func()->InitConn();
        tessera::setAppPath(dir.filePath(QStringLiteral("client")));
        host::setDialogPresenter(std::make_unique<host::ScriptedPresenter>());
        host::g_lstVars->setValue(QStringLiteral("sysid"), QStringLiteral("001"));
        host::g_lstVars->setValue(QStringLiteral("LogOnSiteName"), QStringLiteral("上海浦东"));
        host::g_lstVars->setValue(QStringLiteral("LogOnEmpName"), QStringLiteral("马超"));
    }
    ~BenchServer()
    {
        host::setConnection(nullptr);
        herald::DM_Func()->cnServer = nullptr;
        http->stop();
    }
};

void BM_PublishTenMegabytesTo200Sites(benchmark::State &state)
{
    BenchServer srv;
    const QString attachment = srv.dir.filePath(QStringLiteral("big.bin"));
    {
        QFile f(attachment);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(10 * 1024 * 1024, 'x'));
    }
    QStringList sites;
    for (int i = 0; i < 200; ++i)
        sites << QStringLiteral("网点%1").arg(i, 3, 10, QLatin1Char('0'));
    auto *form = tessera::createForm<herald::TfSendMessage>();
    int n = 0;
    for (auto _ : state) {
        form->edtObject->setText(QStringLiteral("大附件公告%1").arg(++n));
        form->edtSites->setText(sites.join(u','));
        form->edtFile->setText(attachment);
        form->actSaveExecute();
        if (!form->edtObject->text().isEmpty())
            state.SkipWithError("publication failed");
    }
    state.SetBytesProcessed(state.iterations() * 10LL * 1024 * 1024);
    delete form;
}
BENCHMARK(BM_PublishTenMegabytesTo200Sites)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_OpenUnreadListOf500(benchmark::State &state)
{
    BenchServer srv;
    {
        auto c = srv.backend->acquireForServer();
        server::Transaction t(*c);
        const QDateTime now = QDateTime::currentDateTime();
        for (int i = 0; i < 500; ++i) {
            const QString id = QStringLiteral("BENCH%1").arg(i);
            const QDateTime when = now.addSecs(-i * 600);
            c->execute(QStringLiteral("insert into TAB_MSGRECORD (MSGID, MSGOBJECT, MSGCONTENT, MSGFILE, "
                                      "MSGTYPE, OPTIME, OPSITE, OPEMP, sysid) values (?,?,?,?,?,?,?,?,?)"),
                       {id, QStringLiteral("公告%1").arg(i), QStringLiteral("notice\\x\\%1.rtf").arg(id),
                        QString(), QStringLiteral("普通"), when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                        QStringLiteral("总部"), QStringLiteral("张伟"), QStringLiteral("001")});
            c->execute(QStringLiteral("insert into TAB_MSGSITE (MSGID, MSGSITE, MSGTime, sysid) values (?,?,?,?)"),
                       {id, QStringLiteral("基准网点"), when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                        QStringLiteral("001")});
        }
        t.commit();
    }
    host::g_lstVars->setValue(QStringLiteral("LogOnSiteName"), QStringLiteral("基准网点"));
    for (auto _ : state) {
        QTabWidget tabs;
        host::ParentCtrl = &tabs;
        herald::DM_Func()->ExecFunc(QStringLiteral("fNoReadMessage"), QStringLiteral("未阅读公告"), {}, {}, 0);
        auto *w = qobject_cast<herald::TfNoReadMessage *>(tabs.widget(0));
        if (!w || w->lvMsg->topLevelItemCount() != 500)
            state.SkipWithError("list not filled");
        host::ParentCtrl = nullptr;
    }
}
BENCHMARK(BM_OpenUnreadListOf500)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char **argv)
{
    return bench::runWindowBenchmarks(argc, argv);
}
