#include "datapath/RootWriter.h"

#include <QDebug>
#include <QFile>
#include <QSemaphore>
#include <QTextStream>
#include <QTimer>

RootWriter::RootWriter(QSemaphore* semaphore, QObject* parent)
    : QObject(parent), file(new QFile), semaphore(semaphore), timer(new QTimer(this))
{
    connect(timer, &QTimer::timeout, this, &RootWriter::tett);
    timer->start(500);
}

RootWriter::~RootWriter()
{
    flushFile();
    delete stream;
    delete file;
}

void RootWriter::setFileName(const QString& str)
{
    if (file->isOpen())
        file->close();
    file->setFileName(str);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qCritical().noquote() << "Can't open data file:" << str;
        return;
    }
    if (!stream)
        stream = new QTextStream;
    stream->setDevice(file);
    qDebug().noquote() << "Data file opened:" << str;
}

void RootWriter::decodeData(const DeviceData& dd)
{
    Q_UNUSED(dd)
    if (semaphore)
        semaphore->release();
}

void RootWriter::tett() {}

void RootWriter::flushFile()
{
    if (!file->isOpen())
        return;
    if (stream)
        stream->flush();
    file->flush();
}
