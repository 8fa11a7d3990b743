#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

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
        QMutexLocker lock(&mutex);
        return byType[type];
    }
    QStringList warnings() const { return messages(QtWarningMsg); }
    int count(QtMsgType type, const QString& prefix) const
    {
        QMutexLocker lock(&mutex);
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
        QMutexLocker lock(&current->mutex);
        current->byType[type].append(text);
    }

    static inline MessageCapture* current = nullptr;
    QtMessageHandler previous = nullptr;
    mutable QMutex mutex;
    QStringList byType[QtInfoMsg + 1];
};
