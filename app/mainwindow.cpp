#include "mainwindow.h"
#include "profilefields.h"
#include "ui_mainwindow.h"

#include "linktexts.h"

#include "dialogabout.h"
#include "dialogtraffic.h"
#include "dialogportsettings.h"
#include "trendwindow.h"
#include "detectormodel.h"
#include "serialport.h"
#include "versioninfo.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>

namespace {

constexpr int parseIntervalMs = 100;
constexpr int requestIntervalMs = 1000;

const char* const portNameKey = "PortName HART";
const char* const openDirKey = "DirOpen";
const char* const saveDirKey = "DirSave";

}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , searchWindow(this)
    , serialTerminal(frameBuffer, sizeof frameBuffer, HartLine::silenceThreshold)
    , hartIpLink(frameBuffer, sizeof frameBuffer)
    , terminal(serialTerminal)
    , eventLogWindow({ [this] { return terminal.isOpen(); }, this, &identity }, this)
    , firmwareWindow({ this, &identity, [this] { return lastOpenDir; },
                       [this](const QString& directory) { rememberOpenDir(directory); },
                       [this] { return terminal.isOpen(); } })
{
    buildCommandTable();

    parseTimer = std::make_unique<QTimer>();
    requestTimer = std::make_unique<QTimer>();

    ui->setupUi(this);

    readVersionStrings();
    readSettings();
    setWindowTitle(productName + ' ' + internalName);

    buildAddressBox();
    buildStatusBar();
    setMaintenanceAction(ui->calibration);

    // Polling runs from here on; nothing goes out until a request flag is raised.
    connect(parseTimer.get(), &QTimer::timeout, this, &MainWindow::parseTimerUpdate);
    parseTimer->start(parseIntervalMs);
    connect(requestTimer.get(), &QTimer::timeout, this, &MainWindow::requestTimerUpdate);
    requestTimer->start(requestIntervalMs);
    // An answer is parsed the moment it is complete: waiting for the next tick would cost every
    // exchange on a 1200-baud line about half a tick.
    setParseOnArrival(true);

    trafficWindow = new DialogTraffic(this);
    connect(trafficWindow, &QDialog::finished, this, &MainWindow::trafficWindowFinished);
    connect(&eventLogWindow, &DialogEventLog::closed, this, &MainWindow::on_dialogEventLogClosed);
    connect(&firmwareWindow, &DialogFirmwareUpdate::finishedWith, doneLabel, [this](const QString& message) {
        doneLabel->setText(message);
        auditEnd(Audit::Outcome::Done, 0, QString());
    });
    connect(&firmwareWindow, &DialogFirmwareUpdate::failedWith, this,
            [this](const QString& reason) { auditEnd(Audit::Outcome::Refused, -1, reason); });

    // The trends have a menu of their own, after "Правка".
    trendWindow = new TrendWindow(this);
    auto* viewMenu = new QMenu(QStringLiteral("Вид"), this);
    viewMenu->addAction(trendWindow->toggleAction());
    ui->menuBar->insertMenu(ui->menu_4->menuAction(), viewMenu);
    buildAuditActions(viewMenu);

    redTextPalette.setBrush(QPalette::All, QPalette::Text, QBrush(Qt::red));

    setupConfiguration();
    setupProfiles();
    setupAuditRecorder();

    updateConnectButton();

    // Open large enough for every group unscrolled, but never larger than the screen leaves free
    // (a title bar included): on a laptop the detector settings scroll instead.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize titleBar(0, style()->pixelMetric(QStyle::PM_TitleBarHeight));
        resize(size().expandedTo(sizeHint()).boundedTo(screen->availableGeometry().size() - titleBar));
    }
    // Opened once the window is up, so a file set aside is reported over it.
    QTimer::singleShot(0, this, [this] { auditTrail(); });
}

void MainWindow::setParseOnArrival(bool on)
{
    terminal.setFrameReceivedHook(on ? &MainWindow::onFrameReceived : nullptr, this);
}

