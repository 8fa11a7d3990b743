#pragma once
// The viewer's output file, the feature log: given a name it creates the file
// and writes the header of FeatureLogFormat, then one line per board and
// channel of every board record it is handed. Lines are flushed to disk on
// the 500 ms tick, on flushFile and on destruction. The first write error is
// reported on addLog and closes the file; records keep arriving and keep
// returning their permits. An empty name closes the file.

#include "datapath/EventData.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

class QSemaphore;
class QTimer;

class RootWriter : public QObject {
    Q_OBJECT

public:
    static constexpr int FlushIntervalMs = 500;

    explicit RootWriter(QSemaphore* semaphore, QObject* parent = nullptr);
    ~RootWriter() override;

    bool isOpen() const { return file.isOpen(); }
    // The open file's name, or empty.
    QString fileName() const { return isOpen() ? file.fileName() : QString(); }
    // Feature lines written to the open file, the header not counted.
    qint64 linesWritten() const { return lines; }

signals:
    void addLog(const QString& text);
    // The file opened, closed (empty name) or its line count after a tick.
    void outputStatusUpdated(const QString& fileName, qint64 lines);

public slots:
    // Opens (creating or truncating) the named file, closing the previous
    // one; an empty name only closes.
    void setFileName(const QString& str);
    // Writes the record's feature lines if a file is open; returns one permit.
    // Taken by value: the copy takes its own reference to the record shared
    // with the analyzer's thread.
    void decodeData(DeviceData dd);
    // Timer tick: flushes and tells the line count.
    void tett();
    void flushFile();

private:
    void write(const QByteArray& bytes);
    void failWrite();
    void close();

    QFile file;
    // One board's lines, written at once; reserved, so that it keeps its
    // capacity from board to board.
    QByteArray lineBuffer;
    static constexpr int BoardLineBytes = 64 * 128;
    qint64 lines = 0;
    QSemaphore* semaphore;
    QTimer* timer;
};
