#pragma once
// A stream of records that one client connection of the simulated acquisition
// program is served. Each connection owns a fresh source, so every client
// receives the same stream from its beginning.

#include <QByteArray>

class EventSource {
public:
    virtual ~EventSource() = default;

    // The next whole stream record (header included), or an empty array when
    // the stream has ended.
    virtual QByteArray nextRecord() = 0;
};
