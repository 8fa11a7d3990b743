#pragma once
// Where ravel-dump writes what the analyzer decoded: one implementation per
// output format (summary, JSON lines, CSV).

#include "datapath/EventData.h"

#include <QString>

// The outcome of the file reader's scan.
struct FileMapResult {
    qint64 size = 0;        // file size in bytes
    qint64 parsed = 0;      // bytes the scan stepped through
    quint32 records = 0;    // entries of the file map
    bool completed = false; // the scan ran to its end (no damaged record magic)
};

class DumpOutput {
public:
    virtual ~DumpOutput() = default;
    // An emitted event; `record` counts the events from 1.
    virtual void event(int record, const EventData& event) = 0;
    // A line the analyzer sent on addLog, in the order it occurred; newError
    // is false for the repeat of an error after which decoding went on.
    virtual void log(const QString& text, bool newError) = 0;
    virtual void finish(const FileMapResult& fileMap) = 0;
};
