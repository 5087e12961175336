// The commands that work one detector: scan, identify, read, write, log, erase-log, firmware,
// set-clock and the service operations.

#include "tool.h"

#include "detectormodel.h"
#include "detectorsettings.h"
#include "devicetext.h"
#include "logdownload.h"
#include "profile.h"
#include "sessionaudit.h"
#include "programfile.h"

#include <QDate>
#include <QFile>
#include <QJsonArray>
#include <QLocale>
#include <QTime>

#include <cmath>

namespace {

QString text(const char* chars, int size)
{
    return fromDeviceText(chars, int(qstrnlen(chars, uint(size)))).trimmed();
}

QString dateText(const std::uint8_t date[3])
{
    const QDate d(1900 + date[2], date[1], date[0]);
    return d.isValid() ? d.toString(QStringLiteral("dd.MM.yyyy")) : QString();
}

QString hexByte(std::uint8_t value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

// The tool's own download: no questions on a terminal, the options decide.
class ToolLogDownload : public LogDownload {
public:
    ToolLogDownload(DeviceSession& session, Output& out, bool replace)
        : LogDownload(QStringLiteral("ipp93kt-log"), &session), out(out), replace(replace)
    {
    }
    QString storeError;
    bool catalogueRefused = false;

protected:
    bool replaceCatalogue() override
    {
        catalogueRefused = !replace;
        if (!replace)
            stopTransfer();
        return replace;
    }
    void storeFailed(const QString& error) override { storeError = error; }
    void phaseStarted(Phase phase, std::uint64_t units) override
    {
        unit = phase == Phase::Catalogue ? QStringLiteral("записей каталога") : QStringLiteral("записей журнала");
        total = units;
        out.progress(0, total, unit);
    }
    void advanced(std::uint64_t done) override { out.progress(done, total, unit); }

private:
    Output& out;
    bool replace;
    QString unit;
    std::uint64_t total = 0;
};

QJsonObject identityJson(const DeviceSession& s)
{
    return {
        { QStringLiteral("address"), s.pollingAddress },
        { QStringLiteral("deviceType"), deviceTypeText(s.expandedDeviceType) },
        { QStringLiteral("deviceId"), qint64(s.deviceId) },
        { QStringLiteral("model"), QString::fromUtf8(DetectorModel::name(s.expandedDeviceType)) },
        { QStringLiteral("softwareRevision"), s.identity.softwareRevision },
        { QStringLiteral("deviceRevision"), s.identity.deviceRevision },
        { QStringLiteral("protocolRevision"), s.identity.universalRevision },
        { QStringLiteral("hardwareRevision"), s.identity.hardwareRevision >> 3 },
    };
}

// Labelled as the window's identity group labels them.
QList<QPair<QString, QString>> identityRows(const DeviceSession& s)
{
    return {
        { QStringLiteral("Адрес"), QString::number(s.pollingAddress) },
        { QStringLiteral("Модель извещателя"),
          QStringLiteral("%1 (%2)").arg(QString::fromUtf8(DetectorModel::name(s.expandedDeviceType)),
                                        deviceTypeText(s.expandedDeviceType)) },
        { QStringLiteral("Серийный номер"), QString::number(s.deviceId) },
        { QStringLiteral("Версия протокола"), QString::number(s.identity.universalRevision) },
        { QStringLiteral("Версия прибора"), QString::number(s.identity.deviceRevision) },
        { QStringLiteral("Версия модели"), QString::number(s.identity.hardwareRevision >> 3) },
        { QStringLiteral("Версия ПО"), QString::number(s.identity.softwareRevision) },
    };
}

} // namespace

QString tagText(const DeviceSession& session)
{
    return text(session.identity.tag, 8);
}

QString longTagText(const DeviceSession& session)
{
    return text(session.identity.longTag, 32);
}

// The whole of what read shows, as JSON; the fleet stores the same.
QJsonObject readJson(const DeviceSession& s)
{
    QJsonObject o = identityJson(s);
    o.insert(QStringLiteral("tag"), tagText(s));
    o.insert(QStringLiteral("longTag"), longTagText(s));
    o.insert(QStringLiteral("descriptor"), text(s.identity.descriptor, 16));
    o.insert(QStringLiteral("message"), text(s.identity.message, 32));
    o.insert(QStringLiteral("date"), dateText(s.identity.date));
    o.insert(QStringLiteral("finalAssemblyNumber"), qint64(s.identity.finalAssemblyNumber));
    QJsonArray additional;
    for (std::uint8_t b : s.additionalStatus)
        additional.append(b);
    const auto number = [](float v) { return std::isfinite(v) ? QJsonValue(double(v)) : QJsonValue(); };
    o.insert(QStringLiteral("status"),
             QJsonObject{ { QStringLiteral("deviceStatus"), s.deviceStatus },
                          { QStringLiteral("additionalStatus"), additional },
                          { QStringLiteral("loopCurrentMode"), s.loopCurrentMode },
                          { QStringLiteral("lockState"), s.lockState },
                          { QStringLiteral("loopCurrent"), number(s.loopCurrentValue.value) },
                          { QStringLiteral("variables"),
                            QJsonArray{ number(s.deviceVariables[0].value), number(s.deviceVariables[1].value),
                                        number(s.deviceVariables[2].value) } } });
    const Profile::Values values = DetectorSettings::fromDevice(s.expandedDeviceType, s.detector);
    QJsonObject settings;
    for (int f = 0; f < Profile::FieldCount; ++f)
        settings.insert(Profile::entryName(Profile::Field(f)), values.fields[f].toInt());
    o.insert(QStringLiteral("settings"), settings);
    return o;
}

namespace {

int read(DeviceSession& s, const Options& options, Output& out)
{
    const DeviceSession::Result r = s.readAll();
    if (!r.ok())
        return reportResult(r);
    if (!options.profile.isEmpty()) {
        ConfigDocument document(options.profile);
        ProgramFile::fill(document, programName().toUtf8(), programVersion());
        Profile::write(document, DetectorSettings::fromDevice(s.expandedDeviceType, s.detector));
        if (!document.save()) {
            Output::error(QStringLiteral("Не удается сохранить файл"));
            return Exit::usage;
        }
    }
    if (out.json()) {
        out.object(readJson(s));
        return Exit::done;
    }
    auto rows = identityRows(s);
    rows << qMakePair(QStringLiteral("Тег"), tagText(s)) << qMakePair(QStringLiteral("Длинный тег"), longTagText(s))
         << qMakePair(QStringLiteral("Дескриптор"), text(s.identity.descriptor, 16))
         << qMakePair(QStringLiteral("Сообщение"), text(s.identity.message, 32))
         << qMakePair(QStringLiteral("Дата"), dateText(s.identity.date))
         << qMakePair(QStringLiteral("Состояние"), hexByte(s.deviceStatus))
         << qMakePair(QStringLiteral("Ток петли, мА"),
                      std::isfinite(s.loopCurrentValue.value) ? QLocale().toString(double(s.loopCurrentValue.value), 'f', 2)
                                                              : QString());
    const Profile::Values values = DetectorSettings::fromDevice(s.expandedDeviceType, s.detector);
    for (int f = 0; f < Profile::FieldCount; ++f)
        rows << qMakePair(DetectorSettings::caption(f),
                          DetectorSettings::displayText(s.expandedDeviceType, Profile::Field(f), values.fields[f]));
    out.table(rows);
    return Exit::done;
}

int write(DeviceSession& s, SessionAudit& audit, const Options& options, const QString& file, Output& out)
{
    ConfigDocument document(file);
    if (const int status = loadProgramFile(document))
        return status;
    DeviceSession::Result r = s.readAll();
    if (!r.ok())
        return reportResult(r);
    const std::uint16_t model = s.expandedDeviceType;
    const Profile::ReadOutcome loaded = Profile::read(document, DetectorSettings::limits(model));
    if (loaded.result == Profile::ReadResult::NoParameters) {
        Output::error(QStringLiteral("В файле нет параметров извещателя"));
        return Exit::usage;
    }
    if (loaded.modelRead && loaded.values.model != model) {
        Output::error(QStringLiteral("Параметры в файле сохранены для другой модели извещателя: %1.\n"
                                     "Модель извещателя: %2.\nПараметры не записаны.")
                          .arg(Profile::modelCaption(loaded.values.model), Profile::modelCaption(model)));
        return Exit::usage;
    }
    if (loaded.result == Profile::ReadResult::BadValue) {
        Output::error(QStringLiteral("Неверное значение параметра \"%1\" в файле.\nПараметры не записаны.")
                          .arg(loaded.badEntry));
        return Exit::usage;
    }
    const Profile::Values current = DetectorSettings::fromDevice(model, s.detector);
    const QList<Profile::Field> changed = Profile::differences(current, loaded.values);
    if (changed.isEmpty()) {
        out.line(QStringLiteral("Параметры извещателя совпадают с файлом"));
        return Exit::done;
    }
    std::uint8_t groups = 0;
    QList<QPair<QString, QString>> rows;
    QList<Audit::Change> detectorChanges;
    QList<Audit::Change> currentChanges;
    for (Profile::Field f : changed) {
        groups |= Profile::groupOf(f);
        const Audit::Change change{ DetectorSettings::caption(f), DetectorSettings::displayText(model, f, current.fields[f]),
                                    DetectorSettings::displayText(model, f, loaded.values.fields[f]) };
        rows << qMakePair(change.field, change.before + QStringLiteral(" → ") + change.after);
        if (DetectorSettings::isShown(model, f))
            (Profile::groupOf(f) == ConfigGroup::currents ? currentChanges : detectorChanges).append(change);
    }
    out.table(rows);
    if (!options.yes) {
        Output::error(QStringLiteral("Параметры не записаны: для записи добавьте --yes"));
        return Exit::done;
    }
    const DetectorSettings::Encoded encoded = DetectorSettings::toDevice(model, loaded.values, s.detector);
    audit.setWriteChanges(134, detectorChanges);
    audit.setWriteChanges(132, currentChanges);
    r = s.writeSettings(encoded.configuration, encoded.currents, groups & ConfigGroup::detector,
                        groups & ConfigGroup::currents);
    if (!r.ok())
        return reportResult(r);
    // Read back: the device's own values are what counts as written.
    r = s.readAll();
    if (!r.ok())
        return reportResult(r);
    const QList<Profile::Field> left = Profile::differences(DetectorSettings::fromDevice(model, s.detector), loaded.values);
    if (!left.isEmpty()) {
        QStringList names;
        for (Profile::Field f : left)
            names << DetectorSettings::caption(f);
        Output::error(QStringLiteral("Устройство не приняло параметры: ") + names.join(QStringLiteral(", ")));
        return Exit::device;
    }
    out.line(QStringLiteral("Конфигурация записана в устройство"));
    return Exit::done;
}

int downloadLog(DeviceSession& s, const Options& options, const QString& file, Output& out)
{
    ToolLogDownload log(s, out, options.yes);
    QString error;
    const bool opened = QFile::exists(file) ? log.openFile(file, &error) : log.createFile(file, &error);
    if (!opened) {
        Output::error(error);
        return Exit::usage;
    }
    const DeviceSession::Result r = s.downloadLog(log);
    out.endProgress();
    if (!log.storeError.isEmpty()) {
        Output::error(log.storeError);
        return Exit::usage;
    }
    if (log.catalogueRefused) {
        Output::error(QStringLiteral("Конфигурация журнала устройства отличается от открытого журнала.\n"
                                     "Журнал не загружен: чтобы обновить конфигурацию, добавьте --yes"));
        return Exit::usage;
    }
    if (!r.ok())
        return reportResult(r);
    out.line(QStringLiteral("Журнал событий загружен"));
    return Exit::done;
}

int firmware(DeviceSession& s, const QString& fileName, Output& out)
{
    QFile file(fileName);
    // Unbuffered, so every chunk is read from the file as it is now.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        Output::error(QStringLiteral("Не удается открыть файл"));
        return Exit::usage;
    }
    const DeviceSession::Result r = s.updateFirmware(
        file, [&out](std::uint32_t offset, std::uint32_t size) { out.progress(offset, size, QStringLiteral("байт")); });
    out.endProgress();
    if (!r.ok())
        return reportResult(r);
    out.line(r.text);
    return Exit::done;
}

int setClock(DeviceSession& s, Output& out)
{
    const uint32_t timeOfDay = uint32_t(QTime::currentTime().msecsSinceStartOfDay()) * 32u;
    const QDate today = QDate::currentDate();
    const uint32_t date = uint32_t(today.day()) | uint32_t(today.month()) << 8
        | uint32_t(uint8_t(today.year() - 1900)) << 16;
    const DeviceSession::Result r = s.setClock(timeOfDay, date);
    if (!r.ok())
        return reportResult(r);
    out.line(r.text);
    return Exit::done;
}

struct OperationName {
    const char* name;
    DeviceSession::Operation operation;
};
using Op = DeviceSession::Operation;
const OperationName operations[] = {
    { "restart", Op::Restart },
    { "reset-config-flag", Op::ResetConfigurationFlag },
    { "factory-reset", Op::FactoryReset },
    { "clear-status", Op::ClearStatus },
    { "calibrate", Op::Calibrate },
    { "check-optics", Op::CheckOptics },
    { "unlock", Op::Unlock },
    { "lock-temporary", Op::LockTemporary },
    { "lock-permanent", Op::LockPermanent },
    { "lock-all", Op::LockAll },
    { "loop-normal", Op::LoopNormal },
    { "loop-multidrop", Op::LoopMultidrop },
    { "loop-fixed-4", Op::LoopFixed4 },
    { "loop-fixed-20", Op::LoopFixed20 },
};

int scan(const Options& options, Output& out)
{
    DeviceSession s;
    QString error;
    if (!s.open(options.links.first(), &error)) {
        Output::error(error.trimmed());
        return Exit::link;
    }
    QJsonArray found;
    QList<QPair<QString, QString>> rows;
    for (int a = options.firstAddress; a <= options.lastAddress; ++a) {
        out.progress(std::uint64_t(a - options.firstAddress), std::uint64_t(options.lastAddress - options.firstAddress + 1),
                     QStringLiteral("адресов"));
        DeviceSession::Result r = s.identify(std::uint8_t(a));
        if (r.outcome == DeviceSession::Outcome::NoAnswer)
            continue;
        if (r.ok())
            r = s.readTags();
        if (!r.ok())
            return reportResult(r);
        QJsonObject device = identityJson(s);
        device.insert(QStringLiteral("tag"), tagText(s));
        device.insert(QStringLiteral("longTag"), longTagText(s));
        found.append(device);
        rows << qMakePair(QString::number(a), QStringLiteral("%1  %2  %3  %4")
                                                  .arg(deviceTypeText(s.expandedDeviceType))
                                                  .arg(s.deviceId, 13)
                                                  .arg(tagText(s), -8)
                                                  .arg(longTagText(s)));
    }
    out.endProgress();
    if (out.json())
        out.object({ { QStringLiteral("devices"), found } });
    else if (rows.isEmpty())
        out.line(QStringLiteral("Устройства не найдены"));
    else
        out.table(QList<QPair<QString, QString>>{ { QStringLiteral("Адрес"), QStringLiteral("Тип   Идентификатор  Тег       Длинный тег") } }
                  + rows);
    return Exit::done;
}

} // namespace

