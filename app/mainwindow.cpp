#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "dialogabout.h"
#include "dialogportsettings.h"
#include "versioninfo.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QSettings>
#include <QSpinBox>

namespace {

MainWindow* theWindow = nullptr;

constexpr uint32_t hartBaudRate = 1200;
constexpr uint8_t oddParity = 1;
constexpr uint8_t oneStopBit = 0;
constexpr uint8_t silenceThreshold = 2;
constexpr uint8_t allGroups = 0x3F;

const char* const portNameKey = "PortName HART";
const char* const openDirKey = "DirOpen";
const char* const saveDirKey = "DirSave";

}

MainWindow* MainWindow::instance()
{
    return theWindow;
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , terminal(frameBuffer, sizeof frameBuffer, silenceThreshold)
{
    theWindow = this;
    ui->setupUi(this);

    readVersionStrings();
    readSettings();
    setWindowTitle(productName + ' ' + internalName);

    buildAddressBox();
    setMaintenanceAction(ui->calibration);

    // The window must not open taller than the screen on small laptops, yet stay resizable.
    setMaximumHeight(500);
    setMaximumHeight(QWIDGETSIZE_MAX);

    redTextPalette.setBrush(QPalette::All, QPalette::Text, QBrush(Qt::red));
    valuePalette.setBrush(QPalette::All, QPalette::Text, QBrush(Qt::red));

    updateConnectButton();
}

MainWindow::~MainWindow()
{
    setMaintenanceAction(nullptr);
    delete ui;
    ui = nullptr;
    // The members go in reverse order of declaration: the terminal (stopping its worker)
    // before the buffer it works on.
    terminal.close();
    if (theWindow == this)
        theWindow = nullptr;
}

void MainWindow::readVersionStrings()
{
    applicationPath = QCoreApplication::applicationFilePath();
    productName = versionString(applicationPath, "ProductName");
    internalName = versionString(applicationPath, "InternalName");
    productVersion = versionString(applicationPath, "ProductVersion");
    releaseYear = versionString(applicationPath, "ReleaseYear");
    companyName = versionString(applicationPath, "CompanyName");
    companyDomain = versionString(applicationPath, "CompanyDomain");
    versionNumber = leadingInteger(productVersion);
}

void MainWindow::readSettings()
{
    settings = std::make_unique<QSettings>(QStringLiteral("Norvel"), productName);
    lastOpenDir = settings->value(openDirKey, QVariant()).toString();
    lastSaveDir = settings->value(saveDirKey, QVariant()).toString();
    portName = settings->value(portNameKey, QVariant()).toString();
}

void MainWindow::buildAddressBox()
{
    addressLabel = new QLabel(QStringLiteral("Адрес: "), this);
    addressSpinBox = new QSpinBox(this);
    addressSpinBox->setObjectName(QStringLiteral("deviceAddressSpinBox"));
    addressSpinBox->setRange(0, 62);
    addressSpinBox->setValue(0);
    ui->mainToolBar->insertWidget(ui->connectRead, addressLabel);
    ui->mainToolBar->insertWidget(ui->connectRead, addressSpinBox);
    ui->mainToolBar->insertSeparator(ui->connectRead);
}

void MainWindow::updateConnectButton()
{
    const bool open = terminal.isOpen();
    ui->connectButton->setChecked(open);
    ui->connectButton->setText(open ? QStringLiteral("Разъединить") : QStringLiteral("Соединить"));
}

void MainWindow::on_connectButton_triggered()
{
    if (!terminal.isOpen()) {
        DialogPortSettings dialog(this);
        QComboBox* port = dialog.findChild<QComboBox*>(QStringLiteral("port"));
        port->setCurrentText(portName);
        if (dialog.exec() == QDialog::Accepted && port->currentIndex() != -1) {
            portName = port->currentText();
            settings->setValue(portNameKey, portName);
            settings->sync();
            if (terminal.open(portName.toUtf8().constData(), hartBaudRate, oddParity, oneStopBit))
                modifiedGroups = allGroups;
        }
    } else {
        terminal.close();
    }
    updateConnectButton();
}

void MainWindow::on_aboutAction_triggered()
{
    DialogAbout dialog({ productName, internalName, productVersion, releaseYear, companyName, companyDomain },
                       this);
    dialog.exec();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (terminal.isOpen())
        terminal.close();
    event->accept();
}
