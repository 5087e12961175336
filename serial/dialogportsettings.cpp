#include "dialogportsettings.h"

#include "ui_dialogportsettings.h"

#include <QIcon>
#include <QSerialPortInfo>

DialogPortSettings::DialogPortSettings(QWidget* parent)
    : DialogPortSettings(availablePortNames(), parent)
{
}

DialogPortSettings::DialogPortSettings(const QStringList& portNames, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogPortSettings)
{
    ui->setupUi(this);
    ui->port->clear();
    for (const QString& name : portNames)
        ui->port->addItem(QIcon(), name);
}

DialogPortSettings::~DialogPortSettings()
{
    delete ui;
}

QComboBox* DialogPortSettings::port() const
{
    return ui->port;
}

QStringList DialogPortSettings::availablePortNames()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        names.append(info.portName());
    return names;
}