int runDeviceCommand(const QString& command, const Options& options, Output& out)
{
    if (command == QLatin1String("scan"))
        return scan(options, out);
    const QStringList& args = options.arguments;
    const bool needsFile = command == QLatin1String("write") || command == QLatin1String("log")
        || command == QLatin1String("firmware");
    if (needsFile && args.size() != 2) {
        Output::error(QStringLiteral("Команде %1 нужен файл").arg(command));
        return Exit::usage;
    }
    const OperationName* operation = nullptr;
    for (const OperationName& o : operations)
        if (command == QLatin1String(o.name))
            operation = &o;
    const bool guarded = operation || command == QLatin1String("erase-log") || command == QLatin1String("firmware");
    if (guarded && !options.yes) {
        Output::error(QStringLiteral("Команда %1 меняет устройство: подтвердите её ключом --yes").arg(command));
        return Exit::usage;
    }
    DeviceSession s;
    if (const int status = reachDevice(s, options.links.first(), options))
        return status;
    // Whatever this command sends that changes the device goes into the audit trail, which
    // names the detector by its tag too.
    SessionAudit audit(s);
    if (guarded || command == QLatin1String("set-clock")) {
        const DeviceSession::Result tags = s.readTags();
        if (!tags.ok())
            return reportResult(tags);
    }
    if (command == QLatin1String("identify")) {
        if (out.json())
            out.object(identityJson(s));
        else
            out.table(identityRows(s));
        return Exit::done;
    }
    if (command == QLatin1String("read"))
        return read(s, options, out);
    if (command == QLatin1String("write"))
        return write(s, audit, options, args.at(1), out);
    if (command == QLatin1String("log") || command == QLatin1String("erase-log")) {
        if (command == QLatin1String("erase-log")) {
            ToolLogDownload log(s, out, false);
            const DeviceSession::Result r = s.eraseLog(log);
            if (!r.ok())
                return reportResult(r);
            out.line(QStringLiteral("Журнал событий в устройстве очищен"));
            return Exit::done;
        }
        return downloadLog(s, options, args.at(1), out);
    }
    if (command == QLatin1String("firmware"))
        return firmware(s, args.at(1), out);
    if (command == QLatin1String("set-clock"))
        return setClock(s, out);
    const DeviceSession::Result r = s.operate(operation->operation);
    if (!r.ok())
        return reportResult(r);
    out.line(r.text);
    return Exit::done;
}

bool isDeviceCommand(const QString& command)
{
    static const QStringList plain = { "scan", "identify", "read", "write", "log", "erase-log", "firmware", "set-clock" };
    if (plain.contains(command))
        return true;
    for (const OperationName& o : operations)
        if (command == QLatin1String(o.name))
            return true;
    return false;
}
