// The network source of the main window: discovered programs, the choice of
// the source program through the dialog, a saved choice resumed when its
// program is seen again, the TCP client reading from it over loopback, and
// the source label and log lines along the way.
#include "app/ViewerSettings.h"
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"
#include "pnp/AddPnpDialog.h"
#include "pnp/ProgramType.h"

#include "MainWindowFixture.h"
#include "tests/MessageLog.h"

#include <QApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

namespace {

const QHostAddress Loopback(QHostAddress::LocalHost);

ProgramInterface endpoint(InterfaceType type, quint32 port, bool isFree = true)
{
    ProgramInterface iface;
    iface.host = Loopback;
    iface.port = port;
    iface.type = interfaceTypeName(type);
    iface.isFree = isFree;
    return iface;
}

ProgramDescription program(ProgramType type, const QString& index, const QVector<ProgramInterface>& interfaces)
{
    ProgramDescription description;
    description.type = programTypeName(type);
    description.index = index;
    description.interfaces = interfaces;
    return description;
}

// Answers the source program dialog each time it comes up, with the answers
// in order (true: OK, false: Cancel).
class DialogAnswerer {
public:
    explicit DialogAnswerer(QList<bool> answers) : answers(std::move(answers))
    {
        QObject::connect(&poll, &QTimer::timeout, [this] { answerIfOpen(); });
        poll.start(10);
    }
    int shown = 0;

private:
    void answerIfOpen()
    {
        auto* dialog = qobject_cast<AddPnpDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible() || answers.isEmpty())
            return;
        ++shown;
        if (answers.takeFirst())
            dialog->accept();
        else
            dialog->reject();
    }

    QList<bool> answers;
    QTimer poll;
};

class MainWindowSourceTest : public MainWindowFixture {
protected:
    void saveChoice(const QString& type, const QString& index, const QString& interfaceType)
    {
        ViewerSettings stored;
        stored.selectedProgramType = type;
        stored.selectedProgramIndex = index;
        stored.selectedInterface = interfaceType;
        stored.saveSettings();
    }

    void discovered(const ProgramDescription& description)
    {
        callSlot("gotProgramDescription", "ProgramDescription", description);
    }

    QString sourceText() const { return label("sourceLabel")->text(); }
    QString sourceStyle() const { return label("sourceLabel")->styleSheet(); }
};

TEST(MainWindowSourceChoice, InterfaceOfAProgram)
{
    // A Qol program's data flow does not count.
    EXPECT_TRUE(
        MainWindow::chooseInterface(program(QolProgram, "1", {endpoint(DataFlowInterface, 5000)})).type.isEmpty());
    // A Nimbus program falls back to its free data flow.
    const ProgramDescription nimbus = program(
        NimbusProgram, "1", {endpoint(MonitorDataFlowInterface, 5001, false), endpoint(DataFlowInterface, 5002)});
    EXPECT_EQ(MainWindow::chooseInterface(nimbus).type, "data flow");
    EXPECT_EQ(MainWindow::chooseInterface(nimbus).port, 5002u);
    // A free monitor output comes first.
    const ProgramDescription qol = program(QolProgram, "3", {endpoint(MonitorDataFlowInterface, 5003)});
    EXPECT_EQ(MainWindow::chooseInterface(qol).type, "Monitor output data flow");

    EXPECT_EQ(MainWindow::programDisplayName(nimbus), "Nimbus #1");
    ProgramDescription named = nimbus;
    named.name = "Hall B";
    EXPECT_EQ(MainWindow::programDisplayName(named), "Hall B");
}

TEST_F(MainWindowSourceTest, WithoutSavedChoiceNothingIsSelected)
{
    openWindow();
    EXPECT_EQ(sourceText(), "no connection");
    EXPECT_EQ(sourceStyle(), "QLabel { color : red; }");
    EXPECT_FALSE(action("actionDisconnect_from_program")->isEnabled());
    EXPECT_FALSE(action("actionConnect_to_data_source")->isEnabled());
}

TEST_F(MainWindowSourceTest, OnlyProgramsWithAUsableInterfaceAreOffered)
{
    openWindow();
    QAction* connectAction = action("actionConnect_to_data_source");
    discovered(program(QolProgram, "1", {endpoint(DataFlowInterface, 5000)}));
    EXPECT_FALSE(connectAction->isEnabled());
    discovered(program(ZelSystemProgram, "1", {endpoint(MonitorDataFlowInterface, 5000)}));
    EXPECT_FALSE(connectAction->isEnabled());
    discovered(program(NimbusProgram, "1",
                       {endpoint(MonitorDataFlowInterface, 5001, false), endpoint(DataFlowInterface, 5002)}));
    EXPECT_TRUE(connectAction->isEnabled());
}

