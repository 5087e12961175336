#include "devicesession.h"

#include "detectormodel.h"
#include "devicetext.h"
#include "linktexts.h"
#include "logdownload.h"

#include "hart/mastercommands.h"
#include "hart/messages.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace {

// The engine looks at the link this often while it waits; an answer is parsed when it arrives.
constexpr int tickMs = 10;

// States of the calibration and optics-check reads.
constexpr std::uint8_t operationRunning = 1;
constexpr std::uint8_t operationDone = 2;
constexpr std::uint8_t checkLowSupply = 4;
constexpr std::uint8_t checkNotCalibrated = 5;

DeviceSession* sessionOf(Hart::ParserMaster* master)
{
    return static_cast<DeviceSession*>(master);
}

} // namespace

DeviceSession::DeviceSession()
    : serialTerminal(frameBuffer, sizeof frameBuffer, HartLine::silenceThreshold)
    , hartIpLink(frameBuffer, sizeof frameBuffer)
    , terminal(serialTerminal)
{
    firmware.session = this;
    dynamicVariables.loopCurrent = &loopCurrentValue;
    dynamicVariables.variables = deviceVariables;
    Hart::fillCommandTable(commandTable, contexts());
    table = commandTable;
    tableSize = Hart::commandTableSize;
    dynamicContext = &dynamicVariables;
    const struct {
        std::uint16_t command;
        Hart::Handler handler;
    } handlers[] = {
        { 136, handleCalibrationStarted },
        { 135, handleCalibrationState },
        { 138, handleOpticsCheckStarted },
        { 137, handleOpticsCheckState },
    };
    for (const auto& h : handlers)
        commandTable[Hart::commandRow(h.command)].handler = h.handler;
    firmware.begin = [](Hart::ParserMasterFirmwareUpdate* update) -> std::uint32_t {
        DeviceSession* s = sessionOfFirmware(update);
        return s->image ? std::uint32_t(s->image->size()) : 0;
    };
    firmware.readChunk = [](Hart::ParserMasterFirmwareUpdate* update, std::uint32_t offset, std::uint8_t* destination,
                            std::uint32_t length) {
        DeviceSession* s = sessionOfFirmware(update);
        // The file may have changed since it was measured: a short read stops the transfer
        // rather than send made-up bytes.
        if (!s->image || !s->image->seek(offset)
            || s->image->read(reinterpret_cast<char*>(destination), qint64(length)) != qint64(length)) {
            s->firmware.requestFlags = 0;
            s->operationFailed = true;
            s->operationText = QStringLiteral("Не удается прочитать файл прошивки");
        }
    };
    firmware.onProgress = [](Hart::ParserMasterFirmwareUpdate* update, std::uint32_t offset) {
        DeviceSession* s = sessionOfFirmware(update);
        if (s->firmwareProgress)
            s->firmwareProgress(std::min(offset, s->firmware.size), s->firmware.size);
        if (offset < s->firmware.size)
            return;
        s->operationFailed = offset != s->firmware.size;
        s->operationText = s->operationFailed ? QStringLiteral("Устройство запросило данные за концом файла прошивки. "
                                                               "Обновление не выполнено")
                                              : QStringLiteral("Обновление выполнено");
    };
    terminal.setFrameReceivedHook(&DeviceSession::onFrameReceived, this);
}

DeviceSession::~DeviceSession()
{
    terminal.setFrameReceivedHook(nullptr, nullptr);
    close();
}

DeviceSession* DeviceSession::sessionOfFirmware(Hart::ParserMasterFirmwareUpdate* update)
{
    return static_cast<FirmwareTransfer*>(update)->session;
}

bool DeviceSession::open(const LinkSpec& target, QString* error)
{
    close();
    linkSpec = target;
    if (target.hartIp) {
        terminal.select(hartIpLink);
        if (hartIpLink.open(target.server))
            return true;
        *error = lostText();
        return false;
    }
    terminal.select(serialTerminal);
    if (serialTerminal.open(target.port.toUtf8().constData(), HartLine::baudRate, HartLine::oddParity,
                            HartLine::oneStopBit))
        return true;
    *error = openFailureText(target.port, serialTerminal.openError());
    return false;
}

void DeviceSession::close()
{
    cancelAll();
    terminal.close();
    attempts = 0;
}

