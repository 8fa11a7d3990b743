// One whole viewer session as an operator has it: the window resumes its saved
// source program, finds the simulated acquisition program by discovery and
// draws its live events; the program ends, a data file is chosen and played
// to its end, and the window is closed. scripts/ci-valgrind runs this under
// valgrind's leak check, so it is one straight path with timeouts that allow
// for that.
#include "tests/app/MainWindowFixture.h"
#include "tests/tools/SimProcess.h"

#include <QPushButton>
#include <QSpinBox>

namespace {

constexpr int FileEvents = 6;
constexpr quint32 FirstFileEvent = 9001; // far from the simulator's numbers
constexpr int SlowTimeoutMs = 30000;     // valgrind runs this 20 to 50 times slower
using ViewerSessionTest = MainWindowFixture;

TEST_F(ViewerSessionTest, LiveSourceThenFilePlaybackThenClose)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start(
        {"--type", "Nimbus", "--index", "7", "--boards", "1", "--channels", "8", "--samples", "128", "--rate", "5"}));
    saveChoice("Nimbus", "7");
    openWindow();
    ASSERT_TRUE(waitUntil([&] { return sourceStyle() == Connected; }, SlowTimeoutMs)) << sourceText().toStdString();
    ASSERT_TRUE(waitUntil([&] { return eventText().startsWith("Ev:"); }, SlowTimeoutMs));

    // The program goes away; the client keeps retrying its endpoint, and the
    // file source below drops the choice. (Dropping it while connected would
    // leave the connection up: the client ignores address changes then.)
    sim.process.kill();
    ASSERT_TRUE(sim.process.waitForFinished(SlowTimeoutMs));
    ASSERT_TRUE(waitUntil([&] { return sourceStyle() == NotConnected; }, SlowTimeoutMs));
    action("actionSet_source_file")->trigger();
    EXPECT_EQ(sourceText(), "no connection");
    writeDataFile(FileEvents, 2, 16, 256, 2001, FirstFileEvent);
    emit dialog->fileNameUpdated(dataFile);
    // Record 1 may go into completing a live event cut off by the disconnect
    // (the analyzer keeps its pending bytes across sources), so this waits
    // for the map instead of for the first event.
    auto* record = dialog->findChild<QSpinBox*>("spinBoxCurEvent");
    auto* stop = dialog->findChild<QPushButton*>("pushButtonStop");
    ASSERT_TRUE(waitUntil([&] { return record->isEnabled() && record->maximum() == FileEvents; }, SlowTimeoutMs));

    dialog->findChild<QPushButton*>("pushButtonForward")->click();
    const QString lastEvent = QString("Ev:%1").arg(FirstFileEvent + FileEvents - 1);
    ASSERT_TRUE(waitUntil([&] { return eventText() == lastEvent && stop->isChecked(); }, SlowTimeoutMs))
        << "shown " << eventText().toStdString() << ", record " << record->value();
    EXPECT_FALSE(plot->itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty());
    window.reset();
}

} // namespace
