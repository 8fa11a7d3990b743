// The playback dialog on its own: its form, the file chooser, the map
// progress, stepping, timed playback in both directions and the saved
// interval, geometry and visibility. The reader is played by the test; the
// whole round trip through a real reader is in FileReaderDialogPlaybackTest.

#include "app/FileReaderDialog.h"
#include "app/ViewerSettings.h"
#include "tests/app/FileChooser.h"
#include "tests/app/TempSettings.h"

#include <QButtonGroup>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class FileReaderDialogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(temp.isValid()); }

    template <typename T>
    T* widget(const char* name) const
    {
        T* found = dialog->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QSpinBox* recordBox() const { return widget<QSpinBox>("spinBoxCurEvent"); }
    QPushButton* button(const char* name) const { return widget<QPushButton>(name); }
    QTimer* timer() const { return dialog->findChild<QTimer*>(); }
    QString text(const char* labelName) const { return widget<QLabel>(labelName)->text(); }

    // A map of `records` entries, as the reader reports it.
    void reportMap(quint32 records, double decodedPart = 1.0)
    {
        dialog->fileMapUpdated(1234, "Tue Mar 5 10:11:12 2024", records, decodedPart);
    }
    QList<int> requested() const
    {
        QList<int> records;
        for (const QList<QVariant>& call : *requests)
            records << call.at(0).toInt();
        return records;
    }
    void play(const char* buttonName, int intervalMs = 10)
    {
        widget<QSpinBox>("spinBoxInterval")->setValue(intervalMs);
        requests->clear();
        button(buttonName)->click();
    }
    void waitUntilStopped() const
    {
        QTRY_VERIFY_WITH_TIMEOUT(button("pushButtonStop")->isChecked(), 10000);
        EXPECT_FALSE(timer()->isActive());
    }

    TempSettings temp;
    ViewerSettings settings;
    std::unique_ptr<FileReaderDialog> dialog = std::make_unique<FileReaderDialog>(&settings);
    std::unique_ptr<QSignalSpy> requests = std::make_unique<QSignalSpy>(dialog.get(), &FileReaderDialog::changeRecord);
};

TEST_F(FileReaderDialogTest, StartsWithNoFileAndTheFormsDefaults)
{
    EXPECT_EQ(dialog->windowTitle(), "File Reader");
    EXPECT_EQ(dialog->size(), QSize(500, 406));
    EXPECT_EQ(text("labelFileName"), "empty");
    EXPECT_FALSE(recordBox()->isEnabled());
    EXPECT_EQ(recordBox()->value(), 0);
    EXPECT_EQ(widget<QProgressBar>("progressBarDecoded")->value(), 0);

    auto* interval = widget<QSpinBox>("spinBoxInterval");
    EXPECT_EQ(interval->minimum(), 10);
    EXPECT_EQ(interval->maximum(), 10000);
    EXPECT_EQ(interval->singleStep(), 10);
    EXPECT_EQ(interval->value(), 500);
    EXPECT_EQ(interval->suffix(), " ms");
    EXPECT_EQ(timer()->interval(), 500);
    EXPECT_FALSE(timer()->isActive());
    EXPECT_FALSE(timer()->isSingleShot());

    for (const char* name : {"pushButtonBackward", "pushButtonStop", "pushButtonForward"}) {
        EXPECT_TRUE(button(name)->isCheckable()) << name;
        EXPECT_FALSE(button(name)->icon().isNull()) << name;
        ASSERT_NE(button(name)->group(), nullptr) << name;
        EXPECT_TRUE(button(name)->group()->exclusive());
    }
    EXPECT_TRUE(button("pushButtonStop")->isChecked());
    EXPECT_EQ(button("pushButtonBackward")->group(), button("pushButtonForward")->group());
    EXPECT_TRUE(requests->isEmpty());
}

TEST_F(FileReaderDialogTest, ChoosingAFileAnnouncesItAndClosesTheRecordBox)
{
    settings.lastFile = temp.folder() + "/old.dat";
    reportMap(4);
    ASSERT_TRUE(recordBox()->isEnabled());
    QSignalSpy names(dialog.get(), &FileReaderDialog::fileNameUpdated);

    const QString chosen = temp.createFile("run.dat");
    FileChooser chooser(chosen);
    button("pushButtonSetFile")->click();

    EXPECT_EQ(chooser.caption(), "Set source file");
    EXPECT_EQ(chooser.startFolder(), temp.folder());
    ASSERT_EQ(names.size(), 1);
    EXPECT_EQ(names.at(0).at(0).toString(), chosen);
    EXPECT_EQ(text("labelFileName"), chosen);
    EXPECT_FALSE(recordBox()->isEnabled());
    EXPECT_EQ(recordBox()->maximum(), 0);
    EXPECT_EQ(recordBox()->value(), 0);
    EXPECT_EQ(requests->size(), 1); // only record 1 of the old map
}

TEST_F(FileReaderDialogTest, CancelledChooserChangesNothing)
{
    QSignalSpy names(dialog.get(), &FileReaderDialog::fileNameUpdated);
    FileChooser chooser(QString{});
    button("pushButtonSetFile")->click();
    EXPECT_TRUE(chooser.wasShown());
    EXPECT_TRUE(names.isEmpty());
    EXPECT_EQ(text("labelFileName"), "empty");
}

