#include "dialogportsettings.h"

#include "ui_dialogportsettings.h"

#include <QFormLayout>
#include <QIcon>
#include <QLineEdit>
#include <QRadioButton>
#include <QSerialPortInfo>
#include <QSpinBox>

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
    addHartIpChoice();
}

// The network choice goes under the serial one, in the same form.
void DialogPortSettings::addHartIpChoice()
{
    auto* form = findChild<QFormLayout*>(QStringLiteral("formLayout"));
    serialChoice = new QRadioButton(QStringLiteral("Модем"), this);
    serialChoice->setObjectName(QStringLiteral("serialChoice"));
    serialChoice->setChecked(true);
    hartIpChoice = new QRadioButton(QStringLiteral("HART-IP"), this);
    hartIpChoice->setObjectName(QStringLiteral("hartIpChoice"));
    hartIpChoice->setToolTip(QStringLiteral(
        "Шлюз или мультиплексор HART-IP (версия 1) по сети предприятия.\n"
        "HART-IP версии 1 не защищён: обмен не шифруется и не проверяет подлинность сторон.\n"
        "Подключайтесь только через закрытую технологическую сеть."));
    hartIpHost = new QLineEdit(this);
    hartIpHost->setObjectName(QStringLiteral("hartIpHost"));
    hartIpHost->setPlaceholderText(QStringLiteral("адрес шлюза"));
    hartIpPort = new QSpinBox(this);
    hartIpPort->setObjectName(QStringLiteral("hartIpPort"));
    hartIpPort->setRange(1, 65535);
    hartIpPort->setValue(Hart::Ip::defaultPort);
    hartIpTransport = new QComboBox(this);
    hartIpTransport->setObjectName(QStringLiteral("hartIpTransport"));
    hartIpTransport->addItems({ QStringLiteral("UDP"), QStringLiteral("TCP") });
    form->insertRow(0, serialChoice);
    form->addRow(hartIpChoice);
    form->addRow(QStringLiteral("Адрес"), hartIpHost);
    form->addRow(QStringLiteral("Порт HART-IP"), hartIpPort);
    form->addRow(QStringLiteral("Протокол"), hartIpTransport);
    const auto enable = [this] {
        const bool network = hartIpChoice->isChecked();
        ui->port->setEnabled(!network);
        hartIpHost->setEnabled(network);
        hartIpPort->setEnabled(network);
        hartIpTransport->setEnabled(network);
    };
    connect(hartIpChoice, &QRadioButton::toggled, this, enable);
    enable();
}

void DialogPortSettings::setHartIp(bool chosen, const HartIpAddress& address)
{
    (chosen ? hartIpChoice : serialChoice)->setChecked(true);
    hartIpHost->setText(address.host);
    hartIpPort->setValue(address.port);
    hartIpTransport->setCurrentIndex(address.tcp ? 1 : 0);
}

bool DialogPortSettings::hartIpChosen() const
{
    return hartIpChoice->isChecked();
}

HartIpAddress DialogPortSettings::hartIpAddress() const
{
    HartIpAddress address;
    address.host = hartIpHost->text().trimmed();
    address.port = quint16(hartIpPort->value());
    address.tcp = hartIpTransport->currentIndex() == 1;
    return address;
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
