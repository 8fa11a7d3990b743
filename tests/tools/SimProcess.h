#pragma once
// ravel-daq-sim run as a child process of a test: started with its options,
// its progress lines collected, commands written to its standard input.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <csignal>
#include <sys/prctl.h>

class SimProcess {
public:
    ~SimProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    // Starts the simulator and waits until its data interface listens.
    bool start(const QStringList& arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(RAVEL_DAQSIM_PATH), arguments);
        return process.waitForStarted(30000) && waitForLine(QStringLiteral("listening on port "));
    }

    // The port of the last "listening" or "moved" line.
    quint16 port()
    {
        static const QRegularExpression portLine(
            QStringLiteral("(?:listening on|moved from port \\d+ to) port (\\d+)"));
        const QStringList ports = lines().filter(portLine);
        return ports.isEmpty() ? 0 : quint16(portLine.match(ports.last()).captured(1).toUInt());
    }

    void command(const QByteArray& line) { process.write(line + '\n'); }

    // Waits for a progress line containing the text; the event loop runs meanwhile.
    bool waitForLine(const QString& text, int timeoutMs = 30000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (lines().filter(text).isEmpty()) {
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            process.waitForReadyRead(10);
        }
        return true;
    }

    const QStringList& lines()
    {
        m_partial += QString::fromLocal8Bit(process.readAllStandardOutput());
        const int end = m_partial.lastIndexOf(QLatin1Char('\n'));
        if (end >= 0) {
            m_lines += m_partial.left(end).split(QLatin1Char('\n'));
            m_partial.remove(0, end + 1);
        }
        return m_lines;
    }

    // Killed with the test: a test that crashes must not leave the simulator
    // holding the test runner's output pipe open, which stalls the runner.
    class ChildProcess : public QProcess {
    protected:
        void setupChildProcess() override { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }
    };
    ChildProcess process;

private:
    QString m_partial;
    QStringList m_lines;
};
