#include "pnp/MultiCastListener.h"

#include "pnp/DatagramWarnings.h"
#include "pnp/SingleMultiCastListener.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

// Shared by all interface threads, counted from the start of destruction.
constexpr qint64 shutdownBudgetMs = 19999;
// Often enough for once-a-second warning summaries, and to tell the end of a
// flood soon after it.
constexpr int dropWatchMs = 500;

bool canMulticast(const QNetworkInterface& iface)
{
    const auto flags = iface.flags();
    return flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning)
           && flags.testFlag(QNetworkInterface::CanMulticast);
}

QList<QNetworkInterface> multicastInterfaces()
{
    QList<QNetworkInterface> kept;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces())
        if (canMulticast(iface))
            kept.append(iface);
    return kept;
}

} // namespace

MultiCastListener::MultiCastListener(const QHostAddress& group, quint16 port, QObject* parent)
    : QObject(parent), group(group), port(port), rescanTimer(new QTimer(this)), dropTimer(new QTimer(this))
{
    connect(rescanTimer, &QTimer::timeout, this, &MultiCastListener::rescan);
    rescanTimer->start(RescanMs);
    connect(dropTimer, &QTimer::timeout, this, &MultiCastListener::watchDrops);
    dropTimer->start(dropWatchMs);
    const QList<QNetworkInterface> kept = multicastInterfaces();
    if (kept.isEmpty()) {
        qCritical("No multicast interfaces found");
        return;
    }
    for (const QNetworkInterface& iface : kept)
        startSingle(iface);
}

// Joins interfaces that are new or changed (got their first address or lost
// their last), lets go of those that disappeared or stopped being able to
// multicast. A join that failed is not tried again while the interface stays
// as it is.
void MultiCastListener::rescan()
{
    const QList<QNetworkInterface> current = multicastInterfaces();
    auto stillThere = [&current](const Interface& known) {
        return std::any_of(current.cbegin(), current.cend(), [&known](const QNetworkInterface& iface) {
            return iface.index() == known.index && iface.name() == known.name
                   && known.suitable == SingleMultiCastListener::isSuitable(iface);
        });
    };
    for (int i = interfaces.size() - 1; i >= 0; --i) {
        if (!stillThere(interfaces[i])) {
            retire(interfaces[i]);
            interfaces.remove(i);
        }
    }
    for (const QNetworkInterface& iface : current) {
        const bool known = std::any_of(interfaces.cbegin(), interfaces.cend(),
                                       [&iface](const Interface& k) { return k.index == iface.index(); });
        if (!known && startSingle(iface))
            emit interfaceJoined(iface.humanReadableName());
    }
}

// Sums up the warnings held back, and tells when a flood has passed: a
// period without losses after one with losses.
void MultiCastListener::watchDrops()
{
    DatagramWarnings::shared().flush();
    const qint64 drops = DatagramWarnings::shared().lossCount();
    if (drops != lastDropCount) {
        lastDropCount = drops;
        flooded = true;
    } else if (flooded) {
        flooded = false;
        emit floodEnded();
    }
}

bool MultiCastListener::startSingle(const QNetworkInterface& iface)
{
    auto* single = new SingleMultiCastListener(iface, group, port);
    const bool listening = single->isListening(); // read before the listener's thread owns it
    auto* thread = new QThread(this);
    thread->setObjectName(QStringLiteral("multicast %1").arg(iface.humanReadableName()));
    interfaces.append(
        {iface.index(), iface.name(), SingleMultiCastListener::isSuitable(iface), listening, single, thread});
    threads.append(thread);
    connect(single, &SingleMultiCastListener::messagesWaiting, this, [this, backlog = single->pending()] {
        for (const SingleMultiCastListener::Backlog::Entry& entry : backlog->takeAll())
            emit received(entry.message, entry.size);
    });
    connect(this, &MultiCastListener::closingSingle, single, &QObject::deleteLater);
    // quit() is thread-safe; calling it directly ends the thread without a
    // round trip through this object's event loop.
    connect(single, &QObject::destroyed, thread, &QThread::quit, Qt::DirectConnection);
    // Moved before the thread runs, so that everything this thread wrote to
    // the listener is ordered before the thread starts (ThreadSanitizer can
    // see that order; it cannot see Qt's own locking).
    single->moveToThread(thread);
    thread->start(QThread::LowPriority);
    return listening;
}

QMap<int, QString> MultiCastListener::joinedInterfaces() const
{
    QMap<int, QString> joined;
    for (const Interface& iface : interfaces)
        if (iface.joined)
            joined.insert(iface.index, iface.name);
    return joined;
}

// The thread ends once its listener is deleted there, and is freed after
// (unless destruction is already waiting for it).
void MultiCastListener::retire(const Interface& iface)
{
    QThread* thread = iface.thread;
    connect(thread, &QThread::finished, this, [this, thread] {
        if (threads.removeOne(thread)) {
            thread->wait(); // finished() comes just before the thread's end
            delete thread;
        }
    });
    iface.single->deleteLater();
}

MultiCastListener::~MultiCastListener()
{
    // Waiting for the threads runs the event loop: a rescan due then would
    // start listeners that closingSingle no longer reaches.
    rescanTimer->stop();
    dropTimer->stop();
    emit closingSingle();
    // Messages still queued for this object must not reach receivers while
    // it is half destroyed.
    blockSignals(true);
    waitForThreads();
}

void MultiCastListener::waitForThreads()
{
    QElapsedTimer stopwatch;
    stopwatch.start();
    while (!threads.isEmpty()) {
        QThread* thread = threads.takeFirst();
        while (!thread->isFinished() && stopwatch.elapsed() <= shutdownBudgetMs) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
            thread->wait(10);
        }
        if (!thread->isFinished()) {
            qWarning("Some SingleMultiCastListener timed out on closing");
            // A running QThread must not be destroyed: let it go and free
            // itself if it ever ends.
            thread->setParent(nullptr);
            connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        }
    }
}
