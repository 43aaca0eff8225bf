// Lookup edits: keystroke-to-list time of the local lookup edit over 50,000 records, the
// same search as a "like" query in SQLite over the same rows, and the round trip of the
// query lookup edit against an in-process application server.
#include "baseforms/mydbxedit.h"
#include "baseforms/myqdbxedit.h"
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "host/dialogpresenter.h"
#include "server/httpserver.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/sql/backend.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <memory>

namespace {

constexpr int kRecords = 50000;

QString codeOf(int i)
{
    return QStringLiteral("S%1").arg(i, 6, 10, QLatin1Char('0'));
}
QString nameOf(int i)
{
    static const QStringList cities{QStringLiteral("上海"), QStringLiteral("北京"),
                                    QStringLiteral("广州"), QStringLiteral("深圳"),
                                    QStringLiteral("杭州"), QStringLiteral("南京")};
    return cities.at(i % cities.size()) + QStringLiteral("站点") + QString::number(i);
}
QString assistOf(int i)
{
    return QStringLiteral("ZD%1").arg(i);
}

std::unique_ptr<quillon::TMyDataSet> lookupData()
{
    quillon::DataPacket p;
    p.fields = {{QStringLiteral("CODE"), quillon::FieldType::String, 10},
                {QStringLiteral("NAME"), quillon::FieldType::String, 30},
                {QStringLiteral("ASSISTCODE"), quillon::FieldType::String, 10},
                {QStringLiteral("BELONG"), quillon::FieldType::String, 30}};
    p.rows.reserve(kRecords);
    for (int i = 0; i < kRecords; ++i)
        p.rows.append({codeOf(i), nameOf(i), assistOf(i), nameOf(i / 50)});
    auto ds = std::make_unique<quillon::TMyDataSet>();
    ds->SetData(std::move(p));
    return ds;
}

// The texts typed: one that fills the list at once, one found in the last rows (the whole
// table is searched), one found nowhere.
const char *const kTexts[] = {"站点1", "49987", "无此站"};

struct LocalEdit
{
    LocalEdit()
        : ds(lookupData())
    {
        auto *l = new QVBoxLayout(&window);
        edit = new tessera::TMyDBXEdit(&window);
        l->addWidget(edit);
        edit->SetMSD_LookupCds(ds.get());
        edit->SetMSD_CodeField(QStringLiteral("CODE"));
        edit->SetMSD_NameField(QStringLiteral("NAME"));
        window.show();
        QApplication::setActiveWindow(&window);
        edit->setFocus();
        QApplication::processEvents();
    }
    QWidget window;
    std::unique_ptr<quillon::TMyDataSet> ds;
    tessera::TMyDBXEdit *edit;
};

std::unique_ptr<LocalEdit> g_local;

// A keystroke that completes the text: the key event goes through the application as a
// user's does, the list is searched and shown before the call returns.
void BM_DBXEditKeystrokeToList(benchmark::State &state)
{
    if (!g_local)
        g_local = std::make_unique<LocalEdit>();
    LocalEdit &e = *g_local;
    const QString text = QString::fromUtf8(kTexts[state.range(0)]);
    const QString head = text.left(text.size() - 1);
    const QString last = text.right(1);
    int shown = 0;
    for (auto _ : state) {
        state.PauseTiming();
        e.edit->setText(head);
        state.ResumeTiming();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, last);
        QApplication::sendEvent(e.edit, &press);
        shown = e.edit->listNames().size();
        benchmark::DoNotOptimize(shown);
    }
    state.counters["rows_listed"] = shown;
    state.SetLabel(text.toStdString());
}
BENCHMARK(BM_DBXEditKeystrokeToList)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// The same search as a query in SQLite over the same rows (in memory, prepared once).
void BM_SqliteLikeSameSearch(benchmark::State &state)
{
    static sqlite3 *db = [] {
        sqlite3 *d = nullptr;
        sqlite3_open(":memory:", &d);
        sqlite3_exec(d, "create table t (code text, name text, assistcode text, belong text)",
                     nullptr, nullptr, nullptr);
        sqlite3_exec(d, "begin", nullptr, nullptr, nullptr);
        sqlite3_stmt *ins = nullptr;
        sqlite3_prepare_v2(d, "insert into t values (?,?,?,?)", -1, &ins, nullptr);
        for (int i = 0; i < kRecords; ++i) {
            const QByteArray v[4] = {codeOf(i).toUtf8(), nameOf(i).toUtf8(), assistOf(i).toUtf8(),
                                     nameOf(i / 50).toUtf8()};
            for (int c = 0; c < 4; ++c)
                sqlite3_bind_text(ins, c + 1, v[c].constData(), int(v[c].size()), SQLITE_TRANSIENT);
            sqlite3_step(ins);
            sqlite3_reset(ins);
        }
        sqlite3_finalize(ins);
        sqlite3_exec(d, "commit", nullptr, nullptr, nullptr);
        return d;
    }();
    sqlite3_stmt *q = nullptr;
    sqlite3_prepare_v2(db,
                       "select * from t where upper(name) like ?1 or upper(code) like ?1 or "
                       "upper(assistcode) like ?1 order by code limit 20",
                       -1, &q, nullptr);
    const QByteArray pattern =
        (QStringLiteral("%") + QString::fromUtf8(kTexts[state.range(0)]).toUpper() +
         QStringLiteral("%"))
            .toUtf8();
    int rows = 0;
    for (auto _ : state) {
        sqlite3_bind_text(q, 1, pattern.constData(), int(pattern.size()), SQLITE_STATIC);
        rows = 0;
        while (sqlite3_step(q) == SQLITE_ROW)
            ++rows;
        sqlite3_reset(q);
        benchmark::DoNotOptimize(rows);
    }
    sqlite3_finalize(q);
    state.counters["rows_listed"] = rows;
    state.SetLabel(kTexts[state.range(0)]);
}
BENCHMARK(BM_SqliteLikeSameSearch)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// The query lookup edit against the demo server: the statement for the typed text, the
// provider round trip, the rows copied into the lookup dataset and the list shown.
struct ServerEdit
{
    ServerEdit()
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
        server::ServerOptions options;
        options.port = 0;
        options.threads = 2;
        options.quiet = true;
        http = std::make_unique<server::HttpServer>(*backend, dir.filePath(QStringLiteral("files")),
                                                    options);
        http->start();
        conn.SetHost(QStringLiteral("127.0.0.1"));
        conn.SetPort(http->port());
        conn.SetSiteCode(QStringLiteral("101"));
        conn.SetUsername(QStringLiteral("001.zhang"));
        conn.SetPassword(QString::fromLatin1(server::kDemoPassword));
        lookup.SetMyConn(&conn);
        lookup.SetCommandText(QStringLiteral("tab_Site"));
        auto *l = new QVBoxLayout(&window);
        edit = new tessera::TMyQDBXEdit(&window);
        l->addWidget(edit);
        edit->SetMSD_LookupCds(&lookup);
        edit->SetMSD_CodeField(QStringLiteral("SiteCode"));
        edit->SetMSD_NameField(QStringLiteral("SiteName"));
        window.show();
        QApplication::setActiveWindow(&window);
        edit->setFocus();
        QApplication::processEvents();
    }
    ~ServerEdit() { http->stop(); }
    QTemporaryDir dir;
    std::unique_ptr<server::Backend> backend;
    std::unique_ptr<server::HttpServer> http;
    quillon::TMySktConnection conn;
    quillon::TMyDataSet lookup;
    QWidget window;
    tessera::TMyQDBXEdit *edit;
};

std::unique_ptr<ServerEdit> g_server;

void BM_QDBXEditRoundTrip(benchmark::State &state)
{
    if (!g_server)
        g_server = std::make_unique<ServerEdit>();
    ServerEdit &e = *g_server;
    int rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        e.edit->setText(QStringLiteral("上海"));
        state.ResumeTiming();
        e.edit->DropDown();
        rows = e.lookup.RecordCount();
        benchmark::DoNotOptimize(rows);
    }
    if (rows == 0)
        state.SkipWithError("the server returned no sites");
    state.counters["rows_listed"] = rows;
}
BENCHMARK(BM_QDBXEditRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    host::setDialogPresenter(std::make_unique<host::ScriptedPresenter>());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_server.reset();
    g_local.reset();
    return 0;
}
