// One whole viewer session: the saved source program resumed by discovery and
// drawn live; a data file chosen while the program runs on is played to its
// end, the window closes. scripts/ci-valgrind runs this under valgrind's leak check, so it is
// one straight path with timeouts that allow for that.
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

    // A file chosen while the program keeps serving: the connection closes.
    action("actionSet_source_file")->trigger();
    EXPECT_EQ(sourceText(), "no connection");
    ASSERT_TRUE(waitUntil([&] { return sourceStyle() == NotConnected; }, SlowTimeoutMs));
    writeDataFile(FileEvents, 2, 16, 256, 2001, FirstFileEvent);
    emit dialog->fileNameUpdated(dataFile);
    // Record 1 may complete a live event cut off by the disconnect: waits for the map instead.
    auto* record = dialog->findChild<QSpinBox*>("spinBoxCurEvent");
    auto* stop = dialog->findChild<QPushButton*>("pushButtonStop");
    ASSERT_TRUE(waitUntil([&] { return record->isEnabled() && record->maximum() == FileEvents; }, SlowTimeoutMs));

    dialog->findChild<QPushButton*>("pushButtonForward")->click();
    const QString lastEvent = QString("Ev:%1").arg(FirstFileEvent + FileEvents - 1);
    ASSERT_TRUE(waitUntil([&] { return eventText() == lastEvent && stop->isChecked(); }, SlowTimeoutMs))
        << "shown " << eventText().toStdString() << ", record " << record->value();
    window.reset();
}

} // namespace
