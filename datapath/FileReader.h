#pragma once
// Random access to a recorded data file in the event stream format. Setting a
// file opens it and scans it once into a file map (event number -> offset of
// the event record's header); records are then read by their 1-based position
// in ascending event-number order and passed on as raw blocks. The reader
// lives in a worker thread of its own; every slot arrives queued.

#include "datapath/StreamFormat.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QObject>
#include <QString>

class QSemaphore;
class QTimer;

class FileReader : public QObject {
    Q_OBJECT

public:
    // sourceSemaphore: the flow-control semaphore shared with the analyzer,
    // which returns one permit for every block it has processed.
    explicit FileReader(QSemaphore* sourceSemaphore, QObject* parent = nullptr);
    ~FileReader() override;

    // Streaming reads pass the file on in chunks of at most this many bytes.
    static constexpr qint64 StreamChunkSize = 20000000;
    // The scan looks at pending events and progress at every this many bytes.
    static constexpr qint64 CheckpointStep = 1000000;
    static constexpr int ProgressIntervalMs = 3000;
    static constexpr int EventSliceMs = 100;
    // A record whose declared length exceeds this is not loaded into memory.
    static constexpr quint32 MaxRecordLength = StreamFormat::MaxRecordLength;
    // Bytes the scan reads at once when a header lies outside its window:
    // one page after a long step, more while records are small.
    static constexpr int HeaderWindowSize = 4096;
    static constexpr int LargeHeaderWindowSize = 65536;

public slots:
    // Closes the current file, opens the named one read-only and maps it.
    void setFileName(const QString& fileName);
    // Reads the record with 1-based number `record` in ascending event-number
    // order and emits eventRead and dataAccuired.
    void readRecord(int record);
    // Streaming mode: passes the file on from its current position in large
    // chunks under flow control, resuming by the read timer while the analyzer
    // is behind. The timer stops at the end of the file.
    void readFile();
    // Closes the file if it is open; a scan in progress is cancelled.
    void closeFile();

signals:
    // A raw block for the analyzer: one event record or a streaming chunk.
    void dataAccuired(const QByteArray& data);
    // Comes before each record read on its own: it continues nothing read
    // before, so whatever a damaged record left unfinished is to be dropped.
    void streamStarted();
    // A record was read: its event number and the header bytes read (12).
    void eventRead(quint32 evNum, quint32 size);
    // Scan progress or result: file size, modification time as text, map
    // entries so far, scanned fraction 0..1.
    void fileMapUpdated(qint64 fileSize, const QString& lastModify, quint32 records, double decodedPart);
    // The named file could not be opened; error is the file's error text.
    void fileOpenFailed(const QString& fileName, const QString& error);
    // A scan ended without being cancelled: the file size, the map's
    // entries, the bytes stepped through, and whether it ran to the end of the
    // file (false: it stopped at a damaged record magic, where scannedBytes
    // points).
    void fileMapFinished(qint64 fileSize, quint32 records, qint64 scannedBytes, bool completed);
    // Streaming ended: at the end of the file, or (false) because the file
    // is gone or a read failed.
    void fileStreamEnded(bool atEndOfFile);

private:
    enum class ScanStep { Next, Finish, Stop };

    void reportOpenFailure(const QString& fileName);
    void updateFileMap();
    ScanStep scanCheckpoint(quint64 generation, qint64 pos, qint64 size, QElapsedTimer& stopwatch);
    ScanStep scanRecord(qint64& pos, qint64 size);
    bool readHeaderAt(qint64 pos, char* header);
    void emitFileMap(qint64 size, double decodedPart);
    QString lastModifiedText() const;

    QMap<quint32, qint64>::const_iterator findRecord(int record);
    void invalidateRecordCache();
    void takeRecordPermit();
    void settleUnpaidPermits();

    QFile file;
    QMap<quint32, qint64> fileMap;
    QSemaphore* sourceSemaphore;
    QTimer* readTimer;

    // Bumped by every scan and by closeFile, so a scan whose file was closed
    // or replaced while it processed events knows it is stale.
    quint64 scanGeneration = 0;
    // Small look-ahead window over the file used by the scan, so that files
    // of small records cost one read per window instead of one per record.
    QByteArray headerWindow;
    qint64 headerWindowPos = 0;
    // Last record located by position, so stepping through the map is cheap.
    int cachedRecord = 0;
    QMap<quint32, qint64>::const_iterator cachedRecordIt;
    // Records sent while no permit was free; settled from later free permits.
    int unpaidPermits = 0;
};
