#pragma once
// Samples as CSV rows "record,evNum,serial,channel,index,value" for
// spreadsheets and scripts; analyzer log lines go to stderr.

#include "tools/ravel-dump/DumpOutput.h"
#include "tools/ravel-dump/TextWriter.h"

class CsvOutput : public DumpOutput {
public:
    CsvOutput();
    void event(int record, const EventData& event) override;
    void log(const QString& text, bool newError) override;
    void finish(const FileMapResult& fileMap) override;

private:
    TextWriter m_out;
};
