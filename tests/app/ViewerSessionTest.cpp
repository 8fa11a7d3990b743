// One whole viewer session as an operator has it: the window resumes its saved
// source program, finds the simulated acquisition program by discovery and
// draws its live events; the program ends, a data file is chosen and played
// to its end, and the window is closed. scripts/ci-valgrind runs this under valgrind's leak
// check, so it is one straight path with timeouts that allow for that.
#include "app/ViewerSettings.h"
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"
#include "tests/tools/SimProcess.h"

#include "MainWindowFixture.h"

#include <QFile>
#include <QPushButton>
#include <QSpinBox>

namespace {

constexpr int FileEvents = 6;
constexpr quint32 FirstFileEvent = 9001; // far from the simulator's numbers
constexpr int SlowTimeoutMs = 30000;     // valgrind runs this 20 to 50 times slower

class ViewerSessionTest : public MainWindowFixture {
protected:
    void saveSimulatorAsSource()
    {
        ViewerSettings stored;
        stored.selectedProgramType = "Nimbus";
        stored.selectedProgramIndex = "7";
        stored.selectedInterface = "Monitor output data flow";
        stored.adcRawDataSigned = true;
        stored.saveSettings();
    }

    QString writeDataFile()
    {
        SampleGenerator::Options options;
        options.boards = 2;
        options.channels = 16;
        options.samples = 256;
        SampleGenerator generator(options);
        QByteArray bytes;
        for (int i = 0; i < FileEvents; ++i) {
            EventData event = generator.nextEvent();
            event.evNum = FirstFileEvent + i;
            EventEncoder::appendEvent(bytes, event, true);
        }
        const QString path = temp.folder() + "/session.dat";
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(bytes), bytes.size());
        return path;
    }

    QString eventText() const { return label("eventLabel")->text(); }
};

TEST_F(ViewerSessionTest, LiveSourceThenFilePlaybackThenClose)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start(
        {"--type", "Nimbus", "--index", "7", "--boards", "1", "--channels", "8", "--samples", "128", "--rate", "5"}));
    saveSimulatorAsSource();
    openWindow();

    QLabel* source = label("sourceLabel");
    ASSERT_TRUE(waitUntil([&] { return source->styleSheet() == "QLabel { color : darkGreen; }"; }, SlowTimeoutMs))
        << source->text().toStdString();
    ASSERT_TRUE(waitUntil([&] { return eventText().startsWith("Ev:"); }, SlowTimeoutMs));

    // The program goes away; the client keeps retrying its endpoint, and the
    // file source below drops the choice. (Dropping it while connected would
    // leave the connection up: the client ignores address changes then.)
    sim.process.kill();
    ASSERT_TRUE(sim.process.waitForFinished(SlowTimeoutMs));
    ASSERT_TRUE(waitUntil([&] { return source->styleSheet() == "QLabel { color : red; }"; }, SlowTimeoutMs));
    action("actionSet_source_file")->trigger();
    EXPECT_EQ(source->text(), "no connection");
    emit dialog->fileNameUpdated(writeDataFile());
    // Record 1 may go into completing a live event cut off by the disconnect
    // (the analyzer keeps its pending bytes across sources), so this waits
    // for the map instead of for the first event.
    auto* record = dialog->findChild<QSpinBox*>("spinBoxCurEvent");
    auto* forward = dialog->findChild<QPushButton*>("pushButtonForward");
    auto* stop = dialog->findChild<QPushButton*>("pushButtonStop");
    ASSERT_TRUE(record && forward && stop);
    ASSERT_TRUE(waitUntil([&] { return record->isEnabled() && record->maximum() == FileEvents; }, SlowTimeoutMs));

    forward->click();
    const QString lastEvent = QString("Ev:%1").arg(FirstFileEvent + FileEvents - 1);
    ASSERT_TRUE(waitUntil([&] { return eventText() == lastEvent && stop->isChecked(); }, SlowTimeoutMs))
        << "shown " << eventText().toStdString() << ", record " << record->value();
    EXPECT_FALSE(plot->itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty());

    window.reset();
}

} // namespace
