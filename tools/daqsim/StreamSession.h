#pragma once
// Serves one client connection of the simulated acquisition program: takes
// records from its own event source, shapes them into writes and sends them
// paced to the configured event rate, or as fast as the client reads. The
// client sends nothing; whatever it sends is discarded. At the end of a
// finite stream the connection is closed once everything is sent.

#include "tools/daqsim/StreamShaper.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

class EventSource;
class QTcpSocket;
class QTimer;

class StreamSession : public QObject {
    Q_OBJECT
public:
    struct Settings {
        StreamShaper::Options shaping;
        double rate = 0; // events per second; 0: as fast as the client reads
    };
    // Writing pauses while more than this waits in the socket, so a slow
    // client holds the sender back instead of filling its memory.
    static constexpr qint64 HighWaterBytes = qint64(2) * 1024 * 1024;
    // A client that lags more than this behind the rate is not caught up
    // with a burst; the schedule starts again from where it is.
    static constexpr double MaxLagSeconds = 1.0;

    StreamSession(QTcpSocket* socket, std::unique_ptr<EventSource> source, const Settings& settings,
                  QObject* parent = nullptr);
    ~StreamSession() override;

    // The client as "address:port", kept after the connection is gone.
    QString peer() const { return m_peer; }
    static QString peerText(const QTcpSocket* socket);
    quint64 bytesSent() const { return m_bytesSent; }

    // Drops the connection at once, without sending what is queued.
    void abort();

signals:
    // The connection is gone (closed by either side); the session may be deleted.
    void finished(StreamSession* session);

private slots:
    void pump();
    void discardInput();

private:
    bool takeRecord();
    bool mayWriteNow();
    void scheduleNextWrite();
    void endStream();

    QTcpSocket* m_socket;
    QString m_peer;
    std::unique_ptr<EventSource> m_source;
    StreamShaper m_shaper;
    QVector<QByteArray> m_pending; // writes of the current record not yet sent
    QTimer* m_pacer;
    QElapsedTimer m_clock;
    double m_writeRate;   // writes per second; 0: unpaced
    quint64 m_writes = 0; // writes since the schedule (re)started
    quint64 m_bytesSent = 0;
    bool m_ending = false;
};
