#include "tools/ravel-dump/FeatureOutput.h"

#include "datapath/FeatureLogFormat.h"

#include <cstdio>

FeatureOutput::FeatureOutput() : m_lines(FeatureLogFormat::header())
{
    write();
}

void FeatureOutput::event(int, const EventData& event)
{
    for (const DeviceEvent& board : event.devices)
        FeatureLogFormat::appendBoard(m_lines, board);
    write();
}

void FeatureOutput::log(const QString& text, bool)
{
    std::fprintf(stderr, "ravel-dump: %s\n", qPrintable(text));
}

void FeatureOutput::finish(const FileMapResult&)
{
    std::fflush(stdout);
}

// stdio buffers the output; the lines of one event are handed over at once.
void FeatureOutput::write()
{
    std::fwrite(m_lines.constData(), 1, size_t(m_lines.size()), stdout);
    m_lines.clear();
}
