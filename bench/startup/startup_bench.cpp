// Start-up time of the program: from starting the process to the first paint of the
// log-on panel, with the deployment's configuration beside the program. Runs on the
// offscreen platform unless a display is set.
#include <QProcess>
#include <QProcessEnvironment>
#include <benchmark/benchmark.h>
#include <chrono>

static void BM_ProcessStartToLogOnPanel(benchmark::State &state)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WAYLINK_STARTUP_PROBE"), QStringLiteral("1"));
    if (!env.contains(QStringLiteral("DISPLAY")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    double inProcessTotal = 0;
    for (auto _ : state) {
        QProcess p;
        p.setProcessEnvironment(env);
        const auto start = std::chrono::steady_clock::now();
        p.start(QStringLiteral(WAYLINK_PROGRAM), {});
        QByteArray line;
        while (!line.contains("WAYLINK-LOGON-VISIBLE") && p.waitForReadyRead(20000))
            line += p.readAllStandardOutput();
        const auto visible = std::chrono::steady_clock::now();
        p.waitForFinished(20000);
        if (!line.contains("WAYLINK-LOGON-VISIBLE")) {
            state.SkipWithError("the program never showed its log-on panel");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(visible - start).count());
        inProcessTotal += line.mid(line.indexOf(' ') + 1).trimmed().toDouble();
    }
    state.counters["main_to_visible_ms"] =
        benchmark::Counter(inProcessTotal, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ProcessStartToLogOnPanel)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

BENCHMARK_MAIN();
