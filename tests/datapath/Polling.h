#pragma once
// Waits for a condition while the calling thread's event loop keeps running.
// Generous timeouts: tests share a loaded machine with compilers.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

template <typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}
