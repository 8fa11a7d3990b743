#include "pnp/MultiCastListener.h"

#include "pnp/SingleMultiCastListener.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QThread>

namespace {

// Shared by all interface threads, counted from the start of destruction.
constexpr qint64 shutdownBudgetMs = 19999;

bool canMulticast(const QNetworkInterface& iface)
{
    const auto flags = iface.flags();
    return flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning)
           && flags.testFlag(QNetworkInterface::CanMulticast);
}

} // namespace

MultiCastListener::MultiCastListener(const QHostAddress& group, quint16 port, QObject* parent)
    : QObject(parent), group(group), port(port)
{
    QList<QNetworkInterface> kept;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces())
        if (canMulticast(iface))
            kept.append(iface);
    if (kept.isEmpty()) {
        qCritical("No multicast interfaces found");
        return;
    }
    for (const QNetworkInterface& iface : kept)
        startSingle(iface);
}

void MultiCastListener::startSingle(const QNetworkInterface& iface)
{
    auto* single = new SingleMultiCastListener(iface, group, port);
    singles.append(single);
    auto* thread = new QThread(this);
    thread->setObjectName(QStringLiteral("multicast %1").arg(iface.humanReadableName()));
    threads.append(thread);
    connect(single, &SingleMultiCastListener::received, this, &MultiCastListener::received);
    connect(this, &MultiCastListener::closingSingle, single, &QObject::deleteLater);
    // quit() is thread-safe; calling it directly ends the thread without a
    // round trip through this object's event loop.
    connect(single, &QObject::destroyed, thread, &QThread::quit, Qt::DirectConnection);
    // Moved before the thread runs, so that everything this thread wrote to
    // the listener is ordered before the thread starts (ThreadSanitizer can
    // see that order; it cannot see Qt's own locking).
    single->moveToThread(thread);
    thread->start(QThread::LowPriority);
}

MultiCastListener::~MultiCastListener()
{
    emit closingSingle();
    // Datagrams still queued for this object must not reach receivers while
    // it is half destroyed.
    blockSignals(true);
    waitForThreads();
}

void MultiCastListener::waitForThreads()
{
    QElapsedTimer stopwatch;
    stopwatch.start();
    for (QThread* thread : qAsConst(threads)) {
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
