// The main window against real simulated acquisition programs (ravel-daq-sim
// child processes) in the private network namespace: a saved choice resumed
// when the program announces itself, live drawing at the thinned rate, the
// byte counter, a port move, a killed program coming back on the same and on
// a new port, and the choice through the source program dialog followed by a
// disconnect or a file source.
#include "app/ViewerSettings.h"
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"
#include "pnp/AddPnpDialog.h"
#include "tests/tools/SimProcess.h"

#include "MainWindowFixture.h"
#include "tests/MessageLog.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>

#include <iostream>
#include <memory>

namespace {

constexpr int TimeoutMs = 30000;
const QString Connected = "QLabel { color : darkGreen; }";
const QString NotConnected = "QLabel { color : red; }";
const QString Monitor = "Monitor output data flow";
// The serial of the board in the data file, unlike any the simulator sends.
constexpr quint32 FileSerial = 0x00F1E5E1;

// Every event the window draws, noted by the event label it sets ("Ev:N");
// draws are at least half a second apart, so polling misses none.
class DrawWatch {
public:
    struct Draw {
        qint64 atMs;
        quint32 evNum;
    };

    explicit DrawWatch(const QLabel* label) : label(label)
    {
        clock.start();
        QObject::connect(&poll, &QTimer::timeout, [this] { look(); });
        poll.start(5);
    }

    int count() const { return draws.size(); }
    const QVector<Draw>& all() const { return draws; }

private:
    void look()
    {
        const QString text = label->text();
        if (text == lastText || !text.startsWith("Ev:"))
            return;
        lastText = text;
        draws.append({clock.elapsed(), text.mid(3).toUInt()});
    }

    const QLabel* label;
    QElapsedTimer clock;
    QTimer poll;
    QString lastText;
    QVector<Draw> draws;
};

// Answers the source program dialog: picks the program of this type and index
// when the dialog lists it (OK), or cancels when it does not list it yet.
class ProgramPicker {
public:
    ProgramPicker(const QString& type, const QString& index) : type(type), index(index)
    {
        QObject::connect(&poll, &QTimer::timeout, [this] { answerIfOpen(); });
        poll.start(10);
    }
    bool picked = false;

private:
    void answerIfOpen()
    {
        auto* dialog = qobject_cast<AddPnpDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        dialog->findChild<QComboBox*>("comboBoxType")->setCurrentText(type);
        dialog->findChild<QComboBox*>("comboBoxIndex")->setCurrentText(index);
        const ProgramDescription chosen = dialog->selectedProgram();
        picked = chosen.type == type && chosen.index == index;
        if (picked)
            dialog->accept();
        else
            dialog->reject();
    }

    QString type;
    QString index;
    QTimer poll;
};

class MainWindowLiveTest : public MainWindowFixture {
protected:
    // A program index no other test of the namespace announces.
    static QString uniqueIndex(const char* tag)
    {
        return QString("%1%2").arg(QCoreApplication::applicationPid()).arg(tag);
    }

    // Small events at 20 per second: ten times what the window draws.
    static std::unique_ptr<SimProcess> startSim(const QString& type, const QString& index, const QString& name,
                                                const QStringList& more = {})
    {
        auto sim = std::make_unique<SimProcess>();
        const QStringList arguments{"--type", type,         "--index", index,       "--name", name,     "--boards",
                                    "1",      "--channels", "8",       "--samples", "256",    "--rate", "20"};
        EXPECT_TRUE(sim->start(arguments + more)) << "ravel-daq-sim did not start";
        return sim;
    }

    void saveChoice(const QString& type, const QString& index)
    {
        ViewerSettings stored;
        stored.selectedProgramType = type;
        stored.selectedProgramIndex = index;
        stored.selectedInterface = Monitor;
        stored.saveSettings();
    }

    void openWatchedWindow()
    {
        openWindow();
        logs = std::make_unique<QSignalSpy>(window.get(), &MainWindow::addLog);
        draws = std::make_unique<DrawWatch>(label("eventLabel"));
    }

