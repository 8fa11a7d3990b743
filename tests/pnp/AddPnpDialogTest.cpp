// The source program dialog, offscreen: order of programs and choices,
// enabled lists, kept choices across type changes, the shown description.
#include "pnp/AddPnpDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

ProgramDescription program(const QString& type, const QString& index, const QString& host, const QString& name = {})
{
    ProgramDescription pd;
    pd.type = type;
    pd.index = index;
    pd.hostName = host;
    pd.name = name;
    return pd;
}

// The entries of a list, "-" first when it is disabled.
QString choices(const AddPnpDialog& dialog, const char* name)
{
    const QComboBox* list = dialog.findChild<QComboBox*>(name);
    QStringList texts(list->isEnabled() ? "" : "-");
    for (int i = 0; i < list->count(); ++i)
        texts << list->itemText(i);
    return texts.join(' ') + " @" + list->currentText();
}

void choose(AddPnpDialog& dialog, const char* name, const QString& text)
{
    dialog.findChild<QComboBox*>(name)->setCurrentText(text);
}

bool okEnabled(const AddPnpDialog& dialog)
{
    return dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->isEnabled();
}

QString shown(const AddPnpDialog& dialog)
{
    const QLabel* info = dialog.findChild<QLabel*>("labelProgInfo");
    return info->isHidden() ? "hidden" : info->text();
}

} // namespace

TEST(AddPnpDialog, OpensOnTheFirstChoiceAndShowsTheChosenDescription)
{
    const QVector<ProgramDescription> programs = {program("Qol", "2", "b"), program("Nimbus", "10", "a"),
                                                  program("Nimbus", "2", "a"), program("", "1", "c")};
    AddPnpDialog dialog(programs);
    EXPECT_EQ(choices(dialog, "comboBoxType"), " Nimbus Qol @Nimbus") << "an empty type is not offered";
    EXPECT_EQ(choices(dialog, "comboBoxHost"), "- a @a") << "one host leaves nothing to choose";
    EXPECT_EQ(choices(dialog, "comboBoxIndex"), " 10 2 @10") << "indexes are ordered as text";
    choose(dialog, "comboBoxIndex", "2");
    EXPECT_EQ(shown(dialog), programs[2].toText());
    EXPECT_EQ(dialog.selectedProgram().uuid, programs[2].uuid);
    EXPECT_TRUE(okEnabled(dialog));

    // Nothing to choose: a program without an index cannot be told apart.
    for (const QVector<ProgramDescription>& none : {QVector<ProgramDescription>{}, {program("Qol", "", "h")}}) {
        AddPnpDialog empty(none);
        EXPECT_EQ(shown(empty), "hidden");
        EXPECT_EQ(choices(empty, "comboBoxType"), " @");
        EXPECT_FALSE(okEnabled(empty));
    }
}

TEST(AddPnpDialog, TypeChangeKeepsHostAndIndexTwinsGoByName)
{
    AddPnpDialog dialog({program("Nimbus", "1", "a"), program("Nimbus", "3", "b"), program("Qol", "3", "b"),
                         program("Qol", "4", "b"), program("Qol", "1", "c")});
    choose(dialog, "comboBoxHost", "b");
    choose(dialog, "comboBoxType", "Qol");
    EXPECT_EQ(choices(dialog, "comboBoxHost"), " b c @b");
    EXPECT_EQ(choices(dialog, "comboBoxIndex"), " 3 4 @3");

    // Same type and index on two hosts: the host choice does not change the
    // designated program, which is the first by name.
    const ProgramDescription later = program("Nimbus", "1", "a", "Zeta"), first = program("Nimbus", "1", "b", "Alpha");
    AddPnpDialog twins({later, program("Nimbus", "2", "a"), first});
    choose(twins, "comboBoxHost", "a");
    choose(twins, "comboBoxIndex", "1");
    EXPECT_EQ(twins.selectedProgram().uuid, first.uuid);
}
