#include "app/MainWindow.h"

#include "app/FileReaderDialog.h"
#include "app/HistMngrWidget.h"
#include "app/LogDialog.h"
#include "datapath/ADCAnalyzer.h"
#include "datapath/DeviceSettings.h"
#include "datapath/FileReader.h"
#include "datapath/RootWriter.h"
#include "datapath/TcpClient.h"
#include "pnp/AddPnpDialog.h"
#include "pnp/HostAddressMetaType.h"
#include "pnp/PNPServer.h"
#include "pnp/ProgramType.h"
#include "ui_MainWindow.h"
#include "vell/PlotExporter.h"
#include "vell/WaveformData.h"
#include "vell/WaveformPlot.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>
#include <QShortcut>
#include <QThread>
#include <qwt_plot_zoomer.h>

#include <algorithm>
#include <vector>

namespace {

const char* const WindowGroup = "MainWindow";
const char* const Version = "1.0";
const char* const Credits = "<p>Viewer for the waveform data of the Ravel 64-channel digitizer board: "
                            "live from an acquisition program on the network or from a recorded data file.</p>"
                            "<p>Built with Qt and Qwt.</p>";

// One pass of the shutdown wait: how long pending events are processed, and
// how long the thread is then waited for before the next pass.
constexpr int EventSliceMs = 50;
constexpr int ThreadPollMs = 5;
// A forcibly terminated thread normally ends at once; this only guards
// against one that cannot be cancelled.
constexpr int TerminateWaitMs = 500;

// "0x0a1b-2c3d d9": serial halves and device type in lower-case hex.
QString boardLabel(quint32 serial, quint16 deviceType)
{
    return QString("0x%1-%2 %3")
        .arg(serial >> 16, 4, 16, QChar('0'))
        .arg(serial & 0xffffu, 4, 16, QChar('0'))
        .arg(deviceType, 2, 16, QChar('0'));
}

// The samples of a channel as a curve takes them, less the baseline. The
// decoded event is left untouched, so a later redraw starts from raw data.
std::vector<double> samplesRelativeTo(const QVector<double>& samples, int baseline)
{
    std::vector<double> values(samples.cbegin(), samples.cend());
    if (baseline != 0) {
        for (double& value : values)
            value -= double(baseline);
    }
    return values;
}

// An endpoint the viewer can read from: announced, enabled, with a port.
bool isUsable(const ProgramInterface& iface)
{
    return !iface.type.isEmpty() && iface.enabled && iface.port != 0;
}

} // namespace

const char* const MainWindow::BuildRevision = "Unversioned directory";

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , sourceSemaphore(SemaphorePermits)
    , writerSemaphore(SemaphorePermits)
    , fileReader(new FileReader(&sourceSemaphore))
    , fileReaderThread(new QThread(this))
    , analyzer(new ADCAnalyzer(&sourceSemaphore, &writerSemaphore))
    , analyzerThread(new QThread(this))
    , pnpServer(new PNPServer(this))
    , rootWriter(new RootWriter(&writerSemaphore))
    , tcpClient(new TcpClient(&sourceSemaphore))
    , tcpThread(new QThread(this))
    , tcpStatusLabel(new QLabel(this))
    , eventLabel(new QLabel(this))
    , sourceLabel(new QLabel(this))
    , skippedLabel(new QLabel(this))
    , logDialog(new LogDialog(this))
    , fileReaderDialog(new FileReaderDialog(&settings, this))
{
    qRegisterMetaType<QHostAddress>("QHostAddress");
    qRegisterMetaType<EventData>("EventData");

    ui->setupUi(this);
    setUpStatusBar();
    setWindowTitle(QCoreApplication::applicationName());

    auto* logShortcut = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_L), this);
    connect(logShortcut, &QShortcut::activated, logDialog, &QWidget::show);
    connectWorkers();
    startNetworkSource();
    connectFileSource();
    restoreWindowSettings();
    tcpThread->setObjectName("TcpClient thread");
    updateSourceLabel();
    tcpConnected(false);
    startWorkerThreads();
}

MainWindow::~MainWindow()
{
    saveWindowSettings();
    emit closeAll();
    stopWorkerThreads();
    // Joins the discovery threads while the window is still whole: waiting
    // for them processes events, which must not reach a half-destroyed window.
    delete pnpServer;
    ui.reset();
}