TEST_F(MainWindowSourceTest, SavedChoiceIsResumedReadOverTcpAndDropped)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(Loopback));
    const quint16 port = server.serverPort();
    saveChoice("Nimbus", "2", "Monitor output data flow");
    openWindow();
    EXPECT_EQ(sourceText(), "Nimbus #2 (Monitor output data flow:0)");
    EXPECT_EQ(sourceStyle(), "QLabel { color : red; }");
    EXPECT_TRUE(action("actionDisconnect_from_program")->isEnabled());

    QSignalSpy logs(window.get(), &MainWindow::addLog);
    const ProgramDescription source = program(NimbusProgram, "2", {endpoint(MonitorDataFlowInterface, port)});
    discovered(source);
    ASSERT_EQ(logs.size(), 1);
    EXPECT_EQ(logs[0][0].toString(), QString("[MW] change interface from :0 to 127.0.0.1:%1").arg(port));

    ASSERT_TRUE(server.waitForNewConnection(DecodeTimeoutMs));
    QTcpSocket* peer = server.nextPendingConnection();
    QTRY_COMPARE_WITH_TIMEOUT(sourceStyle(), QString("QLabel { color : darkGreen; }"), DecodeTimeoutMs);

    SampleGenerator generator(SampleGenerator::Options{});
    peer->write(EventEncoder::encodeEvent(generator.nextEvent(), false));
    QTRY_COMPARE_WITH_TIMEOUT(label("eventLabel")->text(), QString("Ev:1"), DecodeTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(label("tcpStatusLabel")->text().contains("bytes"), DecodeTimeoutMs);

    discovered(source); // the same endpoint again changes nothing
    EXPECT_EQ(logs.size(), 1);

    action("actionDisconnect_from_program")->trigger();
    ASSERT_EQ(logs.size(), 2);
    EXPECT_EQ(logs[1][0].toString(), QString("[MW] disconnect from 127.0.0.1:%1").arg(port));
    EXPECT_EQ(sourceText(), "no connection");
    EXPECT_FALSE(action("actionDisconnect_from_program")->isEnabled());
    EXPECT_EQ(QSettings().value("SelectedProgram/type").toString(), "");
}

TEST_F(MainWindowSourceTest, ProgramChosenInTheDialogBecomesTheSourceOnce)
{
    openWindow();
    QSignalSpy logs(window.get(), &MainWindow::addLog);
    discovered(program(NimbusProgram, "1",
                       {endpoint(MonitorDataFlowInterface, 5001, false), endpoint(DataFlowInterface, 5002)}));

    {
        DialogAnswerer answerer({true});
        action("actionConnect_to_data_source")->trigger();
        EXPECT_EQ(answerer.shown, 1);
    }
    ASSERT_EQ(logs.size(), 2);
    EXPECT_EQ(logs[0][0].toString(), "[MW] change source from  # to Nimbus #1 (data flow)");
    EXPECT_EQ(logs[1][0].toString(), "[MW] change interface from :0 to 127.0.0.1:5002");
    EXPECT_EQ(sourceText(), "Nimbus #1 (data flow:0)");
    QSettings stored;
    EXPECT_EQ(stored.value("SelectedProgram/type").toString(), "Nimbus");
    EXPECT_EQ(stored.value("SelectedProgram/index").toString(), "1");
    EXPECT_EQ(stored.value("SelectedProgram/interface").toString(), "data flow");
    EXPECT_FALSE(stored.value("MainWindow/geometry").toByteArray().isEmpty());

    // The source again: refused, and the dialog comes back until cancelled.
    MessageLog messages;
    DialogAnswerer answerer({true, false});
    action("actionConnect_to_data_source")->trigger();
    EXPECT_EQ(answerer.shown, 2);
    EXPECT_TRUE(messages.contains(QtWarningMsg, "Selected program has no free interface"));
    EXPECT_EQ(logs.size(), 2);
}

TEST_F(MainWindowSourceTest, ChoosingAFileDropsTheSourceProgram)
{
    saveChoice("Qol", "4", "Monitor output data flow");
    openWindow();
    QSignalSpy logs(window.get(), &MainWindow::addLog);
    action("actionSet_source_file")->trigger();
    EXPECT_TRUE(dialog->isVisible());
    ASSERT_EQ(logs.size(), 1);
    EXPECT_EQ(logs[0][0].toString(), "[MW] disconnect from :0");
    EXPECT_EQ(sourceText(), "no connection");
}

} // namespace
