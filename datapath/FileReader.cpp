#include "datapath/FileReader.h"

#include "datapath/StreamFormat.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QPointer>
#include <QSemaphore>
#include <QThread>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

using namespace StreamFormat;

FileReader::FileReader(QSemaphore* sourceSemaphore, QObject* parent)
    : QObject(parent), sourceSemaphore(sourceSemaphore), readTimer(new QTimer(this))
{
    readTimer->setInterval(1000);
    connect(readTimer, &QTimer::timeout, this, &FileReader::readFile);
}

FileReader::~FileReader()
{
    closeFile();
}

void FileReader::setFileName(const QString& fileName)
{
    closeFile();
    file.setFileName(fileName);
    // Unbuffered: the scan keeps its own small header window, record reads
    // and streaming chunks are large.
    if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        qDebug().noquote() << QString("Source file '%1' was opened").arg(fileName);
    else
        reportOpenFailure(fileName);
    updateFileMap();
}

void FileReader::reportOpenFailure(const QString& fileName)
{
    qWarning().noquote() << QString("Failed to open file '%1': %2").arg(fileName, file.errorString());
    emit fileOpenFailed(fileName, file.errorString());
}

void FileReader::closeFile()
{
    ++scanGeneration; // a scan waiting in processEvents sees it and stops
    readTimer->stop();
    if (file.isOpen())
        file.close();
}

// ---------------------------------------------------------------------------
// File map

void FileReader::updateFileMap()
{
    qDebug().noquote() << "Start creating file map:";
    const quint64 generation = ++scanGeneration;
    fileMap.clear();
    invalidateRecordCache();
    headerWindow.clear();
    const qint64 size = file.size();
    if (file.isOpen())
        file.seek(0);
    QElapsedTimer stopwatch;
    stopwatch.start();

    qint64 pos = 0;
    if (size > EventHeaderSize) {
        qint64 checkpoint = 0;
        while (pos + EventHeaderSize < size) {
            if (pos >= checkpoint) {
                if (scanCheckpoint(generation, pos, size, stopwatch) == ScanStep::Stop)
                    return; // members may be gone: the reader can be deleted meanwhile
                checkpoint += CheckpointStep;
            }
            const ScanStep step = scanRecord(pos, size);
            if (step == ScanStep::Stop) {
                file.seek(0); // streaming starts from the beginning, as after a whole scan
                emit fileMapFinished(size, quint32(fileMap.size()), pos, false);
                return;
            }
            if (step == ScanStep::Finish)
                break;
        }
    }

    qDebug().noquote() << QString("updateFileMap completed: parsed %1/%2 bytes; %3 event records")
                              .arg(pos)
                              .arg(size)
                              .arg(fileMap.size());
    if (file.isOpen())
        file.seek(0);
    // A truncated last record moves pos past the end; the fraction stays
    // within 0..1. An empty file that is open has been scanned whole.
    const double decodedPart = size > 0 ? std::min(1.0, double(pos) / double(size)) : (file.isOpen() ? 1.0 : 0.0);
    emitFileMap(size, decodedPart);
    emit fileMapFinished(size, quint32(fileMap.size()), pos, true);
}

// Lets queued slots of the reader's thread run (closeFile cancels the scan,
// readRecord is served meanwhile) and reports progress at most every 3 s.
FileReader::ScanStep FileReader::scanCheckpoint(quint64 generation, qint64 pos, qint64 size, QElapsedTimer& stopwatch)
{
    const QPointer<FileReader> alive(this);
    QCoreApplication::processEvents(QEventLoop::AllEvents, EventSliceMs);
    if (!alive || generation != scanGeneration || !file.isOpen()
        || QThread::currentThread()->isInterruptionRequested()) {
        qWarning().noquote() << "Creation of file map was canceled.";
        return ScanStep::Stop;
    }
    if (stopwatch.elapsed() > ProgressIntervalMs) {
        qDebug().noquote()
            << QString("Completed %1% %2 ms").arg(100.0 * pos / size, 0, 'f', 1).arg(stopwatch.elapsed());
        emitFileMap(size, double(pos) / double(size));
        stopwatch.restart();
    }
    return ScanStep::Next;
}

// Maps the record whose header starts at pos and moves pos past it.
FileReader::ScanStep FileReader::scanRecord(qint64& pos, qint64 size)
{
    char header[EventHeaderSize];
    if (!readHeaderAt(pos, header)) {
        qWarning().noquote() << "error in FileReader::updateFileMap(): " + file.errorString();
        return ScanStep::Finish;
    }
    const quint32 magic = readWord(header);
    const qint64 length = readWord(header + 4);
    qint64 step = 0;
    switch (magic) {
    case KEP_SYNC_WORD:
        if (pos + EventHeaderSize + length <= size) {
            fileMap.insert(readWord(header + 8), pos);
            invalidateRecordCache();
        }
        step = EventHeaderSize + length;
        break;
    case AUX_SYNC_WORD:
        step = AuxHeaderSize + length;
        break;
    case START_SYNC_WORD:
    case STOP_SYNC_WORD:
        step = StartStopHeaderSize + length;
        break;
    default:
        qWarning().noquote() << "Unknown Kep header sync-word: 0x" + QString::number(magic, 16);
        return ScanStep::Stop;
    }
    pos += step;
    return ScanStep::Next;
}

