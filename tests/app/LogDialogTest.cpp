// The log window: its form, the lines it keeps while hidden, and the copy of
// each line on the Qt message output.

#include "app/LogDialog.h"
#include "tests/MessageLog.h"

#include <QPlainTextEdit>
#include <gtest/gtest.h>

namespace {

QPlainTextEdit* textArea(LogDialog& dialog)
{
    return dialog.findChild<QPlainTextEdit*>("plainTextEdit");
}

TEST(LogDialogTest, FormHasItsNamesTitleAndAnInertTextArea)
{
    LogDialog dialog(nullptr);
    EXPECT_EQ(dialog.objectName(), "LogDialog");
    EXPECT_EQ(dialog.windowTitle(), "Logs");
    EXPECT_EQ(dialog.size(), QSize(400, 300));
    EXPECT_FALSE(dialog.isVisible());
    QPlainTextEdit* text = textArea(dialog);
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_FALSE(text->isEnabled());
    EXPECT_EQ(text->maximumBlockCount(), 0); // no line limit
}

TEST(LogDialogTest, LinesArrivingWhileHiddenAreAllThereWhenShown)
{
    LogDialog dialog(nullptr);
    MessageLog quiet;
    const int lineCount = 5000;
    for (int i = 0; i < lineCount; ++i)
        dialog.addLog(QString("[MW] line %1").arg(i));
    dialog.show();
    dialog.hide();
    dialog.addLog("[MW] after hiding");
    dialog.show();

    const QStringList lines = textArea(dialog)->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), lineCount + 1);
    EXPECT_EQ(lines.first(), "[MW] line 0");
    EXPECT_EQ(lines.at(lineCount - 1), QString("[MW] line %1").arg(lineCount - 1));
    EXPECT_EQ(lines.last(), "[MW] after hiding");
}

TEST(LogDialogTest, LineIsShownUnchangedAndWrittenEscapedAtInfoLevel)
{
    const QString line = "[MW] change source from \"Nimbus #1\" to Qol #2 (data flow:0)";
    LogDialog dialog(nullptr);
    MessageLog capture;
    dialog.addLog(line);
    EXPECT_EQ(textArea(dialog)->toPlainText(), line);
    const QStringList info = capture.texts(QtInfoMsg);
    ASSERT_EQ(info.size(), 1);
    EXPECT_EQ(info.first(), "\"[MW] change source from \\\"Nimbus #1\\\" to Qol #2 (data flow:0)\"");
}

} // namespace
