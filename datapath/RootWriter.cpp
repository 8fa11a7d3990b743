#include "datapath/RootWriter.h"

#include "datapath/FeatureLogFormat.h"

#include <QDebug>
#include <QSemaphore>
#include <QTimer>

RootWriter::RootWriter(QSemaphore* semaphore, QObject* parent)
    : QObject(parent), semaphore(semaphore), timer(new QTimer(this))
{
    lineBuffer.reserve(BoardLineBytes);
    connect(timer, &QTimer::timeout, this, &RootWriter::tett);
    timer->start(FlushIntervalMs);
}

RootWriter::~RootWriter()
{
    flushFile();
}

void RootWriter::setFileName(const QString& str)
{
    if (isOpen())
        close();
    if (!str.isEmpty()) {
        file.setFileName(str);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            qDebug().noquote() << "Data file opened:" << str;
            write(FeatureLogFormat::header());
        } else {
            qCritical().noquote() << "Can't open data file:" << str;
        }
    }
    emit outputStatusUpdated(fileName(), lines);
}

void RootWriter::decodeData(DeviceData dd)
{
    for (const DeviceEvent& board : dd.events) {
        if (!isOpen())
            break;
        lineBuffer.resize(0); // keeps the reserved capacity
        const int added = FeatureLogFormat::appendBoard(lineBuffer, board);
        write(lineBuffer);
        if (isOpen())
            lines += added;
    }
    if (semaphore)
        semaphore->release();
}

void RootWriter::tett()
{
    if (!isOpen())
        return;
    flushFile();
    emit outputStatusUpdated(fileName(), lines);
}

void RootWriter::flushFile()
{
    if (isOpen() && !file.flush())
        failWrite();
}

// QFile keeps a small buffer of its own, so most writes only copy.
void RootWriter::write(const QByteArray& bytes)
{
    if (file.write(bytes) != bytes.size())
        failWrite();
}

void RootWriter::failWrite()
{
    emit addLog(QString("Can't write data file: %1 (%2); it is closed").arg(file.fileName(), file.errorString()));
    close();
    emit outputStatusUpdated(QString(), lines);
}

// What is still buffered after a write error is dropped with the file.
void RootWriter::close()
{
    file.close();
    file.unsetError();
    lines = 0;
}
