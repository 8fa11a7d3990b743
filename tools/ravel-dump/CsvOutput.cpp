#include "tools/ravel-dump/CsvOutput.h"

#include <cstdio>

CsvOutput::CsvOutput()
{
    m_out << "record,evNum,serial,channel,index,value";
    m_out.endLine();
}

void CsvOutput::event(int record, const EventData& event)
{
    for (const DeviceEvent& board : event.devices) {
        for (const ChannelData& channel : board.channels) {
            for (int i = 0; i < channel.samples.size(); ++i) {
                m_out.number(record) << ",";
                m_out.number(event.evNum) << ",";
                m_out.number(board.serial) << ",";
                m_out.number(channel.ch) << ",";
                m_out.number(i) << ",";
                m_out.sample(channel.samples[i]);
                m_out.endLine();
            }
        }
    }
}

void CsvOutput::log(const QString& text, bool)
{
    std::fprintf(stderr, "ravel-dump: %s\n", qPrintable(text));
}

void CsvOutput::finish(const FileMapResult&)
{
    m_out.flush();
}
