#pragma once
// The simulated acquisition program: a data server that streams generated
// events (or a replayed file) to every client, and, unless discovery is off,
// a program announcement that follows the server's state: its port, and
// whether the data interface is free (no client holds it).

#include "tools/daqsim/DataServer.h"
#include "tools/daqsim/SimOptions.h"

#include <QObject>
#include <QString>

class ProgramAnnouncer;
class ProgramDescription;
class QTimer;

class DaqSimulator : public QObject {
    Q_OBJECT
public:
    // After a move the new port is announced this much later, so that
    // clients notice the loss of their connection before they learn the
    // new address.
    static constexpr int MoveAnnounceDelayMs = 250;

    explicit DaqSimulator(const SimOptions& options, QObject* parent = nullptr);
    ~DaqSimulator() override;

    // Opens the data interface and announces the program; false with
    // errorString() set when the interface cannot be opened.
    bool start();
    QString errorString() const { return m_error; }
    quint16 port() const;

    // The description the program announces (its data interface first).
    static ProgramDescription describe(const SimOptions& options);

public slots:
    // Moves the data interface to another port (0: chosen by the system).
    // Connected clients are dropped and the new port is announced a little
    // later; kept clients are served on while the new port is announced at
    // once, as by a program that announces before it closes.
    void movePort(quint16 port, bool keepClients = false);
    // Drops every client and withdraws the program.
    void stop();

signals:
    // One line about what the program does, for its operator.
    void message(const QString& line);

private slots:
    void clientCountChanged(int count);
    void announce();

private:
    // Makes a fresh event source for each client, as the options describe
    // it. Generated events are prepared once (the pool is encoded here) and
    // every client's source starts as a copy of that one.
    static DataServer::SourceFactory sourceFactory(const SimOptions& options);

    SimOptions m_options;
    DataServer* m_server;
    ProgramAnnouncer* m_announcer = nullptr;
    QTimer* m_announceTimer;
    QString m_error;
};
