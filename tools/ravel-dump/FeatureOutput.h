#pragma once
// Channel features as the viewer's feature log writes them (FeatureLogFormat),
// one line per board and channel of every event; analyzer log lines go to
// stderr.

#include "tools/ravel-dump/DumpOutput.h"

#include <QByteArray>

class FeatureOutput : public DumpOutput {
public:
    FeatureOutput();
    void event(int record, const EventData& event) override;
    void log(const QString& text, bool newError) override;
    void finish(const FileMapResult& fileMap) override;

private:
    void write();

    QByteArray m_lines; // one event's lines
};