void MainWindow::setUpStatusBar()
{
    tcpStatusLabel->setObjectName("tcpStatusLabel");
    eventLabel->setObjectName("eventLabel");
    sourceLabel->setObjectName("sourceLabel");
    skippedLabel->setObjectName("skippedLabel");
    skippedLabel->hide();
    ui->statusBar->addWidget(tcpStatusLabel, 5);
    ui->statusBar->addWidget(eventLabel, 5);
    ui->statusBar->addPermanentWidget(skippedLabel, 0);
    ui->statusBar->addPermanentWidget(sourceLabel, 0);
    outputLabel = new QLabel(this);
    outputLabel->setObjectName("outputLabel");
    ui->statusBar->addPermanentWidget(outputLabel, 0);
}

// Made while every object still lives in the main thread; the connections
// to the workers become queued once they are moved to their threads.
void MainWindow::connectWorkers()
{
    connect(this, &MainWindow::addLog, logDialog, &LogDialog::addLog);
    connect(this, &MainWindow::adcRawDataSignedUpdated, analyzer, &ADCAnalyzer::adcRawDataSignedUpdated);
    connect(this, &MainWindow::dataSourceUpdated, analyzer, &ADCAnalyzer::dataSourceUpdated);
    connect(fileReader, &FileReader::streamStarted, analyzer, &ADCAnalyzer::streamStarted);
    connect(fileReader, &FileReader::dataAccuired, analyzer, &ADCAnalyzer::dataAccuired);
    connect(analyzer, &ADCAnalyzer::deviceDataUpdated, rootWriter.get(), &RootWriter::decodeData);
    connect(rootWriter.get(), &RootWriter::addLog, logDialog, &LogDialog::addLog);
    connect(rootWriter.get(), &RootWriter::outputStatusUpdated, this, &MainWindow::outputStatusUpdated);
    connect(analyzer, &ADCAnalyzer::eventDataUpdated, this, &MainWindow::showWaveform);
    connect(analyzer, &ADCAnalyzer::deviceDataUpdated, ui->widgetHistMngr, &HistMngrWidget::dataUpdated);
    connect(analyzer, &ADCAnalyzer::deviceDataSkipped, ui->widgetHistMngr, &HistMngrWidget::boardsSkipped);
    connect(analyzer, &ADCAnalyzer::deviceDataSkipped, this, &MainWindow::countSkippedBoards);
    connect(analyzer, &QObject::destroyed, analyzerThread, &QThread::quit);
    connect(this, &MainWindow::closeAll, analyzer, &QObject::deleteLater);
    connect(pnpServer, qOverload<ProgramDescription>(&PNPServer::programDiscovered), this,
            &MainWindow::gotProgramDescription);
    connect(fileReader, &QObject::destroyed, fileReaderThread, &QThread::quit);
    connect(this, &MainWindow::closeAll, fileReader, &QObject::deleteLater);
}

// One search for the program types that serve data, then the TCP client on
// its own thread.
void MainWindow::startNetworkSource()
{
    pnpServer->startSearch(QStringList{programTypeName(NimbusProgram), programTypeName(QolProgram)}, true);

    connect(this, &MainWindow::tcpAddressChanged, tcpClient, &TcpClient::setAddress);
    connect(tcpClient, &TcpClient::connectedStateChanged, this, &MainWindow::tcpConnected);
    connect(tcpClient, &TcpClient::streamStarted, analyzer, &ADCAnalyzer::streamStarted);
    connect(tcpClient, &TcpClient::dataAccuired, analyzer, &ADCAnalyzer::dataAccuired);
    connect(tcpClient, &TcpClient::statusUpdated, this, &MainWindow::tcpStatusUpdated);
    connect(tcpClient, &QObject::destroyed, tcpThread, &QThread::quit);
    connect(this, &MainWindow::closeAll, tcpClient, &QObject::deleteLater);
    tcpClient->moveToThread(tcpThread);
    tcpThread->start();
}

// The histograms fell behind the data: said on the status line, whichever
// tab shows, so that an operator knows they miss boards.
void MainWindow::countSkippedBoards(int boards)
{
    skippedBoards += quint64(qMax(0, boards));
    skippedLabel->setText(tr("Histograms skipped %1 boards").arg(skippedBoards));
    skippedLabel->show();
    if (rootWriter->isOpen())
        boardsMissingFromLog += quint64(qMax(0, boards));
}

