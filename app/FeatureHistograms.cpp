#include "app/FeatureHistograms.h"

bool FeatureHistograms::fill(const DeviceData& data, qint64 second)
{
    bool newBoard = false;
    for (const DeviceEvent& board : data.events) {
        auto it = m_boards.find(board.serial);
        if (it == m_boards.end()) {
            if (m_boards.size() >= MaxBoards) {
                ++m_skipped;
                continue;
            }
            it = m_boards.insert(board.serial, BoardHistograms());
            newBoard = true;
        }
        it->fill(board, second);
        ++m_histogrammed;
    }
    return newBoard;
}

void FeatureHistograms::reset()
{
    m_boards.clear();
    m_histogrammed = 0;
    m_skipped = 0;
}

const BoardHistograms* FeatureHistograms::board(quint32 serial) const
{
    const auto it = m_boards.constFind(serial);
    return it == m_boards.cend() ? nullptr : &*it;
}
