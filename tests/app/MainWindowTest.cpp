// The real main window with its reader and analyzer threads: a generated file
// chosen through the playback dialog's signal is decoded and drawn; then the
// board, channel and baseline choices, playback, live thinning, the source
// program choice and shutdown are checked on what the window shows.
#include "datapath/DeviceSettings.h"
#include "pnp/AddPnpDialog.h"
#include "pnp/ProgramType.h"

#include "tests/MessageLog.h"
#include "tests/app/MainWindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
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
constexpr quint8 DeviceType = 0xD9; // the generator's
constexpr int Events = 12;
constexpr int BaselineCh0 = 100; // stored for the first board only, with ch1 = 0 and ch5 = -7

QString curveName(const QwtPlotCurve* curve)
{
    return curve ? curve->title().text() : QString("<no curve>");
}

QVector<double> curveValues(const QwtPlotCurve* curve, double plusBaseline = 0)
{
    QVector<double> values;
    for (size_t i = 0; i < curve->dataSize(); ++i)
        values << curve->sample(int(i)).y() + plusBaseline;
    return values;
}

// A program offering these interfaces (type, free) on loopback ports 5001, ...
ProgramDescription program(ProgramType type, QList<std::pair<InterfaceType, bool>> interfaces)
{
    ProgramDescription description;
    description.type = programTypeName(type);
    description.index = "1";
    for (const auto& offered : interfaces) {
        ProgramInterface iface;
        iface.host = QHostAddress(QHostAddress::LocalHost);
        iface.type = interfaceTypeName(offered.first);
        iface.isFree = offered.second;
        iface.port = quint32(5001 + description.interfaces.size());
        description.interfaces << iface;
    }
    return description;
}

class MainWindowTest : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        if (IsSkipped())
            return;
        ViewerSettings stored; // signed codes as written, baselines drawn
        stored.adcRawDataSigned = stored.drawRelativeToBaseline = true;
        stored.saveSettings();
        QSettings store(QSettings::IniFormat, QSettings::UserScope, "Kelvane Electronics", "Ravel");
        store.beginGroup(DeviceSettings::groupName(DeviceType, FirstSerial));
        store.setValue("baseline.0", BaselineCh0);
        store.setValue("baseline.1", 0);
        store.setValue("baseline.5", -7);
        events = writeDataFile(Events, 2, 64, 256, FirstSerial);
    }

    // What the dialog's file chooser does, down to the signal.
    void openFileAndWaitForFirstEvent()
    {
        openWindow();
        emit dialog->fileNameUpdated(dataFile);
        ASSERT_EVENTUALLY_EQ(eventText(), QString("Ev:1"), TimeoutMs);
    }
    QVector<double> rawSamples(int event, quint32 serial, int channel) const
    {
        return events[event].devices[serial].channels[channel].samples;
    }
    int curveCount() const { return plot->itemList(QwtPlotItem::Rtti_PlotCurve).size(); }
    void showRecord(int record)
    {
        dialog->findChild<QSpinBox*>("spinBoxCurEvent")->setValue(record);
        ASSERT_EVENTUALLY_EQ(eventText(), QString("Ev:%1").arg(record), TimeoutMs);
    }

    QVector<EventData> events;
};

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

