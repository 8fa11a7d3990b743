#include "app/DiscoveredPrograms.h"

#include <algorithm>

DiscoveredPrograms::DiscoveredPrograms(Test choosable) : isChoosable(choosable) {}

void DiscoveredPrograms::update(const ProgramDescription& program)
{
    const Key key(program.type, program.index);
    auto known = positions.constFind(key);
    if (known == positions.cend()) {
        if (entries.size() >= MaxPrograms)
            forgetLeastRecentHalf();
        known = positions.insert(key, entries.size());
        entries.append(Entry());
    }
    Entry& entry = entries[*known];
    choosableCount -= entry.choosable ? 1 : 0;
    entry.program = program;
    entry.heard = ++announcements;
    entry.choosable = isChoosable(program);
    choosableCount += entry.choosable ? 1 : 0;
}

const ProgramDescription* DiscoveredPrograms::find(const QString& type, const QString& index) const
{
    const auto known = positions.constFind(Key(type, index));
    return known == positions.cend() ? nullptr : &entries[*known].program;
}

QVector<ProgramDescription> DiscoveredPrograms::choosable() const
{
    QVector<ProgramDescription> out;
    for (const Entry& entry : entries) {
        if (entry.choosable)
            out << entry.program;
    }
    return out;
}

// Keeps the order of the entries that stay.
void DiscoveredPrograms::forgetLeastRecentHalf()
{
    QVector<quint64> heard;
    heard.reserve(entries.size());
    for (const Entry& entry : entries)
        heard << entry.heard;
    const auto middle = heard.begin() + heard.size() / 2;
    std::nth_element(heard.begin(), middle, heard.end());
    const quint64 oldestKept = *middle;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [oldestKept](const Entry& entry) { return entry.heard < oldestKept; }),
                  entries.end());
    reindex();
}

void DiscoveredPrograms::reindex()
{
    positions.clear();
    choosableCount = 0;
    for (int i = 0; i < entries.size(); ++i) {
        positions.insert(Key(entries[i].program.type, entries[i].program.index), i);
        choosableCount += entries[i].choosable ? 1 : 0;
    }
}
