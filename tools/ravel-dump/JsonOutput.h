#pragma once
// One JSON object per line: every event, every analyzer log line in order,
// and last the file map result.

#include "tools/ravel-dump/DumpOutput.h"
#include "tools/ravel-dump/TextWriter.h"

class JsonOutput : public DumpOutput {
public:
    void event(int record, const EventData& event) override;
    void log(const QString& text, bool newError) override;
    void finish(const FileMapResult& fileMap) override;

private:
    void board(const DeviceEvent& board);
    TextWriter m_out;
};
