#include "tools/daqsim/FileEventSource.h"

#include "datapath/StreamFormat.h"

#include <QDebug>

using namespace StreamFormat;

FileEventSource::FileEventSource(const QString& fileName, bool loop) : m_file(fileName), m_loop(loop)
{
    m_file.open(QIODevice::ReadOnly);
}

bool FileEventSource::isOpen() const
{
    return m_file.isOpen();
}

QString FileEventSource::errorString() const
{
    return m_file.errorString();
}

QByteArray FileEventSource::nextRecord()
{
    if (!isOpen() || m_failed)
        return QByteArray();
    QByteArray record = readRecord();
    if (record.isEmpty() && m_loop && !m_failed && m_file.pos() > 0) {
        m_file.seek(0);
        record = readRecord();
    }
    return record;
}

// The next event or auxiliary record from the current position; empty at the
// end of the replay.
QByteArray FileEventSource::readRecord()
{
    for (;;) {
        const qint64 at = m_file.pos();
        const QByteArray header = m_file.read(EventHeaderSize);
        if (header.size() < StartStopHeaderSize)
            return QByteArray();
        const quint32 magic = readWord(header.constData());
        const quint32 length = readWord(header.constData() + 4);
        if (magic == START_SYNC_WORD || magic == STOP_SYNC_WORD) {
            m_file.seek(at + StartStopHeaderSize + length);
            continue;
        }
        if ((magic != KEP_SYNC_WORD && magic != AUX_SYNC_WORD) || length > StreamFormat::MaxRecordLength) {
            qWarning().noquote() << QStringLiteral(
                                        "%1: no record at offset %2 (word 0x%3, length %4); the replay stops there")
                                        .arg(m_file.fileName())
                                        .arg(at)
                                        .arg(magic, 8, 16, QLatin1Char('0'))
                                        .arg(length);
            m_failed = true;
            return QByteArray();
        }
        QByteArray record = header + m_file.read(length);
        if (record.size() < EventHeaderSize + int(length))
            return QByteArray(); // truncated last record
        return record;
    }
}
