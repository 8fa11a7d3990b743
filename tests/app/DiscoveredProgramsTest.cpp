// The list of discovered programs under announcements of ever new indexes: it
// stays bounded, keeps the programs heard from lately, and its answers (the
// latest description, whether any is choosable) stay right through evictions.
#include "app/DiscoveredPrograms.h"

#include <gtest/gtest.h>

namespace {

ProgramDescription program(const QString& index, const QString& name = {})
{
    ProgramDescription description;
    description.type = "Nimbus";
    description.index = index;
    description.name = name;
    return description;
}

// Choosable when named: the test's stand-in for a usable interface.
bool named(const ProgramDescription& program)
{
    return !program.name.isEmpty();
}

TEST(DiscoveredPrograms, FloodOfNewIndexesStaysBoundedAndKeepsWhatIsHeardLately)
{
    DiscoveredPrograms programs(&named);
    programs.update(program("source", "first"));
    for (int i = 0; i < 10 * DiscoveredPrograms::MaxPrograms; ++i) {
        programs.update(program(QString::number(i)));
        if (i % 50 == 0)
            programs.update(program("source", QString("heard %1").arg(i))); // a live program answers now and then
        ASSERT_LE(programs.size(), DiscoveredPrograms::MaxPrograms);
    }
    const ProgramDescription* source = programs.find("Nimbus", "source");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->name, QString("heard %1").arg(10 * DiscoveredPrograms::MaxPrograms - 10));
    EXPECT_EQ(programs.choosable().size(), 1);
    EXPECT_TRUE(programs.anyChoosable());
    EXPECT_EQ(programs.find("Nimbus", "0"), nullptr); // long forgotten

    // A newer description that is not choosable replaces the old one in place.
    programs.update(program("source"));
    EXPECT_FALSE(programs.anyChoosable());
    EXPECT_TRUE(programs.choosable().isEmpty());
}

TEST(DiscoveredPrograms, KeepsTheOrderFirstHeard)
{
    DiscoveredPrograms programs(&named);
    for (const char* index : {"3", "1", "2"})
        programs.update(program(index, "x"));
    programs.update(program("1", "newer"));
    const QVector<ProgramDescription> listed = programs.choosable();
    ASSERT_EQ(listed.size(), 3);
    EXPECT_EQ(listed[0].index, "3");
    EXPECT_EQ(listed[1].name, "newer");
    EXPECT_EQ(listed[2].index, "2");
}

} // namespace
