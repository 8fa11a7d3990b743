#pragma once
// The main of a benchmark program that needs a Qt application object.

#include <benchmark/benchmark.h>

// Runs the benchmarks chosen on the command line inside an application object
// of type App (QCoreApplication, or QApplication for widgets); Qt takes its own
// arguments first, an argument that neither knows is an error.
template <typename App>
int runBenchmarks(int argc, char** argv)
{
    App app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
