#pragma once
// Collects what reaches the Qt message output while it lives, from any
// thread (the file reader writes from its own), and keeps the console quiet.

#include <QStringList>
#include <QtGlobal>

#include <mutex>

class MessageCapture {
public:
    MessageCapture()
    {
        std::lock_guard<std::mutex> lock(mutex());
        active() = this;
        previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture()
    {
        std::lock_guard<std::mutex> lock(mutex());
        qInstallMessageHandler(previous);
        active() = nullptr;
    }

    QStringList lines(QtMsgType type) const
    {
        std::lock_guard<std::mutex> lock(mutex());
        // A deep copy, never shared with the list the handler appends to.
        return QStringList(captured[type].cbegin(), captured[type].cend());
    }
    bool contains(QtMsgType type, const QString& text) const { return lines(type).contains(text); }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        std::lock_guard<std::mutex> lock(mutex());
        if (active())
            active()->captured[type] << text;
    }
    // std::mutex rather than QMutex: ThreadSanitizer sees its locking, which
    // happens inside the (uninstrumented) Qt library for QMutex.
    static std::mutex& mutex()
    {
        static std::mutex instance;
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
