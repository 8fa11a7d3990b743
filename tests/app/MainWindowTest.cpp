// The real main window with its reader and analyzer threads: a generated file
// chosen through the playback dialog's signal is decoded and drawn; then the
// board, channel and baseline choices, playback, live thinning, the source
// program choice and shutdown are checked on what the window shows.
#include "datapath/DeviceSettings.h"
#include "pnp/AddPnpDialog.h"
#include "pnp/ProgramType.h"

#include "MainWindowFixture.h"
#include "tests/MessageLog.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <qwt_plot_curve.h>
#include <qwt_plot_zoomer.h>

#include <atomic>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

namespace {

constexpr quint32 FirstSerial = 0x0A1B2C3D;
constexpr quint32 SecondSerial = FirstSerial + 1;
constexpr quint8 DeviceType = 0xD9;
constexpr int Events = 12;
constexpr int BaselineCh0 = 100; // stored for the first board only, with ch1 = 0 and ch5 = -7
constexpr int BaselineCh5 = -7;

QString curveName(const QwtPlotCurve* curve)
{
    return curve ? curve->title().text() : QString("<no curve>");
}

int curveCount(const WaveformPlot* plot)
{
    return plot->itemList(QwtPlotItem::Rtti_PlotCurve).size();
}

QVector<double> curveValues(const QwtPlotCurve* curve)
{
    QVector<double> values;
    for (size_t i = 0; i < curve->dataSize(); ++i)
        values << curve->sample(int(i)).y();
    return values;
}

QVector<double> minus(QVector<double> samples, double baseline)
{
    for (double& value : samples)
        value -= baseline;
    return samples;
}

class MainWindowTest : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        if (IsSkipped())
            return;
        ViewerSettings stored; // signed codes as written, baselines drawn
        stored.adcRawDataSigned = true;
        stored.drawRelativeToBaseline = true;
        stored.saveSettings();
        QSettings store(QSettings::IniFormat, QSettings::UserScope, "Kelvane Electronics", "Ravel");
        store.beginGroup(DeviceSettings::groupName(DeviceType, FirstSerial));
        store.setValue("baseline.0", BaselineCh0);
        store.setValue("baseline.1", 0);
        store.setValue("baseline.5", BaselineCh5);
        SampleGenerator::Options options;
        options.seed = 7;
        options.samples = 256;
        options.firstSerial = FirstSerial;
        options.deviceType = DeviceType;
        events = writeDataFile(options, Events);
    }

    // What the dialog's file chooser does, down to the signal.
    void openFileAndWaitForFirstEvent()
    {
        openWindow();
        emit dialog->fileNameUpdated(dataFile);
        QTRY_COMPARE_WITH_TIMEOUT(eventText(), QString("Ev:1"), TimeoutMs);
    }
    QVector<double> rawSamples(int event, quint32 serial, int channel) const
    {
        return events[event].devices[serial].channels[channel].samples;
    }
    void showDirectly(const EventData& event) { callSlot("showWaveform", "EventData", event); }
    void showRecord(int record)
    {
        dialog->findChild<QSpinBox*>("spinBoxCurEvent")->setValue(record);
        QTRY_COMPARE_WITH_TIMEOUT(eventText(), QString("Ev:%1").arg(record), TimeoutMs);
    }

    QVector<EventData> events;
};

