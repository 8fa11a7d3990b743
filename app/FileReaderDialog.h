#pragma once
// The playback dialog: the operator picks a data file here, watches the file
// reader build its file map, and steps or plays through the file's records.
// It talks to the file reader only by signals, so the reader may live on its
// own thread.

#include <QDialog>
#include <QString>
#include <memory>

class QTimer;
struct ViewerSettings;

namespace Ui {
class FileReaderDialog;
}

class FileReaderDialog : public QDialog {
    Q_OBJECT

public:
    // settings: the main window's record (last file, playback interval).
    explicit FileReaderDialog(ViewerSettings* settings, QWidget* parent = nullptr);
    ~FileReaderDialog() override;

    // Shows the interval in its box, which keeps it within range; the box's
    // change handler applies and saves it.
    void setPlaybackInterval(int intervalMs);

signals:
    void fileNameUpdated(QString fileName);
    void changeRecord(int recordNum);

public slots:
    // Connected to the file reader's signals of the same names.
    void fileMapUpdated(qint64 fileSize, QString lastModify, quint32 recordsSize, double decodedPart);
    void eventRead(quint32 evNum, quint32 evSize);
    // Stops playing, as the Stop button does: a live source took over.
    void stopPlayback();

private slots:
    void on_pushButtonSetFile_clicked();
    void on_spinBoxCurEvent_valueChanged(int evNum);
    void on_pushButtonBackward_toggled(bool checked);
    void on_pushButtonStop_toggled(bool checked);
    void on_pushButtonForward_toggled(bool checked);
    void on_spinBoxInterval_valueChanged(int intervalMs);
    void playback();

private:
    void setUpPlaybackButtons();
    void restoreDialogSettings();
    void saveDialogSettings() const;
    void startPlayback(bool forwardDirection);

    std::unique_ptr<Ui::FileReaderDialog> ui;
    ViewerSettings* settings;
    QString fileName;
    QTimer* playbackTimer;
    bool forward = true;
};
