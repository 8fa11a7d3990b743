#include "datapath/TcpClient.h"

#include <QDebug>
#include <QSemaphore>
#include <QSignalBlocker>
#include <QTcpSocket>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

TcpClient::TcpClient(QSemaphore* sourceSemaphore, QSemaphore* second, QObject* parent)
    : QObject(parent)
    , socket(new QTcpSocket(this))
    , connectTimer(new QTimer(this))
    , readRetryTimer(new QTimer(this))
    , statusTimer(new QTimer(this))
    , sourceSemaphore(sourceSemaphore)
{
    Q_UNUSED(second); // a second consumer's flow control; reading takes no permits of it
    qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");
    socket->setReadBufferSize(ReadBufferSize);

    connectTimer->setSingleShot(true);
    connect(connectTimer, &QTimer::timeout, this, &TcpClient::requestNewData);
    readRetryTimer->setSingleShot(true);
    connect(readRetryTimer, &QTimer::timeout, this, &TcpClient::readData);
    connect(statusTimer, &QTimer::timeout, this, &TcpClient::sendStatus);
    statusTimer->start(StatusIntervalMs);

    connect(socket, &QTcpSocket::readyRead, this, &TcpClient::readData, Qt::QueuedConnection);
    connect(socket, &QTcpSocket::connected, this, &TcpClient::connected, Qt::QueuedConnection);
    connect(socket, &QTcpSocket::disconnected, this, &TcpClient::disconnected, Qt::QueuedConnection);
    connect(socket, &QTcpSocket::errorOccurred, this, &TcpClient::displayError, Qt::QueuedConnection);
}

TcpClient::~TcpClient()
{
    socket->disconnect(this);
    const QSignalBlocker quiet(this); // the window is going too
    stop();
    delete socket;
}

void TcpClient::setAddress(const QHostAddress& newAddress, int newPort)
{
    if (newAddress == address && quint16(newPort) == port)
        return;
    qDebug().noquote() << "TcpClient::setAddress:" << newAddress.toString() << newPort;
    stop();
    address = newAddress;
    port = quint16(newPort);
    if (hasEndpoint())
        start();
}

// Drops the connection at once. The socket's own signals are held back:
// this drop is no loss to report or to reconnect after.
void TcpClient::stop()
{
    enabled = false;
    connectTimer->stop();
    readRetryTimer->stop();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        return;
    const bool wasConnected = socket->state() == QAbstractSocket::ConnectedState;
    {
        const QSignalBlocker quiet(socket);
        socket->abort();
    }
    if (!wasConnected)
        return;
    report(QString("TcpClient dropped the connection to %1").arg(endpointText()));
    emit connectedStateChanged(false);
}

void TcpClient::start()
{
    enabled = true;
    attempts = 0;
    connectTimer->start(0);
}

bool TcpClient::hasEndpoint() const
{
    return !address.isNull() && port != 0;
}

bool TcpClient::socketBusy() const
{
    const auto state = socket->state();
    return socket->isValid() && (state == QAbstractSocket::ConnectedState || state == QAbstractSocket::ConnectingState);
}

QString TcpClient::endpointText() const
{
    return QString("%1:%2").arg(address.toString()).arg(port);
}

void TcpClient::report(const QString& text)
{
    qDebug().noquote() << text;
    emit addLog(text);
}

// One connect attempt; it blocks this thread for at most ConnectWaitMs. The
// first failure after construction or a lost connection is reported and
// retried soon, later ones are retried slowly and silently.
void TcpClient::requestNewData()
{
    if (!enabled || socketBusy())
        return;
    // What the last connection sent but the analyzer had no room for yet is
    // the end of its run: it goes on before the socket is reset for the next.
    if (socket->bytesAvailable() > 0) {
        readData();
        connectTimer->start(ReadRetryMs);
        return;
    }
    try {
        socket->abort();
        newStream = true; // whatever the socket reads from now on
        socket->connectToHost(address, port, QIODevice::ReadWrite);
        ++attempts;
        if (socket->waitForConnected(ConnectWaitMs)) {
            qDebug().noquote() << QString("Connected to %1").arg(endpointText());
            enableKeepAlive();
        } else if (attempts < 2) {
            report(QString("TcpClient can't connect to %1").arg(endpointText()));
            connectTimer->start(FirstRetryMs);
        } else {
            connectTimer->start(LaterRetryMs);
        }
    } catch (...) {
        qDebug().noquote() << "Exception in TcpClient::requestNewData()";
    }
}

