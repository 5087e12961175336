#include "auditrecorder.h"

#include "hart/detectorconfig.h"
#include "hart/encoding.h"
#include "hart/hartip.h"
#include "hart/messages.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t eraseSubcommand = 0x80;
// The announce of a firmware transfer carries the image size alone.
constexpr std::uint32_t firmwareAnnounceLength = 4;

bool isConfigurationWrite(std::uint16_t command)
{
    return command == 17 || command == 18 || command == 22 || command == 132 || command == 134;
}

}

// The texts are those of the window's menu actions, which the user knows the operations by.
QString AuditRecorder::describe(std::uint16_t command, const std::uint8_t* data, std::uint32_t size, const Device& d,
                                QList<Audit::Change>* changes) const
{
    using Audit::Change;
    if (isConfigurationWrite(command))
        return describeWrite ? describeWrite(command, changes) : QStringLiteral("Записать конфигурацию");
    switch (command) {
    case 6: {
        if (size < 2)
            return QStringLiteral("Записать конфигурацию");
        auto modeText = [](std::uint8_t mode) {
            return mode ? QStringLiteral("Режим сигнализации") : QStringLiteral("Многоточечный режим");
        };
        if (data[0] != d.pollingAddress)
            changes->append({ d.addressCaption, QString::number(d.pollingAddress), QString::number(data[0]) });
        if (data[1] != d.loopCurrentMode)
            changes->append({ QStringLiteral("Режим токовой петли"), modeText(d.loopCurrentMode), modeText(data[1]) });
        return QStringLiteral("Запись адреса и режима токовой петли");
    }
    case 38: return QStringLiteral("Сброс флага первичной конфигурации");
    case 40:
        if (size >= 4) {
            float value;
            const std::uint32_t bits = Hart::loadU32(data);
            std::memcpy(&value, &bits, sizeof value);
            changes->append({ QStringLiteral("Фиксированный ток, мА"), QString(), QLocale().toString(value, 'f', 3) });
        }
        return QStringLiteral("Фиксированный ток");
    case 42: return QStringLiteral("Перезагрузка устройства");
    case 71: {
        static const char* const actions[] = { "Разблокировать устройство", "Заблокировать временно",
                                               "Заблокировать перманентно", "Заблокировать для всех" };
        return size >= 1 && data[0] < 4 ? QString::fromUtf8(actions[data[0]]) : QStringLiteral("Блокировка устройства");
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
            return QStringLiteral("Сброс настроек по умолчанию");
        if (size >= 1 && data[0] == Hart::serviceClearStatus)
            return QStringLiteral("Сброс состояния");
        return QStringLiteral("Сервисная операция");
    case 136: return QStringLiteral("Калибровка оптики");
    case 138: return QStringLiteral("Проверка оптики");
    case 252:
        return size >= 1 && data[0] == eraseSubcommand ? QStringLiteral("Очистка журнала событий") : QString();
    case 253:
        if (size != firmwareAnnounceLength)
            return QString();
        changes->append({ QStringLiteral("Размер образа, байт"), QString(), QString::number(Hart::loadU32(data)) });
        return QStringLiteral("Обновление ПО извещателя");
    default: return QString();
    }
}

void AuditRecorder::beforeSend(const std::uint8_t* frame, std::uint32_t length)
{
    const std::uint32_t pos = std::uint32_t(Hart::Ip::preambleLength(frame, length));
    // Only long-address frames change a device; command 0 is the one short-frame request.
    if (length - pos < 9 || frame[pos] != 0x82)
        return;
    const std::uint8_t* f = frame + pos;
    std::uint16_t requested = f[6];
    std::uint32_t size = std::min<std::uint32_t>(f[7], length - pos - 9);
    const std::uint8_t* data = f + 8;
    if (requested == 31 && size >= 2) {
        requested = Hart::loadU16(data);
        data += 2;
        size -= 2;
    }
    // A repeat of the request whose record is open, or the next chunk of its transfer.
    if (record >= 0 && requested == command)
        return;
    // A different request goes out: the open record keeps "started", its outcome unknown.
    record = -1;
    const Device d = device ? device() : Device();
    QList<Audit::Change> changes;
    const QString operation = describe(requested, data, size, d, &changes);
    if (operation.isEmpty())
        return;
    AuditTrail* t = trail ? trail() : nullptr;
    if (!t)
        return;
    const Audit::Operation entry{ d.link, QStringLiteral("%1").arg(d.deviceType, 4, 16, QLatin1Char('0')).toUpper(),
                                  QString::number(d.deviceId), d.tag, operation, changes };
    record = t->begin(entry);
    command = requested;
}

void AuditRecorder::answered(std::uint32_t result, std::uint8_t responseCode)
{
    if (record < 0 || result == Hart::Ignore)
        return;
    if (result >= 1 && result <= 53) {
        end(Audit::Outcome::Refused, responseCode, QString::fromUtf8(Hart::resultMessage(result)));
        return;
    }
    // A firmware record covers the whole transfer: its owner ends it, as only it knows
    // whether the device took the whole image.
    if (command == 253)
        return;
    end(Audit::Outcome::Done, responseCode, QString());
}

void AuditRecorder::end(Audit::Outcome outcome, int responseCode, const QString& text)
{
    if (record < 0)
        return;
    if (AuditTrail* t = trail ? trail() : nullptr)
        t->finish(record, outcome, responseCode, text);
    record = -1;
}
