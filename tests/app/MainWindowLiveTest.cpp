// The main window against real ravel-daq-sim child processes: a saved choice
// resumed and drawn thinned, a port move, a killed program coming back, and the
// source program dialog: another program while connected, a disconnect and a
// file source while live, each closing the data connection; the histogram tab
// filled from the live stream.
#include "app/HistMngrWidget.h"
#include "datapath/TcpClient.h"
#include "pnp/AddPnpDialog.h"
#include "tests/tools/SimProcess.h"
#include "vell/VellPlot.h"

#include "tests/MessageLog.h"
#include "tests/app/MainWindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <qwt_plot_item.h>

namespace {

constexpr int LiveTimeoutMs = 30000;

class MainWindowLiveTest : public MainWindowFixture {
protected:
    // Small events at 20 per second, ten times what the window draws, under a
    // program index no other test of the namespace announces.
    static std::unique_ptr<SimProcess> startSim(const QString& type, const char* tag, const QStringList& more = {})
    {
        auto sim = std::make_unique<SimProcess>();
        EXPECT_TRUE(sim->start(QStringList{"--type", type, "--index", index(tag), "--name", QString("sim ") + tag,
                                           "--boards", "1", "--channels", "8", "--samples", "256", "--rate", "20"}
                               + more));
        return sim;
    }
    static QString index(const char* tag) { return QString::number(QCoreApplication::applicationPid()) + tag; }

    // Waits for "[MW] change interface from FROM to HOST:TO"; returns HOST.
    QString waitForInterfaceChange(const QString& from, quint16 to)
    {
        const QRegularExpression line(QString("^\\[MW\\] change interface from %1 to ([\\d.]+):%2$")
                                          .arg(QRegularExpression::escape(from))
                                          .arg(to));
        EXPECT_TRUE(waitUntil([&] { return !logs.filter(line).isEmpty(); }, LiveTimeoutMs))
            << line.pattern().toStdString() << " not among:\n"
            << logs.join('\n').toStdString();
        return line.match(logs.filter(line).value(0)).captured(1);
    }

    // Connected (dark green), then this many further draws, as (ms, event
    // number): draws are half a second apart, so polling misses none.
    QVector<std::pair<qint64, quint32>> waitForDraws(int count = 2)
    {
        QVector<std::pair<qint64, quint32>> draws;
        EXPECT_TRUE(waitUntil([&] { return sourceStyle() == Connected; }, LiveTimeoutMs));
        QElapsedTimer clock;
        clock.start();
        QString last = eventText();
        EXPECT_TRUE(waitUntil(
            [&] {
                if (eventText() != last)
                    draws.append({clock.elapsed(), (last = eventText()).mid(3).toUInt()});
                return draws.size() >= count;
            },
            LiveTimeoutMs))
            << "drawing did not resume: " << draws.size() << " draws";
        return draws;
    }

    // Waits until the simulator has written this many lines containing the text.
    static bool waitForLines(SimProcess& sim, const QString& text, int count, int timeoutMs = LiveTimeoutMs)
    {
        return waitUntil([&] { return sim.lines().filter(text).size() >= count; }, timeoutMs);
    }

    // The dialog lists what was discovered when it opens: it is asked again
    // (and cancelled) until it lists the program, which is then taken.
    bool chooseInDialog(const QString& type, const QString& index)
    {
        bool picked = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* chooser = qobject_cast<AddPnpDialog*>(QApplication::activeModalWidget());
            if (!chooser || !chooser->isVisible())
                return;
            chooser->findChild<QComboBox*>("comboBoxType")->setCurrentText(type);
            chooser->findChild<QComboBox*>("comboBoxIndex")->setCurrentText(index);
            picked = chooser->selectedProgram().type == type && chooser->selectedProgram().index == index;
            picked ? chooser->accept() : chooser->reject();
        });
        poll.start(10);
        QAction* connectAction = action("actionConnect_to_data_source");
        return waitUntil(
            [&] {
                if (connectAction->isEnabled())
                    connectAction->trigger(); // returns once the dialog is answered
                return picked;
            },
            LiveTimeoutMs);
    }
};

