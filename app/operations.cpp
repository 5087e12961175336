// One-shot service operations from the menus, and the reports of their answers. Each slot only
// raises a request; the engine sends it and the handlers below report the outcome.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "hart/codecsupport.h"
#include "hart/mastercommands.h"

#include <QDate>
#include <QDateTime>
#include <QMessageBox>
#include <QTime>

namespace {

const QString errorTitle = QStringLiteral("Ошибка");

// States of the calibration and optics-check reads.
constexpr uint8_t operationIdle = 0;
constexpr uint8_t operationRunning = 1;
constexpr uint8_t operationDone = 2;
constexpr uint8_t checkLowSupply = 4;
constexpr uint8_t checkNotCalibrated = 5;

enum LockCode : uint8_t { Unlock = 0, LockTemporary = 1, LockPermanent = 2, LockAll = 3 };

}

bool MainWindow::checkPortOpen(QAction* triggered)
{
    if (terminal.isOpen())
        return true;
    // A checkable action has already toggled by the time its slot runs.
    if (triggered && triggered->isCheckable())
        triggered->setChecked(!triggered->isChecked());
    reportError(QStringLiteral("Соединение не установлено"));
    return false;
}

bool MainWindow::checkDeviceReady(QAction* triggered)
{
    if (!checkPortOpen(triggered))
        return false;
    if (deviceReady && Hart::deviceIdentified(this) && deviceId != 0)
        return true;
    if (triggered && triggered->isCheckable())
        triggered->setChecked(!triggered->isChecked());
    reportError(QStringLiteral("Устройство не опознано: операция не выполнена.\n"
                               "Нажмите «Прочитать конфигурацию» и повторите операцию."));
    return false;
}

void MainWindow::inform(const QString& text)
{
    QMessageBox::information(this, QString(), text);
}

// The note goes up before the box, which waits for the user.
void MainWindow::informDone(const QString& text)
{
    noteDone(text);
    inform(text);
}

void MainWindow::reportDone(const QString& text)
{
    noteDone(text);
    reportError(text);
}

void MainWindow::reportError(const QString& text)
{
    QMessageBox::critical(this, errorTitle, text, QMessageBox::Ok);
}

void MainWindow::on_restart_triggered()
{
    if (!checkDeviceReady())
        return;
    requestFlags |= Hart::MasterRequest::DeviceReset;
}

void MainWindow::on_resetFlagChanges_triggered()
{
    if (!checkDeviceReady())
        return;
    requestFlags |= Hart::MasterRequest::ResetConfigurationChanged;
}

void MainWindow::on_resetDefault_triggered()
{
    if (!checkDeviceReady())
        return;
    const auto answer = QMessageBox::question(this, QStringLiteral("Сброс настроек по умолчанию"),
                                              QStringLiteral("Вы действительно хотите сбросить настройки по умолчанию?"),
                                              QMessageBox::Yes | QMessageBox::No);
    // The device may have gone while the question was open.
    if (answer != QMessageBox::Yes || !checkDeviceReady())
        return;
    detector.serviceCode = Hart::serviceFactoryReset;
    detector.requestFlags |= Hart::DetectorRequest::ServiceOperation;
}

void MainWindow::on_actionClearStatus_triggered()
{
    if (!checkDeviceReady())
        return;
    detector.serviceCode = Hart::serviceClearStatus;
    detector.requestFlags |= Hart::DetectorRequest::ServiceOperation;
}