TEST_F(MainWindowTest, ChosenFileIsDecodedAndEveryBoardDrawnRelativeToItsBaselines)
{
    openFileAndWaitForFirstEvent();
    auto* selector = part<QComboBox>("comboBoxSerial");
    ASSERT_EQ(selector->count(), 3);
    EXPECT_EQ(selector->itemText(0), "All");
    EXPECT_EQ(selector->itemText(1), "0x0a1b-2c3d d9");
    EXPECT_EQ(selector->itemData(1).toUInt(), FirstSerial);

    // Two boards: indices 0..63 and 64..127 by channel key; "(b)" marks a
    // non-zero stored baseline.
    EXPECT_EQ(curveCount(plot), 128);
    const QList<std::pair<int, QString>> names{
        {0, "a1b2c3d:1(b)"}, {1, "a1b2c3d:2"}, {2, "a1b2c3d:3"}, {5, "a1b2c3d:6(b)"}, {127, "a1b2c3e:64"}};
    for (const auto& name : names)
        EXPECT_EQ(curveName(plot->curve(name.first)), name.second);
    EXPECT_EQ(curveValues(plot->curve(0)), minus(rawSamples(0, FirstSerial, 0), BaselineCh0));
    EXPECT_EQ(curveValues(plot->curve(5)), minus(rawSamples(0, FirstSerial, 5), BaselineCh5));
    EXPECT_EQ(curveValues(plot->curve(64)), rawSamples(0, SecondSerial, 0));
    EXPECT_EQ(QSettings().value("Main/lastFile").toString(), dataFile);

    // Redrawn from raw samples when the option changes: subtracted once, not
    // twice; baselines are read once per board.
    QSettings store(QSettings::IniFormat, QSettings::UserScope, "Kelvane Electronics", "Ravel");
    store.setValue(DeviceSettings::groupName(DeviceType, FirstSerial) + "/baseline.0", 5000);
    store.sync();
    QAction* relative = action("actionDraw_relative_to_baseline");
    ASSERT_TRUE(relative->isChecked());
    relative->trigger();
    EXPECT_EQ(curveName(plot->curve(0)), "a1b2c3d:1");
    EXPECT_EQ(curveValues(plot->curve(0)), rawSamples(0, FirstSerial, 0));
    EXPECT_FALSE(QSettings().value("Main/drawRelativeToBaseline").toBool());
    relative->trigger();
    EXPECT_EQ(curveValues(plot->curve(0)), minus(rawSamples(0, FirstSerial, 0), BaselineCh0));
    EXPECT_TRUE(QSettings().value("Main/drawRelativeToBaseline").toBool());
}

TEST_F(MainWindowTest, ChannelRangeAndBoardChoiceLimitTheCurves)
{
    openFileAndWaitForFirstEvent();
    auto* low = part<QSpinBox>("spinBoxChLow");
    auto* high = part<QSpinBox>("spinBoxChHi");
    low->setValue(10);
    EXPECT_EQ(high->minimum(), 10);
    EXPECT_EQ(curveCount(plot), 2 * 54);
    EXPECT_FALSE(plot->isCurveAttached(9));
    high->setValue(20);
    EXPECT_EQ(low->maximum(), 20);
    EXPECT_EQ(curveCount(plot), 2 * 11);
    EXPECT_TRUE(plot->isCurveAttached(64 + 20));
    EXPECT_FALSE(plot->isCurveAttached(64 + 21));
    high->setValue(5); // below the low bound: held at 10
    EXPECT_EQ(curveCount(plot), 2);

    high->setValue(63);
    low->setValue(0);
    auto* selector = part<QComboBox>("comboBoxSerial");
    selector->setCurrentIndex(2); // one board alone gets indices from 0
    EXPECT_EQ(curveCount(plot), 64);
    EXPECT_EQ(curveName(plot->curve(0)), "a1b2c3e:1");
    EXPECT_EQ(curveValues(plot->curve(0)), rawSamples(0, SecondSerial, 0));
    selector->setCurrentIndex(0);
    EXPECT_EQ(curveCount(plot), 128);
}

