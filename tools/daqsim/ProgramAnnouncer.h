#pragma once
// The simulated program's part in discovery: announces its description
// through the project's discovery server whenever its data interface changes
// (the server also answers discover requests with it), and withdraws it with
// a close message.

#include "pnp/ProgramDescription.h"

#include <QObject>

class PNPServer;

class ProgramAnnouncer : public QObject {
    Q_OBJECT
public:
    // The program's first interface is its data interface.
    explicit ProgramAnnouncer(const ProgramDescription& program, QObject* parent = nullptr);
    ~ProgramAnnouncer() override;

    // Updates the data interface and announces the program.
    void announce(quint16 port, bool isFree);
    // Sends the close message once; later announcements are not made.
    void close();

    const ProgramDescription& program() const { return m_program; }

private:
    void invoke(const char* slot);

    PNPServer* m_server;
    ProgramDescription m_program;
    bool m_closed = false;
};
