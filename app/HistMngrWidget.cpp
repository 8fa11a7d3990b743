#include "app/HistMngrWidget.h"

#include "ui_HistMngrWidget.h"

#include <QTimer>
#include <qwt_plot_item.h>

HistMngrWidget::HistMngrWidget(QWidget* parent)
    : QWidget(parent), ui(new Ui::HistMngrWidget), refreshTimer(new QTimer(this))
{
    connect(refreshTimer, &QTimer::timeout, this, qOverload<>(&HistMngrWidget::refreshCurrentPlot));
    ui->setupUi(this);
}

HistMngrWidget::~HistMngrWidget()
{
    delete ui;
}

void HistMngrWidget::dataUpdated(DeviceData data)
{
    Q_UNUSED(data) // no histogram type consumes records yet
}

void HistMngrWidget::on_comboBoxType_currentIndexChanged(int index)
{
    if (currentType != -1) {
        if (QwtPlotItem* item = itemMap.value(currentType, nullptr))
            item->setVisible(false);
    }
    if (QwtPlotItem* item = itemMap.value(index, nullptr))
        item->setVisible(true);
    currentType = index;
    ui->qwtPlotHists->setTitle(titleMap.value(index));
    refreshCurrentPlot(true);
}

void HistMngrWidget::refreshCurrentPlot(bool force)
{
    QwtPlotItem* item = itemMap.value(currentType, nullptr);
    if (item && (force || item->isVisible()))
        ui->qwtPlotHists->replot();
}

void HistMngrWidget::refreshCurrentPlot()
{
    refreshCurrentPlot(false);
}