    QStringList logLines() const
    {
        QStringList lines;
        for (const QList<QVariant>& call : *logs)
            lines << call.at(0).toString();
        return lines;
    }

    // Waits for a log line matching the pattern; its captures, or none.
    QStringList waitForLog(const QString& pattern)
    {
        const QRegularExpression expression("^" + pattern + "$");
        QRegularExpressionMatch match;
        waitUntil(
            [&] {
                for (const QString& line : logLines()) {
                    match = expression.match(line);
                    if (match.hasMatch())
                        return true;
                }
                return false;
            },
            TimeoutMs);
        EXPECT_TRUE(match.hasMatch()) << "no log line " << pattern.toStdString() << " among:\n"
                                      << logLines().join('\n').toStdString();
        return match.capturedTexts();
    }

    // The host the window follows for a change to this port, from its line
    // "[MW] change interface from OLD to HOST:PORT".
    QString waitForInterfaceChange(const QString& from, quint16 to)
    {
        const QStringList captured =
            waitForLog(QString("\\[MW\\] change interface from %1 to (\\d+\\.\\d+\\.\\d+\\.\\d+):%2")
                           .arg(QRegularExpression::escape(from))
                           .arg(to));
        return captured.value(1);
    }

    QString sourceStyle() const { return label("sourceLabel")->styleSheet(); }

    quint64 tcpBytes() const
    {
        static const QRegularExpression status("^tcp:(\\d+) bytes$");
        const QString text = label("tcpStatusLabel")->text();
        const QRegularExpressionMatch match = status.match(text);
        EXPECT_TRUE(match.hasMatch()) << text.toStdString();
        return match.captured(1).toULongLong();
    }

    // Connected (dark green), then at least this many further draws.
    void expectDrawingResumes(int moreDraws = 2)
    {
        QTRY_COMPARE_WITH_TIMEOUT(sourceStyle(), Connected, TimeoutMs);
        const int before = draws->count();
        EXPECT_TRUE(waitUntil([&] { return draws->count() >= before + moreDraws; }, TimeoutMs))
            << "drawing did not resume: " << draws->count() - before << " draws";
    }

    // The dialog lists what was discovered when it opens: it is asked again
    // until the program is among them.
    bool chooseInDialog(const QString& type, const QString& index)
    {
        QAction* connectAction = action("actionConnect_to_data_source");
        return waitUntil(
            [&] {
                ProgramPicker picker(type, index);
                if (connectAction->isEnabled())
                    connectAction->trigger();
                return picker.picked;
            },
            TimeoutMs);
    }

    // Three small events of one board with the file's own serial.
    QString writeDataFile() const
    {
        SampleGenerator::Options options;
        options.boards = 1;
        options.channels = 4;
        options.samples = 64;
        options.firstSerial = FileSerial;
        SampleGenerator generator(options);
        QByteArray bytes;
        for (int i = 0; i < 3; ++i)
            EventEncoder::appendEvent(bytes, generator.nextEvent(), false);
        const QString path = temp.folder() + "/file-source.dat";
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(bytes), bytes.size());
        return path;
    }

    std::unique_ptr<QSignalSpy> logs;
    std::unique_ptr<DrawWatch> draws;
};