// The client only reads, so a peer that vanishes without closing would
// otherwise leave the connection up forever.
void TcpClient::enableKeepAlive()
{
    const int fd = int(socket->socketDescriptor());
    const auto set = [fd](int level, int option, int value) {
        if (::setsockopt(fd, level, option, &value, sizeof value) != 0)
            qWarning().noquote() << "TcpClient: cannot set keepalive option" << option;
    };
    set(SOL_SOCKET, SO_KEEPALIVE, 1);
    set(IPPROTO_TCP, TCP_KEEPIDLE, KeepAliveIdleS);
    set(IPPROTO_TCP, TCP_KEEPINTVL, KeepAliveIntervalS);
    set(IPPROTO_TCP, TCP_KEEPCNT, KeepAliveProbes);
}

// Passes on what the socket holds as one block, under one permit. Without a
// free permit the bytes stay in the socket and reading is retried shortly.
void TcpClient::readData()
{
    if (!enabled)
        return;
    bool permitTaken = false;
    try {
        if (!sourceSemaphore->tryAcquire()) {
            readRetryTimer->start(ReadRetryMs);
            return;
        }
        permitTaken = true;
        if (socket->bytesAvailable() <= 0) {
            sourceSemaphore->release();
            return;
        }
        const QByteArray block = gatherAvailable();
        bytesReceived += quint64(block.size());
        permitTaken = false; // handed on with the block
        if (newStream) {
            newStream = false;
            emit streamStarted();
        }
        emit dataAccuired(block);
    } catch (...) {
        if (permitTaken)
            sourceSemaphore->release();
        qDebug().noquote() << "Exception in TcpClient::readData()";
    }
}

// Reads everything available, again while more arrives, until more than
// GatherLimit bytes are held; several reads are joined in order.
QByteArray TcpClient::gatherAvailable()
{
    QList<QByteArray> chunks;
    qint64 gathered = 0;
    do {
        const qint64 available = socket->bytesAvailable();
        QByteArray chunk = socket->read(available);
        if (chunk.size() < available)
            qWarning().noquote() << "Unexpected end of data";
        if (chunk.isEmpty())
            break;
        gathered += chunk.size();
        chunks.append(chunk);
    } while (gathered <= GatherLimit && socket->bytesAvailable() > 0);

    if (chunks.size() == 1)
        return chunks.first();
    QByteArray joined;
    joined.reserve(int(gathered));
    for (const QByteArray& chunk : qAsConst(chunks))
        joined.append(chunk);
    return joined;
}

// The socket's news come queued: news of a connection that was dropped or
// replaced meanwhile are out of date and passed over.
void TcpClient::connected()
{
    if (socket->state() == QAbstractSocket::ConnectedState)
        emit connectedStateChanged(true);
}

void TcpClient::disconnected()
{
    if (socket->state() != QAbstractSocket::UnconnectedState)
        return;
    emit connectedStateChanged(false);
    if (!enabled) {
        qDebug().noquote() << "Client disconnected.";
        return;
    }
    qDebug().noquote() << "Client disconnected, trying to reconnect";
    attempts = 0;
    // An attempt already due (a new endpoint came first) is not put off.
    if (!connectTimer->isActive())
        connectTimer->start(ReconnectMs);
}

void TcpClient::displayError(QAbstractSocket::SocketError socketError)
{
    switch (socketError) {
    case QAbstractSocket::RemoteHostClosedError:
        report("Remote host closed connection.");
        break;
    case QAbstractSocket::HostNotFoundError:
        report("The host was not found. Please check the host name and port settings.");
        break;
    case QAbstractSocket::ConnectionRefusedError:
        report("The connection was refused by the peer");
        break;
    default:
        report(QString("The following error occurred: %1.").arg(socket->errorString()));
        break;
    }
}

void TcpClient::sendStatus()
{
    emit statusUpdated(QString("tcp:%1 bytes").arg(bytesReceived));
}
