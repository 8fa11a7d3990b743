#include "pnp/DatagramWarnings.h"

#include "pnp/PnpMessage.h"

#include <QDebug>

#include <chrono>

namespace {

constexpr qint64 SecondMs = 1000;

qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void warn(const QString& text)
{
    qWarning().noquote() << text;
}

void appendEscaped(QString& out, char c)
{
    switch (c) {
    case '\\':
        out += QLatin1String("\\\\");
        break;
    case '\n':
        out += QLatin1String("\\n");
        break;
    case '\r':
        out += QLatin1String("\\r");
        break;
    case '\t':
        out += QLatin1String("\\t");
        break;
    default:
        if (c >= 0x20 && c < 0x7f)
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\x%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
    }
}

} // namespace

DatagramWarnings::DatagramWarnings(std::function<qint64()> clock) : clockMs(clock ? std::move(clock) : steadyMs)
{
    secondStart = clockMs();
}

DatagramWarnings& DatagramWarnings::shared()
{
    static DatagramWarnings instance;
    return instance;
}

QString DatagramWarnings::failedDecodeLine(const QByteArray& data)
{
    QString line = QStringLiteral("Failed decode msg:");
    for (int i = 0; i < qMin(data.size(), ShownBytes); ++i)
        appendEscaped(line, data.at(i));
    if (data.size() > ShownBytes)
        line += QStringLiteral("... (%1 bytes)").arg(data.size());
    return line;
}

bool DatagramWarnings::read(const QByteArray& data, const QHostAddress& sender, PnpMessage* message)
{
    if (!message->fromXml(data, sender)) {
        dropped(data, message->warnings);
        return false;
    }
    accepted(message->warnings);
    return true;
}

void DatagramWarnings::dropped(const QByteArray& data, const QStringList& reasons)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!admit()) {
        ++suppressed;
        return;
    }
    for (const QString& reason : reasons)
        warn(reason);
    warn(failedDecodeLine(data));
}

void DatagramWarnings::accepted(const QStringList& reasons)
{
    if (reasons.isEmpty())
        return;
    std::lock_guard<std::mutex> lock(mutex);
    if (admit())
        for (const QString& reason : reasons)
            warn(reason);
}

void DatagramWarnings::overflowed()
{
    ++lossesSoFar;
    std::lock_guard<std::mutex> lock(mutex);
    flushExpired();
    ++overflows;
}

void DatagramWarnings::flush()
{
    std::lock_guard<std::mutex> lock(mutex);
    flushExpired();
}

bool DatagramWarnings::admit()
{
    flushExpired();
    return ++written <= LinesPerSecond;
}

void DatagramWarnings::flushExpired()
{
    const qint64 now = clockMs();
    if (now - secondStart < SecondMs)
        return;
    if (suppressed > 0)
        warn(QStringLiteral("%1 more malformed datagrams dropped").arg(suppressed));
    if (overflows > 0)
        warn(QStringLiteral("%1 discovery messages dropped: the discovery server is behind").arg(overflows));
    secondStart = now;
    written = suppressed = overflows = 0;
}
