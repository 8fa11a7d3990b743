#include "app/FileReaderDialog.h"

#include "app/ViewerSettings.h"
#include "ui_FileReaderDialog.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QSettings>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {
const char* const DialogGroup = "FileReaderDialog";
}

FileReaderDialog::FileReaderDialog(ViewerSettings* settings, QWidget* parent)
    : QDialog(parent), ui(new Ui::FileReaderDialog), settings(settings), playbackTimer(new QTimer(this))
{
    ui->setupUi(this);
    connect(playbackTimer, &QTimer::timeout, this, &FileReaderDialog::playback);
    playbackTimer->setInterval(ui->spinBoxInterval->value());
    playbackTimer->setSingleShot(false);
    setUpPlaybackButtons();
    restoreDialogSettings();
}

FileReaderDialog::~FileReaderDialog()
{
    saveDialogSettings();
}

void FileReaderDialog::setUpPlaybackButtons()
{
    ui->pushButtonBackward->setIcon(style()->standardIcon(QStyle::SP_MediaSeekBackward));
    ui->pushButtonStop->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
    ui->pushButtonForward->setIcon(style()->standardIcon(QStyle::SP_MediaSeekForward));

    // Exactly one of the three is checked: turning one on turns the others off.
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    group->addButton(ui->pushButtonBackward);
    group->addButton(ui->pushButtonStop);
    group->addButton(ui->pushButtonForward);
}

void FileReaderDialog::restoreDialogSettings()
{
    QSettings store;
    store.beginGroup(DialogGroup);
    restoreGeometry(store.value("geometry").toByteArray());
    // Shown on the next pass of the event loop, once the owner has wired us.
    if (store.value("visible").toBool())
        QTimer::singleShot(0, this, &QDialog::show);
}

void FileReaderDialog::saveDialogSettings() const
{
    QSettings store;
    store.beginGroup(DialogGroup);
    store.setValue("geometry", saveGeometry());
    store.setValue("visible", isVisible());
}

void FileReaderDialog::on_pushButtonSetFile_clicked()
{
    const QString name = QFileDialog::getOpenFileName(this, "Set source file", settings->lastFile);
    if (name.isEmpty())
        return;
    fileName = name;
    emit fileNameUpdated(name);
    ui->labelFileName->setText(name);
    // No records until the reader reports the new map; the value drops to 0,
    // which requests nothing.
    ui->spinBoxCurEvent->setEnabled(false);
    ui->spinBoxCurEvent->setMaximum(0);
}

void FileReaderDialog::fileMapUpdated(qint64 fileSize, QString lastModify, quint32 recordsSize, double decodedPart)
{
    ui->labelFileSize->setText(QString::number(fileSize) + " bytes");
    ui->labelModDate->setText(lastModify);
    // A spin box counts in int; a map beyond that is shown in full but
    // playable only up to the largest int.
    const int lastRecord = int(std::min<quint32>(recordsSize, std::numeric_limits<int>::max()));
    ui->spinBoxCurEvent->setMaximum(lastRecord);
    ui->labelRecords->setText(QString::number(recordsSize));
    // An empty or missing file has no real fraction; keep the bar in range whatever comes.
    const double percent = decodedPart >= 0.0 ? std::min(decodedPart * 100.0, 100.0) : 0.0;
    ui->progressBarDecoded->setValue(int(percent));

    if (ui->spinBoxCurEvent->isEnabled() || recordsSize == 0)
        return;
    // The first update with records opens the box and requests record 1 once.
    ui->spinBoxCurEvent->setEnabled(true);
    {
        const QSignalBlocker blocker(ui->spinBoxCurEvent);
        ui->spinBoxCurEvent->setMinimum(1);
    }
    if (ui->spinBoxCurEvent->value() != 1)
        ui->spinBoxCurEvent->setValue(1);
    else
        emit changeRecord(1);
}

void FileReaderDialog::eventRead(quint32 evNum, quint32 /*evSize*/)
{
    ui->labelEvNum->setText(QString::number(evNum));
}

void FileReaderDialog::on_spinBoxCurEvent_valueChanged(int evNum)
{
    if (evNum != 0)
        emit changeRecord(evNum);
}

void FileReaderDialog::startPlayback(bool forwardDirection)
{
    forward = forwardDirection;
    playbackTimer->start();
}

void FileReaderDialog::on_pushButtonBackward_toggled(bool checked)
{
    if (checked)
        startPlayback(false);
}

void FileReaderDialog::on_pushButtonStop_toggled(bool checked)
{
    if (checked)
        playbackTimer->stop();
}

void FileReaderDialog::on_pushButtonForward_toggled(bool checked)
{
    if (checked)
        startPlayback(true);
}

void FileReaderDialog::stopPlayback()
{
    ui->pushButtonStop->setChecked(true);
}

void FileReaderDialog::playback()
{
    QSpinBox* box = ui->spinBoxCurEvent;
    const qint64 next = qint64(box->value()) + (forward ? 1 : -1);
    if (next >= box->minimum() && next <= box->maximum())
        box->setValue(int(next));
    else
        ui->pushButtonStop->setChecked(true);
}

void FileReaderDialog::setPlaybackInterval(int intervalMs)
{
    ui->spinBoxInterval->setValue(intervalMs);
}

void FileReaderDialog::on_spinBoxInterval_valueChanged(int intervalMs)
{
    playbackTimer->setInterval(intervalMs);
    settings->playbackInterval = intervalMs;
    settings->saveSettings();
}
