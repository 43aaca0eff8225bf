#pragma once

// The main of a benchmark program with windows: the benchmarks run under a QApplication,
// off screen unless a display is asked for.
#include <QApplication>
#include <benchmark/benchmark.h>

namespace bench {

inline int runWindowBenchmarks(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace bench
