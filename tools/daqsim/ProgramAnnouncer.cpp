#include "tools/daqsim/ProgramAnnouncer.h"

#include "pnp/PNPServer.h"

ProgramAnnouncer::ProgramAnnouncer(const ProgramDescription& program, QObject* parent)
    : QObject(parent), m_server(new PNPServer(this)), m_program(program)
{
    if (m_program.interfaces.isEmpty())
        m_program.interfaces.append(ProgramInterface());
}

ProgramAnnouncer::~ProgramAnnouncer()
{
    close();
}

void ProgramAnnouncer::announce(quint16 port, bool isFree)
{
    if (m_closed)
        return;
    ProgramInterface& data = m_program.interfaces.first();
    data.port = port;
    data.isFree = isFree;
    // The server's own program list holds this one description; it answers
    // discover requests with it and announces it now.
    invoke("changeProgramDescription");
}

void ProgramAnnouncer::close()
{
    if (m_closed)
        return;
    m_closed = true;
    invoke("closeProgram");
}

// The server's slots for its own programs are not public API of the class;
// they are reached through the meta-object, as a queued signal would.
void ProgramAnnouncer::invoke(const char* slot)
{
    if (!QMetaObject::invokeMethod(m_server, slot, Q_ARG(ProgramDescription, m_program)))
        qCritical("ProgramAnnouncer: the discovery server has no slot %s(ProgramDescription)", slot);
}
