#pragma once
// Answers the next modal file chooser the way an operator would: types the
// given path and presses Open, or cancels when the path is empty. Notes the
// caption and start folder the chooser came up with. `afterAnswer` runs once
// the chooser has its answer, before the program gets it back.

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QString>
#include <QTimer>

#include <functional>

class FileChooser {
public:
    explicit FileChooser(const QString& answer, std::function<void()> afterAnswer = {})
        : answer(answer), afterAnswer(std::move(afterAnswer))
    {
        QObject::connect(&poll, &QTimer::timeout, [this] { answerIfOpen(); });
        poll.start(10);
    }

    bool wasShown() const { return shown; }
    QString caption() const { return seenCaption; }
    QString startFolder() const { return seenFolder; }

private:
    void answerIfOpen()
    {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!chooser || !chooser->isVisible())
            return;
        poll.stop();
        shown = true;
        seenCaption = chooser->windowTitle();
        seenFolder = chooser->directory().absolutePath();
        if (answer.isEmpty()) {
            chooser->reject();
            return;
        }
        typeFileName(chooser);
        static_cast<QDialog*>(chooser)->accept(); // Open: checks the file exists
        if (afterAnswer)
            afterAnswer();
    }

    // selectFile() leaves the name field alone once it has the focus, so the
    // path is typed into the field itself.
    void typeFileName(QFileDialog* chooser) const
    {
        if (auto* field = chooser->findChild<QLineEdit*>("fileNameEdit"))
            field->setText(answer);
        else
            chooser->selectFile(answer);
    }

    QString answer;
    std::function<void()> afterAnswer;
    QTimer poll;
    bool shown = false;
    QString seenCaption;
    QString seenFolder;
};
