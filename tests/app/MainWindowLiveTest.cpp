// The main window against real simulated acquisition programs (ravel-daq-sim
// child processes) in the private network namespace: a saved choice resumed
// when the program announces itself and drawn at the thinned rate, a port
// move, a killed program coming back, and the choice through the source
// program dialog followed by a disconnect or a file source.
#include "pnp/AddPnpDialog.h"
#include "tests/tools/SimProcess.h"

#include "tests/MessageLog.h"
#include "tests/app/MainWindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>

namespace {

constexpr int LiveTimeoutMs = 30000;
constexpr quint32 FileSerial = 0x00F1E5E1; // unlike any serial the simulator sends

struct Draw {
    qint64 atMs;
    quint32 evNum;
};

class MainWindowLiveTest : public MainWindowFixture {
protected:
    // A program index no other test of the namespace announces.
    static QString uniqueIndex(const char* tag) { return QString::number(QCoreApplication::applicationPid()) + tag; }

    // Small events at 20 per second: ten times what the window draws.
    static std::unique_ptr<SimProcess> startSim(const QString& type, const QString& index, const QString& name,
                                                const QStringList& more = {})
    {
        auto sim = std::make_unique<SimProcess>();
        EXPECT_TRUE(sim->start(QStringList{"--type", type, "--index", index, "--name", name, "--boards", "1",
                                           "--channels", "8", "--samples", "256", "--rate", "20"}
                               + more))
            << "ravel-daq-sim did not start";
        return sim;
    }

    // Waits for "[MW] change interface from FROM to HOST:TO"; returns HOST.
    QString waitForInterfaceChange(const QString& from, quint16 to)
    {
        const QRegularExpression line(QString("^\\[MW\\] change interface from %1 to ([\\d.]+):%2$")
                                          .arg(QRegularExpression::escape(from))
                                          .arg(to));
        EXPECT_TRUE(waitUntil([&] { return !logs.filter(line).isEmpty(); }, LiveTimeoutMs))
            << "no " << line.pattern().toStdString() << " among:\n"
            << logs.join('\n').toStdString();
        return line.match(logs.filter(line).value(0)).captured(1);
    }

    quint64 tcpBytes() const
    {
        const QString text = part("tcpStatusLabel")->text();
        const QRegularExpressionMatch match = QRegularExpression("^tcp:(\\d+) bytes$").match(text);
        EXPECT_TRUE(match.hasMatch()) << text.toStdString();
        return match.captured(1).toULongLong();
    }

    // Connected (dark green), then this many further draws, noted by the event
    // label they set: draws are half a second apart, so polling misses none.
    QVector<Draw> waitForDraws(int count = 2)
    {
        QVector<Draw> draws;
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
                    connectAction->trigger();
                return picked;
            },
            LiveTimeoutMs);
    }
};

TEST_F(MainWindowLiveTest, ResumesASavedChoiceFollowsAMovedPortAndAProgramThatDiesAndComesBack)
{
    const QString index = uniqueIndex("m");
    auto sim = startSim("Nimbus", index, "moving sim");
    saveChoice("Nimbus", index);
    openWindow();
    EXPECT_EQ(sourceText(), "Nimbus #" + index + " (Monitor output data flow:0)");
    EXPECT_EQ(sourceStyle(), NotConnected);
    // Endpoint unknown until the program is seen: an empty old host, port 0.
    const quint16 firstPort = sim->port();
    const QString host = waitForInterfaceChange(":0", firstPort);
    // Five draws: four gaps of at least half a second (polling may see one
    // late and the next on time), while the program sends 20 events a second.
    const QVector<Draw> draws = waitForDraws(5);
    ASSERT_EQ(draws.size(), 5);
    ASSERT_TRUE(sim->waitForLine("client connected: "));
    EXPECT_GE(draws.last().atMs - draws.first().atMs, 4 * MainWindow::LiveDrawIntervalMs - 100);
    EXPECT_GT(draws.last().evNum - draws.first().evNum, 8u) << "events were not thinned";
    const quint64 bytes = tcpBytes(); // the byte counter runs with the stream
    EXPECT_GT(bytes, 0u);
    ASSERT_EVENTUALLY(tcpBytes() > bytes, LiveTimeoutMs);
    EXPECT_EQ(logs.size(), 1) << logs.join('\n').toStdString();

    // A move drops the connection and announces the new port.
    sim->command("move");
    ASSERT_TRUE(sim->waitForLine("moved from port"));
    const quint16 movedPort = sim->port();
    waitForInterfaceChange(QString("%1:%2").arg(host).arg(firstPort), movedPort);
    ASSERT_TRUE(waitUntil([&] { return sim->lines().filter("client connected: ").size() == 2; }, LiveTimeoutMs));
    waitForDraws();

    // Killed: no close message, the connection is refused from then on. The
    // first refusal is reported once, retried after 1 s, then every 5 s.
    MessageLog messages;
    const auto refusals = [&] { return messages.texts(QtDebugMsg).count("The connection was refused by the peer"); };
    sim->process.kill();
    ASSERT_TRUE(sim->process.waitForFinished(LiveTimeoutMs));
    ASSERT_TRUE(waitUntil([&] { return refusals() >= 2; }, LiveTimeoutMs));
    EXPECT_EQ(sourceStyle(), NotConnected);
    QElapsedTimer slowRetry;
    slowRetry.start();
    ASSERT_TRUE(waitUntil([&] { return refusals() >= 3; }, LiveTimeoutMs));
    EXPECT_GE(slowRetry.elapsed(), 3000) << "retried too soon after the second refusal";
    EXPECT_EQ(messages.texts(QtDebugMsg).count(QString("TcpClient can't connect to %1:%2").arg(host).arg(movedPort)),
              1);

    // Back on the same port: found by the next retry, nothing announced
    // changes the endpoint.
    const int logsBefore = logs.size();
    sim = startSim("Nimbus", index, "moving sim", {"--port", QString::number(movedPort)});
    QElapsedTimer back;
    back.start();
    ASSERT_EVENTUALLY_EQ(sourceStyle(), QString(Connected), LiveTimeoutMs);
    EXPECT_LT(back.elapsed(), 12000);
    waitForDraws();
    EXPECT_EQ(logs.size(), logsBefore) << logs.join('\n').toStdString();
}

