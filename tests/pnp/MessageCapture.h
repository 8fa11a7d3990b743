#pragma once

#include <QStringList>
#include <QtGlobal>

#include <mutex>

// Collects the texts written to Qt's message output while it exists (and
// keeps them off stderr). One at a time per process.
class MessageCapture {
public:
    MessageCapture()
    {
        current = this;
        previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture()
    {
        qInstallMessageHandler(previous);
        current = nullptr;
    }

    QStringList messages(QtMsgType type) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        // A deep copy, never shared with the list the handler appends to.
        return QStringList(byType[type].cbegin(), byType[type].cend());
    }
    QStringList warnings() const { return messages(QtWarningMsg); }
    int count(QtMsgType type, const QString& prefix) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        int n = 0;
        for (const QString& text : byType[type])
            n += text.startsWith(prefix);
        return n;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        if (!current)
            return;
        std::lock_guard<std::mutex> lock(current->mutex);
        current->byType[type].append(text);
    }

    static inline MessageCapture* current = nullptr;
    QtMessageHandler previous = nullptr;
    // std::mutex rather than QMutex: ThreadSanitizer sees its locking, which
    // happens inside the (uninstrumented) Qt library for QMutex.
    mutable std::mutex mutex;
    QStringList byType[QtInfoMsg + 1];
};
