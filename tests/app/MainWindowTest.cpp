// The real main window with its real reader and analyzer threads: a generated
// file is chosen through the playback dialog's signal, decoded on the worker
// threads and drawn; then the board, channel and baseline choices, playback,
// the options and shutdown are checked on what the window shows.
#include "app/ViewerSettings.h"
#include "datapath/DeviceSettings.h"
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"

#include "MainWindowFixture.h"
#include "tests/MessageLog.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_zoomer.h>
#include <qwt_series_data.h>

#include <atomic>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

namespace {

constexpr quint32 FirstSerial = 0x0A1B2C3D;
constexpr quint32 SecondSerial = FirstSerial + 1;
constexpr quint8 DeviceType = 0xD9;
constexpr int Events = 12;
// Stored baselines of the first board; the second board has none.
constexpr int BaselineCh0 = 100;
constexpr int BaselineCh5 = -7;

SampleGenerator::Options sampleOptions(int samples)
{
    SampleGenerator::Options options;
    options.seed = 7;
    options.boards = 2;
    options.channels = 64;
    options.samples = samples;
    options.firstSerial = FirstSerial;
    options.deviceType = DeviceType;
    return options;
}

QVector<EventData> generateEvents(int count, int samples)
{
    SampleGenerator generator(sampleOptions(samples));
    QVector<EventData> events;
    for (int i = 0; i < count; ++i)
        events << generator.nextEvent();
    return events;
}

QString curveName(const QwtPlotCurve* curve)
{
    return curve ? curve->title().text() : QString("<no curve>");
}

int attachedCurveCount(const WaveformPlot* plot)
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
        if (IsSkipped() || HasFatalFailure())
            return;
        // Signed codes as written below, baselines drawn.
        ViewerSettings stored;
        stored.adcRawDataSigned = true;
        stored.drawRelativeToBaseline = true;
        stored.saveSettings();
        storeBaselines();
        writeDataFile(256);
    }

    void storeBaselines()
    {
        QSettings store(QSettings::IniFormat, QSettings::UserScope, "Kelvane Electronics", "Ravel");
        store.beginGroup(DeviceSettings::groupName(DeviceType, FirstSerial));
        store.setValue("baseline.0", BaselineCh0);
        store.setValue("baseline.1", 0);
        store.setValue("baseline.5", BaselineCh5);
    }

    void writeDataFile(int samples)
    {
        events = generateEvents(Events, samples);
        dataFile = temp.folder() + "/sample.dat";
        QByteArray bytes;
        for (const EventData& event : qAsConst(events))
            EventEncoder::appendEvent(bytes, event, true);
        QFile file(dataFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    // What the dialog's file chooser does, down to the signal.
    void openFileAndWaitForFirstEvent()
    {
        openWindow();
        emit dialog->fileNameUpdated(dataFile);
        QTRY_COMPARE_WITH_TIMEOUT(label("eventLabel")->text(), QString("Ev:1"), DecodeTimeoutMs);
    }

    QVector<double> rawSamples(int event, quint32 serial, int channel) const
    {
        return events[event].devices[serial].channels[channel].samples;
    }

    void showDirectly(const EventData& event) { callSlot("showWaveform", "EventData", event); }

    QVector<EventData> events;
    QString dataFile;
};

TEST_F(MainWindowTest, ChosenFileIsDecodedAndEveryBoardDrawn)
{
    openFileAndWaitForFirstEvent();

    auto* selector = part<QComboBox>("comboBoxSerial");
    ASSERT_EQ(selector->count(), 3);
    EXPECT_EQ(selector->itemText(0), "All");
    EXPECT_FALSE(selector->itemData(0).isValid());
    EXPECT_EQ(selector->itemText(1), "0x0a1b-2c3d d9");
    EXPECT_EQ(selector->itemData(1).toUInt(), FirstSerial);
    EXPECT_EQ(selector->itemText(2), "0x0a1b-2c3e d9");

    // Two boards: indices 0..63 and 64..127 by channel key.
    EXPECT_EQ(attachedCurveCount(plot), 128);
    EXPECT_EQ(curveName(plot->curve(0)), "a1b2c3d:1(b)");
    EXPECT_EQ(curveName(plot->curve(1)), "a1b2c3d:2"); // stored baseline 0
    EXPECT_EQ(curveName(plot->curve(2)), "a1b2c3d:3"); // no stored baseline
    EXPECT_EQ(curveName(plot->curve(5)), "a1b2c3d:6(b)");
    EXPECT_EQ(curveName(plot->curve(63)), "a1b2c3d:64");
    EXPECT_EQ(curveName(plot->curve(64)), "a1b2c3e:1");
    EXPECT_EQ(curveName(plot->curve(127)), "a1b2c3e:64");

    EXPECT_EQ(curveValues(plot->curve(0)), minus(rawSamples(0, FirstSerial, 0), BaselineCh0));
    EXPECT_EQ(curveValues(plot->curve(5)), minus(rawSamples(0, FirstSerial, 5), BaselineCh5));
    EXPECT_EQ(curveValues(plot->curve(2)), rawSamples(0, FirstSerial, 2));
    EXPECT_EQ(curveValues(plot->curve(64)), rawSamples(0, SecondSerial, 0));

    QSettings viewerStore;
    EXPECT_EQ(viewerStore.value("Main/lastFile").toString(), dataFile);
}

TEST_F(MainWindowTest, ChannelRangeBoxesBoundEachOtherAndLimitTheCurves)
{
    openFileAndWaitForFirstEvent();
    auto* low = part<QSpinBox>("spinBoxChLow");
    auto* high = part<QSpinBox>("spinBoxChHi");

    low->setValue(10);
    EXPECT_EQ(high->minimum(), 10);
    EXPECT_EQ(attachedCurveCount(plot), 2 * 54);
    EXPECT_FALSE(plot->isCurveAttached(9));
    EXPECT_TRUE(plot->isCurveAttached(10));

    high->setValue(20);
    EXPECT_EQ(low->maximum(), 20);
    EXPECT_EQ(attachedCurveCount(plot), 2 * 11);
    EXPECT_TRUE(plot->isCurveAttached(64 + 20));
    EXPECT_FALSE(plot->isCurveAttached(64 + 21));

    high->setValue(5); // below the low bound: held at 10
    EXPECT_EQ(high->value(), 10);
    EXPECT_EQ(attachedCurveCount(plot), 2);
}

TEST_F(MainWindowTest, OneBoardAloneGetsCurveIndicesFromZero)
{
    openFileAndWaitForFirstEvent();
    auto* selector = part<QComboBox>("comboBoxSerial");

    selector->setCurrentIndex(2);
    EXPECT_EQ(attachedCurveCount(plot), 64);
    EXPECT_EQ(curveName(plot->curve(0)), "a1b2c3e:1");
    EXPECT_FALSE(plot->isCurveAttached(64));
    EXPECT_EQ(curveValues(plot->curve(0)), rawSamples(0, SecondSerial, 0));

    selector->setCurrentIndex(0);
    EXPECT_EQ(attachedCurveCount(plot), 128);
    EXPECT_EQ(curveName(plot->curve(0)), "a1b2c3d:1(b)");
}

TEST_F(MainWindowTest, BaselineOptionRedrawsFromRawSamplesAndIsSaved)
{
    openFileAndWaitForFirstEvent();
    QAction* relative = action("actionDraw_relative_to_baseline");
    ASSERT_TRUE(relative->isChecked());

    for (int round = 0; round < 2; ++round) {
        relative->trigger(); // off
        EXPECT_EQ(curveName(plot->curve(0)), "a1b2c3d:1");
        EXPECT_EQ(curveValues(plot->curve(0)), rawSamples(0, FirstSerial, 0));
        EXPECT_FALSE(QSettings().value("Main/drawRelativeToBaseline").toBool());

        relative->trigger(); // on again: subtracted once, not twice
        EXPECT_EQ(curveName(plot->curve(0)), "a1b2c3d:1(b)");
        EXPECT_EQ(curveValues(plot->curve(0)), minus(rawSamples(0, FirstSerial, 0), BaselineCh0));
        EXPECT_TRUE(QSettings().value("Main/drawRelativeToBaseline").toBool());
    }
}

TEST_F(MainWindowTest, StoredBaselinesAreReadOncePerBoard)
{
    openFileAndWaitForFirstEvent();
    // A change of the store after the board was first seen is not read.
    QSettings store(QSettings::IniFormat, QSettings::UserScope, "Kelvane Electronics", "Ravel");
    store.setValue(DeviceSettings::groupName(DeviceType, FirstSerial) + "/baseline.0", 5000);
    store.sync();
    part<QSpinBox>("spinBoxChHi")->setValue(3);
    EXPECT_EQ(curveValues(plot->curve(0)), minus(rawSamples(0, FirstSerial, 0), BaselineCh0));
}

TEST_F(MainWindowTest, PlayingForwardDrawsUpToTheLastRecordAndStops)
{
    openFileAndWaitForFirstEvent();
    auto* forward = dialog->findChild<QPushButton*>("pushButtonForward");
    auto* stop = dialog->findChild<QPushButton*>("pushButtonStop");
    ASSERT_TRUE(forward && stop);

    forward->click();
    QTRY_COMPARE_WITH_TIMEOUT(label("eventLabel")->text(), QString("Ev:%1").arg(Events), DecodeTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(stop->isChecked(), DecodeTimeoutMs);
    EXPECT_EQ(curveValues(plot->curve(64)), rawSamples(Events - 1, SecondSerial, 0));

    // Redraws use the last event drawn.
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
    auto* record = dialog->findChild<QSpinBox*>("spinBoxCurEvent");
    plot->zoomer()->zoom(QRectF(10, -100, 50, 200));
    const void* first = plot->curve(0)->data();
    PaintedData paints(plot);

    record->setValue(2);
    QTRY_COMPARE_WITH_TIMEOUT(label("eventLabel")->text(), QString("Ev:2"), DecodeTimeoutMs);
    const void* second = plot->curve(0)->data();
    ASSERT_NE(second, first);
    QTest::qWait(100);
    EXPECT_TRUE(paints.painted.contains(first));
    EXPECT_FALSE(paints.painted.contains(second));

    plot->zoomer()->zoom(0); // back at the base, a draw shows its own curves
    record->setValue(3);
    QTRY_COMPARE_WITH_TIMEOUT(label("eventLabel")->text(), QString("Ev:3"), DecodeTimeoutMs);
    EXPECT_TRUE(paints.painted.contains(plot->curve(0)->data()));
}

TEST_F(MainWindowTest, LiveEventsAreDrawnTwiceASecondAtMostButListTheirBoards)
{
    openWindow();
    EventData first = events[0];
    EventData second = events[1];
    second.devices.insert(0x1234, second.devices.first());
    second.devices[0x1234].serial = 0x1234;

    showDirectly(first);
    EXPECT_EQ(label("eventLabel")->text(), "Ev:1");
    showDirectly(second); // within 500 ms of the first draw
    EXPECT_EQ(label("eventLabel")->text(), "Ev:1");
    auto* selector = part<QComboBox>("comboBoxSerial");
    ASSERT_EQ(selector->count(), 4);
    EXPECT_EQ(selector->itemText(3), "0x0000-1234 d9"); // appended on first sight, even undrawn

    QTest::qWait(MainWindow::LiveDrawIntervalMs + 50);
    showDirectly(second);
    EXPECT_EQ(label("eventLabel")->text(), "Ev:2");
    EXPECT_EQ(curveName(plot->curve(0)), "1234:1");
    EXPECT_EQ(attachedCurveCount(plot), 3 * 64);
}

TEST_F(MainWindowTest, EventWithoutBoardsChangesNothing)
{
    openFileAndWaitForFirstEvent();
    EventData empty;
    empty.evNum = 99;
    showDirectly(empty);
    EXPECT_EQ(label("eventLabel")->text(), "Ev:1");
    EXPECT_EQ(attachedCurveCount(plot), 128);
}

TEST_F(MainWindowTest, MenusOptionsAndLogShortcut)
{
    openWindow();
    EXPECT_EQ(window->windowTitle(), QCoreApplication::applicationName());
    EXPECT_FALSE(action("actionOutput")->isEnabled());
    EXPECT_FALSE(action("actionConnect_to_data_source")->isEnabled());
    // Restored from the stored settings written by SetUp.
    EXPECT_TRUE(action("actionADC_raw_data_signed")->isChecked());

    EXPECT_FALSE(action("actionOutput")->isEnabled());

    auto* log = window->findChild<QDialog*>("LogDialog");
    ASSERT_NE(log, nullptr);
    EXPECT_FALSE(log->isVisible());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_L, Qt::ControlModifier);
    QTRY_VERIFY(log->isVisible());
}

TEST_F(MainWindowTest, AdcSignedOptionIsSavedAndReachesTheAnalyzer)
{
    openFileAndWaitForFirstEvent();
    action("actionADC_raw_data_signed")->trigger(); // off: codes read as unsigned
    EXPECT_FALSE(QSettings().value("Main/adcRawDataSigned").toBool());

    dialog->findChild<QSpinBox*>("spinBoxCurEvent")->setValue(2);
    QTRY_COMPARE_WITH_TIMEOUT(label("eventLabel")->text(), QString("Ev:2"), DecodeTimeoutMs);
    const QVector<double> shown = curveValues(plot->curve(2));
    const QVector<double> signedValues = rawSamples(1, FirstSerial, 2);
    ASSERT_EQ(shown.size(), signedValues.size());
    for (int i = 0; i < shown.size(); ++i)
        ASSERT_EQ(qAbs(shown[i] - signedValues[i]), 32768.0) << "sample " << i;
}

TEST_F(MainWindowTest, FirstStartUsesTheSmallestPlaybackIntervalAndSavesIt)
{
    openWindow();
    auto* interval = dialog->findChild<QSpinBox*>("spinBoxInterval");
    ASSERT_NE(interval, nullptr);
    EXPECT_EQ(interval->value(), 10);
    EXPECT_EQ(QSettings().value("Main/playbackInterval").toInt(), 10);
}

// Writes the picture of the window kept in the documentation when
// RAVEL_SCREENSHOT names the file: one board of 64 channels x 1024 samples.
TEST_F(MainWindowTest, Screenshot)
{
    const QString target = qEnvironmentVariable("RAVEL_SCREENSHOT");
    if (target.isEmpty())
        GTEST_SKIP() << "set RAVEL_SCREENSHOT=FILE.png to write the screenshot";
    writeDataFile(1024);
    openFileAndWaitForFirstEvent();
    dialog->hide();
    window->resize(1200, 700);
    part<QComboBox>("comboBoxSerial")->setCurrentIndex(1);
    EXPECT_EQ(attachedCurveCount(plot), 64);
    QTest::qWait(200);
    EXPECT_TRUE(window->grab().save(target));
}

TEST(MainWindowAbout, HeadingCarriesTheRevisionAfterItsLastColon)
{
    EXPECT_TRUE(MainWindow::aboutText(MainWindow::BuildRevision)
                    .startsWith("<h1>Ravel-Viewer</h1><h2>Version 1.0, rev. Unversioned directory</h2>"));
    EXPECT_TRUE(
        MainWindow::aboutText("1234:1250M").startsWith("<h1>Ravel-Viewer</h1><h2>Version 1.0, rev. 1250M</h2>"));
    EXPECT_TRUE(MainWindow::aboutText("1234:").startsWith("<h1>Ravel-Viewer</h1><h2>Version 1.0</h2>"));
}

TEST_F(MainWindowTest, ClosingSavesGeometryAndStopsTheThreadsQuickly)
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
    // So are the workers of that thread, reachable from it.
    __lsan_ignore_object(stuck);
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
    QTRY_VERIFY_WITH_TIMEOUT(entered.load(), DecodeTimeoutMs);

    MessageLog messages;
    QElapsedTimer clock;
    clock.start();
    window.reset();
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, MainWindow::ThreadStopBudgetMs - 100);
    EXPECT_LT(elapsed, MainWindow::ThreadStopBudgetMs + 1500);
    EXPECT_TRUE(messages.contains(QtWarningMsg, "Can't stop analyzer thread"));
    EXPECT_TRUE(messages.contains(QtDebugMsg, "thread isn't stopped"));
    EXPECT_FALSE(messages.contains(QtWarningMsg, "Can't stop file reader thread"));
}

} // namespace
