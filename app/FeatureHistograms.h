#pragma once
// The histogram tab's data: one BoardHistograms per board serial seen, and the
// counts of boards histogrammed and of boards skipped, either by the analyzer
// because the monitor was behind or here because MaxBoards serials were seen
// already (so that corrupt serials cannot take up memory without end). Times
// are whole seconds of a clock the caller keeps.

#include "app/BoardHistograms.h"

#include <QMap>

class FeatureHistograms {
public:
    static constexpr int MaxBoards = 64;

    // Fills the boards of a record; returns whether a board serial was new.
    bool fill(const DeviceData& data, qint64 second);
    void addSkipped(int boards) { m_skipped += quint64(qMax(0, boards)); }
    // Forgets every board and count.
    void reset();

    QList<quint32> serials() const { return m_boards.keys(); }
    // The board's histograms, or null for a serial not seen.
    const BoardHistograms* board(quint32 serial) const;
    quint64 histogrammed() const { return m_histogrammed; }
    quint64 skipped() const { return m_skipped; }

private:
    QMap<quint32, BoardHistograms> m_boards;
    quint64 m_histogrammed = 0;
    quint64 m_skipped = 0;
};