TEST_F(MainWindowLiveTest, SavedChoiceIsResumedAndDrawnLiveTwiceASecondAtMost)
{
    const QString index = uniqueIndex("r");
    auto sim = startSim("Nimbus", index, "resumed sim");
    saveChoice("Nimbus", index);
    openWatchedWindow();
    // Only type and index are kept of a saved choice.
    EXPECT_EQ(label("sourceLabel")->text(), "Nimbus #" + index + " (Monitor output data flow:0)");
    EXPECT_EQ(sourceStyle(), NotConnected);

    // Endpoint unknown until the program is seen: an empty old host, port 0.
    const QString host = waitForInterfaceChange(":0", sim->port());
    ASSERT_FALSE(host.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(sourceStyle(), Connected, TimeoutMs);
    ASSERT_TRUE(sim->waitForLine("client connected: "));

    // Five draws: four gaps of at least half a second, while the program
    // sends 20 events per second.
    ASSERT_TRUE(waitUntil([&] { return draws->count() >= 5; }, TimeoutMs)) << draws->count() << " draws";
    const QVector<DrawWatch::Draw> seen = draws->all().mid(draws->count() - 5);
    const qint64 spanMs = seen.last().atMs - seen.first().atMs;
    // Polling may see one draw late and the next on time.
    EXPECT_GE(spanMs, 4 * MainWindow::LiveDrawIntervalMs - 100);
    EXPECT_GT(seen.last().evNum - seen.first().evNum, 8u) << "events were not thinned";
    std::cout << "[ info ] 5 live draws in " << spanMs << " ms, events " << seen.first().evNum << ".."
              << seen.last().evNum << std::endl;

    // The byte counter runs with the stream.
    const quint64 bytes = tcpBytes();
    EXPECT_GT(bytes, 0u);
    QTRY_VERIFY_WITH_TIMEOUT(tcpBytes() > bytes, TimeoutMs);
    EXPECT_EQ(logLines().size(), 1) << logLines().join('\n').toStdString();
}

TEST_F(MainWindowLiveTest, FollowsAMovedPortAndAProgramThatDiesAndComesBack)
{
    const QString index = uniqueIndex("m");
    auto sim = startSim("Nimbus", index, "moving sim");
    saveChoice("Nimbus", index);
    openWatchedWindow();
    const quint16 firstPort = sim->port();
    const QString host = waitForInterfaceChange(":0", firstPort);
    expectDrawingResumes();

    // A move drops the connection and announces the new port.
    sim->command("move");
    ASSERT_TRUE(sim->waitForLine("moved from port"));
    const quint16 movedPort = sim->port();
    waitForInterfaceChange(QString("%1:%2").arg(host).arg(firstPort), movedPort);
    ASSERT_TRUE(waitUntil([&] { return sim->lines().filter("client connected: ").size() == 2; }, TimeoutMs));
    expectDrawingResumes();

    // Killed: no close message, the connection is refused from then on. The
    // first refusal is reported once, retried after 1 s, then every 5 s.
    MessageLog messages;
    const auto refusals = [&] { return messages.texts(QtDebugMsg).count("The connection was refused by the peer"); };
    sim->process.kill();
    ASSERT_TRUE(sim->process.waitForFinished(TimeoutMs));
    QTRY_COMPARE_WITH_TIMEOUT(sourceStyle(), NotConnected, TimeoutMs);
    ASSERT_TRUE(waitUntil([&] { return refusals() >= 2; }, TimeoutMs));
    QElapsedTimer slowRetry;
    slowRetry.start();
    ASSERT_TRUE(waitUntil([&] { return refusals() >= 3; }, TimeoutMs));
    EXPECT_GE(slowRetry.elapsed(), 3000) << "retried too soon after the second refusal";
    const QString endpoint = QString("%1:%2").arg(host).arg(movedPort);
    EXPECT_EQ(messages.texts(QtDebugMsg).count("TcpClient can't connect to " + endpoint), 1);
    EXPECT_EQ(sourceStyle(), NotConnected);

    // Back on the same port: found by the next retry, nothing announced
    // changes the endpoint.
    const int logsBefore = logs->size();
    sim = startSim("Nimbus", index, "moving sim", {"--port", QString::number(movedPort)});
    QElapsedTimer back;
    back.start();
    QTRY_COMPARE_WITH_TIMEOUT(sourceStyle(), Connected, TimeoutMs);
    const qint64 reconnectMs = back.elapsed();
    EXPECT_LT(reconnectMs, 12000);
    expectDrawingResumes();
    EXPECT_EQ(logs->size(), logsBefore) << logLines().join('\n').toStdString();

    // Back on a new port: its announcement reconnects at once.
    sim->process.kill();
    ASSERT_TRUE(sim->process.waitForFinished(TimeoutMs));
    QTRY_COMPARE_WITH_TIMEOUT(sourceStyle(), NotConnected, TimeoutMs);
    sim = startSim("Nimbus", index, "moving sim");
    back.restart();
    waitForInterfaceChange(endpoint, sim->port());
    QTRY_COMPARE_WITH_TIMEOUT(sourceStyle(), Connected, TimeoutMs);
    const qint64 newPortMs = back.elapsed();
    EXPECT_LT(newPortMs, 5000);
    expectDrawingResumes();
    std::cout << "[ info ] back on the same port: connected after " << reconnectMs << " ms; on a new port: after "
              << newPortMs << " ms" << std::endl;
}

TEST_F(MainWindowLiveTest, OneOfTwoProgramsChosenInTheDialogThenDropped)
{
    const QString nimbusIndex = uniqueIndex("a");
    const QString qolIndex = uniqueIndex("b");
    auto nimbus = startSim("Nimbus", nimbusIndex, "sim A");
    auto qol = startSim("Qol", qolIndex, "sim B");
    openWatchedWindow();

    ASSERT_TRUE(chooseInDialog("Qol", qolIndex));
    const QStringList changes = logLines();
    ASSERT_EQ(changes.size(), 2) << changes.join('\n').toStdString();
    EXPECT_EQ(changes[0], "[MW] change source from  # to sim B (Monitor output data flow)");
    const QString host = waitForInterfaceChange(":0", qol->port());
    EXPECT_EQ(label("sourceLabel")->text(), "sim B (Monitor output data flow:0)");
    expectDrawingResumes();
    EXPECT_TRUE(qol->waitForLine("client connected: "));
    EXPECT_TRUE(nimbus->lines().filter("client connected: ").isEmpty());
    QSettings stored;
    EXPECT_EQ(stored.value("SelectedProgram/type").toString(), "Qol");
    EXPECT_EQ(stored.value("SelectedProgram/index").toString(), qolIndex);
    EXPECT_EQ(stored.value("SelectedProgram/interface").toString(), Monitor);

    action("actionDisconnect_from_program")->trigger();
    EXPECT_EQ(logLines().last(), QString("[MW] disconnect from %1:%2").arg(host).arg(qol->port()));
    EXPECT_EQ(label("sourceLabel")->text(), "no connection");
    EXPECT_FALSE(action("actionDisconnect_from_program")->isEnabled());
    stored.sync();
    EXPECT_EQ(stored.value("SelectedProgram/type").toString(), "");
    EXPECT_EQ(stored.value("SelectedProgram/index").toString(), "");
    EXPECT_EQ(stored.value("SelectedProgram/interface").toString(), "");
    // The client takes no new endpoint, the null one included, while its
    // connection is up: the bytes keep coming until the program drops it.
    const quint64 bytes = tcpBytes();
    QTRY_VERIFY_WITH_TIMEOUT(tcpBytes() > bytes, TimeoutMs);
    EXPECT_TRUE(qol->lines().filter("client finished: ").isEmpty());
}

TEST_F(MainWindowLiveTest, FileChosenWhileConnectedDropsTheProgram)
{
    const QString index = uniqueIndex("f");
    auto sim = startSim("Nimbus", index, "sim F");
    openWatchedWindow();
    ASSERT_TRUE(chooseInDialog("Nimbus", index));
    const QString host = waitForInterfaceChange(":0", sim->port());
    expectDrawingResumes();

    action("actionSet_source_file")->trigger();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(logLines().last(), QString("[MW] disconnect from %1:%2").arg(host).arg(sim->port()));
    EXPECT_EQ(label("sourceLabel")->text(), "no connection");

    const QString dataFile = writeDataFile();
    emit dialog->fileNameUpdated(dataFile);
    auto* selector = part<QComboBox>("comboBoxSerial");
    QTRY_VERIFY_WITH_TIMEOUT(selector->findData(QVariant::fromValue(FileSerial)) >= 0, TimeoutMs);
    QSettings stored;
    EXPECT_EQ(stored.value("Main/lastFile").toString(), dataFile);
    EXPECT_EQ(stored.value("SelectedProgram/type").toString(), "");
}

} // namespace