QString DeviceSession::lostText() const
{
    const bool network = &terminal.active() == &hartIpLink;
    return lostLinkText(linkSpec.text(), network ? hartIpLink.failure() : HartIpSession::Failure::None).trimmed();
}

Hart::CommandContexts DeviceSession::contexts()
{
    return { this, &identity, &dynamicVariables, &clock, &detector, &idleLog, &firmware };
}

void DeviceSession::cancelAll()
{
    Hart::cancelRequests(contexts());
    if (log)
        log->stopTransfer();
}

// The link's worker thread: the answer is parsed on the session's own thread.
void DeviceSession::onFrameReceived(void* context)
{
    QMetaObject::invokeMethod(static_cast<DeviceSession*>(context), &DeviceSession::tick, Qt::QueuedConnection);
}

void DeviceSession::end(Outcome outcome, int responseCode, const QString& text)
{
    if (outcome != Outcome::Done)
        cancelAll();
    result = { outcome, responseCode, text };
    running = false;
    if (loop)
        loop->quit();
}

DeviceSession::Result DeviceSession::run()
{
    if (!terminal.isOpen())
        return { Outcome::LinkLost, -1, lostText() };
    operationFailed = false;
    operationText.clear();
    result = {};
    running = true;
    QEventLoop events;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, &DeviceSession::tick);
    loop = &events;
    timer.start(tickMs);
    tick();
    if (running)
        events.exec();
    loop = nullptr;
    // A transfer that ends before the device named the image's end did not update it.
    if (result.ok() && image && operationText.isEmpty())
        result = { Outcome::DeviceError, -1, QStringLiteral("Обновление не выполнено") };
    else if (result.ok() && operationFailed)
        result = { Outcome::DeviceError, -1, operationText };
    else if (result.ok())
        result.text = operationText;
    if (ended)
        ended(result);
    return result;
}

void DeviceSession::tick()
{
    if (!running)
        return;
    if (terminal.portLost()) {
        const QString text = lostText();
        terminal.close();
        end(Outcome::LinkLost, -1, text);
        return;
    }
    if (terminal.state() == TerminalState::Received && terminal.receivedLength() > 0) {
        const std::uint32_t length = std::min<std::uint32_t>(terminal.receivedLength(), sizeof frameBuffer);
        std::uint8_t responseCode = 0x80;
        const std::uint32_t parsed = parseResponse(frameBuffer, length, &responseCode);
        if (answered)
            answered(parsed, responseCode);
        terminal.releaseReceived();
        if (parsed >= 1 && parsed <= 53) {
            end(Outcome::DeviceError, (responseCode & 0x80) ? -1 : responseCode,
                QString::fromUtf8(Hart::resultMessage(parsed)));
            return;
        }
        if (!running)
            return;
    }
    const TerminalState state = terminal.state();
    if (state == TerminalState::TransmitRequested || state == TerminalState::Transmitting)
        return;
    std::uint8_t request[Hart::requestBufferSize];
    std::uint32_t length = 0;
    const Hart::BuildStatus status = buildRequest(request, &length);
    if (status == Hart::BuildStatus::NoResponse) {
        end(Outcome::NoAnswer, -1, QStringLiteral("Устройство не отвечает"));
        return;
    }
    if (length == 0) {
        if (status == Hart::BuildStatus::NothingDue)
            end(Outcome::Done, 0, QString());
        return;
    }
    if (beforeSend)
        beforeSend(request, length);
    std::uint8_t* buffer = terminal.claimForTransmit();
    if (!buffer || length > sizeof frameBuffer)
        return;
    std::memcpy(buffer, request, length);
    terminal.transmit(length);
}

DeviceSession::Result DeviceSession::identify(std::uint8_t address)
{
    cancelAll();
    deviceId = 0;
    identity.startAddressScan(address, address);
    Result r = run();
    if (r.ok() && deviceId == 0)
        r = { Outcome::NoAnswer, -1, QStringLiteral("Устройство не отвечает") };
    return r;
}

