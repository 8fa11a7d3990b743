#pragma once
// Answers the next modal file chooser as an operator would: types the path and
// presses Open, or cancels when the path is empty. `afterAnswer` runs before
// the program gets the answer back.

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>

#include <functional>

class FileChooser {
public:
    explicit FileChooser(const QString& answer, std::function<void()> afterAnswer = {})
    {
        QObject::connect(&poll, &QTimer::timeout, [this, answer, afterAnswer] {
            auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!chooser || !chooser->isVisible())
                return;
            poll.stop();
            caption = chooser->windowTitle();
            startFolder = chooser->directory().absolutePath();
            if (answer.isEmpty())
                return chooser->reject();
            // selectFile() leaves the name field alone once it has the focus.
            chooser->findChild<QLineEdit*>("fileNameEdit")->setText(answer);
            static_cast<QDialog*>(chooser)->accept(); // Open: checks the file exists
            if (afterAnswer)
                afterAnswer();
        });
        poll.start(10);
    }

    bool wasShown() const { return !caption.isEmpty(); }
    QString caption;
    QString startFolder;

private:
    QTimer poll;
};
