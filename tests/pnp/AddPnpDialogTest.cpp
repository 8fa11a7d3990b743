// The source program dialog, offscreen: order of programs and choices,
// enabled lists, kept choices across type changes, the shown description.
#include "pnp/AddPnpDialog.h"

#include <QComboBox>
#include <QLabel>

#include <gtest/gtest.h>

namespace {

ProgramDescription program(const QString& type, const QString& index, const QString& host,
                           const QString& name = QString())
{
    ProgramDescription pd;
    pd.type = type;
    pd.index = index;
    pd.hostName = host;
    pd.name = name;
    return pd;
}

QStringList items(const QComboBox* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->itemText(i);
    return texts;
}

struct Dialog {
    explicit Dialog(const QVector<ProgramDescription>& programs) : dialog(programs) {}
    QComboBox* list(const char* name) const { return dialog.findChild<QComboBox*>(name); }
    QComboBox* type() const { return list("comboBoxType"); }
    QComboBox* host() const { return list("comboBoxHost"); }
    QComboBox* index() const { return list("comboBoxIndex"); }
    QLabel* info() const { return dialog.findChild<QLabel*>("labelProgInfo"); }

    AddPnpDialog dialog;
};

} // namespace

TEST(AddPnpDialog, OpensOnTheFirstChoiceWithItsDescription)
{
    const QVector<ProgramDescription> programs = {program("Qol", "2", "b"), program("Nimbus", "10", "a"),
                                                  program("Nimbus", "2", "a"), program("", "1", "c")};
    Dialog d(programs);
    EXPECT_EQ(d.dialog.windowTitle(), "Adding new client...");
    EXPECT_EQ(items(d.type()), (QStringList{"Nimbus", "Qol"})) << "an empty type is not offered";
    EXPECT_EQ(items(d.host()), QStringList{"a"});
    EXPECT_FALSE(d.host()->isEnabled()) << "one host leaves nothing to choose";
    EXPECT_EQ(items(d.index()), (QStringList{"10", "2"})) << "indexes are ordered as text";
    EXPECT_TRUE(d.index()->isEnabled());
    EXPECT_FALSE(d.info()->isHidden());
    EXPECT_EQ(d.info()->text(), programs[1].toText());
    EXPECT_EQ(d.dialog.selectedProgram().uuid, programs[1].uuid);

    d.index()->setCurrentText("2");
    EXPECT_EQ(d.info()->text(), programs[2].toText());
    EXPECT_EQ(d.dialog.selectedProgram().uuid, programs[2].uuid);
}

TEST(AddPnpDialog, TypeChangeKeepsHostAndIndexWhenPossible)
{
    Dialog d({program("Nimbus", "1", "a"), program("Nimbus", "3", "b"), program("Qol", "3", "b"),
              program("Qol", "4", "b"), program("Qol", "1", "c")});
    EXPECT_TRUE(d.host()->isEnabled());
    d.host()->setCurrentText("b");
    EXPECT_EQ(items(d.index()), QStringList{"3"});
    EXPECT_FALSE(d.index()->isEnabled());
    d.type()->setCurrentText("Qol");
    EXPECT_EQ(items(d.host()), (QStringList{"b", "c"}));
    EXPECT_EQ(d.host()->currentText(), "b");
    EXPECT_EQ(items(d.index()), (QStringList{"3", "4"}));
    EXPECT_EQ(d.index()->currentText(), "3");
    EXPECT_EQ(d.dialog.selectedProgram().type, "Qol");
    EXPECT_EQ(d.dialog.selectedProgram().index, "3");
}

TEST(AddPnpDialog, OrderByDisplayKeyThenUuidDecidesBetweenTwins)
{
    // Same type and index on two hosts: the host choice does not change the
    // designated program, which is the first by name (then by UUID).
    ProgramDescription later = program("Nimbus", "1", "a", "Zeta");
    ProgramDescription first = program("Nimbus", "1", "b", "Alpha");
    ProgramDescription unnamed = program("Nimbus", "2", "a");
    Dialog d({later, unnamed, first});
    for (const char* host : {"a", "b"}) {
        d.host()->setCurrentText(host);
        d.index()->setCurrentText("1");
        EXPECT_EQ(d.dialog.selectedProgram().uuid, first.uuid) << host;
        EXPECT_EQ(d.info()->text(), first.toText());
    }

    ProgramDescription twinA = program("Qol", "1", "h"), twinB = program("Qol", "1", "h");
    if (twinB.uuid < twinA.uuid)
        std::swap(twinA, twinB);
    Dialog twins({twinB, twinA});
    EXPECT_EQ(twins.dialog.selectedProgram().uuid, twinA.uuid);
}

TEST(AddPnpDialog, EmptyProgramList)
{
    Dialog d({});
    for (const QComboBox* list : {d.type(), d.host(), d.index()}) {
        EXPECT_EQ(list->count(), 0);
        EXPECT_TRUE(list->isEnabled());
    }
    EXPECT_TRUE(d.info()->isHidden());
    EXPECT_TRUE(d.dialog.selectedProgram().type.isEmpty());
}