TEST_F(MainWindowLiveTest, OneOfTwoProgramsChosenInTheDialogDroppedThenTheOtherDroppedForAFile)
{
    const QString nimbusIndex = uniqueIndex("a");
    const QString qolIndex = uniqueIndex("b");
    auto nimbus = startSim("Nimbus", nimbusIndex, "sim A");
    auto qol = startSim("Qol", qolIndex, "sim B");
    openWindow();

    ASSERT_TRUE(chooseInDialog("Qol", qolIndex));
    ASSERT_EQ(logs.size(), 2) << logs.join('\n').toStdString();
    EXPECT_EQ(logs[0], "[MW] change source from  # to sim B (Monitor output data flow)");
    QString host = waitForInterfaceChange(":0", qol->port());
    EXPECT_EQ(sourceText(), "sim B (Monitor output data flow:0)");
    waitForDraws();
    EXPECT_TRUE(qol->waitForLine("client connected: "));
    EXPECT_TRUE(nimbus->lines().filter("client connected: ").isEmpty());
    QSettings stored;
    EXPECT_EQ(stored.value("SelectedProgram/type").toString() + stored.value("SelectedProgram/index").toString()
                  + stored.value("SelectedProgram/interface").toString(),
              "Qol" + qolIndex + "Monitor output data flow");

    action("actionDisconnect_from_program")->trigger();
    EXPECT_EQ(logs.last(), QString("[MW] disconnect from %1:%2").arg(host).arg(qol->port()));
    EXPECT_EQ(sourceText(), "no connection");
    EXPECT_FALSE(action("actionDisconnect_from_program")->isEnabled());
    stored.sync();
    for (const char* key : {"SelectedProgram/type", "SelectedProgram/index", "SelectedProgram/interface"})
        EXPECT_EQ(stored.value(key).toString(), "") << key;
    // The client takes no new endpoint, the null one included, while its
    // connection is up: the bytes keep coming until the program drops it.
    const quint64 bytes = tcpBytes();
    ASSERT_EVENTUALLY(tcpBytes() > bytes, LiveTimeoutMs);
    EXPECT_TRUE(qol->lines().filter("client finished: ").isEmpty());

    // That program gone, the other one is chosen; a file chosen while
    // connected to it drops it.
    qol->process.kill();
    ASSERT_TRUE(qol->process.waitForFinished(LiveTimeoutMs));
    ASSERT_TRUE(chooseInDialog("Nimbus", nimbusIndex));
    host = waitForInterfaceChange(":0", nimbus->port());
    waitForDraws();
    action("actionSet_source_file")->trigger();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(logs.last(), QString("[MW] disconnect from %1:%2").arg(host).arg(nimbus->port()));
    EXPECT_EQ(sourceText(), "no connection");
    EXPECT_EQ(QSettings().value("SelectedProgram/type").toString(), "");
    writeDataFile(3, 1, 4, 64, FileSerial);
    emit dialog->fileNameUpdated(dataFile);
    auto* selector = part<QComboBox>("comboBoxSerial");
    ASSERT_EVENTUALLY(selector->findData(QVariant::fromValue(FileSerial)) >= 0, LiveTimeoutMs);
    EXPECT_EQ(QSettings().value("Main/lastFile").toString(), dataFile);
}

} // namespace
