#pragma once
// The histogram tab's data: one BoardHistograms per board serial seen, and the
// counts of boards histogrammed and of boards the analyzer skipped because the
// monitor was behind. Times are whole seconds of a clock the caller keeps.

#include "app/BoardHistograms.h"

#include <QMap>

class FeatureHistograms {
public:
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
