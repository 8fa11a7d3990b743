#include "tools/daqsim/GeneratedEventSource.h"

#include "datapath/EventEncoder.h"

#include <QtEndian>

namespace {

constexpr int EvNumOffset = 8; // of the event record header

// The event as it reads under another event number: the decoder copies the
// header's number into every board.
EventData renumbered(EventData event, quint32 evNum)
{
    event.evNum = evNum;
    for (DeviceEvent& board : event.devices)
        board.evNum = evNum;
    return event;
}

} // namespace

GeneratedEventSource::GeneratedEventSource(const Options& options) : m_options(options), m_generator(options.generator)
{
    for (int i = 0; i < options.pool; ++i)
        m_poolRecords.append(EventEncoder::encodeEvent(m_generator.nextEvent(), options.adcSigned));
}

bool GeneratedEventSource::atEnd() const
{
    return m_options.events != 0 && m_evNum >= m_options.events;
}

int GeneratedEventSource::poolSlot() const
{
    return int((m_evNum - 1) % quint32(m_options.pool));
}

EventData GeneratedEventSource::nextEvent()
{
    if (atEnd())
        return EventData();
    ++m_evNum;
    if (m_options.pool > 0 && poolSlot() == 0)
        m_generator = SampleGenerator(m_options.generator); // the pool starts over
    return renumbered(m_generator.nextEvent(), m_evNum);
}

QByteArray GeneratedEventSource::nextRecord()
{
    if (atEnd())
        return QByteArray();
    ++m_evNum;
    if (m_options.pool <= 0)
        return EventEncoder::encodeEvent(m_generator.nextEvent(), m_options.adcSigned);
    // Renumbered in place: by the time a slot comes round again the socket
    // has let go of its previous use, so neither this nor the write copies it.
    QByteArray& record = m_poolRecords[poolSlot()];
    qToLittleEndian<quint32>(m_evNum, record.data() + EvNumOffset);
    return record;
}
