#pragma once
// The programs discovery has reported, one per (type, index), in the order
// first heard. Bounded: a network that announces ever new indexes (a flood,
// a misconfigured peer) cannot grow it, or the work per announcement, without
// end. When full, the half heard from least recently is forgotten; a live
// program comes back with its next announcement.

#include "pnp/ProgramDescription.h"

#include <QHash>
#include <QPair>
#include <QString>
#include <QVector>

class DiscoveredPrograms {
public:
    static constexpr int MaxPrograms = 256;
    using Test = bool (*)(const ProgramDescription&);

    // choosable: whether the operator may take a program as the source.
    explicit DiscoveredPrograms(Test choosable);

    // Replaces the entry of the same type and index, or appends one.
    void update(const ProgramDescription& program);
    // The entry of that type and index, or nullptr.
    const ProgramDescription* find(const QString& type, const QString& index) const;
    // The choosable entries, in order.
    QVector<ProgramDescription> choosable() const;
    bool anyChoosable() const { return choosableCount > 0; }
    int size() const { return entries.size(); }

private:
    struct Entry {
        ProgramDescription program;
        quint64 heard = 0; // announcement number of the latest one
        bool choosable = false;
    };
    using Key = QPair<QString, QString>;

    void forgetLeastRecentHalf();
    void reindex();

    Test isChoosable;
    QVector<Entry> entries;
    QHash<Key, int> positions;
    quint64 announcements = 0;
    int choosableCount = 0;
};
