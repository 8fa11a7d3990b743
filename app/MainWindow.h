#pragma once
// The viewer's main window: owns the data sources (file reader, and the TCP
// client fed by program discovery), the stream analyzer and the output
// writer, runs the data-path workers on threads of their own, wires
// everything by signals and slots, keeps the choice of the source program,
// and draws the chosen boards and channels of each decoded event in the
// waveform tab. Destroying it stops the worker threads in order within one
// shared time budget.

#include "app/DiscoveredPrograms.h"
#include "app/ViewerSettings.h"
#include "datapath/EventData.h"
#include "pnp/ProgramDescription.h"
#include "pnp/ProgramInterface.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QMainWindow>
#include <QMap>
#include <QSemaphore>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>
#include <vector>

class ADCAnalyzer;
class FileReader;
class FileReaderDialog;
class LogDialog;
class PNPServer;
class QLabel;
class QThread;
class RootWriter;
class TcpClient;
class WaveformData;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Permits of each flow-control semaphore.
    static constexpr int SemaphorePermits = 50;
    // Time all worker threads share to stop when the window goes.
    static constexpr int ThreadStopBudgetMs = 2000;
    // Live data are redrawn at most once per this many milliseconds.
    static constexpr int LiveDrawIntervalMs = 500;
    // Curve indices of consecutive boards start this far apart.
    static constexpr int ChannelsPerBoard = 64;
    // Fixed when the program is built.
    static const char* const BuildRevision;

    // Rich text of the About box for a build revision text.
    static QString aboutText(const QString& revision);

    // The endpoint of a program to read from: its free monitor output, or
    // for a Nimbus program its free data flow; else the reset value. Only
    // an enabled interface with a port counts.
    static ProgramInterface chooseInterface(const ProgramDescription& program);
    // Whether the operator can take the program as the source.
    static bool isChoosable(const ProgramDescription& program);
    // Its name, or "type #index" for a program without one.
    static QString programDisplayName(const ProgramDescription& program);

signals:
    void closeAll();
    void addLog(QString log);
    void adcRawDataSignedUpdated(bool adcSigned);
    void dataSourceUpdated(bool fromFile);
    void tcpAddressChanged(QHostAddress address, int port);

private slots:
    void statusUpdated(QString str);
    void on_actionADC_raw_data_signed_triggered(bool checked);
    void on_actionDraw_relative_to_baseline_triggered(bool checked);
    void on_actionSet_source_file_triggered();
    void on_actionAbout_triggered();
    void fileNameUpdated(QString dir);
    void on_actionOutput_triggered();
    void on_actionSave_plot_as_triggered();
    void outputStatusUpdated(const QString& fileName, qint64 lines);

    void showWaveform(EventData data);
    void on_comboBoxSerial_currentIndexChanged(int index);
    void on_spinBoxChLow_valueChanged(int low);
    void on_spinBoxChHi_valueChanged(int high);

    void tcpStatusUpdated(QString status);
    void tcpConnected(bool connected);
    void gotProgramDescription(ProgramDescription newDescr);
    void on_actionConnect_to_data_source_triggered();
    void on_actionDisconnect_from_program_triggered();

private:
    void setUpStatusBar();
    void connectWorkers();
    void startNetworkSource();
    void connectFileSource();
    void startWorkerThreads();
    void restoreWindowSettings();
    void saveWindowSettings();
    void stopWorkerThreads();
    void afterTcpClient(std::function<void()> then);
    static bool waitForThread(QThread* thread, int timeoutMs, const QElapsedTimer& budget);

    void addBoardsToSelector(const EventData& event);
    void appendBoardCurves(const DeviceEvent& board, int indexBase, std::vector<WaveformData>& curves);
    void drawCurves(const std::vector<WaveformData>& curves);
    void loadBaselines(quint16 deviceType, quint32 serial);
    void redraw();

    QVector<ProgramDescription> availablePrograms() const;
    void updateInterface(const ProgramDescription& descr);
    // Takes a program chosen by the operator as the source; false when it is
    // refused because it is the source already (the choice is asked again).
    bool takeChosenProgram(const ProgramDescription& chosen);
    void dropSourceProgram();
    void updateSourceLabel();
    // Asks for the name of a file to write without blocking the window; a
    // cancelled dialog hands `chosen` an empty name.
    void askFileToWrite(const QString& caption, const QString& start, const QString& filter,
                        const std::function<void(const QString&)>& chosen);
    void openFeatureLog(const QString& name);
    void savePlot(const QString& name);
    void countSkippedBoards(int boards);

    std::unique_ptr<Ui::MainWindow> ui;
    ViewerSettings settings;
    QSemaphore sourceSemaphore;
    QSemaphore writerSemaphore;
    FileReader* fileReader;
    QThread* fileReaderThread;
    ADCAnalyzer* analyzer;
    QThread* analyzerThread;
    PNPServer* pnpServer;
    std::unique_ptr<RootWriter> rootWriter;
    TcpClient* tcpClient;
    QThread* tcpThread;
    QLabel* tcpStatusLabel;
    QLabel* eventLabel;
    QLabel* sourceLabel;
    QLabel* skippedLabel; // boards the histograms missed; hidden while none
    quint64 skippedBoards = 0;
    LogDialog* logDialog;
    // Start of the last draw; steady-clock based, so it survives midnight.
    QElapsedTimer lastDrawTime;
    // Discovered programs of the accepted types, one per (type, index).
    DiscoveredPrograms programs{&MainWindow::isChoosable};
    // Only name, type and index are used; empty type or index: none chosen.
    ProgramDescription currentProgram;
    ProgramInterface currentInterface;
    FileReaderDialog* fileReaderDialog;
    quint32 selectedSerial = 0;
    int chLow = 0;
    int chHi = 64;
    EventData lastEvent;
    QMap<quint32, QMap<int, int>> baselines;
    bool fromFile = false;
    // Feature log file and lines written, in the status line while logging.
    QLabel* outputLabel = nullptr;
    // Boards the analyzer dropped since the log was opened: the log lacks them.
    quint64 boardsMissingFromLog = 0;
};