TEST_F(MainWindowTest, ChosenFileIsDecodedDrawnRelativeToBaselinesZoomedAndReDecodedUnsigned)
{
    openFileAndWaitForFirstEvent();
    auto* selector = part<QComboBox>("comboBoxSerial");
    ASSERT_EQ(selector->count(), 3); // "All" and the boards
    EXPECT_EQ(selector->itemText(0), "All");
    EXPECT_FALSE(selector->itemData(0).isValid());
    EXPECT_EQ(selector->itemText(1), "0x0a1b-2c3d d9");

    // Two boards: indices 0..63 and 64..127 by channel key; "(b)" marks a
    // non-zero stored baseline.
    EXPECT_EQ(curveCount(), 128);
    for (const auto& name : QList<std::pair<int, QString>>{
             {0, "a1b2c3d:1(b)"}, {1, "a1b2c3d:2"}, {2, "a1b2c3d:3"}, {5, "a1b2c3d:6(b)"}, {127, "a1b2c3e:64"}})
        EXPECT_EQ(curveName(plot->curve(name.first)), name.second);
    EXPECT_EQ(curveValues(plot->curve(0), BaselineCh0), rawSamples(0, FirstSerial, 0));
    EXPECT_EQ(curveValues(plot->curve(5), -7), rawSamples(0, FirstSerial, 5));
    EXPECT_EQ(curveValues(plot->curve(64)), rawSamples(0, SecondSerial, 0));

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
    EXPECT_EQ(curveValues(plot->curve(0), BaselineCh0), rawSamples(0, FirstSerial, 0));
    EXPECT_TRUE(QSettings().value("Main/drawRelativeToBaseline").toBool());

    // Zoomed in, each draw shows the curves of the draw before.
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

    // The signed-codes option, restored at start, is saved and reaches the analyzer.
    QAction* adcSigned = action("actionADC_raw_data_signed");
    ASSERT_TRUE(adcSigned->isChecked());
    adcSigned->trigger(); // off: codes read as unsigned
    EXPECT_FALSE(QSettings().value("Main/adcRawDataSigned").toBool());
    showRecord(4);
    const QVector<double> shown = curveValues(plot->curve(2));
    const QVector<double> signedValues = rawSamples(3, FirstSerial, 2);
    ASSERT_EQ(shown.size(), signedValues.size());
    for (int i = 0; i < shown.size(); ++i)
        ASSERT_EQ(qAbs(shown[i] - signedValues[i]), 32768.0) << "sample " << i;
}