void MainWindow::connectFileSource()
{
    connect(fileReaderDialog, &FileReaderDialog::fileNameUpdated, this, &MainWindow::fileNameUpdated);
    connect(fileReaderDialog, &FileReaderDialog::fileNameUpdated, fileReader, &FileReader::setFileName);
    connect(fileReaderDialog, &FileReaderDialog::changeRecord, fileReader, &FileReader::readRecord);
    connect(fileReader, &FileReader::fileMapUpdated, fileReaderDialog, &FileReaderDialog::fileMapUpdated);
    connect(fileReader, &FileReader::eventRead, fileReaderDialog, &FileReaderDialog::eventRead);
}

// A thread is named only once it runs.
void MainWindow::startWorkerThreads()
{
    analyzer->moveToThread(analyzerThread);
    analyzerThread->start();
    analyzerThread->setObjectName("ADC analyzer");

    fileReader->moveToThread(fileReaderThread);
    fileReaderThread->start();
    fileReaderThread->setObjectName("File Reader");
}

void MainWindow::restoreWindowSettings()
{
    {
        QSettings store;
        store.beginGroup(WindowGroup);
        restoreGeometry(store.value("geometry").toByteArray());
        restoreState(store.value("windowState").toByteArray(), 0);
    }
    settings.loadSettings();
    // A saved source program is resumed once discovery reports it again.
    currentProgram.type = settings.selectedProgramType;
    currentProgram.index = settings.selectedProgramIndex;
    currentInterface.type = settings.selectedInterface;
    fileReaderDialog->setPlaybackInterval(settings.playbackInterval);
    ui->actionADC_raw_data_signed->setChecked(settings.adcRawDataSigned);
    ui->actionDraw_relative_to_baseline->setChecked(settings.drawRelativeToBaseline);
    emit adcRawDataSignedUpdated(settings.adcRawDataSigned);
}

void MainWindow::saveWindowSettings()
{
    {
        QSettings store;
        store.beginGroup(WindowGroup);
        store.setValue("geometry", saveGeometry());
        store.setValue("windowState", saveState(0));
    }
    settings.saveSettings();
}

void MainWindow::stopWorkerThreads()
{
    QElapsedTimer budget;
    budget.start();
    if (!waitForThread(tcpThread, ThreadStopBudgetMs, budget))
        qWarning("Can't stop device thread");
    if (!waitForThread(analyzerThread, ThreadStopBudgetMs, budget))
        qWarning("Can't stop analyzer thread");
    if (!waitForThread(fileReaderThread, ThreadStopBudgetMs, budget))
        qWarning("Can't stop file reader thread");
}

// The workers' destroyed() signals reach their threads' quit() as events of
// this thread, so events are processed while waiting.
bool MainWindow::waitForThread(QThread* thread, int timeoutMs, const QElapsedTimer& budget)
{
    while (thread->isRunning() && !budget.hasExpired(timeoutMs)) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, EventSliceMs);
        thread->wait(ThreadPollMs);
    }
    if (!thread->isRunning())
        return true;
    qDebug("thread isn't stopped");
    thread->terminate();
    // Destroying a QThread that still runs aborts the process; one that even
    // termination cannot end is let go instead.
    if (!thread->wait(TerminateWaitMs))
        thread->setParent(nullptr);
    return false;
}

void MainWindow::statusUpdated(QString str)
{
    eventLabel->setText(str);
}

void MainWindow::on_actionADC_raw_data_signed_triggered(bool checked)
{
    settings.adcRawDataSigned = checked;
    settings.saveSettings();
    emit adcRawDataSignedUpdated(checked);
}

void MainWindow::on_actionDraw_relative_to_baseline_triggered(bool checked)
{
    settings.drawRelativeToBaseline = checked;
    settings.saveSettings();
    redraw();
}

void MainWindow::on_actionSet_source_file_triggered()
{
    dropSourceProgram();
    afterTcpClient([this] { fileReaderDialog->show(); });
}

