#include "pnp/AddPnpDialog.h"

#include "ui_AddClientDialog.h"

#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>

namespace {

QString displayKey(const ProgramDescription& pd)
{
    return pd.name.isEmpty() ? pd.type + QStringLiteral(" #") + pd.index : pd.name;
}

// Every non-empty value once, ascending by character codes.
QStringList distinctSorted(QStringList values)
{
    values.removeAll(QString());
    values.removeDuplicates();
    std::sort(values.begin(), values.end());
    return values;
}

bool matches(const QString& value, const QString& wanted)
{
    return wanted.isEmpty() || value == wanted;
}

// The choice is made by type and index, so a program that lacks either
// cannot be chosen.
QVector<ProgramDescription> choosable(QVector<ProgramDescription> programs)
{
    programs.erase(std::remove_if(programs.begin(), programs.end(),
                                  [](const ProgramDescription& pd) { return pd.type.isEmpty() || pd.index.isEmpty(); }),
                   programs.end());
    return programs;
}

} // namespace

AddPnpDialog::AddPnpDialog(const QVector<ProgramDescription>& programs, QWidget* parent)
    : QDialog(parent), ui(new Ui::AddClientDialog), programs(choosable(programs))
{
    ui->setupUi(this);
    ui->labelProgInfo->hide();
    // OK only while the lists designate a program.
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
    setWindowTitle(QStringLiteral("Adding new client..."));
    std::sort(this->programs.begin(), this->programs.end(),
              [](const ProgramDescription& a, const ProgramDescription& b) {
                  const QString keyA = displayKey(a), keyB = displayKey(b);
                  return keyA != keyB ? keyA < keyB : a.uuid < b.uuid;
              });
    QStringList types;
    for (const ProgramDescription& pd : qAsConst(this->programs))
        types << pd.type;
    // Filling the empty list selects its first entry and runs the type handler.
    ui->comboBoxType->addItems(distinctSorted(types));
}

AddPnpDialog::~AddPnpDialog()
{
    delete ui;
}

ProgramDescription AddPnpDialog::selectedProgram() const
{
    const ProgramDescription* pd = find(ui->comboBoxType->currentText(), ui->comboBoxIndex->currentText());
    return pd ? *pd : ProgramDescription();
}

QStringList AddPnpDialog::hostsFor(const QString& type) const
{
    QStringList hosts;
    for (const ProgramDescription& pd : programs)
        if (matches(pd.type, type))
            hosts << pd.hostName;
    return distinctSorted(hosts);
}

QStringList AddPnpDialog::indexesFor(const QString& type, const QString& host) const
{
    QStringList indexes;
    for (const ProgramDescription& pd : programs)
        if (matches(pd.type, type) && matches(pd.hostName, host))
            indexes << pd.index;
    return distinctSorted(indexes);
}

const ProgramDescription* AddPnpDialog::find(const QString& type, const QString& index) const
{
    const auto it = std::find_if(programs.cbegin(), programs.cend(),
                                 [&](const ProgramDescription& pd) { return pd.type == type && pd.index == index; });
    return it == programs.cend() ? nullptr : &*it;
}

// Replaces the entries without running the list's handler, keeping the
// current entry when the new values have it; a single entry leaves nothing
// to choose, so the list is disabled.
void AddPnpDialog::refill(QComboBox* list, const QStringList& values)
{
    const QSignalBlocker blocker(list);
    const QString current = list->currentText();
    list->clear();
    list->addItems(values);
    list->setEnabled(values.size() != 1);
    if (values.contains(current))
        list->setCurrentText(current);
}

void AddPnpDialog::on_comboBoxType_currentIndexChanged(QString type)
{
    refill(ui->comboBoxHost, hostsFor(type));
    refill(ui->comboBoxIndex, indexesFor(type, ui->comboBoxHost->currentText()));
    on_comboBoxIndex_currentIndexChanged(ui->comboBoxIndex->currentText());
}

void AddPnpDialog::on_comboBoxHost_currentIndexChanged(QString host)
{
    refill(ui->comboBoxIndex, indexesFor(ui->comboBoxType->currentText(), host));
    on_comboBoxIndex_currentIndexChanged(ui->comboBoxIndex->currentText());
}

void AddPnpDialog::on_comboBoxIndex_currentIndexChanged(QString index)
{
    ui->labelProgInfo->show();
    ui->labelProgInfo->clear();
    const ProgramDescription* pd = find(ui->comboBoxType->currentText(), index);
    if (pd)
        ui->labelProgInfo->setText(pd->toText());
    ui->labelProgInfo->adjustSize();
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(pd != nullptr);
}
