// The audit trail's view of the engine: a frame of a command that changes the device begins a
// committed record before it goes out; its answer, the lack of one or the lost line ends it.

#include "mainwindow.h"
#include "profilefields.h"
#include "ui_mainwindow.h"

#include "audittrail.h"
#include "detectormodel.h"
#include "devicetext.h"

#include "hart/codecsupport.h"
#include "hart/encoding.h"
#include "hart/hartip.h"
#include "hart/mastercommands.h"
#include "hart/messages.h"
#include "hart/parsermastereventlog.h"
#include "hart/parsermasterfirmwareupdate.h"

#include <QDateTime>
#include <QMessageBox>

#include <cstring>

namespace {

constexpr uint8_t eraseSubcommand = 0x80;
// The announce of a firmware transfer carries the image size alone.
constexpr uint32_t firmwareAnnounceLength = 4;

const QString notRead = QStringLiteral("(не прочитано)");

int groupIndex(uint8_t group)
{
    for (int i = 0; i < 8; ++i)
        if (group == (1u << i))
            return i;
    return -1;
}

uint8_t groupOfCommand(uint16_t command)
{
    switch (command) {
    case 17: return ConfigGroup::message;
    case 18: return ConfigGroup::tagDescriptorDate;
    case 22: return ConfigGroup::longTag;
    case 132: return ConfigGroup::currents;
    case 134: return ConfigGroup::detector;
    default: return 0;
    }
}

}

AuditTrail* MainWindow::auditTrail()
{
    if (!audit) {
        audit = std::make_unique<AuditTrail>();
        if (!audit->notice().isEmpty())
            QMessageBox::warning(this, QStringLiteral("Журнал изменений"), audit->notice());
    }
    return audit.get();
}

void MainWindow::rememberDeviceValues(uint8_t groups)
{
    if (!profileFields)
        return;
    for (int f = 0; f < FormField::Count; ++f)
        if (FormField::groupOf(f) & groups)
            deviceValues[size_t(f)] = profileFields->displayText(f);
}

void MainWindow::prepareAuditChanges(uint8_t groups)
{
    if (!profileFields)
        return;
    for (int i = 0; i < 8; ++i)
        if (groups & (1u << i))
            pendingWrites[size_t(i)] = PendingWrite();
    for (int f = 0; f < FormField::Count; ++f) {
        const int field = f;
        const uint8_t group = FormField::groupOf(field);
        const int index = groupIndex(group);
        if (!(groups & group) || index < 0)
            continue;
        PendingWrite& pending = pendingWrites[size_t(index)];
        const QString after = profileFields->displayText(field);
        pending.after[size_t(f)] = after;
        const QString before = (readGroups & group) ? deviceValues[size_t(f)] : notRead;
        if (before != after && profileFields->isShown(field))
            pending.changes.append({ profileFields->caption(field), before, after });
    }
}

void MainWindow::auditWriteConfirmed(uint8_t group)
{
    const int index = groupIndex(group);
    if (index < 0)
        return;
    for (int f = 0; f < FormField::Count; ++f)
        if (FormField::groupOf(f) == group && !pendingWrites[size_t(index)].after[size_t(f)].isNull())
            deviceValues[size_t(f)] = pendingWrites[size_t(index)].after[size_t(f)];
}