// Runs `then` in this thread once the TCP client has handled every signal
// sent to it so far: after a null endpoint its connection is closed then, and
// every block it read is already on its way to the analyzer, ahead of any file
// record. The client may be inside a connect attempt's wait, so this waits
// through a round trip of queued calls rather than blocking the window.
void MainWindow::afterTcpClient(std::function<void()> then)
{
    if (!tcpThread->isRunning()) {
        then();
        return;
    }
    // The window outlives the client's thread: it stops that thread before
    // it is destroyed, so the reply can only be dropped, never misdelivered.
    QMetaObject::invokeMethod(
        tcpClient, [this, then = std::move(then)] { QMetaObject::invokeMethod(this, then, Qt::QueuedConnection); });
}

QString MainWindow::aboutText(const QString& revision)
{
    QString rest = revision;
    rest.remove(QRegularExpression("^.*\\:"));
    const QString revisionPart = rest.isEmpty() ? QString() : QString(", rev. %1").arg(rest);
    return QString("<h1>Ravel-Viewer</h1><h2>Version ") + Version + revisionPart + "</h2>" + Credits;
}

void MainWindow::on_actionAbout_triggered()
{
    QMessageBox::about(this, "About", aboutText(BuildRevision));
}

void MainWindow::fileNameUpdated(QString dir)
{
    settings.lastFile = dir;
    settings.saveSettings();
    // A file chosen while a program is the source (the dialog stayed open
    // after a connect): the file plays alone, as after Set source file.
    if (!currentProgram.type.isEmpty())
        dropSourceProgram();
    fromFile = true;
    emit dataSourceUpdated(true);
}

void MainWindow::askFileToWrite(const QString& caption, const QString& start, const QString& filter,
                                const std::function<void(const QString&)>& chosen)
{
    auto* dialog = new QFileDialog(this, caption, start, filter);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, chosen);
    connect(dialog, &QDialog::rejected, this, [chosen] { chosen(QString()); });
    dialog->open();
}

void MainWindow::on_actionOutput_triggered()
{
    askFileToWrite("Output...", rootWriter->fileName(), "CSV files (*.csv);;All files (*)",
                   [this](const QString& name) { openFeatureLog(name); });
}

// An empty name, from a cancelled dialog, closes the log.
void MainWindow::openFeatureLog(const QString& name)
{
    boardsMissingFromLog = 0;
    rootWriter->setFileName(name);
    if (!name.isEmpty() && !rootWriter->isOpen())
        emit addLog(QString("[MW] can't open feature log %1").arg(name));
}

void MainWindow::outputStatusUpdated(const QString& fileName, qint64 lines)
{
    QString text;
    if (!fileName.isEmpty()) {
        text = QString("Feature log %1: %2 lines").arg(QFileInfo(fileName).fileName()).arg(lines);
        if (boardsMissingFromLog > 0)
            text += QString(", %1 boards skipped").arg(boardsMissingFromLog);
    }
    outputLabel->setText(text);
    outputLabel->setToolTip(fileName);
}

void MainWindow::on_actionSave_plot_as_triggered()
{
    askFileToWrite("Save plot as...", QString(), PlotExporter::fileFilter(),
                   [this](const QString& name) { savePlot(name); });
}

// The plot of the tab on screen: the waveform plot or the histogram.
void MainWindow::savePlot(const QString& name)
{
    auto* plot = ui->tabWidget->currentWidget()->findChild<QwtPlot*>();
    if (name.isEmpty() || !plot)
        return;
    const QString error = PlotExporter::save(plot, name);
    emit addLog(error.isEmpty() ? QString("[MW] plot saved to %1").arg(name)
                                : QString("[MW] can't save plot: %1").arg(error));
}

void MainWindow::showWaveform(EventData data)
{
    addBoardsToSelector(data);
    if (!fromFile && lastDrawTime.isValid() && lastDrawTime.elapsed() <= LiveDrawIntervalMs)
        return;
    if (data.devices.isEmpty())
        return;
    lastEvent.evNum = data.evNum;
    lastEvent.devices = data.devices;

    std::vector<WaveformData> curves;
    int indexBase = 0;
    for (const DeviceEvent& board : qAsConst(data.devices)) {
        if (selectedSerial != 0 && selectedSerial != board.serial)
            continue;
        appendBoardCurves(board, indexBase, curves);
        indexBase += ChannelsPerBoard;
    }

    lastDrawTime.start();
    drawCurves(curves);
    eventLabel->setText(QString("Ev:%1").arg(data.evNum));
}

