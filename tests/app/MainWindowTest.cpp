// The real main window with its reader and analyzer threads: a generated file
// chosen through the playback dialog's signal is decoded and drawn with the
// board, channel and baseline choices, its features logged and its plots
// saved as pictures; the source program choice; shutdown.
#include "datapath/DeviceSettings.h"
#include "datapath/RootWriter.h"
#include "pnp/AddPnpDialog.h"
#include "pnp/ProgramType.h"

#include "tests/MessageLog.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/tools/RunTool.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImage>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSpinBox>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QXmlStreamReader>
#include <qwt_plot_curve.h>

#include <atomic>
#include <functional>
#include <numeric>
#include <utility>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

namespace {

constexpr quint32 FirstSerial = 0x0A1B2C3D;
constexpr quint32 SecondSerial = FirstSerial + 1;
constexpr int Events = 12;
constexpr int BaselineCh0 = 100; // stored for the first board only, with ch5 = -7

QVector<double> curveValues(const QwtPlotCurve* curve, double plusBaseline = 0)
{
    QVector<double> values;
    for (size_t i = 0; i < curve->dataSize(); ++i)
        values << curve->sample(int(i)).y() + plusBaseline;
    return values;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// Answers the file dialog the window shows with a name, or cancels it when
// the name is empty.
void answerFileDialog(QWidget* window, const QString& name)
{
    QFileDialog* chooser = nullptr;
    for (QFileDialog* open : window->findChildren<QFileDialog*>())
        chooser = open->isVisible() ? open : chooser;
    ASSERT_NE(chooser, nullptr);
    if (name.isEmpty())
        return chooser->reject();
    chooser->selectFile(name);
    static_cast<QDialog*>(chooser)->accept(); // QFileDialog::accept, as its button calls it
}

bool isXml(const QByteArray& text)
{
    QXmlStreamReader reader(text);
    while (!reader.atEnd())
        reader.readNext();
    return !reader.hasError();
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
        store.beginGroup(DeviceSettings::groupName(0xD9, FirstSerial)); // the generator's device type
        store.setValue("baseline.0", BaselineCh0);
        store.setValue("baseline.5", -7);
        events = writeDataFile(Events, 2, 64, 256, FirstSerial);
        openWindow();
        emit dialog->fileNameUpdated(dataFile);
        ASSERT_EVENTUALLY_EQ(eventText(), QString("Ev:1"), TimeoutMs);
    }
    QVector<double> rawSamples(int event, quint32 serial, int channel) const
    {
        return events[event].devices[serial].channels[channel].samples;
    }
    int curveCount() const { return plot->itemList(QwtPlotItem::Rtti_PlotCurve).size(); }

    QVector<EventData> events;
};

TEST_F(MainWindowTest, ChosenFileIsDecodedDrawnRelativeToBaselinesPlayedAndClosed)
{
    EXPECT_EQ(part<QComboBox>("comboBoxSerial")->itemText(1), "0x0a1b-2c3d d9");
    // Two boards: indices 0..63 and 64..127; "(b)" marks a non-zero stored baseline.
    EXPECT_EQ(curveCount(), 128);
    for (const auto& name : QList<std::pair<int, QString>>{{0, "a1b2c3d:1(b)"}, {1, "a1b2c3d:2"}, {127, "a1b2c3e:64"}})
        EXPECT_EQ(plot->curve(name.first)->title().text(), name.second);
    EXPECT_EQ(curveValues(plot->curve(5), -7), rawSamples(0, FirstSerial, 5));
    EXPECT_EQ(curveValues(plot->curve(64)), rawSamples(0, SecondSerial, 0));

    // Redrawn from raw samples when the option changes: subtracted once, not
    // twice; baselines are read once per board.
    QSettings devices(QSettings::IniFormat, QSettings::UserScope, "Kelvane Electronics", "Ravel");
    devices.setValue(DeviceSettings::groupName(0xD9, FirstSerial) + "/baseline.0", 5000);
    devices.sync();
    QAction* relative = action("actionDraw_relative_to_baseline");
    relative->trigger();
    EXPECT_EQ(curveValues(plot->curve(0)), rawSamples(0, FirstSerial, 0));
    EXPECT_FALSE(QSettings().value("Main/drawRelativeToBaseline").toBool());
    relative->trigger();
    EXPECT_EQ(curveValues(plot->curve(0), BaselineCh0), rawSamples(0, FirstSerial, 0));

    part<QSpinBox>("spinBoxChLow")->setValue(10);
    EXPECT_EQ(curveCount(), 2 * 54);
    part<QSpinBox>("spinBoxChLow")->setValue(0);
    part<QComboBox>("comboBoxSerial")->setCurrentIndex(2); // one board alone gets indices from 0
    EXPECT_EQ(plot->curve(0)->title().text(), "a1b2c3e:1");

    dialog->findChild<QPushButton*>("pushButtonForward")->click();
    ASSERT_EVENTUALLY(dialog->findChild<QPushButton*>("pushButtonStop")->isChecked(), TimeoutMs);
    ASSERT_EVENTUALLY_EQ(eventText(), QString("Ev:%1").arg(Events), TimeoutMs);
    EXPECT_EQ(curveValues(plot->curve(0)), rawSamples(Events - 1, SecondSerial, 0));
    // A source program that connects while the file plays stops the playback.
    dialog->findChild<QPushButton*>("pushButtonBackward")->click();
    callSlot("tcpConnected", "bool", true);
    EXPECT_TRUE(dialog->findChild<QPushButton*>("pushButtonStop")->isChecked());

    // Closing, outside the event loop as the process entry does, stops the
    // threads quickly (discovery's included) and saves the settings.
    MessageLog messages;
    QElapsedTimer clock;
    clock.start();
    window.reset();
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_TRUE(threadsNamedComeTo("multicast", 0));
    EXPECT_TRUE(messages.warnings().isEmpty()) << messages.warnings().join("\n").toStdString();
    QSettings store;
    EXPECT_FALSE(store.value("MainWindow/geometry").toByteArray().isEmpty());
    EXPECT_EQ(store.value("Main/lastFile").toString(), dataFile);
    EXPECT_EQ(store.value("Main/playbackInterval").toInt(), 10); // none stored: the smallest
}

TEST_F(MainWindowTest, OutputLogsTheFeaturesOfEveryDecodedBoardUntilCancelled)
{
    const QString log = temp.folder() + "/features.csv";
    action("actionOutput")->trigger();
    answerFileDialog(window.get(), log);
    QLabel* status = part("outputLabel");
    EXPECT_EQ(status->text(), "Feature log features.csv: 0 lines");

    dialog->findChild<QPushButton*>("pushButtonForward")->click();
    ASSERT_EVENTUALLY_EQ(eventText(), QString("Ev:%1").arg(Events), TimeoutMs);
    const QRegularExpression shown("^Feature log features.csv: (\\d+) lines");
    const auto linesShown = [&] { return shown.match(status->text()).captured(1).toInt(); };
    ASSERT_EVENTUALLY(linesShown() >= (Events - 1) * 2 * 64, TimeoutMs); // the played records
    QTest::qWait(2 * RootWriter::FlushIntervalMs);                       // the count after the last record
    const int lines = linesShown();

    action("actionOutput")->trigger();
    answerFileDialog(window.get(), QString()); // cancelled: closed
    EXPECT_EQ(status->text(), "");
    const QList<QByteArray> written = contents(log).split('\n');
    EXPECT_EQ(written.first(), "evNum,serial,type,channel,baseline,noise,amplitude,peak,integral");
    EXPECT_EQ(written.size() - 2, lines); // after the header, before the final line end
    EXPECT_TRUE(written[written.size() - 2].startsWith(QByteArray::number(Events) + ",")) << written.size();
}

TEST_F(MainWindowTest, SavePlotWritesThePlotOnScreenInTheFormatOfItsSuffix)
{
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    const QString png = temp.folder() + "/waveform.png";
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    answerFileDialog(window.get(), png);
    const QImage image(png);
    EXPECT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), plot->size());

    part<QTabWidget>("tabWidget")->setCurrentIndex(1); // the histogram
    for (const char* name : {"histogram.svg", "histogram.pdf", "histogram.bmp"}) {
        action("actionSave_plot_as")->trigger();
        answerFileDialog(window.get(), temp.folder() + "/" + QString(name));
    }
    EXPECT_TRUE(isXml(contents(temp.folder() + "/histogram.svg")));
    EXPECT_TRUE(contents(temp.folder() + "/histogram.pdf").startsWith("%PDF"));
    EXPECT_FALSE(QFile::exists(temp.folder() + "/histogram.bmp"));
    EXPECT_EQ(logs.last(), "[MW] can't save plot: unknown picture format \"bmp\"; use .png, .svg or .pdf");
}