// The members then go in reverse order of declaration: the timers, the terminal (stopping its
// worker) before the buffer it works on, then the secondary windows.
MainWindow::~MainWindow()
{
    delete ui;
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
    loadHartIpChoice();
}

void MainWindow::rememberOpenDir(const QString& directory)
{
    lastOpenDir = directory;
    settings->setValue(openDirKey, lastOpenDir);
}

void MainWindow::rememberSaveDir(const QString& directory)
{
    lastSaveDir = directory;
    settings->setValue(saveDirKey, lastSaveDir);
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
    connect(addressSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &MainWindow::on_deviceAddressSpinBox_valueChanged);
}

void MainWindow::updateConnectButton()
{
    const bool open = terminal.isOpen();
    ui->connectButton->setChecked(open);
    ui->connectButton->setText(open ? QStringLiteral("Разъединить") : QStringLiteral("Соединить"));
    showLinkInUse();
}

void MainWindow::on_connectButton_triggered()
{
    if (!terminal.isOpen()) {
        DialogPortSettings dialog(DialogPortSettings::availablePortNames() + extraPorts, this);
        QComboBox* port = dialog.port();
        // Before any choice is stored, the port given on the command line (the demo's simulated
        // detector) is the likely one, not the first port the system lists.
        port->setCurrentText(portName.isEmpty() && !extraPorts.isEmpty() ? extraPorts.first() : portName);
        dialog.setHartIp(hartIpChosen, hartIpAddress);
        if (dialog.exec() == QDialog::Accepted && dialog.hartIpChosen()) {
            openHartIp(dialog.hartIpAddress());
        } else if (dialog.result() == QDialog::Accepted && port->currentIndex() != -1) {
            rememberHartIpChoice(false);
            terminal.select(serialTerminal);
            trafficWindow->setCapturingHartIp(false);
            portName = port->currentText();
            settings->setValue(portNameKey, portName);
            settings->sync();
            if (serialTerminal.open(portName.toUtf8().constData(), HartLine::baudRate, HartLine::oddParity,
                                    HartLine::oneStopBit)) {
                modifiedGroups = ConfigGroup::all;
                readGroups = 0;
            } else {
                updateConnectButton();
                reportError(openFailureText(portName, serialTerminal.openError()));
            }
        }
    } else {
        closePort();
    }
    updateConnectButton();
}

void MainWindow::closePort()
{
    // The link goes first: a request waiting for a silent line must not slip out while the
    // audit record below is flushed to disk.
    terminal.close();
    auditEnd(Audit::Outcome::LineLost, -1, QStringLiteral("Порт закрыт до ответа"));
    opticsCheckResult.clear();
    endAddressSearch(false);
    // The next connection may reach another loop: its addresses owe nothing to this one.
    lastAnsweredAddress = -1;
    forgetDevice(QStringLiteral("Порт закрыт: показано последнее полученное значение"));
    // Nothing can answer through a closed port: the next connection starts without waiting
    // out the last request's time-out.
    attempts = 0;
    readGroups = 0;
}

// The worker has given up on a port that failed under it: show the window disconnected and
// say so once. The form keeps its values and the stored port stays chosen.
void MainWindow::handlePortLost()
{
    auditEnd(Audit::Outcome::LineLost, -1, QStringLiteral("Связь с портом потеряна"));
    closePort();
    updateConnectButton();
    reportError(lostLinkText());
}

void MainWindow::on_aboutAction_triggered()
{
    DialogAbout dialog({ productName, internalName, productVersion, releaseYear, companyName, companyDomain },
                       this);
    dialog.exec();
}

void MainWindow::on_traffic_triggered(bool checked)
{
    trafficWindow->setVisible(checked);
}

void MainWindow::trafficWindowFinished()
{
    ui->traffic->setChecked(false);
}

// Hiding the event-log window leaves a download running; closing it stops the download.
void MainWindow::on_actionReadLog_triggered(bool checked)
{
    eventLogWindow.setVisible(checked);
}

void MainWindow::on_dialogEventLogClosed()
{
    ui->actionReadLog->setChecked(false);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (terminal.isOpen())
        terminal.close();
    event->accept();
}
