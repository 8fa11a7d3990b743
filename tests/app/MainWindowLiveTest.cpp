// The main window against real ravel-daq-sim child processes: a saved choice
// resumed and drawn thinned, a port move, a killed program coming back, and the
// source program dialog followed by a disconnect or a file source.
#include "app/HistMngrWidget.h"
#include "pnp/AddPnpDialog.h"
#include "tests/tools/SimProcess.h"
#include "vell/VellPlot.h"

#include "tests/MessageLog.h"
#include "tests/app/MainWindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
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
    const quint16 movedPort = sim->port();
    waitForInterfaceChange(QString("%1:%2").arg(host).arg(firstPort), movedPort);
    ASSERT_TRUE(waitUntil([&] { return sim->lines().filter("client connected: ").size() == 2; }, LiveTimeoutMs));
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

TEST_F(MainWindowLiveTest, OneOfTwoProgramsChosenInTheDialogDroppedThenTheOtherDroppedForAFile)
{
    auto nimbus = startSim("Nimbus", "a");
    auto qol = startSim("Qol", "b");
    openWindow();

    ASSERT_TRUE(chooseInDialog("Qol", index("b")));
    EXPECT_EQ(logs.value(0), "[MW] change source from  # to sim b (Monitor output data flow)");
    QString host = waitForInterfaceChange(":0", qol->port());
    waitForDraws();

    action("actionDisconnect_from_program")->trigger();
    EXPECT_EQ(logs.last(), QString("[MW] disconnect from %1:%2").arg(host).arg(qol->port()));
    EXPECT_EQ(sourceText(), "no connection");
    EXPECT_EQ(QSettings().value("SelectedProgram/type").toString(), "");

    // That program gone, the other one is chosen; a file chosen while
    // connected to it drops it.
    qol->process.kill();
    ASSERT_TRUE(qol->process.waitForFinished(LiveTimeoutMs));
    ASSERT_TRUE(chooseInDialog("Nimbus", index("a")));
    host = waitForInterfaceChange(":0", nimbus->port());
    waitForDraws();
    action("actionSet_source_file")->trigger();
    EXPECT_EQ(logs.last(), QString("[MW] disconnect from %1:%2").arg(host).arg(nimbus->port()));
    constexpr quint32 FileSerial = 0x00F1E5E1; // unlike any serial the simulator sends
    writeDataFile(3, 1, 4, 64, FileSerial);
    emit dialog->fileNameUpdated(dataFile);
    auto* selector = part<QComboBox>("comboBoxSerial");
    ASSERT_EVENTUALLY(selector->findData(QVariant::fromValue(FileSerial)) >= 0, LiveTimeoutMs);
    EXPECT_EQ(QSettings().value("Main/lastFile").toString(), dataFile);
}

} // namespace
