#pragma once
// Runs the viewer's own data path on one file: a FileReader in this thread
// maps the file and hands blocks over by queued signals to an ADCAnalyzer in
// its worker thread, whose events and log lines come back queued to this
// thread and go to a DumpOutput. The reader's flow-control permit for a block
// comes back only when the end of the block, told by the analyzer's per-block
// position map signal, reaches this thread, that is after the block's events
// have been written, so at most ReaderPermits blocks and their events are
// held in memory for any file.

#include "datapath/ADCAnalyzer.h"
#include "datapath/FileReader.h"
#include "tools/ravel-dump/DumpOutput.h"

#include <QEventLoop>
#include <QSemaphore>
#include <QThread>

class DumpSession : public QObject {
    Q_OBJECT
public:
    enum class Mode {
        Records, // every record of the file map through readRecord
        Stream,  // the whole file through readFile's streaming chunks
    };

    DumpSession(const QString& fileName, Mode mode, bool adcSigned, bool verbose, DumpOutput* output);
    ~DumpSession() override;

    // Maps and decodes the file; returns when every block has been decoded,
    // or false at once when the reader cannot open the file.
    bool run();
    // The reader's text for why it could not open the file.
    QString openError() const { return m_openError; }

private:
    void start();
    void requestNextRecord();
    void onBlockSent();
    void onLog(const QString& text);
    void onBlockProcessed();
    void onEvent(const EventData& event);
    void finishIfStreamDone();
    void finish();

    QString m_fileName;
    Mode m_mode;
    DumpOutput* m_output;

    static constexpr int ReaderPermits = 2;
    QSemaphore m_readerPermits;
    QSemaphore m_analyzerPermits; // released by the analyzer, not looked at
    FileReader m_reader;
    QThread m_analyzerThread;
    ADCAnalyzer* m_analyzer;
    QEventLoop m_loop;

    QString m_openError; // null while the reader opened the file
    FileMapResult m_fileMap;
    int m_record = 0; // record last requested (records mode)
    int m_eventsSeen = 0;
    int m_blocksSent = 0;
    int m_blocksProcessed = 0;
    QString m_unrepeatedLog; // the last log line of this block, unless repeated
    bool m_streamEnded = false;
    bool m_finished = false;
};
