// The polling engine: the command table, the two timers that carry every HART exchange, and the
// actions that start reading and searching.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "detectormodel.h"
#include "devicetext.h"
#include "dialogtraffic.h"
#include "framerenderer.h"
#include "timedstatus.h"

#include "hart/mastercommands.h"
#include "hart/messages.h"

#include <QLabel>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QSpinBox>
#include <QTimer>

#include <cstring>

namespace {

constexpr uint32_t frameBufferSize = 256;

const QString errorTitle = QStringLiteral("Ошибка");
const QString noResponseText = QStringLiteral("Устройство не отвечает");

}

void MainWindow::buildCommandTable()
{
    dynamicVariables.loopCurrent = &loopCurrentValue;
    dynamicVariables.variables = deviceVariables;

    Hart::fillCommandTable(commandTable, commandContexts());
    const struct {
        uint16_t command;
        Hart::Handler handler;
    } handlers[] = {
        { 0, handleIdentification },
        { 11, handleIdentification },
        { 21, handleIdentification },
        { 73, handleIdentification },
        { 6, handleLoopConfiguration },
        { 7, handleLoopConfiguration },
        { 2, handleLoopCurrent },
        { 3, handleDynamicVariables },
        { 40, handleFixedCurrent },
        { 16, handleFinalAssemblyNumber },
        { 42, handleDeviceReset },
        { 38, handleConfigurationFlagReset },
        { 48, handleAdditionalStatus },
        { 71, handleLock },
        { 76, handleLockState },
        { 89, handleClockSet },
        { 90, handleClockRead },
        { 130, handleServiceOperation },
        { 135, handleCalibrationState },
        { 136, handleCalibrationStarted },
        { 137, handleOpticsCheckState },
        { 138, handleOpticsCheckStarted },
        { 12, handleReadMessage },
        { 13, handleReadTagDescriptorDate },
        { 20, handleReadLongTag },
        { 131, handleReadCurrents },
        { 133, handleReadDetectorSettings },
        { 17, handleWritten<ConfigGroup::message> },
        { 18, handleWritten<ConfigGroup::tagDescriptorDate> },
        { 22, handleWritten<ConfigGroup::longTag> },
        { 132, handleWritten<ConfigGroup::currents> },
        { 134, handleWritten<ConfigGroup::detector> },
    };
    for (const auto& h : handlers)
        commandTable[Hart::commandRow(h.command)].handler = h.handler;

    table = commandTable;
    tableSize = Hart::commandTableSize;
    current = &commandTable[Hart::commandTableSize - 1];
    dynamicContext = &dynamicVariables;
    onDeviceStatus = onDeviceStatusChanged;
    dynamicVariables.onVariableUpdated = onDeviceVariableUpdated;
}

void MainWindow::buildStatusBar()
{
    sentLabel = new QLabel(QStringLiteral("Отправлено пакетов: 0"), this);
    receivedLabel = new QLabel(QStringLiteral("Принято пакетов: 0"), this);
    ui->statusBar->addWidget(sentLabel);
    ui->statusBar->addWidget(receivedLabel);
    buildStatusDisplay();
    // A permanent widget, so the note never hides the counters and the status icons.
    doneLabel = new QLabel(this);
    doneLabel->setObjectName(QStringLiteral("doneLabel"));
    ui->statusBar->addPermanentWidget(doneLabel);
}

void MainWindow::noteDone(const QString& what)
{
    doneLabel->setText(timedStatus(what));
}

Hart::CommandContexts MainWindow::commandContexts()
{
    return { this, &identity, &dynamicVariables, &clock, &detector, &eventLogWindow,
             static_cast<Hart::ParserMasterFirmwareUpdate*>(&firmwareWindow) };
}

void MainWindow::cancelAllRequests()
{
    Hart::cancelRequests(commandContexts());
    eventLogWindow.stopTransfer();
}

void MainWindow::forgetDevice(const QString& staleReason)
{
    deviceReady = false;
    stopPolling();
    showLiveValuesStale(staleReason);
}

void MainWindow::endAddressSearch(bool found)
{
    if (!addressSearchRunning)
        return;
    addressSearchRunning = false;
    if (found)
        return;
    pollingAddress = uint8_t(lastAnsweredAddress >= 0 ? lastAnsweredAddress : addressBeforeSearch);
    addressSpinBox->setValue(pollingAddress);
}

