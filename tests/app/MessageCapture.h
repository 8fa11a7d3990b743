#pragma once
// Collects what reaches the Qt message output while it lives, from any
// thread (the file reader writes from its own), and keeps the console quiet.

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

class MessageCapture
{
public:
    MessageCapture()
    {
        QMutexLocker lock(&mutex());
        active() = this;
        previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture()
    {
        QMutexLocker lock(&mutex());
        qInstallMessageHandler(previous);
        active() = nullptr;
    }

    QStringList lines(QtMsgType type) const
    {
        QMutexLocker lock(&mutex());
        return captured[type];
    }
    bool contains(QtMsgType type, const QString& text) const { return lines(type).contains(text); }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        QMutexLocker lock(&mutex());
        if (active())
            active()->captured[type] << text;
    }
    static QMutex& mutex()
    {
        static QMutex instance;
        return instance;
    }
    static MessageCapture*& active()
    {
        static MessageCapture* instance = nullptr;
        return instance;
    }

    QtMessageHandler previous = nullptr;
    QStringList captured[QtInfoMsg + 1];
};