TEST_F(MainWindowLiveTest, ResumesASavedChoiceFollowsAMovedPortAndAProgramThatDiesAndComesBack)
{
    auto sim = startSim("Nimbus", "m");
    saveChoice("Nimbus", index("m"));
    openWindow();
    EXPECT_EQ(sourceText(), "Nimbus #" + index("m") + " (Monitor output data flow:0)");
    const quint16 firstPort = sim->port();
    const QString host = waitForInterfaceChange(":0", firstPort); // unknown until the program is seen
    // Four gaps of at least half a second (polling may see one late, the next on time).
    const auto draws = waitForDraws(5);
    ASSERT_EQ(draws.size(), 5);
    EXPECT_GE(draws.last().first - draws.first().first, 4 * MainWindow::LiveDrawIntervalMs - 100);
    EXPECT_GT(draws.last().second - draws.first().second, 8u) << "events were not thinned";
    const QString bytes = part("tcpStatusLabel")->text();
    EXPECT_TRUE(QRegularExpression("^tcp:[1-9]\\d* bytes$").match(bytes).hasMatch()) << bytes.toStdString();

    // A move drops the connection and announces the new port.
    sim->command("move");
    ASSERT_TRUE(sim->waitForLine("moved from port"));
    const quint16 droppedPort = sim->port();
    waitForInterfaceChange(QString("%1:%2").arg(host).arg(firstPort), droppedPort);
    ASSERT_TRUE(waitForLines(*sim, "client connected: ", 2));
    waitForDraws();

    // A move announced while the old connection stays open: the viewer
    // closes that one itself and follows within 2 s (4 s here).
    sim->command("move 0 keep");
    ASSERT_TRUE(sim->waitForLine("clients kept"));
    QElapsedTimer moved;
    moved.start();
    const quint16 movedPort = sim->port();
    ASSERT_TRUE(waitForLines(*sim, "client connected: ", 3, 4000));
    ASSERT_TRUE(waitForLines(*sim, "client finished: ", 1, 4000)) << "the old connection stays open";
    EXPECT_LT(moved.elapsed(), 4000);
    waitForInterfaceChange(QString("%1:%2").arg(host).arg(droppedPort), movedPort);
    waitForDraws();

    // Killed: no close message, the connection is refused from then on; the
    // first refusal is reported once.
    MessageLog messages;
    const auto refusals = [&] { return messages.texts(QtDebugMsg).count("The connection was refused by the peer"); };
    sim->process.kill();
    ASSERT_TRUE(sim->process.waitForFinished(LiveTimeoutMs));
    ASSERT_TRUE(waitUntil([&] { return refusals() >= 2; }, LiveTimeoutMs));
    EXPECT_EQ(sourceStyle(), NotConnected);
    EXPECT_EQ(messages.count(QString("TcpClient can't connect to %1:%2").arg(host).arg(movedPort)), 1);

    // Back on the same port: found by the next retry.
    sim = startSim("Nimbus", "m", {"--port", QString::number(movedPort)});
    QElapsedTimer back;
    back.start();
    ASSERT_EVENTUALLY_EQ(sourceStyle(), QString(Connected), LiveTimeoutMs);
    EXPECT_LT(back.elapsed(), 12000);
    waitForDraws();
}

TEST_F(MainWindowLiveTest, HistogramTabFillsFromTheLiveStream)
{
    auto sim = startSim("Nimbus", "h");
    saveChoice("Nimbus", index("h"));
    openWindow();
    part<QTabWidget>("tabWidget")->setCurrentWidget(part<QWidget>("tabHistogram"));
    auto* histograms = part<HistMngrWidget>("widgetHistMngr");
    // Every event reaches the histograms, not only the drawn ones.
    ASSERT_EVENTUALLY(histograms->histograms().histogrammed() >= 40, LiveTimeoutMs);
    auto* plot = part<VellPlot>("qwtPlotHists");
    auto* types = part<QComboBox>("comboBoxType");
    for (int type = 0; type < types->count(); ++type) {
        SCOPED_TRACE(types->itemText(type).toStdString());
        types->setCurrentIndex(type);
        const auto filled = [plot] {
            const QwtPlotItemList items = plot->itemList();
            return std::any_of(items.cbegin(), items.cend(), [](const QwtPlotItem* item) {
                const QRectF bounds = item->boundingRect();
                return item->isVisible() && (bounds.width() > 0 || bounds.height() > 0);
            });
        };
        EXPECT_TRUE(filled());
    }
    EXPECT_EQ(part<QComboBox>("comboBoxBoard")->currentText().toUInt(), histograms->histograms().serials().value(0));
    EXPECT_FALSE(part<QLabel>("labelCounts")->text().startsWith("Boards histogrammed: 0"));
}