// Measured on the file by ravel-baselines into the default store, the
// baselines bring every drawn channel to about zero.
TEST_F(MainWindowFixture, BaselinesOfRavelBaselinesDrawEveryChannelAroundZero)
{
    ViewerSettings stored;
    stored.adcRawDataSigned = stored.drawRelativeToBaseline = true;
    stored.saveSettings();
    writeDataFile(Events, 2, 64, 256, FirstSerial);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", temp.folder());
    runTool("ravel-baselines", {dataFile}, 0, environment);
    openWindow();
    emit dialog->fileNameUpdated(dataFile);
    ASSERT_EVENTUALLY_EQ(eventText(), QString("Ev:1"), TimeoutMs);

    ASSERT_EQ(plot->itemList(QwtPlotItem::Rtti_PlotCurve).size(), 128);
    // Stored baselines lie within +-400 codes; the mean of a channel's 32
    // leading samples strays by up to about 9 codes on its noisiest channels.
    for (int key = 0; key < 128; ++key) {
        const QVector<double> values = curveValues(plot->curve(key)).mid(0, 32); // before any pulse
        EXPECT_NEAR(std::accumulate(values.cbegin(), values.cend(), 0.0) / values.size(), 0.0, 10.0) << key;
    }
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

// A program of this type offering one interface (type, free) per port from 5001.
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

TEST_F(MainWindowFixture, OnlyUsableProgramsAreOfferedTheSourceIsNotTakenTwiceAndIsFollowed)
{
    openWindow();
    QAction* connectAction = action("actionConnect_to_data_source");
    for (ProgramType unusable : {QolProgram, ZelSystemProgram}) // a Qol program needs its monitor output
        callSlot("gotProgramDescription", "ProgramDescription", program(unusable, {{DataFlowInterface, true}}));
    // A disabled interface, one without a port, a program without an index.
    QList<ProgramDescription> unusable;
    for (int i = 0; i < 3; ++i)
        unusable << program(QolProgram, {{MonitorDataFlowInterface, true}});
    unusable[0].interfaces[0].enabled = false;
    unusable[1].index = "2";
    unusable[1].interfaces[0].port = 0;
    unusable[2].index = "";
    for (const ProgramDescription& description : qAsConst(unusable))
        callSlot("gotProgramDescription", "ProgramDescription", description);
    EXPECT_FALSE(connectAction->isEnabled());
    // A Nimbus program falls back to its free data flow.
    ProgramDescription nimbus = program(NimbusProgram, {{MonitorDataFlowInterface, true}, {DataFlowInterface, true}});
    nimbus.interfaces[0].enabled = false;
    callSlot("gotProgramDescription", "ProgramDescription", nimbus);
    ASSERT_TRUE(connectAction->isEnabled());

    // Answers the source program dialog each time it comes up (true: OK),
    // after `beforeAnswer` when one is set.
    QList<bool> answers{true, true, false};
    std::function<void(AddPnpDialog*)> beforeAnswer;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* chooser = qobject_cast<AddPnpDialog*>(QApplication::activeModalWidget());
        if (!chooser || !chooser->isVisible() || answers.isEmpty())
            return;
        if (beforeAnswer)
            std::exchange(beforeAnswer, nullptr)(chooser);
        answers.takeFirst() ? chooser->accept() : chooser->reject();
    });
    poll.start(10);
    // The program moves while the dialog is open: its new endpoint is taken.
    ProgramDescription moved = nimbus;
    moved.interfaces[1].port = 5003;
    beforeAnswer = [&](AddPnpDialog*) { callSlot("gotProgramDescription", "ProgramDescription", moved); };
    connectAction->trigger();
    EXPECT_EQ(logs.value(1), "[MW] change interface from :0 to 127.0.0.1:5003");
    EXPECT_EQ(sourceText(), "Nimbus #1 (data flow:0)");

    // The source again: refused, and the dialog comes back until cancelled.
    MessageLog messages;
    connectAction->trigger();
    EXPECT_TRUE(answers.isEmpty());
    EXPECT_EQ(messages.warnings().count("Selected program has no free interface"), 1);
    EXPECT_EQ(logs.size(), 2);

    // One announcement without the interface stops the client; the next
    // one with it connects again.
    ProgramDescription withoutIt = nimbus;
    withoutIt.interfaces.removeLast();
    callSlot("gotProgramDescription", "ProgramDescription", withoutIt);
    callSlot("gotProgramDescription", "ProgramDescription", nimbus);
    EXPECT_EQ(logs.mid(2), QStringList({"[MW] change interface from 127.0.0.1:5003 to :0",
                                        "[MW] change interface from :0 to 127.0.0.1:5002"}));
    EXPECT_EQ(sourceText(), "Nimbus #1 (data flow:0)");

    // Another program now serves the same endpoint: choosing it changes no
    // connection, but the label names it.
    ProgramDescription successor = program(QolProgram, {{MonitorDataFlowInterface, true}});
    successor.index = "5";
    successor.interfaces[0].port = 5002;
    callSlot("gotProgramDescription", "ProgramDescription", successor);
    answers = {true};
    beforeAnswer = [](AddPnpDialog* chooser) {
        chooser->findChild<QComboBox*>("comboBoxType")->setCurrentText("Qol");
        chooser->findChild<QComboBox*>("comboBoxIndex")->setCurrentText("5");
    };
    connectAction->trigger();
    EXPECT_EQ(logs.size(), 5); // the change of source only
    EXPECT_EQ(sourceText(), "Qol #5 (Monitor output data flow:0)");

    // A file chosen in the playback dialog, still open from before: the file
    // plays alone.
    writeDataFile(1, 1, 4, 64, FirstSerial);
    emit dialog->fileNameUpdated(dataFile);
    EXPECT_EQ(logs.last(), "[MW] disconnect from 127.0.0.1:5002");
    EXPECT_EQ(sourceText(), "no connection");
}