void MainWindow::stopPolling()
{
    ui->connectRead->setEnabled(true);
    addressSpinBox->setEnabled(true);
    ui->connectRead->setChecked(false);
    cancelAllRequests();
    writeGroupsPending = 0;
    ui->find->setChecked(false);
}

void MainWindow::reportResult(uint32_t result, uint8_t responseCode)
{
    stopPolling();
    const QString title = (responseCode & 0x80) ? errorTitle : errorTitle + ' ' + QString::number(responseCode);
    QMessageBox::critical(this, title, QString::fromUtf8(Hart::resultMessage(result)), QMessageBox::Ok);
}

void MainWindow::onFrameReceived(void* context)
{
    QMetaObject::invokeMethod(static_cast<MainWindow*>(context), &MainWindow::parseReceivedFrame,
                              Qt::QueuedConnection);
}

void MainWindow::parseReceivedFrame()
{
    // Tests that tick the engine by hand stop the timer, and so this shortcut.
    if (parseTimer->isActive())
        parseTimerUpdate();
}

void MainWindow::parseTimerUpdate()
{
    // A tick that waits in a handler's message box still holds its frame in the buffer; the box's
    // event loop must not start another tick that would parse it again.
    if (parsing)
        return;
    const QScopedValueRollback<bool> inTick(parsing, true);
    if (terminal.portLost()) {
        handlePortLost();
        return;
    }
    if (terminal.state() == TerminalState::Received && terminal.receivedLength() > 0) {
        ++receivedCount;
        receivedLabel->setText(QStringLiteral("Принято пакетов: ") + QString::number(receivedCount));
        const uint32_t length = std::min(terminal.receivedLength(), frameBufferSize);
        uint8_t copy[frameBufferSize];
        std::memcpy(copy, frameBuffer, length);
        uint8_t responseCode = 0x80;
        const uint32_t result = parseResponse(frameBuffer, length, &responseCode);
        trafficWindow->appendHtml(renderFrame(copy, length, result, false));
        trafficWindow->recordFrame(copy, length, false);
        auditAnswered(result, responseCode);
        if (result >= 1 && result <= 53)
            reportResult(result, responseCode);
        terminal.releaseReceived();
    }

    const TerminalState state = terminal.state();
    if (state == TerminalState::TransmitRequested || state == TerminalState::Transmitting)
        return;

    uint8_t request[Hart::requestBufferSize];
    uint32_t length = 0;
    const Hart::BuildStatus status = buildRequest(request, &length);
    addressSpinBox->setValue(pollingAddress);
    if (length != 0)
        trafficWindow->appendHtml(renderFrame(request, length, Hart::Ok, true));

    if (status == Hart::BuildStatus::NoResponse) {
        auditEnd(Audit::Outcome::NoAnswer, -1, noResponseText);
        endAddressSearch(false);
        forgetDevice(QStringLiteral("Устройство не отвечает: показано последнее полученное значение"));
        reportError(noResponseText);
        return;
    }
    if (length == 0 || !terminal.isOpen())
        return;
    auditBeforeSend(request, length);
    transmitFrame(request, length);
}

void MainWindow::transmitFrame(const uint8_t* frame, uint32_t length)
{
    uint8_t* buffer = terminal.claimForTransmit();
    if (!buffer || length > frameBufferSize)
        return;
    std::memcpy(buffer, frame, length);
    if (!terminal.transmit(length))
        return;
    trafficWindow->recordFrame(frame, length, true);
    ++sentCount;
    sentLabel->setText(QStringLiteral("Отправлено пакетов: ") + QString::number(sentCount));
}

void MainWindow::requestTimerUpdate()
{
    if (!ui->connectRead->isChecked() || !DetectorModel::isServed(expandedDeviceType))
        return;
    using namespace Hart::MasterRequest;
    if ((deviceStatus & 0x10) && !(requestFlags & AcknowledgeAdditionalStatus))
        requestFlags = uint8_t((requestFlags & ~(ReadAdditionalStatus | AcknowledgeAdditionalStatus)) | ReadAdditionalStatus);
    dynamicVariables.requestFlags |= Hart::DynamicRequest::ReadLoopCurrent;
    for (uint8_t i = 0; i < 3; ++i)
        dynamicVariables.requestDeviceVariable(i);
    clock.requestFlags |= Hart::ClockRequest::ReadClock;
}