TEST_F(MainWindowTest, PlayingForwardDrawsUpToTheLastRecordAndRedrawsKeepIt)
{
    openFileAndWaitForFirstEvent();
    auto* stop = dialog->findChild<QPushButton*>("pushButtonStop");
    dialog->findChild<QPushButton*>("pushButtonForward")->click();
    QTRY_COMPARE_WITH_TIMEOUT(eventText(), QString("Ev:%1").arg(Events), TimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(stop->isChecked(), TimeoutMs);
    EXPECT_EQ(curveValues(plot->curve(64)), rawSamples(Events - 1, SecondSerial, 0));
    part<QComboBox>("comboBoxSerial")->setCurrentIndex(1);
    EXPECT_EQ(curveValues(plot->curve(2)), rawSamples(Events - 1, FirstSerial, 2));
}

// Notes which curve data of channel 0 each paint of the canvas showed.
class PaintedData : public QObject {
public:
    explicit PaintedData(WaveformPlot* plot) : plot(plot) { plot->canvas()->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted << plot->curve(0)->data();
        return false;
    }
    WaveformPlot* plot;
    QList<const void*> painted;
};

TEST_F(MainWindowTest, ZoomedInEachDrawShowsTheCurvesOfTheDrawBefore)
{
    openFileAndWaitForFirstEvent();
    plot->zoomer()->zoom(QRectF(10, -100, 50, 200));
    const void* first = plot->curve(0)->data();
    PaintedData paints(plot);
    showRecord(2);
    const void* second = plot->curve(0)->data();
    ASSERT_NE(second, first);
    QTest::qWait(100);
    EXPECT_TRUE(paints.painted.contains(first));
    EXPECT_FALSE(paints.painted.contains(second));

    plot->zoomer()->zoom(0); // back at the base, a draw shows its own curves
    showRecord(3);
    EXPECT_TRUE(paints.painted.contains(plot->curve(0)->data()));
}

TEST_F(MainWindowTest, AdcSignedOptionIsRestoredSavedAndReachesTheAnalyzer)
{
    openFileAndWaitForFirstEvent();
    QAction* adcSigned = action("actionADC_raw_data_signed");
    ASSERT_TRUE(adcSigned->isChecked());
    adcSigned->trigger(); // off: codes read as unsigned
    EXPECT_FALSE(QSettings().value("Main/adcRawDataSigned").toBool());
    showRecord(2);
    const QVector<double> shown = curveValues(plot->curve(2));
    const QVector<double> signedValues = rawSamples(1, FirstSerial, 2);
    ASSERT_EQ(shown.size(), signedValues.size());
    for (int i = 0; i < shown.size(); ++i)
        ASSERT_EQ(qAbs(shown[i] - signedValues[i]), 32768.0) << "sample " << i;
}

TEST_F(MainWindowTest, LiveEventsAreDrawnTwiceASecondAtMostButListTheirBoards)
{
    openWindow();
    EventData second = events[1];
    second.devices.insert(0x1234, second.devices.first());
    second.devices[0x1234].serial = 0x1234;
    showDirectly(events[0]);
    EXPECT_EQ(eventText(), "Ev:1");
    showDirectly(second); // within 500 ms of the first draw
    EXPECT_EQ(eventText(), "Ev:1");
    auto* selector = part<QComboBox>("comboBoxSerial");
    ASSERT_EQ(selector->count(), 4);
    EXPECT_EQ(selector->itemText(3), "0x0000-1234 d9"); // listed on first sight, even undrawn

    QTest::qWait(MainWindow::LiveDrawIntervalMs + 50);
    showDirectly(second);
    EXPECT_EQ(eventText(), "Ev:2");
    EXPECT_EQ(curveName(plot->curve(0)), "1234:1");
    EXPECT_EQ(curveCount(plot), 3 * 64);

    QTest::qWait(MainWindow::LiveDrawIntervalMs + 50);
    EventData empty;
    empty.evNum = 99;
    showDirectly(empty); // an event without boards changes nothing
    EXPECT_EQ(eventText(), "Ev:2");
    EXPECT_EQ(curveCount(plot), 3 * 64);
}

TEST(MainWindowStatic, AboutHeadingAndTheInterfaceTakenOfAProgram)
{
    const QList<std::pair<QString, QString>> revisions{
        {MainWindow::BuildRevision, "<h2>Version 1.0, rev. Unversioned directory</h2>"},
        {"1234:1250M", "<h2>Version 1.0, rev. 1250M</h2>"},
        {"1234:", "<h2>Version 1.0</h2>"}};
    for (const auto& revision : revisions)
        EXPECT_TRUE(MainWindow::aboutText(revision.first).startsWith("<h1>Ravel-Viewer</h1>" + revision.second))
            << revision.first.toStdString();

    const auto program = [](ProgramType type, QList<std::pair<InterfaceType, bool>> interfaces) {
        ProgramDescription description;
        description.type = programTypeName(type);
        description.index = "1";
        quint32 port = 5000;
        for (const auto& iface : interfaces) {
            description.interfaces << ProgramInterface();
            description.interfaces.last().type = interfaceTypeName(iface.first);
            description.interfaces.last().isFree = iface.second;
            description.interfaces.last().port = ++port;
        }
        return description;
    };
    const ProgramDescription nimbus = program(NimbusProgram, {{MonitorDataFlowInterface, false}, {DataFlowInterface, true}});
    EXPECT_EQ(MainWindow::chooseInterface(nimbus).port, 5002u); // falls back to its free data flow
    EXPECT_EQ(MainWindow::chooseInterface(program(QolProgram, {{DataFlowInterface, true}})).type, "");
    EXPECT_EQ(MainWindow::chooseInterface(program(QolProgram, {{MonitorDataFlowInterface, true}})).type,
              "Monitor output data flow");
    EXPECT_EQ(MainWindow::programDisplayName(nimbus), "Nimbus #1");
}

TEST_F(MainWindowFixture, OnlyUsableProgramsAreOfferedAndTheSourceIsNotTakenTwice)
{
    openWindow();
    QSignalSpy logs(window.get(), &MainWindow::addLog);
    QAction* connectAction = action("actionConnect_to_data_source");
    const auto discovered = [&](ProgramType type, InterfaceType iface, quint32 port) {
        ProgramDescription description;
        description.type = programTypeName(type);
        description.index = "1";
        description.interfaces << ProgramInterface();
        description.interfaces.last().host = QHostAddress(QHostAddress::LocalHost);
        description.interfaces.last().type = interfaceTypeName(iface);
        description.interfaces.last().port = port;
        description.interfaces.last().isFree = true;
        callSlot("gotProgramDescription", "ProgramDescription", description);
    };
    discovered(QolProgram, DataFlowInterface, 5000);
    discovered(ZelSystemProgram, MonitorDataFlowInterface, 5001);
    EXPECT_FALSE(connectAction->isEnabled());
    discovered(NimbusProgram, DataFlowInterface, 5002);
    ASSERT_TRUE(connectAction->isEnabled());

    // Answers the source program dialog each time it comes up (true: OK).
    QList<bool> answers{true, true, false};
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* chooser = qobject_cast<AddPnpDialog*>(QApplication::activeModalWidget());
        if (chooser && chooser->isVisible() && !answers.isEmpty())
            answers.takeFirst() ? chooser->accept() : chooser->reject();
    });
    poll.start(10);
    connectAction->trigger();
    EXPECT_EQ(answers.size(), 2);
    ASSERT_EQ(logs.size(), 2);
    EXPECT_EQ(logs[0][0].toString(), "[MW] change source from  # to Nimbus #1 (data flow)");
    EXPECT_EQ(logs[1][0].toString(), "[MW] change interface from :0 to 127.0.0.1:5002");
    EXPECT_EQ(sourceText(), "Nimbus #1 (data flow:0)");

    // The source again: refused, and the dialog comes back until cancelled.
    MessageLog messages;
    connectAction->trigger();
    EXPECT_TRUE(answers.isEmpty());
    EXPECT_EQ(messages.texts(QtWarningMsg).count("Selected program has no free interface"), 1);
    EXPECT_EQ(logs.size(), 2);
}

