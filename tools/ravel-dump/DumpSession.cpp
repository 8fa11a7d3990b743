#include "tools/ravel-dump/DumpSession.h"

#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QTimer>

namespace {

// The reader tells the end of its scan, an out-of-range record and a failed
// streaming read only on Qt's message output; the session watches for them.
// Diagnostic (debug) lines are shown only when asked for.
struct MessageWatch {
    QMutex mutex;
    QtMessageHandler previous = nullptr;
    bool verbose = false;
    bool outOfRange = false;
    bool readFailed = false;
    qint64 parsed = -1; // from the scan's completion line
};
MessageWatch watch;

const QString OutOfRangeText = QStringLiteral("Record number is out of range");

void watchMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    static const QRegularExpression completed(QStringLiteral("^updateFileMap completed: parsed (\\d+)/"));
    bool show = watch.verbose || type != QtDebugMsg;
    {
        QMutexLocker lock(&watch.mutex);
        const QRegularExpressionMatch match = completed.match(text);
        if (match.hasMatch())
            watch.parsed = match.captured(1).toLongLong();
        if (text == OutOfRangeText) {
            watch.outOfRange = true;
            show = watch.verbose; // the session's own end-of-map probe
        }
        if (text.startsWith(QLatin1String("error in FileReader::readFile()")))
            watch.readFailed = true;
    }
    if (show)
        watch.previous(type, context, text);
}

bool takeFlag(bool& flag)
{
    QMutexLocker lock(&watch.mutex);
    const bool was = flag;
    flag = false;
    return was;
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
    watch.verbose = verbose;
    watch.previous = qInstallMessageHandler(watchMessages);

    m_analyzer->adcRawDataSignedUpdated(adcSigned);
    m_analyzer->dataSourceUpdated(true);
    connect(&m_reader, &FileReader::dataAccuired, m_analyzer, &ADCAnalyzer::dataAccuired);
    connect(&m_reader, &FileReader::dataAccuired, this, &DumpSession::onBlockSent);
    connect(&m_reader, &FileReader::fileMapUpdated, this,
            [this](qint64, const QString&, quint32 records, double decodedPart) {
                m_fileMap.records = records;
                m_fileMap.parsed = qRound64(decodedPart * double(m_fileMap.size));
            });
    connect(m_analyzer, &ADCAnalyzer::eventDataUpdated, this, &DumpSession::onEvent);
    connect(m_analyzer, &ADCAnalyzer::addLog, this, [this](const QString& text) { m_output->log(text); });
    connect(m_analyzer, &ADCAnalyzer::eventMapUpdated, this, &DumpSession::onBlockProcessed);
    m_analyzerThread.setObjectName(QStringLiteral("ADC analyzer"));
    m_analyzer->moveToThread(&m_analyzerThread);
    m_analyzerThread.start();
}

DumpSession::~DumpSession()
{
    m_analyzerThread.quit();
    m_analyzerThread.wait();
    delete m_analyzer;
    qInstallMessageHandler(watch.previous);
}

void DumpSession::run()
{
    QTimer::singleShot(0, this, &DumpSession::start);
    m_loop.exec();
}

void DumpSession::start()
{
    m_fileMap.size = QFileInfo(m_fileName).size();
    m_reader.setFileName(m_fileName); // scans the whole file before it returns
    {
        QMutexLocker lock(&watch.mutex);
        m_fileMap.completed = watch.parsed >= 0;
        if (m_fileMap.completed)
            m_fileMap.parsed = watch.parsed;
    }
    if (m_mode == Mode::Records) {
        requestNextRecord();
    } else {
        m_reader.readFile(); // goes on by its own timer while the analyzer is behind
        finishIfStreamDone();
    }
}

void DumpSession::requestNextRecord()
{
    for (;;) {
        if (m_fileMap.completed && m_record >= int(m_fileMap.records))
            return finish();
        ++m_record;
        const int sentBefore = m_blocksSent;
        m_reader.readRecord(m_record);
        if (takeFlag(watch.outOfRange)) {
            // Only a scan that stopped early leaves the map size unknown.
            m_fileMap.records = quint32(m_record - 1);
            return finish();
        }
        if (m_blocksSent > sentBefore)
            return; // goes on when the analyzer has processed the record
    }
}

void DumpSession::onBlockSent(const QByteArray& block)
{
    ++m_blocksSent;
    m_bytesSent += block.size();
}

void DumpSession::onBlockProcessed()
{
    ++m_blocksProcessed;
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
    m_readFailed = m_readFailed || takeFlag(watch.readFailed);
    const bool allRead = m_bytesSent >= m_fileMap.size || m_readFailed;
    if (allRead && m_blocksProcessed == m_blocksSent)
        finish();
}

// The number of map entries of a scan that stopped early, which the reader
// does not report: the largest record number that is not out of range,
// probed with the reader's signals blocked so that nothing reaches the analyzer.
quint32 DumpSession::probeRecordCount()
{
    const QSignalBlocker silence(&m_reader);
    const auto inRange = [this](int record) {
        m_reader.readRecord(record);
        return !takeFlag(watch.outOfRange);
    };
    int low = 0, high = 1;
    while (inRange(high)) {
        low = high;
        high *= 2;
    }
    while (high - low > 1) {
        const int middle = low + (high - low) / 2;
        (inRange(middle) ? low : high) = middle;
    }
    return quint32(low);
}

void DumpSession::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_mode == Mode::Stream && !m_fileMap.completed)
        m_fileMap.records = probeRecordCount();
    m_reader.closeFile();
    m_output->finish(m_fileMap);
    m_loop.quit();
}