// One curve per channel of the chosen range, named "serial:channel", with
// "(b)" when a baseline was subtracted; indices follow the channel keys.
void MainWindow::appendBoardCurves(const DeviceEvent& board, int indexBase, std::vector<WaveformData>& curves)
{
    if (!baselines.contains(board.serial))
        loadBaselines(board.deviceType, board.serial);
    QMap<int, int>& boardBaselines = baselines[board.serial];
    for (auto channel = board.channels.cbegin(); channel != board.channels.cend(); ++channel) {
        const int ch = channel.value().ch;
        if (ch < chLow || ch > chHi)
            continue;
        const int baseline = boardBaselines[ch];
        const bool subtract = settings.drawRelativeToBaseline && baseline != 0;
        const QString name =
            QString("%1:%2%3").arg(board.serial, 4, 16, QChar('0')).arg(channel.key() + 1).arg(subtract ? "(b)" : "");
        curves.emplace_back(samplesRelativeTo(channel.value().samples, subtract ? baseline : 0), name.toStdString(),
                            indexBase + channel.key());
    }
}

// Replot, then hand the curves over. At the zoom base the hand-over redraws
// with the new curves; zoomed in it does not, so the replot shows the curves
// of the previous draw and the new ones show with the next. Either way the
// plot is painted now, once: a record arriving before a deferred paint would
// replace this one unseen, and playback shows every record it is given.
void MainWindow::drawCurves(const std::vector<WaveformData>& curves)
{
    WaveformPlot* plot = ui->widgetWaveform;
    const bool zoomedIn = plot->zoomer() && plot->zoomer()->zoomRectIndex() != 0;
    plot->replot();
    if (zoomedIn)
        plot->repaint();
    plot->setData(curves);
    if (!zoomedIn)
        plot->repaint();
}

void MainWindow::addBoardsToSelector(const EventData& event)
{
    for (const DeviceEvent& board : event.devices) {
        if (ui->comboBoxSerial->findData(QVariant::fromValue(board.serial)) < 0)
            ui->comboBoxSerial->addItem(boardLabel(board.serial, board.deviceType), QVariant::fromValue(board.serial));
    }
}

// Read once per board; a board without stored settings gets an empty map,
// which keeps it from being looked up again.
void MainWindow::loadBaselines(quint16 deviceType, quint32 serial)
{
    DeviceSettings model(deviceType, serial);
    model.loadFromStore();
    baselines.insert(serial, model.baselines());
}

void MainWindow::redraw()
{
    showWaveform(lastEvent);
}

void MainWindow::on_comboBoxSerial_currentIndexChanged(int index)
{
    bool isSerial = false;
    const quint32 serial = ui->comboBoxSerial->itemData(index).toUInt(&isSerial);
    selectedSerial = isSerial ? serial : 0;
    redraw();
}

void MainWindow::on_spinBoxChLow_valueChanged(int low)
{
    chLow = low;
    ui->spinBoxChHi->setMinimum(low);
    redraw();
}

void MainWindow::on_spinBoxChHi_valueChanged(int high)
{
    chHi = high;
    ui->spinBoxChLow->setMaximum(high);
    redraw();
}

void MainWindow::tcpStatusUpdated(QString status)
{
    tcpStatusLabel->setText(status);
}

void MainWindow::tcpConnected(bool connected)
{
    sourceLabel->setStyleSheet(QString("QLabel { color : %1; }").arg(connected ? "darkGreen" : "red"));
    if (!connected)
        return;
    fileReaderDialog->stopPlayback(); // live data alone from now on
    fromFile = false;
    emit dataSourceUpdated(false);
}

ProgramInterface MainWindow::chooseInterface(const ProgramDescription& program)
{
    const ProgramInterface& monitor = program.getInterface(MonitorDataFlowInterface);
    if (isUsable(monitor) && monitor.isFree)
        return monitor;
    if (program.type == programTypeName(NimbusProgram)) {
        const ProgramInterface& dataFlow = program.getInterface(DataFlowInterface);
        if (isUsable(dataFlow) && dataFlow.isFree)
            return dataFlow;
    }
    return ProgramInterface();
}

// Type and index name the source in the label and the saved choice, so a
// program that lacks either cannot become it.
bool MainWindow::isChoosable(const ProgramDescription& program)
{
    return !program.type.isEmpty() && !program.index.isEmpty() && !chooseInterface(program).type.isEmpty();
}

QString MainWindow::programDisplayName(const ProgramDescription& program)
{
    if (!program.name.isEmpty())
        return program.name;
    return program.type + " #" + program.index;
}