TEST_F(MainWindowTest, ChannelRangeBoardChoiceAndPlaybackThenClose)
{
    openFileAndWaitForFirstEvent();
    auto* low = part<QSpinBox>("spinBoxChLow");
    auto* high = part<QSpinBox>("spinBoxChHi");
    low->setValue(10);
    EXPECT_EQ(high->minimum(), 10);
    EXPECT_EQ(curveCount(), 2 * 54);
    high->setValue(20);
    EXPECT_EQ(low->maximum(), 20);
    EXPECT_EQ(curveCount(), 2 * 11);
    EXPECT_TRUE(plot->isCurveAttached(64 + 20));
    EXPECT_FALSE(plot->isCurveAttached(64 + 21));
    high->setValue(5); // below the low bound: held at 10
    EXPECT_EQ(curveCount(), 2);

    high->setValue(63);
    low->setValue(0);
    auto* selector = part<QComboBox>("comboBoxSerial");
    selector->setCurrentIndex(2); // one board alone gets indices from 0
    EXPECT_EQ(curveCount(), 64);
    EXPECT_EQ(curveName(plot->curve(0)), "a1b2c3e:1");
    EXPECT_EQ(curveValues(plot->curve(0)), rawSamples(0, SecondSerial, 0));

    dialog->findChild<QPushButton*>("pushButtonForward")->click();
    ASSERT_EVENTUALLY_EQ(eventText(), QString("Ev:%1").arg(Events), TimeoutMs);
    ASSERT_EVENTUALLY(dialog->findChild<QPushButton*>("pushButtonStop")->isChecked(), TimeoutMs);
    EXPECT_EQ(curveValues(plot->curve(0)), rawSamples(Events - 1, SecondSerial, 0));
    selector->setCurrentIndex(0); // redraws use the last event drawn
    EXPECT_EQ(curveCount(), 128);
    EXPECT_EQ(curveValues(plot->curve(2)), rawSamples(Events - 1, FirstSerial, 2));

    // Closing stops the threads quickly and saves the settings.
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

TEST_F(MainWindowTest, LiveEventsAreDrawnTwiceASecondAtMostButListTheirBoards)
{
    openWindow();
    EventData second = events[1];
    second.devices.insert(0x1234, second.devices.first());
    second.devices[0x1234].serial = 0x1234;
    EventData empty;
    empty.evNum = 99;
    const auto show = [&](const EventData& event) { callSlot("showWaveform", "EventData", event); };
    QElapsedTimer sinceFirstDraw;
    sinceFirstDraw.start();
    show(events[0]);
    EXPECT_EQ(eventText(), "Ev:1");
    show(second);
    if (sinceFirstDraw.elapsed() < MainWindow::LiveDrawIntervalMs) { // not on a machine too slow to tell
        EXPECT_EQ(eventText(), "Ev:1");
    }
    auto* selector = part<QComboBox>("comboBoxSerial");
    ASSERT_EQ(selector->count(), 4);
    EXPECT_EQ(selector->itemText(3), "0x0000-1234 d9"); // listed on first sight, even undrawn

    QTest::qWait(MainWindow::LiveDrawIntervalMs + 50);
    show(second);
    EXPECT_EQ(eventText(), "Ev:2");
    EXPECT_EQ(curveName(plot->curve(0)), "1234:1");
    EXPECT_EQ(curveCount(), 3 * 64);
    QTest::qWait(MainWindow::LiveDrawIntervalMs + 50);
    show(empty); // an event without boards changes nothing
    EXPECT_EQ(eventText(), "Ev:2");
    EXPECT_EQ(curveCount(), 3 * 64);
}

TEST(MainWindowAbout, HeadingCarriesTheRevisionAfterItsLastColon)
{
    for (const auto& revision : QList<std::pair<QString, QString>>{
             {MainWindow::BuildRevision, "<h2>Version 1.0, rev. Unversioned directory</h2>"},
             {"1234:1250M", "<h2>Version 1.0, rev. 1250M</h2>"},
             {"1234:", "<h2>Version 1.0</h2>"}})
        EXPECT_TRUE(MainWindow::aboutText(revision.first).startsWith("<h1>Ravel-Viewer</h1>" + revision.second))
            << revision.first.toStdString();
}

TEST_F(MainWindowFixture, OnlyUsableProgramsAreOfferedAndTheSourceIsNotTakenTwice)
{
    openWindow();
    QAction* connectAction = action("actionConnect_to_data_source");
    for (ProgramType unusable : {QolProgram, ZelSystemProgram})
        callSlot("gotProgramDescription", "ProgramDescription",
                 program(unusable, {{unusable == QolProgram ? DataFlowInterface : MonitorDataFlowInterface, true}}));
    EXPECT_FALSE(connectAction->isEnabled());
    // A Nimbus program falls back to its free data flow.
    callSlot("gotProgramDescription", "ProgramDescription",
             program(NimbusProgram, {{MonitorDataFlowInterface, false}, {DataFlowInterface, true}}));
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
    EXPECT_EQ(logs.value(0), "[MW] change source from  # to Nimbus #1 (data flow)");
    EXPECT_EQ(logs.value(1), "[MW] change interface from :0 to 127.0.0.1:5002");
    EXPECT_EQ(sourceText(), "Nimbus #1 (data flow:0)");

    // The source again: refused, and the dialog comes back until cancelled.
    MessageLog messages;
    connectAction->trigger();
    EXPECT_TRUE(answers.isEmpty());
    EXPECT_EQ(messages.texts(QtWarningMsg).count("Selected program has no free interface"), 1);
    EXPECT_EQ(logs.size(), 2);
}

TEST_F(MainWindowTest, ShutdownWithAStuckWorkerEndsWithinTheSharedBudget)
{
    openWindow();
    auto* analyzerThread = part<QThread>("ADC analyzer");
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
            for (entered = true;;)
                QThread::msleep(20);
        },
        Qt::QueuedConnection);
    ASSERT_EVENTUALLY(entered.load(), TimeoutMs);

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