void MainWindow::on_connectRead_triggered(bool checked)
{
    if (!checked) {
        cancelAllRequests();
        return;
    }
    if (!checkPortOpen(ui->connectRead))
        return;
    identity.requestFlags |= Hart::IdentityRequest::ReadUniqueIdentifier;
}

void MainWindow::on_find_triggered(bool checked)
{
    if (!checked) {
        endAddressSearch(false);
        stopPolling();
        return;
    }
    if (!checkPortOpen(ui->find))
        return;
    cancelAllRequests();
    const int kind = searchWindow.exec();
    if (kind == DialogFind::ByAddressRange) {
        // The scan moves the address through the range and clears the device's identity.
        deviceReady = false;
        addressBeforeSearch = pollingAddress;
        addressSearchRunning = true;
        identity.startAddressScan(uint8_t(searchWindow.firstAddress()), uint8_t(searchWindow.lastAddress()));
        addressSpinBox->setEnabled(false);
        ui->connectRead->setEnabled(false);
        return;
    }
    ui->find->setChecked(false);
    if (kind == DialogFind::ByTag)
        identity.requestFindByTag(toDeviceText(searchWindow.tagText()).left(8).constData());
    else if (kind == DialogFind::ByLongTag)
        identity.requestFindByLongTag(searchWindow.longTagText().toLatin1().left(32).constData());
}

void MainWindow::on_deviceAddressSpinBox_valueChanged(int value)
{
    // The engine moves the box to the address it polls; only the user's choice is another device.
    if (uint8_t(value) != pollingAddress)
        readGroups = 0;
    pollingAddress = uint8_t(value);
    modifiedGroups = ConfigGroup::all;
}

void MainWindow::handleIdentification(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* window = windowOf(master);
    window->endAddressSearch(true);
    window->lastAnsweredAddress = window->pollingAddress;
    window->showIdentity();
    // A device found anew, or reset to its factory settings: nothing the form shows is its own yet.
    window->readGroups = 0;
    window->deviceReady = DetectorModel::isServed(window->expandedDeviceType);
    if (window->deviceReady) {
        window->raiseOneTimeReads();
    } else {
        window->stopPolling();
        window->reportError(QStringLiteral("Неизвестное устройство"));
    }
}

void MainWindow::showIdentity()
{
    ui->address->setValue(pollingAddress);
    ui->serial->setText(QString::number(deviceId));
    ui->versionSoft->setText(QString::number(identity.softwareRevision));
    ui->versionDevice->setText(QString::number(identity.deviceRevision));
    ui->versionProtocol->setText(QString::number(identity.universalRevision));
    ui->versionHardware->setText(QString::number(identity.hardwareRevision >> 3));
    ui->model->setText(QStringLiteral("%1 (HEX)").arg(expandedDeviceType, 4, 16, QLatin1Char('0')).toUpper());
    ui->connectRead->setEnabled(true);
    addressSpinBox->setEnabled(true);
    ui->find->setChecked(false);
}

void MainWindow::raiseOneTimeReads()
{
    using namespace Hart;
    detector.requestFlags |= DetectorRequest::ReadCurrents | DetectorRequest::ReadConfiguration;
    identity.requestFlags |= IdentityRequest::ReadMessage | IdentityRequest::ReadTagDescriptorDate
        | IdentityRequest::ReadFinalAssemblyNumber | IdentityRequest::ReadLongTag;
    requestFlags = uint8_t((requestFlags & 0x65) | 0x8A);
}

void MainWindow::handleLoopConfiguration(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* window = windowOf(master);
    window->ui->address->setValue(window->pollingAddress);
    window->addressSpinBox->setValue(window->pollingAddress);
    window->confirmGroups(ConfigGroup::address);
    window->updateLoopCurrentActions();
    if (window->current && window->current->command == 6) {
        if (window->writeGroupsPending & ConfigGroup::address)
            window->writeConfirmed(ConfigGroup::address);
        else
            window->noteDone(QStringLiteral("Режим токовой петли установлен"));
    }
}