void MainWindow::on_calibration_triggered()
{
    if (!checkDeviceReady())
        return;
    const auto answer = QMessageBox::question(
        this, QString(),
        QStringLiteral("Внимание!\nПеред калибровкой убедитесь, что оптика находится в чистом состоянии.\n"
                       "Выполнить калибровку оптики?"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes && checkDeviceReady())
        detector.requestFlags |= Hart::DetectorRequest::StartCalibration;
}

void MainWindow::on_actionCheckOptics_triggered()
{
    if (!checkDeviceReady())
        return;
    detector.requestFlags |= Hart::DetectorRequest::StartOpticsCheck;
}

void MainWindow::on_updateTime_clicked()
{
    if (!checkDeviceReady())
        return;
    const uint32_t timeOfDay = uint32_t(QTime::currentTime().msecsSinceStartOfDay()) * 32u;
    const QDate today = QDate::currentDate();
    const uint32_t date = uint32_t(today.day()) | uint32_t(today.month()) << 8
        | uint32_t(uint8_t(today.year() - 1900)) << 16;
    clock.requestSetClock(timeOfDay, date);
}

void MainWindow::on_unlock_triggered()
{
    if (checkDeviceReady(ui->unlock))
        requestLock(Unlock);
}

void MainWindow::on_lockTemporary_triggered()
{
    if (checkDeviceReady(ui->lockTemporary))
        requestLock(LockTemporary);
}

void MainWindow::on_lockPermanent_triggered()
{
    if (checkDeviceReady(ui->lockPermanent))
        requestLock(LockPermanent);
}

void MainWindow::on_lockAll_triggered()
{
    if (checkDeviceReady(ui->lockAll))
        requestLock(LockAll);
}

// Command 6 with mode 1 keeps the loop current signalling; any change of mode also ends a
// fixed current in the device, so the fixed modes follow it with command 40.
void MainWindow::on_normalCurrentMode_triggered()
{
    if (!checkDeviceReady(ui->normalCurrentMode))
        return;
    ui->normalCurrentMode->setChecked(true);
    requestWritePollingAddress(pollingAddress, 1);
}

void MainWindow::on_multiDropMode_triggered()
{
    if (!checkDeviceReady(ui->multiDropMode))
        return;
    ui->multiDropMode->setChecked(true);
    requestWritePollingAddress(pollingAddress, 0);
}

void MainWindow::on_fixMode4_triggered()
{
    if (!checkDeviceReady(ui->fixMode4))
        return;
    ui->fixMode4->setChecked(true);
    requestWritePollingAddress(pollingAddress, 1);
    dynamicVariables.requestFixedCurrent(4.0f);
}

void MainWindow::on_fixMode20_triggered()
{
    if (!checkDeviceReady(ui->fixMode20))
        return;
    ui->fixMode20->setChecked(true);
    requestWritePollingAddress(pollingAddress, 1);
    dynamicVariables.requestFixedCurrent(20.0f);
}

void MainWindow::handleClockSet(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode == 0)
        windowOf(master)->informDone(QStringLiteral("Текущее время установлено"));
}

void MainWindow::handleDeviceReset(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* window = windowOf(master);
    window->informDone(QStringLiteral("Устройство перезагружено"));
    // The device comes back with fresh status: read it again, without an old acknowledgement.
    window->requestFlags = uint8_t((window->requestFlags & 0xE7) | Hart::MasterRequest::ReadAdditionalStatus);
}

void MainWindow::handleConfigurationFlagReset(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode == 0)
        windowOf(master)->informDone(QStringLiteral("Сброс флага первичной конфигурации выполнен"));
}

void MainWindow::handleServiceOperation(void* context, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* window = windowOf(master);
    switch (window->detector.serviceCode) {
    case Hart::serviceFactoryReset:
        // Everything the window shows may have changed: identify again, which re-reads it all.
        handleIdentification(context, master, responseCode);
        window->informDone(QStringLiteral("Сброс настроек по умолчанию выполнен"));
        break;
    case Hart::serviceClearStatus:
        window->dynamicVariables.requestFlags |= Hart::DynamicRequest::ReadLoopCurrent;
        for (uint8_t i = 0; i < 3; ++i)
            window->dynamicVariables.requestDeviceVariable(i);
        window->noteDone(QStringLiteral("Состояние сброшено"));
        break;
    default:
        break;
    }
}

void MainWindow::handleCalibrationStarted(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode == 0)
        windowOf(master)->detector.requestFlags |= Hart::DetectorRequest::ReadCalibration;
}

void MainWindow::handleCalibrationState(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* window = windowOf(master);
    const uint8_t state = window->detector.calibrationState;
    if (state == operationIdle)
        return;
    if (state == operationRunning)
        window->detector.requestFlags |= Hart::DetectorRequest::ReadCalibration;
    else if (state == operationDone)
        window->informDone(QStringLiteral("Калибровка выполнена"));
    else
        window->reportDone(QStringLiteral("Калибровка не выполнена"));
}

void MainWindow::handleOpticsCheckStarted(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode == 0)
        windowOf(master)->detector.requestFlags |= Hart::DetectorRequest::ReadOpticsCheck;
}

void MainWindow::handleOpticsCheckState(void*, Hart::ParserMaster* master, uint8_t responseCode)
{
    if (responseCode != 0)
        return;
    MainWindow* window = windowOf(master);
    QString text;
    switch (window->detector.opticsCheckState) {
    case operationRunning:
        window->detector.requestFlags |= Hart::DetectorRequest::ReadOpticsCheck;
        return;
    case operationDone: text = QStringLiteral("Оптика чиста"); break;
    case checkLowSupply: text = QStringLiteral("Низкое напряжение питания"); break;
    case checkNotCalibrated: text = QStringLiteral("Калибровка не выполнена"); break;
    default: text = QStringLiteral("Оптика загрязнена"); break;
    }
    // Kept for the report of this connection.
    window->opticsCheckResult = QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss ")) + text;
    if (window->detector.opticsCheckState == operationDone)
        window->informDone(text);
    else
        window->reportDone(text);
}
