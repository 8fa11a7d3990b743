#include "app/LogDialog.h"

#include "ui_LogDialog.h"

#include <QDebug>

LogDialog::LogDialog(QWidget* parent) : QDialog(parent), ui(new Ui::LogDialog)
{
    ui->setupUi(this);
}

LogDialog::~LogDialog() = default;

void LogDialog::addLog(QString log)
{
    // appendPlainText keeps the view at the end only while it is at the end,
    // so an operator scrolled back to read is not pulled away.
    ui->plainTextEdit->appendPlainText(log);
    qInfo() << log;
}
