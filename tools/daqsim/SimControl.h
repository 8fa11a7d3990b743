#pragma once
// Outside control of the simulated acquisition program: commands read line
// by line from standard input, and the Unix signals SIGINT, SIGTERM (quit)
// and SIGUSR1 (move to a port chosen by the system). Signals are turned into
// Qt signals through a pipe, so nothing runs inside the signal handler.
//
// Commands: "move [PORT] [keep]" (no port or 0: chosen by the system; keep:
// connected clients stay), "quit".

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

class SimControl : public QObject {
    Q_OBJECT
public:
    explicit SimControl(QObject* parent = nullptr);
    ~SimControl() override;

    // Takes one command line; false for an unknown command.
    bool execute(const QByteArray& line);

signals:
    void moveRequested(quint16 port, bool keepClients);
    void quitRequested();
    void unknownCommand(const QString& line);

private slots:
    void readInput();
    void readSignal();

private:
    static bool readsInput();

    QSocketNotifier* m_input = nullptr;
    QByteArray m_partialLine;
};