// What a request frame does to the device, in the user's words; empty for a frame that only reads.
QString MainWindow::describeChange(uint16_t command, const uint8_t* data, uint32_t size, QList<Audit::Change>* changes)
{
    using Audit::Change;
    const auto group = groupOfCommand(command);
    if (group) {
        const int index = groupIndex(group);
        *changes = pendingWrites[size_t(index)].changes;
        pendingWrites[size_t(index)].changes.clear();
        const QString titles[] = { QString(), ui->groupBox_4->title(), ui->groupBox_4->title(), ui->groupBox_4->title(),
                                   ui->groupBox_6->title(), ui->groupBox_5->title() };
        return QStringLiteral("%1: %2").arg(ui->connectWrite->text(), titles[index]);
    }
    switch (command) {
    case 6: {
        if (size < 2)
            return ui->connectWrite->text();
        auto modeText = [this](uint8_t mode) {
            return mode ? ui->normalCurrentMode->text() : ui->multiDropMode->text();
        };
        if (data[0] != pollingAddress)
            changes->append({ profileFields->caption(FormField::Address), QString::number(pollingAddress),
                              QString::number(data[0]) });
        if (data[1] != loopCurrentMode)
            changes->append({ QStringLiteral("Режим токовой петли"), modeText(loopCurrentMode), modeText(data[1]) });
        return QStringLiteral("Запись адреса и режима токовой петли");
    }
    case 38: return ui->resetFlagChanges->text();
    case 40:
        if (size >= 4) {
            float value;
            const uint32_t bits = Hart::loadU32(data);
            std::memcpy(&value, &bits, sizeof value);
            changes->append({ QStringLiteral("Фиксированный ток, мА"), QString(), QLocale().toString(value, 'f', 3) });
        }
        return QStringLiteral("Фиксированный ток");
    case 42: return ui->restart->text();
    case 71: {
        QAction* const actions[] = { ui->unlock, ui->lockTemporary, ui->lockPermanent, ui->lockAll };
        return size >= 1 && data[0] < 4 ? actions[data[0]]->text() : QStringLiteral("Блокировка устройства");
    }
    case 89:
        // A code byte, the date (day, month, year - 1900), the time in 1/32 ms.
        if (size >= 8) {
            const QDate date(1900 + data[3], data[2], data[1]);
            const QTime time = QTime::fromMSecsSinceStartOfDay(int(Hart::loadU32(data + 4) / 32 % 86400000u));
            changes->append({ QStringLiteral("Текущее время"), QString(),
                              QLocale().toString(QDateTime(date, time), QStringLiteral("dd.MM.yyyy HH:mm:ss")) });
        }
        return QStringLiteral("Установка времени");
    case 130:
        if (size >= 1 && data[0] == Hart::serviceFactoryReset)
            return ui->resetDefault->text();
        if (size >= 1 && data[0] == Hart::serviceClearStatus)
            return ui->actionClearStatus->text();
        return QStringLiteral("Сервисная операция");
    case 136: return ui->calibration->text();
    case 138: return ui->actionCheckOptics->text();
    case 252:
        return size >= 1 && data[0] == eraseSubcommand ? QStringLiteral("Очистка журнала событий") : QString();
    case 253:
        if (size != firmwareAnnounceLength)
            return QString();
        changes->append({ QStringLiteral("Размер образа, байт"), QString(), QString::number(Hart::loadU32(data)) });
        return ui->actionFirmwareUpdate->text();
    default: return QString();
    }
}

void MainWindow::auditBeforeSend(const uint8_t* frame, uint32_t length)
{
    const uint32_t pos = uint32_t(Hart::Ip::preambleLength(frame, length));
    // Only long-address frames change a device; command 0 is the one short-frame request.
    if (length - pos < 9 || frame[pos] != 0x82)
        return;
    const uint8_t* f = frame + pos;
    uint16_t command = f[6];
    uint32_t size = std::min<uint32_t>(f[7], length - pos - 9);
    const uint8_t* data = f + 8;
    if (command == 31 && size >= 2) {
        command = Hart::loadU16(data);
        data += 2;
        size -= 2;
    }
    // A repeat of the request whose record is open, or the next chunk of its transfer.
    if (auditRecord >= 0 && command == auditCommand)
        return;
    // A different request goes out: the open record keeps "started", its outcome unknown.
    auditRecord = -1;
    QList<Audit::Change> changes;
    const QString operation = describeChange(command, data, size, &changes);
    if (operation.isEmpty())
        return;
    const QString tag = ui->tag->text();
    const Audit::Operation record{ linkName(), QStringLiteral("%1").arg(expandedDeviceType, 4, 16, QLatin1Char('0')).toUpper(),
                                   QString::number(deviceId), tag, operation, changes };
    auditRecord = auditTrail()->begin(record);
    auditCommand = command;
}

void MainWindow::auditAnswered(uint32_t result, uint8_t responseCode)
{
    if (auditRecord < 0 || result == Hart::Ignore)
        return;
    if (result >= 1 && result <= 53) {
        auditEnd(Audit::Outcome::Refused, responseCode, QString::fromUtf8(Hart::resultMessage(result)));
        return;
    }
    // A firmware record covers the whole transfer: the firmware window ends it, as only it
    // knows whether the device took the whole image.
    if (auditCommand == 253)
        return;
    auditEnd(Audit::Outcome::Done, responseCode, QString());
}

void MainWindow::auditEnd(Audit::Outcome outcome, int responseCode, const QString& text)
{
    if (auditRecord < 0)
        return;
    auditTrail()->finish(auditRecord, outcome, responseCode, text);
    auditRecord = -1;
}
