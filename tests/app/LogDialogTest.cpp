// The log window: every line kept while hidden, shown unchanged, and copied
// to the Qt message output.

#include "app/LogDialog.h"
#include "tests/MessageLog.h"

#include <QPlainTextEdit>
#include <gtest/gtest.h>

TEST(LogDialogTest, KeepsEveryLineWhileHiddenAndCopiesItEscapedAtInfoLevel)
{
    LogDialog dialog(nullptr);
    auto* text = dialog.findChild<QPlainTextEdit*>("plainTextEdit");
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->isReadOnly());
    MessageLog capture;
    const int lineCount = 5000;
    for (int i = 0; i < lineCount; ++i)
        dialog.addLog(QString("[MW] line %1").arg(i));
    dialog.show();
    dialog.hide();
    dialog.addLog("[MW] change source from \"Nimbus #1\" to Qol #2 (data flow:0)");
    dialog.show();

    const QStringList lines = text->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), lineCount + 1);
    EXPECT_EQ(lines.at(lineCount - 1), QString("[MW] line %1").arg(lineCount - 1));
    EXPECT_EQ(lines.last(), "[MW] change source from \"Nimbus #1\" to Qol #2 (data flow:0)");
    const QStringList info = capture.texts(QtInfoMsg);
    ASSERT_EQ(info.size(), lineCount + 1);
    EXPECT_EQ(info.last(), "\"[MW] change source from \\\"Nimbus #1\\\" to Qol #2 (data flow:0)\"");
}