QVector<ProgramDescription> MainWindow::availablePrograms() const
{
    return programs.choosable();
}

void MainWindow::gotProgramDescription(ProgramDescription newDescr)
{
    if (newDescr.type != programTypeName(NimbusProgram) && newDescr.type != programTypeName(QolProgram))
        return;
    programs.update(newDescr);
    updateInterface(newDescr);
    ui->actionConnect_to_data_source->setEnabled(programs.anyChoosable());
}

// Follows the endpoint of the source program as it announces itself. An
// announcement without a usable interface of the chosen type gives the null
// endpoint, which stops the TCP client; the type is kept, so the next
// announcement that has the interface again reconnects.
void MainWindow::updateInterface(const ProgramDescription& descr)
{
    if (descr.type != currentProgram.type || descr.index != currentProgram.index)
        return;
    ProgramInterface found = descr.getInterface(currentInterface.type);
    if (!isUsable(found)) {
        found = currentInterface;
        found.host = QHostAddress();
        found.port = 0;
    }
    if (found.host == currentInterface.host && found.port == currentInterface.port)
        return;
    emit addLog(QString("[MW] change interface from %1:%2 to %3:%4")
                    .arg(currentInterface.host.toString())
                    .arg(currentInterface.port)
                    .arg(found.host.toString())
                    .arg(found.port));
    currentInterface = found;
    emit tcpAddressChanged(found.host, int(found.port));
    updateSourceLabel();
}

bool MainWindow::takeChosenProgram(const ProgramDescription& chosen)
{
    if (chosen.type == currentProgram.type && chosen.index == currentProgram.index
        && !currentInterface.type.isEmpty()) {
        qWarning("Selected program has no free interface");
        return false;
    }
    if (isChoosable(chosen)) {
        const ProgramInterface iface = chooseInterface(chosen);
        emit addLog(QString("[MW] change source from %1 to %2 (%3)")
                        .arg(programDisplayName(currentProgram), programDisplayName(chosen), iface.type));
        currentProgram = chosen;
        currentInterface.type = iface.type;
        currentInterface.id = iface.id;
        settings.selectedProgramType = currentProgram.type;
        settings.selectedProgramIndex = currentProgram.index;
        settings.selectedInterface = currentInterface.type;
        settings.saveSettings();
    }
    updateInterface(chosen);
    updateSourceLabel(); // also when the new program serves the old endpoint
    saveWindowSettings();
    return true;
}

void MainWindow::on_actionConnect_to_data_source_triggered()
{
    const QVector<ProgramDescription> available = availablePrograms();
    if (available.isEmpty()) {
        ui->actionConnect_to_data_source->setEnabled(false);
        return;
    }
    AddPnpDialog dialog(available, this);
    while (dialog.exec() == QDialog::Accepted) {
        // The dialog lists the programs as they were when it opened; one may
        // have moved since.
        ProgramDescription chosen = dialog.selectedProgram();
        if (const ProgramDescription* latest = programs.find(chosen.type, chosen.index))
            chosen = *latest;
        if (takeChosenProgram(chosen))
            return;
    }
}

void MainWindow::on_actionDisconnect_from_program_triggered()
{
    dropSourceProgram();
}

void MainWindow::dropSourceProgram()
{
    const QHostAddress host = currentInterface.host;
    const quint32 port = currentInterface.port;
    currentProgram = ProgramDescription();
    currentInterface = ProgramInterface();
    settings.selectedProgramType.clear();
    settings.selectedProgramIndex.clear();
    settings.selectedInterface.clear();
    settings.saveSettings();
    emit addLog(QString("[MW] disconnect from %1:%2").arg(host.toString()).arg(port));
    emit tcpAddressChanged(QHostAddress(), 0);
    updateSourceLabel();
}

void MainWindow::updateSourceLabel()
{
    const bool chosen = !currentProgram.type.isEmpty() && !currentProgram.index.isEmpty();
    QString text = "no connection";
    if (chosen) {
        text = programDisplayName(currentProgram);
        text += currentInterface.type.isEmpty()
                    ? QString(" (no interface)")
                    : QString(" (%1:%2)").arg(currentInterface.type).arg(currentInterface.id);
    }
    sourceLabel->setText(text);
    ui->actionDisconnect_from_program->setEnabled(chosen);
}
