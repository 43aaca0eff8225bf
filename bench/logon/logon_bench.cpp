// Time from pressing 登录 to the working state: verification against an in-process
// application server, the menu and lookup caches written and read back (with an
// employee table of 50,000 rows), the module bar, the cached tables published and the
// start page opened.
#include "bench/benchmain.h"
#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "host/moduleservice.h"
#include "host/uintf.h"
#include "lobby.h"
#include "sentry.h"
#include "server/httpserver.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/sql/backend.h"
#include "shell/fclient.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

class SentryModule : public host::IUIBase
{
public:
    void InitConn() override {}
    void ExecFunc(const QString &f, const QString &, const QString &, const QStringList &,
                  int) override
    {
        sentry::execute(f);
    }
};

class LobbyModule : public host::IUIBase
{
public:
    void InitConn() override {}
    void ExecFunc(const QString &f, const QString &t, const QString &, const QStringList &,
                  int) override
    {
        lobby::execute(f, t);
    }
};

struct Fixture
{
    explicit Fixture(int employees)
    {
        backend = server::Backend::open(dir.filePath(QStringLiteral("bench.sqlite")), true);
        {
            auto c = backend->acquireForServer();
            server::createSchema(*c);
            server::SeedOptions o;
            o.waybills = 200;
            o.fastHash = true;
            server::seedDemo(*c, o);
            c->begin();
            for (int i = 0; i < employees; ++i) {
                c->execute(QStringLiteral("insert into tab_Employee (EmpCode, EmpName, BELONGSITE, "
                                          "POST, sysid) values (?,?,?,?,?)"),
                           {QStringLiteral("B%1").arg(i, 6, 10, QLatin1Char('0')),
                            QStringLiteral("员工%1").arg(i), QStringLiteral("上海浦东"),
                            QStringLiteral("业务员"), QStringLiteral("001")});
            }
            c->commit();
        }
        server::ServerOptions so;
        so.port = 0;
        so.threads = 2;
        so.quiet = true;
        http = std::make_unique<server::HttpServer>(*backend, dir.filePath(QStringLiteral("files")),
                                                    so);
        http->start();

        auto writeFile = [this](const QString &name, const QByteArray &bytes) {
            QFile f(dir.filePath(name));
            f.open(QIODevice::WriteOnly);
            f.write(bytes);
        };
        writeFile(QStringLiteral("ShowMsg.ini"), "[MsgList]\r\nMsg40=在线\r\n");
        writeFile(QStringLiteral("waylink.ini"),
                  QStringLiteral("[Config]\r\nSvrLst=bench\r\nbench=127.0.0.1:%1\r\n"
                                 "StartMenu=px_Lobby.fStart\r\nNotifyInterval=60\r\n")
                      .arg(http->port())
                      .toUtf8());
        host::ModuleService::instance().registerModule(QStringLiteral("px_Sentry"), &sentryModule);
        host::ModuleService::instance().registerModule(QStringLiteral("px_Lobby"), &lobbyModule);
        host::setDialogPresenter(std::make_unique<host::ScriptedPresenter>());
    }

    QTemporaryDir dir;
    std::unique_ptr<server::Backend> backend;
    std::unique_ptr<server::HttpServer> http;
    SentryModule sentryModule;
    LobbyModule lobbyModule;
};

void BM_LogOnToWorkingState(benchmark::State &state)
{
    static Fixture fixture(50000);
    int employees = 0;
    for (auto _ : state) {
        state.PauseTiming();
        host::g_lstVars->clear();
        shell::TfClient::Options o;
        o.exeDir = fixture.dir.path();
        o.configName = QStringLiteral("waylink");
        o.terminate = [](int) {};
        o.reportProblems = false;
        auto client = std::make_unique<shell::TfClient>(o);
        client->edtSite->setText(QStringLiteral("101"));
        client->edtUser->setText(QStringLiteral("001.zhang"));
        client->edtPwd->setText(QStringLiteral("123456"));
        state.ResumeTiming();

        client->RzBtnLogIn->click();

        state.PauseTiming();
        if (client->state() != shell::TfClient::State::Working) {
            state.SkipWithError("log-on did not reach the working state");
            break;
        }
        auto *emp =
            host::g_lstVars->objectAs<quillon::TMyDataSet>(QStringLiteral("cdsEmployeeAll"));
        employees = emp ? emp->RecordCount() : 0;
        client.reset();
        host::g_lstVars->clear();
        state.ResumeTiming();
    }
    state.counters["employees"] = employees;
}
BENCHMARK(BM_LogOnToWorkingState)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    return bench::runWindowBenchmarks(argc, argv);
}