DeviceSession::Result DeviceSession::findByTag(const QString& tag)
{
    cancelAll();
    deviceId = 0;
    identity.requestFindByTag(toDeviceText(tag).left(8).constData());
    Result r = run();
    if (r.ok() && deviceId == 0)
        r = { Outcome::NoAnswer, -1, QStringLiteral("Устройство не отвечает") };
    // Command 11 does not carry the polling address, which the output shows and the loop
    // operations write back: command 7 reads it.
    if (r.ok()) {
        requestFlags |= Hart::MasterRequest::ReadLoopConfiguration;
        r = run();
    }
    return r;
}

DeviceSession::Result DeviceSession::readTags()
{
    identity.requestFlags |= Hart::IdentityRequest::ReadTagDescriptorDate | Hart::IdentityRequest::ReadLongTag;
    return run();
}

DeviceSession::Result DeviceSession::readAll()
{
    using namespace Hart;
    identity.requestFlags |= IdentityRequest::ReadMessage | IdentityRequest::ReadTagDescriptorDate
        | IdentityRequest::ReadFinalAssemblyNumber | IdentityRequest::ReadLongTag;
    requestFlags = std::uint8_t((requestFlags & 0x65) | MasterRequest::ReadLoopConfiguration
                                | MasterRequest::ReadAdditionalStatus | MasterRequest::ReadLockState);
    detector.requestFlags |= DetectorRequest::ReadCurrents | DetectorRequest::ReadConfiguration;
    dynamicVariables.requestFlags |= DynamicRequest::ReadLoopCurrent;
    for (std::uint8_t i = 0; i < 3; ++i)
        dynamicVariables.requestDeviceVariable(i);
    clock.requestFlags |= ClockRequest::ReadClock;
    return run();
}

DeviceSession::Result DeviceSession::writeSettings(const std::uint8_t configuration[4], const std::uint16_t currents[5],
                                                   bool settings, bool currentsToo)
{
    if (settings)
        detector.requestWriteConfiguration(configuration[0], configuration[1], configuration[2], configuration[3]);
    if (currentsToo)
        detector.requestWriteCurrents(currents[0], currents[1], currents[2], currents[3], currents[4]);
    return run();
}

DeviceSession::Result DeviceSession::downloadLog(LogDownload& download)
{
    return runLog(download, Hart::EventLogRequest::Read);
}

DeviceSession::Result DeviceSession::eraseLog(LogDownload& download)
{
    return runLog(download, Hart::EventLogRequest::Erase);
}

DeviceSession::Result DeviceSession::runLog(LogDownload& download, std::uint8_t request)
{
    Hart::CommandEntry& row = commandTable[Hart::commandRow(252)];
    row.context = static_cast<Hart::ParserMasterEventLog*>(&download);
    log = &download;
    download.state = Hart::EventLogState::Info;
    download.lastSubcommand = 4;
    download.remaining = 0;
    download.requestFlags = request;
    const Result r = run();
    download.stopTransfer();
    log = nullptr;
    row.context = static_cast<Hart::ParserMasterEventLog*>(&idleLog);
    return r;
}

DeviceSession::Result DeviceSession::updateFirmware(QFile& file,
                                                    const std::function<void(std::uint32_t, std::uint32_t)>& progress)
{
    const qint64 bytes = file.size();
    // The device learns the size as 32 bits: a larger file cannot be sent, an empty one has
    // nothing to send.
    if (bytes <= 0 || bytes > qint64(UINT32_MAX))
        return { Outcome::Refused, -1, bytes <= 0 ? QStringLiteral("Файл прошивки пуст")
                                                  : QStringLiteral("Файл прошивки слишком велик") };
    image = &file;
    firmwareProgress = progress;
    firmware.started = 0;
    firmware.requestFlags |= Hart::FirmwareRequest::Transfer;
    const Result r = run();
    image = nullptr;
    firmwareProgress = nullptr;
    return r;
}

DeviceSession::Result DeviceSession::setClock(std::uint32_t timeOfDay, std::uint32_t date)
{
    clock.requestSetClock(timeOfDay, date);
    Result r = run();
    if (r.ok())
        r.text = QStringLiteral("Текущее время установлено");
    return r;
}