TEST_F(MainWindowTest, ClosingSavesTheSettingsAndStopsTheThreadsQuickly)
{
    openFileAndWaitForFirstEvent();
    MessageLog messages;
    QElapsedTimer clock;
    clock.start();
    window.reset();
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_TRUE(messages.texts(QtWarningMsg).isEmpty()) << messages.texts(QtWarningMsg).join("\n").toStdString();
    QSettings store;
    EXPECT_FALSE(store.value("MainWindow/geometry").toByteArray().isEmpty());
    EXPECT_EQ(store.value("Main/lastFile").toString(), dataFile);
    EXPECT_EQ(store.value("Main/playbackInterval").toInt(), 10); // none stored: the smallest
}

TEST_F(MainWindowTest, ShutdownWithAStuckWorkerEndsWithinTheSharedBudget)
{
    openWindow();
    QThread* analyzerThread = nullptr;
    for (QThread* thread : window->findChildren<QThread*>())
        if (thread->objectName() == "ADC analyzer")
            analyzerThread = thread;
    ASSERT_NE(analyzerThread, nullptr);

    // Left behind on purpose: its thread is terminated under it.
    auto* stuck = new QObject;
#ifdef __SANITIZE_ADDRESS__
    __lsan_ignore_object(stuck); // so are the workers of that thread, reachable from it
#endif
    stuck->moveToThread(analyzerThread);
    static std::atomic<bool> entered{false};
    QMetaObject::invokeMethod(
        stuck,
        [] {
            entered = true;
            for (;;)
                QThread::msleep(20);
        },
        Qt::QueuedConnection);
    QTRY_VERIFY_WITH_TIMEOUT(entered.load(), TimeoutMs);

    MessageLog messages;
    QElapsedTimer clock;
    clock.start();
    window.reset();
    EXPECT_GE(clock.elapsed(), MainWindow::ThreadStopBudgetMs - 100);
    EXPECT_LT(clock.elapsed(), MainWindow::ThreadStopBudgetMs + 1500);
    EXPECT_TRUE(messages.contains(QtWarningMsg, "Can't stop analyzer thread"));
    EXPECT_TRUE(messages.contains(QtDebugMsg, "thread isn't stopped"));
    EXPECT_FALSE(messages.contains(QtWarningMsg, "Can't stop file reader thread"));
}

} // namespace