TEST_F(FileReaderDialogTest, MapProgressRequestsRecordOneExactlyOnce)
{
    reportMap(0, 0.25);
    EXPECT_FALSE(recordBox()->isEnabled()); // no records yet
    EXPECT_EQ(text("labelFileSize"), "1234 bytes");
    EXPECT_EQ(text("labelModDate"), "Tue Mar 5 10:11:12 2024");
    EXPECT_EQ(text("labelRecords"), "0");
    EXPECT_EQ(widget<QProgressBar>("progressBarDecoded")->value(), 25);
    EXPECT_TRUE(requests->isEmpty());

    reportMap(7, 0.5);
    EXPECT_TRUE(recordBox()->isEnabled());
    EXPECT_EQ(recordBox()->minimum(), 1);
    EXPECT_EQ(recordBox()->maximum(), 7);
    EXPECT_EQ(recordBox()->value(), 1);
    EXPECT_EQ(requested(), QList<int>{1});

    reportMap(12, 0.999);
    EXPECT_EQ(recordBox()->maximum(), 12);
    EXPECT_EQ(text("labelRecords"), "12");
    EXPECT_EQ(widget<QProgressBar>("progressBarDecoded")->value(), 99);
    EXPECT_EQ(requested(), QList<int>{1});

    recordBox()->setValue(5);
    dialog->eventRead(4711, 12);
    EXPECT_EQ(requested(), (QList<int>{1, 5}));
    EXPECT_EQ(text("labelEvNum"), "4711");
}

TEST_F(FileReaderDialogTest, OddProgressValuesStayInRange)
{
    reportMap(0, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(widget<QProgressBar>("progressBarDecoded")->value(), 0);
    reportMap(0, 1.5);
    EXPECT_EQ(widget<QProgressBar>("progressBarDecoded")->value(), 100);
    dialog->fileMapUpdated(1, "", 0xFFFFFFFFu, 1.0);
    EXPECT_EQ(text("labelRecords"), "4294967295");
    EXPECT_EQ(recordBox()->maximum(), std::numeric_limits<int>::max());
}

TEST_F(FileReaderDialogTest, PlayingBackwardFromRecordOneStopsAtTheFirstTick)
{
    reportMap(3);
    play("pushButtonBackward");
    EXPECT_TRUE(timer()->isActive());
    waitUntilStopped();
    EXPECT_TRUE(requested().isEmpty());
    EXPECT_FALSE(button("pushButtonBackward")->isChecked());
}

TEST_F(FileReaderDialogTest, StopHaltsPlaybackAtOnce)
{
    reportMap(1000000);
    play("pushButtonForward", 10);
    QTRY_VERIFY_WITH_TIMEOUT(requests->size() >= 3, 10000);
    button("pushButtonStop")->click();
    EXPECT_FALSE(timer()->isActive());
    const int stoppedAt = recordBox()->value();
    QTest::qWait(100);
    EXPECT_EQ(recordBox()->value(), stoppedAt);
    EXPECT_EQ(requested().last(), stoppedAt);
}

TEST_F(FileReaderDialogTest, NewFileWhilePlayingStopsAtTheNextTick)
{
    reportMap(1000000);
    play("pushButtonForward", 10);
    QTRY_VERIFY_WITH_TIMEOUT(requests->size() >= 2, 10000);
    FileChooser chooser(temp.createFile("other.dat"));
    button("pushButtonSetFile")->click();
    waitUntilStopped();
    EXPECT_EQ(recordBox()->value(), 0);

    // The new map opens the box again at record 1, requested once.
    requests->clear();
    reportMap(2);
    EXPECT_EQ(requested(), QList<int>{1});
}

TEST_F(FileReaderDialogTest, IntervalChangeIsSavedAtOnceAndTimesTheTicks)
{
    widget<QSpinBox>("spinBoxInterval")->setValue(50);
    EXPECT_EQ(timer()->interval(), 50);
    EXPECT_EQ(settings.playbackInterval, 50);
    ViewerSettings stored;
    stored.loadSettings();
    EXPECT_EQ(stored.playbackInterval, 50);

    // Values outside the box are bounded before they reach the timer.
    widget<QSpinBox>("spinBoxInterval")->setValue(3);
    EXPECT_EQ(timer()->interval(), 10);
    EXPECT_EQ(settings.playbackInterval, 10);
}

TEST_F(FileReaderDialogTest, GeometryAndVisibilityComeBackAtStart)
{
    dialog->show();
    dialog->setGeometry(120, 90, 520, 430);
    const QRect shownAt = dialog->geometry();
    dialog.reset();

    ViewerSettings other;
    auto reopened = std::make_unique<FileReaderDialog>(&other);
    EXPECT_FALSE(reopened->isVisible()); // shown on the next event loop pass
    QTRY_VERIFY_WITH_TIMEOUT(reopened->isVisible(), 5000);
    EXPECT_EQ(reopened->geometry().size(), shownAt.size());
    EXPECT_EQ(reopened->geometry().topLeft(), shownAt.topLeft());

    reopened->hide();
    reopened.reset();
    FileReaderDialog hidden(&other);
    QTest::qWait(50);
    EXPECT_FALSE(hidden.isVisible());
}

} // namespace
