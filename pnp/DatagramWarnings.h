#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QStringList>

#include <atomic>
#include <functional>
#include <mutex>

class PnpMessage;

// Writes the warnings of bad discovery datagrams at a bounded rate, from any
// thread: a misbehaving peer or a network loop must not turn into a flood of
// log lines. Up to LinesPerSecond datagrams a second get their lines; the
// rest are counted and summed up once a second.
class DatagramWarnings {
public:
    static constexpr int LinesPerSecond = 10;
    // Enough to recognise a datagram; a whole 64 KiB one helps nobody.
    static constexpr int ShownBytes = 200;

    // The clock gives milliseconds; tests pass their own.
    explicit DatagramWarnings(std::function<qint64()> clockMs = {});

    // The one instance shared by all discovery threads of the process.
    static DatagramWarnings& shared();

    // Reads one datagram into message and writes what the reader complained
    // of; false when the datagram is to be dropped.
    bool read(const QByteArray& data, const QHostAddress& sender, PnpMessage* message);

    // A dropped datagram: the reader's reasons, then "Failed decode msg:"
    // with the start of the datagram.
    void dropped(const QByteArray& data, const QStringList& reasons);
    // The reader's complaints about a message it accepted all the same.
    void accepted(const QStringList& reasons);
    // A readable message dropped because the discovery server is behind.
    void overflowed();
    // Datagrams the system dropped for a full receive buffer.
    void lost(qint64 count) { lossesSoFar += count; }
    // Writes the summary of a second that has passed; called at least every
    // second.
    void flush();
    // Datagrams lost so far for full buffers, the system's or a busy
    // server's. Malformed ones do not count: they tell of a faulty peer, not
    // of lost announcements.
    qint64 lossCount() const { return lossesSoFar; }

    // "Failed decode msg:" and the first ShownBytes of data, escaped.
    static QString failedDecodeLine(const QByteArray& data);

private:
    bool admit(); // with the mutex held
    void flushExpired();

    std::function<qint64()> clockMs;
    std::mutex mutex;
    qint64 secondStart = 0;
    int written = 0;
    int suppressed = 0;
    int overflows = 0;
    std::atomic<qint64> lossesSoFar{0};
};