DeviceSession::Result DeviceSession::operate(Operation operation)
{
    using namespace Hart;
    enum LockCode : std::uint8_t { Unlock = 0, LockTemporary = 1, LockPermanent = 2, LockAll = 3 };
    QString done;
    switch (operation) {
    case Operation::Restart:
        requestFlags |= MasterRequest::DeviceReset;
        done = QStringLiteral("Устройство перезагружено");
        break;
    case Operation::ResetConfigurationFlag:
        requestFlags |= MasterRequest::ResetConfigurationChanged;
        done = QStringLiteral("Сброс флага первичной конфигурации выполнен");
        break;
    case Operation::FactoryReset:
        detector.serviceCode = serviceFactoryReset;
        detector.requestFlags |= DetectorRequest::ServiceOperation;
        done = QStringLiteral("Сброс настроек по умолчанию выполнен");
        break;
    case Operation::ClearStatus:
        detector.serviceCode = serviceClearStatus;
        detector.requestFlags |= DetectorRequest::ServiceOperation;
        done = QStringLiteral("Состояние сброшено");
        break;
    case Operation::Calibrate: detector.requestFlags |= DetectorRequest::StartCalibration; break;
    case Operation::CheckOptics: detector.requestFlags |= DetectorRequest::StartOpticsCheck; break;
    case Operation::Unlock: requestLock(Unlock); break;
    case Operation::LockTemporary: requestLock(LockTemporary); break;
    case Operation::LockPermanent: requestLock(LockPermanent); break;
    case Operation::LockAll: requestLock(LockAll); break;
    // Any change of mode also ends a fixed current in the device, so the fixed modes follow
    // command 6 with command 40, as the window sends them.
    case Operation::LoopNormal: requestWritePollingAddress(pollingAddress, 1); break;
    case Operation::LoopMultidrop: requestWritePollingAddress(pollingAddress, 0); break;
    case Operation::LoopFixed4:
        requestWritePollingAddress(pollingAddress, 1);
        dynamicVariables.requestFixedCurrent(4.0f);
        break;
    case Operation::LoopFixed20:
        requestWritePollingAddress(pollingAddress, 1);
        dynamicVariables.requestFixedCurrent(20.0f);
        break;
    }
    if (operation >= Operation::Unlock && operation <= Operation::LockAll)
        done = QStringLiteral("Блокировка устройства изменена");
    else if (operation >= Operation::LoopNormal)
        done = QStringLiteral("Режим токовой петли установлен");
    Result r = run();
    if (r.ok() && r.text.isEmpty())
        r.text = done;
    return r;
}

void DeviceSession::handleCalibrationStarted(void*, Hart::ParserMaster* master, std::uint8_t responseCode)
{
    if (responseCode == 0)
        sessionOf(master)->detector.requestFlags |= Hart::DetectorRequest::ReadCalibration;
}

void DeviceSession::handleCalibrationState(void*, Hart::ParserMaster* master, std::uint8_t responseCode)
{
    DeviceSession* s = sessionOf(master);
    if (responseCode != 0 || s->detector.calibrationState == 0)
        return;
    if (s->detector.calibrationState == operationRunning) {
        s->detector.requestFlags |= Hart::DetectorRequest::ReadCalibration;
        return;
    }
    s->operationFailed = s->detector.calibrationState != operationDone;
    s->operationText = s->operationFailed ? QStringLiteral("Калибровка не выполнена")
                                          : QStringLiteral("Калибровка выполнена");
}

void DeviceSession::handleOpticsCheckStarted(void*, Hart::ParserMaster* master, std::uint8_t responseCode)
{
    if (responseCode == 0)
        sessionOf(master)->detector.requestFlags |= Hart::DetectorRequest::ReadOpticsCheck;
}

void DeviceSession::handleOpticsCheckState(void*, Hart::ParserMaster* master, std::uint8_t responseCode)
{
    DeviceSession* s = sessionOf(master);
    if (responseCode != 0)
        return;
    switch (s->detector.opticsCheckState) {
    case operationRunning: s->detector.requestFlags |= Hart::DetectorRequest::ReadOpticsCheck; return;
    case operationDone: s->operationText = QStringLiteral("Оптика чиста"); break;
    case checkLowSupply: s->operationText = QStringLiteral("Низкое напряжение питания"); break;
    case checkNotCalibrated: s->operationText = QStringLiteral("Калибровка не выполнена"); break;
    default: s->operationText = QStringLiteral("Оптика загрязнена"); break;
    }
    s->operationFailed = s->detector.opticsCheckState != operationDone;
}