// The client may be inside a connect attempt's wait when a file is chosen:
// the window goes on, and the playback dialog opens once the client is done.
TEST_F(MainWindowFixture, SetSourceFileWaitsForTheClientWithoutBlockingTheWindow)
{
    openWindow();
    auto* tcpThread = part<QThread>("TcpClient thread");
    ASSERT_NE(tcpThread, nullptr);
    auto* busy = new QObject;
    busy->moveToThread(tcpThread);
    QSemaphore done;
    static std::atomic<bool> entered; // static: set only atomically, as the sanitizer cannot see Qt's handoff
    entered = false;
    QMetaObject::invokeMethod(busy, [&] {
        entered = true;
        done.tryAcquire(1, TimeoutMs); // bounded: a window that blocks fails below instead of hanging
    });
    ASSERT_EVENTUALLY(entered.load(), TimeoutMs);

    QElapsedTimer clock;
    clock.start();
    action("actionSet_source_file")->trigger();
    EXPECT_LT(clock.elapsed(), TimeoutMs / 2);
    QTest::qWait(50);
    EXPECT_FALSE(dialog->isVisible());
    done.release();
    ASSERT_EVENTUALLY(dialog->isVisible(), TimeoutMs);
    busy->deleteLater();
}

TEST_F(MainWindowFixture, ShutdownWithAStuckWorkerEndsWithinTheSharedBudget)
{
    openWindow();
    auto* analyzerThread = part<QThread>("ADC analyzer");
    ASSERT_NE(analyzerThread, nullptr);
    auto* stuck = new QObject; // left behind on purpose: its thread is terminated under it
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
