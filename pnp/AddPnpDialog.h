#pragma once

#include "pnp/ProgramDescription.h"

#include <QDialog>
#include <QStringList>
#include <QVector>

namespace Ui {
class AddClientDialog;
}
class QComboBox;

// Lets the operator pick one of the discovered programs that have a type and
// an index, in three steps: program type, host, index; shows the description
// of the designated one, and allows OK only while one is designated.
class AddPnpDialog : public QDialog {
    Q_OBJECT
public:
    AddPnpDialog(const QVector<ProgramDescription>& programs, QWidget* parent = nullptr);
    ~AddPnpDialog() override;

    // The first program, in the dialog's order, of the chosen type and index
    // (the host does not enter the match); a default description when none.
    ProgramDescription selectedProgram() const;

private slots:
    void on_comboBoxType_currentIndexChanged(QString type);
    void on_comboBoxHost_currentIndexChanged(QString host);
    void on_comboBoxIndex_currentIndexChanged(QString index);

private:
    QStringList hostsFor(const QString& type) const;
    QStringList indexesFor(const QString& type, const QString& host) const;
    const ProgramDescription* find(const QString& type, const QString& index) const;
    static void refill(QComboBox* list, const QStringList& values);

    Ui::AddClientDialog* ui;
    QVector<ProgramDescription> programs;
};
