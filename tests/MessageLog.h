#pragma once
// Captures Qt's message output (qDebug, qWarning, ...) of every thread while
// an instance lives, keeping the console quiet, so tests can check the
// system's diagnostic lines. One at a time per process.

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
        std::lock_guard<std::mutex> lock(mutex());
        active() = this;
        previous = qInstallMessageHandler(&MessageLog::handle);
    }
    ~MessageLog()
    {
        std::lock_guard<std::mutex> lock(mutex());
        qInstallMessageHandler(previous);
        active() = nullptr;
    }
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    // A deep copy: the caller never shares the vector that the handler
    // appends to from other threads.
    QVector<Line> lines() const
    {
        std::lock_guard<std::mutex> lock(mutex());
        return QVector<Line>(captured.cbegin(), captured.cend());
    }
    QStringList texts() const
    {
        QStringList out;
        for (const Line& line : lines())
            out << line.text;
        return out;
    }
    QStringList texts(QtMsgType type) const
    {
        QStringList out;
        for (const Line& line : lines())
            if (line.type == type)
                out << line.text;
        return out;
    }
    QStringList warnings() const { return texts(QtWarningMsg); }
    int count(const QString& text) const { return texts().count(text); }
    bool contains(const QString& text) const { return count(text) > 0; }
    bool contains(QtMsgType type, const QString& text) const { return texts(type).contains(text); }
    int countStartingWith(const QString& prefix) const { return countStartingWith(texts(), prefix); }
    int countStartingWith(QtMsgType type, const QString& prefix) const
    {
        return countStartingWith(texts(type), prefix);
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex());
        captured.clear();
    }

private:
    static int countStartingWith(const QStringList& texts, const QString& prefix)
    {
        int n = 0;
        for (const QString& text : texts)
            n += text.startsWith(prefix) ? 1 : 0;
        return n;
    }
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        std::lock_guard<std::mutex> lock(mutex());
        if (MessageLog* log = active())
            log->captured.append({type, text});
    }
    // std::mutex rather than QMutex: ThreadSanitizer sees its locking, which
    // happens inside the (uninstrumented) Qt library for QMutex.
    static std::mutex& mutex()
    {
        static std::mutex instance;
        return instance;
    }
    static MessageLog*& active()
    {
        static MessageLog* instance = nullptr;
        return instance;
    }

    QVector<Line> captured;
    QtMessageHandler previous = nullptr;
};
