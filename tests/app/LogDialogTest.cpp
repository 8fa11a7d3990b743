// The log window: every line kept while hidden, shown unchanged, and copied
// to the Qt message output.

#include "app/LogDialog.h"
#include "tests/MessageLog.h"

#include <QPlainTextEdit>
#include <gtest/gtest.h>

TEST(LogDialogTest, KeepsEveryLineWhileHiddenAndCopiesItEscapedAtInfoLevel)
{
    LogDialog dialog(nullptr);
    MessageLog capture;
    for (int i = 0; i < 5000; ++i)
        dialog.addLog(QString("[MW] line %1").arg(i));
    dialog.show();
    dialog.hide();
    dialog.addLog("[MW] change source from \"Nimbus #1\" to Qol #2 (data flow:0)");
    const QStringList lines = dialog.findChild<QPlainTextEdit*>("plainTextEdit")->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 5001);
    EXPECT_EQ(lines.last(), "[MW] change source from \"Nimbus #1\" to Qol #2 (data flow:0)");
    const QStringList info = capture.texts(QtInfoMsg);
    ASSERT_EQ(info.size(), 5001);
    EXPECT_EQ(info.last(), "\"[MW] change source from \\\"Nimbus #1\\\" to Qol #2 (data flow:0)\"");
}