// Each change of source closes the data connection that served the old one
// within 1 s (3 s here); a closed connection brings no more data.
TEST_F(MainWindowLiveTest, AnotherProgramDisconnectAndAFileSourceEachCloseTheConnection)
{
    auto nimbus = startSim("Nimbus", "a");
    auto qol = startSim("Qol", "b");
    openWindow();

    ASSERT_TRUE(chooseInDialog("Qol", index("b")));
    EXPECT_EQ(logs.value(0), "[MW] change source from  # to sim b (Monitor output data flow)");
    const QString host = waitForInterfaceChange(":0", qol->port());
    waitForDraws();

    // Another program, chosen while connected: the connection moves to it.
    ASSERT_TRUE(chooseInDialog("Nimbus", index("a")));
    QElapsedTimer clock;
    clock.start();
    waitForInterfaceChange(QString("%1:%2").arg(host).arg(qol->port()), nimbus->port());
    ASSERT_TRUE(waitForLines(*nimbus, "client connected: ", 1, 3000));
    ASSERT_TRUE(waitForLines(*qol, "client finished: ", 1, 3000));
    EXPECT_LT(clock.elapsed(), 3000);
    waitForDraws();

    // Disconnect: red at once, the byte count stops, no attempt follows.
    action("actionDisconnect_from_program")->trigger();
    EXPECT_EQ(logs.last(), QString("[MW] disconnect from %1:%2").arg(host).arg(nimbus->port()));
    EXPECT_EQ(sourceText(), "no connection");
    EXPECT_EQ(QSettings().value("SelectedProgram/type").toString(), "");
    ASSERT_TRUE(waitForLines(*nimbus, "client finished: ", 1, 3000));
    ASSERT_EVENTUALLY_EQ(sourceStyle(), QString(NotConnected), 3000);
    QTest::qWait(2 * TcpClient::StatusIntervalMs);
    const QString bytes = part("tcpStatusLabel")->text();
    QTest::qWait(3 * TcpClient::StatusIntervalMs + TcpClient::ReconnectMs);
    EXPECT_EQ(part("tcpStatusLabel")->text(), bytes);
    EXPECT_EQ(nimbus->lines().filter("client connected: ").size(), 1);

    // A file chosen while live: the connection is closed before the playback
    // dialog shows, and only file records are drawn from then on.
    ASSERT_TRUE(chooseInDialog("Qol", index("b")));
    ASSERT_TRUE(waitForLines(*qol, "client connected: ", 2));
    waitForDraws();
    action("actionSet_source_file")->trigger();
    EXPECT_EQ(logs.last(), QString("[MW] disconnect from %1:%2").arg(host).arg(qol->port()));
    ASSERT_EVENTUALLY_EQ(sourceStyle(), QString(NotConnected), 3000);
    ASSERT_TRUE(waitForLines(*qol, "client finished: ", 2, 3000));
    QTest::qWait(100); // blocks already read may still be decoding
    const QString lastLive = eventText();
    QTest::qWait(3 * MainWindow::LiveDrawIntervalMs);
    EXPECT_EQ(eventText(), lastLive) << "a live event came after the connection was closed";

    constexpr quint32 FileSerial = 0x00F1E5E1; // unlike any serial the simulator sends
    constexpr quint32 FirstFileEvent = 900001; // beyond any event number the simulator reaches here
    writeDataFile(3, 1, 4, 64, FileSerial, FirstFileEvent);
    emit dialog->fileNameUpdated(dataFile);
    ASSERT_EVENTUALLY_EQ(eventText(), QString("Ev:%1").arg(FirstFileEvent), LiveTimeoutMs);
    dialog->findChild<QPushButton*>("pushButtonForward")->click();
    ASSERT_EVENTUALLY_EQ(eventText(), QString("Ev:%1").arg(FirstFileEvent + 2), LiveTimeoutMs);
    QTest::qWait(3 * MainWindow::LiveDrawIntervalMs);
    EXPECT_EQ(eventText(), QString("Ev:%1").arg(FirstFileEvent + 2));
    EXPECT_EQ(QSettings().value("Main/lastFile").toString(), dataFile);
}

} // namespace
