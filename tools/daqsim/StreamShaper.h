#pragma once
// Turns stream records into the writes of one connection, optionally damaged
// the way a faulty peer would: garbage bytes between events, and each event
// split over two writes at an offset that moves by one byte per event, so
// that over a run every split point of a record occurs.
//
// The damage is made so that a correct receiver loses no valid event: the
// garbage never holds a sync word, has an even length (the decoder searches
// for the next sync word in steps of two bytes), and travels in one write
// together with at least the whole header of the event behind it (the
// decoder's search only finds a sync word whose 12-byte header it holds).
// All choices come from the seed, so a test can regenerate them.

#include <QByteArray>
#include <QVector>

#include <random>

class StreamShaper {
public:
    struct Options {
        int garbageEvery = 0; // garbage before every n-th record; 0: none
        bool cutWrites = false;
        quint64 seed = 1;
    };
    static constexpr int MinGarbage = 2;
    static constexpr int MaxGarbage = 64;

    explicit StreamShaper(const Options& options);

    // The writes that carry the next record, in order.
    QVector<QByteArray> shape(const QByteArray& record);

    // How many garbage runs were inserted so far.
    quint64 garbageCount() const { return m_garbageCount; }

private:
    QByteArray garbage();
    int cutOffset(int recordSize, bool afterGarbage) const;

    Options m_options;
    std::mt19937_64 m_random; // its raw output is the same on every platform
    quint64 m_records = 0;
    quint64 m_garbageCount = 0;
};
