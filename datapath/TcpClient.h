#pragma once
// Receive-only client of an acquisition program's data interface. It keeps
// (re)connecting while it is wanted, reads whatever bytes arrive and passes
// them on as raw blocks under the flow control of the shared semaphore. It
// sends nothing on the connection. Lives in a worker thread of its own.
// It always serves the endpoint it was given last: a new one replaces the
// connection at once, a null one (null address or port 0) leaves it idle.

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QSemaphore;
class QTcpSocket;
class QTimer;

class TcpClient : public QObject {
    Q_OBJECT

public:
    // sourceSemaphore: the flow-control semaphore shared with the analyzer.
    // second: a second consumer's flow control, accepted but not used for reading.
    explicit TcpClient(QSemaphore* sourceSemaphore, QSemaphore* second = nullptr, QObject* parent = nullptr);
    ~TcpClient() override;

    static constexpr int ConnectWaitMs = 1000;
    static constexpr int FirstRetryMs = 1000;
    static constexpr int LaterRetryMs = 5000;
    static constexpr int ReconnectMs = 1000;
    static constexpr int ReadRetryMs = 200;
    static constexpr int StatusIntervalMs = 500;
    // One readData call stops gathering once it holds more than this.
    static constexpr qint64 GatherLimit = 1048576;
    // The socket stops taking bytes from the system beyond this while the
    // analyzer holds reading back, so a fast sender is slowed down by TCP
    // instead of filling memory; a block is never larger than this.
    static constexpr qint64 ReadBufferSize = qint64(4) * 1048576;
    // TCP keepalive of the data connection: a peer that stops answering
    // (power loss, pulled cable) is declared lost after about
    // idle + interval * probes seconds.
    static constexpr int KeepAliveIdleS = 5;
    static constexpr int KeepAliveIntervalS = 2;
    static constexpr int KeepAliveProbes = 3;

public slots:
    // Serves another endpoint: drops the connection to the old one and
    // connects to the new one at once; a null endpoint stops the client.
    // The same endpoint again has no effect.
    void setAddress(const QHostAddress& address, int port);
    // One connect attempt, driven by connectTimer.
    void requestNewData();
    // Reads the available bytes (readyRead, readRetryTimer).
    void readData();
    void displayError(QAbstractSocket::SocketError socketError);
    void connected();
    void disconnected();
    void sendStatus();

signals:
    void dataAccuired(const QByteArray& data);
    // Comes just before the first block of each connection: the blocks from
    // here on are a new stream, which nothing received before continues.
    void streamStarted();
    void statusUpdated(const QString& status);
    void connectedStateChanged(bool state);
    void addLog(const QString& text);

private:
    void stop();
    void start();
    bool hasEndpoint() const;
    bool socketBusy() const;
    void enableKeepAlive();
    QString endpointText() const;
    QByteArray gatherAvailable();
    void report(const QString& text);

    bool enabled = false;
    QHostAddress address;
    quint16 port = 0;
    QTcpSocket* socket;
    QTimer* connectTimer;
    QTimer* readRetryTimer;
    QTimer* statusTimer;
    int attempts = 0;
    bool newStream = false; // no block of the current connection emitted yet
    quint64 bytesReceived = 0;
    QSemaphore* sourceSemaphore;
};