// Copies the 12 bytes at pos into header, from the window when it holds them.
// A miss reads a large window when the last header was near (small records)
// and a single page when it was far (large records are seeked over).
bool FileReader::readHeaderAt(qint64 pos, char* header)
{
    qint64 offsetInWindow = pos - headerWindowPos;
    if (offsetInWindow < 0 || offsetInWindow + EventHeaderSize > headerWindow.size()) {
        const bool nearLastWindow = offsetInWindow >= 0 && offsetInWindow < LargeHeaderWindowSize;
        if (!file.seek(pos))
            return false;
        headerWindow = file.read(nearLastWindow ? LargeHeaderWindowSize : HeaderWindowSize);
        headerWindowPos = pos;
        offsetInWindow = 0;
        if (headerWindow.size() < EventHeaderSize)
            return false;
    }
    std::memcpy(header, headerWindow.constData() + offsetInWindow, EventHeaderSize);
    return true;
}

void FileReader::emitFileMap(qint64 size, double decodedPart)
{
    emit fileMapUpdated(size, lastModifiedText(), quint32(fileMap.size()), decodedPart);
}

QString FileReader::lastModifiedText() const
{
    return QFileInfo(file.fileName()).lastModified().toString();
}

// ---------------------------------------------------------------------------
// Record reads

void FileReader::readRecord(int record)
{
    if (!file.isOpen())
        return;
    if (record <= 0 || record > fileMap.size()) {
        qWarning().noquote() << "Record number is out of range";
        return;
    }
    const auto it = findRecord(record);
    const quint32 evNum = it.key();
    const qint64 offset = it.value();

    file.seek(offset);
    const QByteArray header = file.read(EventHeaderSize);
    file.seek(offset);
    const qint64 length = header.size() == EventHeaderSize ? readWord(header.constData() + 4) : -1;
    if (length < 0 || offset + EventHeaderSize + length > file.size()) {
        qWarning().noquote() << "Incomplete event:" << evNum;
        return;
    }
    if (length > MaxRecordLength) {
        qWarning().noquote() << QString("Event %1 is too large to read: %2 bytes").arg(evNum).arg(length);
        return;
    }
    const QByteArray bytes = file.read(EventHeaderSize + length);
    if (bytes.size() != EventHeaderSize + length) { // the file shrank since it was mapped
        qWarning().noquote() << "Incomplete event:" << evNum;
        return;
    }
    takeRecordPermit();
    emit eventRead(evNum, quint32(header.size()));
    emit streamStarted();
    emit dataAccuired(bytes);
}

// Finds the record-th entry (1-based) by stepping from the nearest known
// position: the last record found, the first or the last entry. Playback
// steps by one record, so this stays cheap for maps of millions of events.
QMap<quint32, qint64>::const_iterator FileReader::findRecord(int record)
{
    const int count = fileMap.size();
    int from = 1;
    auto it = fileMap.constBegin();
    if (count - record < record - from) {
        from = count;
        it = std::prev(fileMap.constEnd());
    }
    if (cachedRecord > 0 && std::abs(record - cachedRecord) < std::abs(record - from)) {
        from = cachedRecord;
        it = cachedRecordIt;
    }
    std::advance(it, record - from);
    cachedRecord = record;
    cachedRecordIt = it;
    return it;
}

void FileReader::invalidateRecordCache()
{
    cachedRecord = 0;
}

// Single records take a permit like every other block, so that the
// analyzer's release after each block keeps the semaphore at its size and the
// TCP source's flow control stays bounded. The reader never waits for one: a
// record sent while none is free is paid for from a later free permit.
void FileReader::takeRecordPermit()
{
    settleUnpaidPermits();
    if (!sourceSemaphore->tryAcquire())
        ++unpaidPermits;
}

void FileReader::settleUnpaidPermits()
{
    while (unpaidPermits > 0 && sourceSemaphore->tryAcquire())
        --unpaidPermits;
}

// ---------------------------------------------------------------------------
// Streaming

void FileReader::readFile()
{
    if (!file.exists() || !file.isReadable()) {
        readTimer->stop();
        emit fileStreamEnded(false);
        return;
    }
    settleUnpaidPermits();
    while (file.pos() < file.size()) {
        const qint64 chunkSize = std::min(file.size() - file.pos(), StreamChunkSize);
        if (!sourceSemaphore->tryAcquire()) {
            qDebug().noquote() << QString("[%1] file read delayed (analyzer is slow)")
                                      .arg(QTime::currentTime().toString("hh:mm:ss:zzz"));
            break;
        }
        const QByteArray chunk = file.read(chunkSize);
        if (chunk.isEmpty()) {
            sourceSemaphore->release();
            qWarning().noquote() << "error in FileReader::readFile(): " + file.errorString();
            readTimer->stop();
            emit fileStreamEnded(false);
            return;
        }
        emit dataAccuired(chunk);
    }
    if (file.pos() < file.size()) {
        readTimer->start(10);
        return;
    }
    readTimer->stop();
    qDebug().noquote() << "File was read.";
    emit fileStreamEnded(true);
}
