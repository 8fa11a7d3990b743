// ravel-daq-sim: a simulated acquisition program for demos and tests. It
// announces itself through discovery, streams generated digitizer events (or
// replays a data file) to every client of its TCP data interface, and can be
// told to move that interface to another port. See --help.
// Exit status: 0 after quit, 1 when the data interface cannot be opened,
// 2 bad usage.
#include "tools/daqsim/DaqSimulator.h"
#include "tools/daqsim/SimCommandLine.h"
#include "tools/daqsim/SimControl.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

constexpr int ExitCannotListen = 1;
constexpr int ExitUsage = 2;

void printLine(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("ravel-daq-sim");
    SimCommandLine commandLine;
    if (!commandLine.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "ravel-daq-sim: %s\n(see --help)\n", qPrintable(commandLine.error()));
        return ExitUsage;
    }
    if (commandLine.helpRequested()) {
        std::fputs(qPrintable(commandLine.helpText()), stdout);
        return 0;
    }

    DaqSimulator simulator(commandLine.options());
    QObject::connect(&simulator, &DaqSimulator::message, &printLine);
    SimControl control;
    QObject::connect(&control, &SimControl::moveRequested, &simulator, &DaqSimulator::movePort);
    QObject::connect(&control, &SimControl::quitRequested, &app, &QCoreApplication::quit);
    QObject::connect(&control, &SimControl::unknownCommand,
                     [](const QString& line) { printLine(QStringLiteral("unknown command: %1").arg(line)); });
    if (!simulator.start()) {
        std::fprintf(stderr, "ravel-daq-sim: %s\n", qPrintable(simulator.errorString()));
        return ExitCannotListen;
    }
    const int status = QCoreApplication::exec();
    simulator.stop();
    return status;
}
