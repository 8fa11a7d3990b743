#pragma once
// The viewer's output file: created for writing as text when it is given a
// name and kept open, flushed on request and on destruction. It returns one
// permit of its semaphore for every board record it is handed; the records
// themselves are not written.

#include "datapath/EventData.h"

#include <QObject>
#include <QString>

class QFile;
class QSemaphore;
class QTextStream;
class QTimer;

class RootWriter : public QObject {
    Q_OBJECT

public:
    explicit RootWriter(QSemaphore* semaphore, QObject* parent = nullptr);
    ~RootWriter() override;

signals:
    void addLog(const QString& text);

public slots:
    // Opens (creating or truncating) the named file, closing the previous one.
    void setFileName(const QString& str);
    // Returns one permit of the semaphore; the record is not used.
    void decodeData(const DeviceData& dd);
    // Timer tick; nothing to do.
    void tett();
    void flushFile();

private:
    QFile* file;
    QTextStream* stream = nullptr;
    QSemaphore* semaphore;
    QTimer* timer;
};
