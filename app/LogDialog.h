#pragma once
// The log window: collects the main window's own log lines ("[MW] ...") and
// echoes each one to the Qt message output. Created hidden, shown with Ctrl+L;
// the text is kept while the window is hidden.

#include <QDialog>
#include <memory>

namespace Ui {
class LogDialog;
}

class LogDialog : public QDialog {
    Q_OBJECT

public:
    explicit LogDialog(QWidget* parent = nullptr);
    ~LogDialog() override;

public slots:
    void addLog(QString log);

private:
    std::unique_ptr<Ui::LogDialog> ui;
};
