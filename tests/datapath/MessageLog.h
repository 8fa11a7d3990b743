#pragma once
// Captures Qt's message output (qDebug, qWarning, ...) of every thread while
// an instance lives, so tests can check the system's diagnostic lines.

#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <mutex>

class MessageLog {
public:
    struct Line {
        QtMsgType type;
        QString text;
    };

    MessageLog()
    {
        instance() = this;
        previous = qInstallMessageHandler(&MessageLog::handle);
    }
    ~MessageLog()
    {
        qInstallMessageHandler(previous);
        instance() = nullptr;
    }
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    // A deep copy: the caller never shares the vector that the handler
    // appends to from other threads.
    QVector<Line> lines() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return QVector<Line>(captured.cbegin(), captured.cend());
    }
    QStringList texts() const
    {
        QStringList out;
        for (const Line& line : lines())
            out << line.text;
        return out;
    }
    int count(const QString& text) const { return texts().count(text); }
    bool contains(const QString& text) const { return count(text) > 0; }
    bool contains(QtMsgType type, const QString& text) const
    {
        for (const Line& line : lines())
            if (line.type == type && line.text == text)
                return true;
        return false;
    }
    int countStartingWith(const QString& prefix) const
    {
        int n = 0;
        for (const QString& text : texts())
            n += text.startsWith(prefix) ? 1 : 0;
        return n;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        captured.clear();
    }

private:
    static MessageLog*& instance()
    {
        static MessageLog* current = nullptr;
        return current;
    }
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        if (MessageLog* log = instance()) {
            std::lock_guard<std::mutex> lock(log->mutex);
            log->captured.append({type, text});
        }
    }

    // std::mutex rather than QMutex: ThreadSanitizer sees its locking, which
    // happens inside the (uninstrumented) Qt library for QMutex.
    mutable std::mutex mutex;
    QVector<Line> captured;
    QtMessageHandler previous = nullptr;
};
