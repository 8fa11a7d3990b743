#include "tools/ravel-dump/DumpSession.h"

#include <QTimer>

namespace {

// Diagnostic (debug) lines of the reader and the analyzer are shown only when
// asked for; warnings always are.
QtMessageHandler previousHandler = nullptr;
bool showDebugLines = false;

void filterMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (showDebugLines || type != QtDebugMsg)
        previousHandler(type, context, text);
}

} // namespace

DumpSession::DumpSession(const QString& fileName, Mode mode, bool adcSigned, bool verbose, DumpOutput* output)
    : m_fileName(fileName)
    , m_mode(mode)
    , m_output(output)
    , m_readerPermits(ReaderPermits)
    , m_reader(&m_readerPermits)
    , m_analyzer(new ADCAnalyzer(&m_analyzerPermits, nullptr))
{
    showDebugLines = verbose;
    previousHandler = qInstallMessageHandler(filterMessages);

    m_analyzer->adcRawDataSignedUpdated(adcSigned);
    m_analyzer->dataSourceUpdated(true);
    connect(&m_reader, &FileReader::streamStarted, m_analyzer, &ADCAnalyzer::streamStarted);
    connect(&m_reader, &FileReader::dataAccuired, m_analyzer, &ADCAnalyzer::dataAccuired);
    connect(&m_reader, &FileReader::dataAccuired, this, &DumpSession::onBlockSent);
    connect(&m_reader, &FileReader::fileOpenFailed, this,
            [this](const QString&, const QString& error) { m_openError = error; });
    connect(&m_reader, &FileReader::fileMapFinished, this,
            [this](qint64 size, quint32 records, qint64 scanned, bool completed) {
                m_fileMap = {size, scanned, records, completed};
            });
    connect(&m_reader, &FileReader::fileStreamEnded, this, [this] {
        m_streamEnded = true;
        finishIfStreamDone();
    });
    connect(m_analyzer, &ADCAnalyzer::eventDataUpdated, this, &DumpSession::onEvent);
    connect(m_analyzer, &ADCAnalyzer::addLog, this, &DumpSession::onLog);
    // Only the end of a block matters here. A queued copy of the position map
    // would still be shared when the analyzer adds the next event, making it
    // copy the whole map for every block.
    connect(
        m_analyzer, &ADCAnalyzer::eventMapUpdated, m_analyzer,
        [this] { QMetaObject::invokeMethod(this, &DumpSession::onBlockProcessed, Qt::QueuedConnection); },
        Qt::DirectConnection);
    m_analyzerThread.setObjectName(QStringLiteral("ADC analyzer"));
    m_analyzer->moveToThread(&m_analyzerThread);
    m_analyzerThread.start();
}

DumpSession::~DumpSession()
{
    m_analyzerThread.quit();
    m_analyzerThread.wait();
    delete m_analyzer;
    qInstallMessageHandler(previousHandler);
}

bool DumpSession::run()
{
    QTimer::singleShot(0, this, &DumpSession::start);
    m_loop.exec();
    return m_openError.isNull();
}

void DumpSession::start()
{
    m_reader.setFileName(m_fileName); // scans the whole file before it returns
    if (!m_openError.isNull())
        return m_loop.quit();
    if (m_mode == Mode::Records)
        requestNextRecord();
    else
        m_reader.readFile(); // goes on by its own timer while the analyzer is behind
}

// Records that cannot be read (cut short or too large) send nothing; the
// reader has warned about them.
void DumpSession::requestNextRecord()
{
    while (m_record < int(m_fileMap.records)) {
        const int sentBefore = m_blocksSent;
        m_reader.readRecord(++m_record);
        if (m_blocksSent > sentBefore)
            return; // goes on when the analyzer has processed the record
    }
    finish();
}

void DumpSession::onBlockSent()
{
    ++m_blocksSent;
}

// The analyzer logs a format error once, and once more when it found a sync
// word to go on from; the repeat comes right after it, within one block.
void DumpSession::onLog(const QString& text)
{
    const bool repeat = text == m_unrepeatedLog;
    m_unrepeatedLog = repeat ? QString() : text;
    m_output->log(text, !repeat);
}

void DumpSession::onBlockProcessed()
{
    ++m_blocksProcessed;
    m_unrepeatedLog.clear();
    m_readerPermits.release();
    if (m_mode == Mode::Records)
        requestNextRecord();
    else
        finishIfStreamDone();
}

void DumpSession::onEvent(const EventData& event)
{
    ++m_eventsSeen;
    m_output->event(m_mode == Mode::Records ? m_record : m_eventsSeen, event);
}

void DumpSession::finishIfStreamDone()
{
    if (m_streamEnded && m_blocksProcessed == m_blocksSent)
        finish();
}

void DumpSession::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_reader.closeFile();
    // The analyzer is idle: every block it was sent has been processed.
    m_analyzerThread.quit();
    m_analyzerThread.wait();
    if (m_mode == Mode::Stream && m_analyzer->pendingBytes() > 0)
        m_output->log(QStringLiteral("Format error: the file ends inside a record; %1 bytes left undecoded")
                          .arg(m_analyzer->pendingBytes()),
                      true);
    m_output->finish(m_fileMap);
    m_loop.quit();
}
