#include "tools/daqsim/SimControl.h"

#include <QList>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int MaxLineLength = 4096;
int signalPipe[2] = {-1, -1};

void forwardSignal(int number)
{
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

void watchSignal(int number)
{
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(number, &action, nullptr);
}

} // namespace

SimControl::SimControl(QObject* parent) : QObject(parent)
{
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &SimControl::readSignal);
        for (int number : {SIGINT, SIGTERM, SIGUSR1})
            watchSignal(number);
    }
    if (readsInput()) {
        m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_input, &QSocketNotifier::activated, this, &SimControl::readInput);
    }
}

// Standard input is read when it is open, and when it is a terminal only if
// this process runs in its foreground (reading it from the background would
// stop the process).
bool SimControl::readsInput()
{
    if (::fcntl(STDIN_FILENO, F_GETFD) == -1)
        return false;
    return !::isatty(STDIN_FILENO) || ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
}

SimControl::~SimControl()
{
    for (int number : {SIGINT, SIGTERM, SIGUSR1})
        std::signal(number, SIG_DFL);
}

void SimControl::readSignal()
{
    char number = 0;
    while (::read(signalPipe[0], &number, 1) == 1) {
        if (number == SIGUSR1)
            emit moveRequested(0, false);
        else
            emit quitRequested();
    }
}

void SimControl::readInput()
{
    char buffer[MaxLineLength];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
        // End of input (or none at all, as under a service manager): the
        // signals still work.
        m_input->setEnabled(false);
        return;
    }
    m_partialLine.append(buffer, int(count));
    int end = -1;
    while ((end = m_partialLine.indexOf('\n')) >= 0) {
        const QByteArray line = m_partialLine.left(end).trimmed();
        m_partialLine.remove(0, end + 1);
        if (!line.isEmpty() && !execute(line))
            emit unknownCommand(QString::fromLocal8Bit(line));
    }
    if (m_partialLine.size() > MaxLineLength)
        m_partialLine.clear(); // not a command line; drop it
}

bool SimControl::execute(const QByteArray& line)
{
    const QList<QByteArray> words = line.simplified().split(' ');
    const QByteArray& command = words.first();
    if (command == "quit" && words.size() == 1) {
        emit quitRequested();
        return true;
    }
    if (command == "move") {
        QList<QByteArray> arguments = words.mid(1);
        const bool keepClients = !arguments.isEmpty() && arguments.last() == "keep";
        if (keepClients)
            arguments.removeLast();
        bool ok = true;
        const uint port = arguments.isEmpty() ? 0 : arguments.first().toUInt(&ok);
        if (!ok || port > 65535 || arguments.size() > 1)
            return false;
        emit moveRequested(quint16(port), keepClients);
        return true;
    }
    return false;
}
