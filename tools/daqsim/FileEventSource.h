#pragma once
// Replays the records of a recorded data file: event and auxiliary records go
// out as they are stored, start and stop records are stepped over (the stream
// decoder does not know them). The replay ends at the end of the file, at a
// truncated last record or at a word that starts no known record; with loop
// set it starts over at the end of the file.

#include "tools/daqsim/EventSource.h"

#include <QFile>
#include <QString>

class FileEventSource : public EventSource {
public:
    FileEventSource(const QString& fileName, bool loop);

    // Whether the file could be opened; errorString() says why not.
    bool isOpen() const;
    QString errorString() const;

    QByteArray nextRecord() override;

private:
    QByteArray readRecord();

    QFile m_file;
    bool m_loop;
    bool m_failed = false; // a broken record ended the replay for good
};
