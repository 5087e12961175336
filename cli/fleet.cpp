// The fleet pass: every detector on every link read into one SQLite file, links in parallel and
// the detectors of one link one after another; and the comparison of that file with a profile.

#include "tool.h"

#include "detectormodel.h"
#include "detectorsettings.h"
#include "logdownload.h"
#include "logstatements.h"
#include "profile.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <mutex>
#include <vector>

QJsonObject readJson(const DeviceSession& s);

namespace {

// The plant file's own tables. The log tables hold the window's log columns keyed by the
// device; `fleet log` writes one detector's log back out as a file the window opens.
const char* const schema[] = {
    "CREATE TABLE IF NOT EXISTS Detectors (deviceType INTEGER NOT NULL, deviceId INTEGER NOT NULL, link TEXT, "
    "address INTEGER, tag TEXT, longTag TEXT, model TEXT, readAt TEXT, state TEXT, "
    "PRIMARY KEY(deviceType, deviceId))",
    "CREATE TABLE IF NOT EXISTS Settings (deviceType INTEGER NOT NULL, deviceId INTEGER NOT NULL, "
    "field TEXT NOT NULL, value INTEGER, PRIMARY KEY(deviceType, deviceId, field))",
    "CREATE TABLE IF NOT EXISTS LogInfo (deviceType INTEGER NOT NULL, deviceId INTEGER NOT NULL, "
    "idHash INTEGER, captionHash INTEGER, PRIMARY KEY(deviceType, deviceId))",
    "CREATE TABLE IF NOT EXISTS LogEvents (deviceType INTEGER NOT NULL, deviceId INTEGER NOT NULL, "
    "id INTEGER NOT NULL, type CHAR NOT NULL, caption TINYINT(255), PRIMARY KEY(deviceType, deviceId, id, type))",
    "CREATE TABLE IF NOT EXISTS LogRecords (deviceType INTEGER NOT NULL, deviceId INTEGER NOT NULL, "
    "i INTEGER NOT NULL, count TINYINT NOT NULL, dt DATETIME NOT NULL, type TINYINT NOT NULL, "
    "event INTEGER NOT NULL, data TINYINT(255), PRIMARY KEY(deviceType, deviceId, i))",
    // The addresses of this pass already worked, link by link, so --resume goes on from there.
    "CREATE TABLE IF NOT EXISTS Pass (link TEXT NOT NULL, address INTEGER NOT NULL, outcome TEXT, "
    "PRIMARY KEY(link, address))",
};

QMutex outputLock;
// What each link's thread found, handed to the main thread. A standard mutex: its ordering is
// what ThreadSanitizer sees, where Qt's own wait is hidden in an uninstrumented library.
std::mutex outcomeLock;

struct LinkOutcome {
    int status = Exit::done;
    int devices = 0;
    qint64 records = 0;
};

QSqlDatabase openPlant(const QString& fileName, const QString& connection, QString* error)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(fileName);
    // Links write their detectors as they finish them: a writer waits for another rather than fail.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=60000"));
    if (!db.open())
        *error = db.lastError().text();
    return db;
}

bool exec(QSqlQuery& query, QString* error)
{
    if (query.exec())
        return true;
    *error = query.lastError().text();
    return false;
}

bool exec(QSqlDatabase& db, const QString& statement, QString* error)
{
    QSqlQuery query(db);
    if (query.exec(statement))
        return true;
    *error = query.lastError().text();
    return false;
}

// Attaches the plant file, as "plant", to the connection of a log file of the window's format.
bool attachPlant(QSqlDatabase& db, const QString& plantFile, QString* error)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("ATTACH DATABASE ? AS plant"));
    query.addBindValue(plantFile);
    return exec(query, error);
}

// The fleet's download: into a log file of the window's format beside the plant file, merged
// into the plant file when whole.
class FleetLogDownload : public LogDownload {
public:
    FleetLogDownload(const QString& connection, DeviceSession& session)
        : LogDownload(connection, &session)
    {
    }
    QString storeError;

protected:
    // A detector's log identity changed since the last pass (its log was replaced): its new
    // catalogue is read, as the window does on "Да".
    bool replaceCatalogue() override { return true; }
    void storeFailed(const QString& error) override { storeError = error; }
};

class LinkPass {
public:
    LinkPass(const LinkSpec& link, const Options& options, int index)
        : link(link), options(options), index(index)
    {
    }
    LinkOutcome run();

private:
    void say(const QString& text)
    {
        QMutexLocker lock(&outputLock);
        Output::error(link.text() + QStringLiteral(": ") + text);
    }
    bool addressDone(int address);
    void markAddress(int address, const QString& outcome);
    bool storeDevice(DeviceSession& s);
    bool downloadLog(DeviceSession& s, qint64* records);

    LinkSpec link;
    const Options& options;
    int index;
    QSqlDatabase plant;
    QString error;
};

bool LinkPass::addressDone(int address)
{
    QSqlQuery query(plant);
    query.prepare(QStringLiteral("SELECT outcome FROM Pass WHERE link = ? AND address = ?"));
    query.addBindValue(link.text());
    query.addBindValue(address);
    return query.exec() && query.next();
}

void LinkPass::markAddress(int address, const QString& outcome)
{
    QSqlQuery query(plant);
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO Pass (link, address, outcome) VALUES (?, ?, ?)"));
    query.addBindValue(link.text());
    query.addBindValue(address);
    query.addBindValue(outcome);
    exec(query, &error);
}

bool LinkPass::storeDevice(DeviceSession& s)
{
    if (!plant.transaction()) {
        error = plant.lastError().text();
        return false;
    }
    QSqlQuery query(plant);
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO Detectors (deviceType, deviceId, link, address, tag, longTag, "
                                 "model, readAt, state) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    query.addBindValue(s.expandedDeviceType);
    query.addBindValue(qint64(s.deviceId));
    query.addBindValue(link.text());
    query.addBindValue(s.pollingAddress);
    query.addBindValue(tagText(s));
    query.addBindValue(longTagText(s));
    query.addBindValue(QString::fromUtf8(DetectorModel::name(s.expandedDeviceType)));
    query.addBindValue(QDateTime::currentDateTime().toString(Qt::ISODate));
    query.addBindValue(QString::fromUtf8(QJsonDocument(readJson(s)).toJson(QJsonDocument::Compact)));
    bool ok = exec(query, &error);
    const Profile::Values values = DetectorSettings::fromDevice(s.expandedDeviceType, s.detector);
    QSqlQuery setting(plant);
    setting.prepare(QStringLiteral("INSERT OR REPLACE INTO Settings (deviceType, deviceId, field, value) "
                                   "VALUES (?, ?, ?, ?)"));
    for (int f = 0; ok && f < Profile::FieldCount; ++f) {
        setting.addBindValue(s.expandedDeviceType);
        setting.addBindValue(qint64(s.deviceId));
        setting.addBindValue(Profile::entryName(Profile::Field(f)));
        setting.addBindValue(values.fields[f].toInt());
        ok = exec(setting, &error);
    }
    if (ok && plant.commit())
        return true;
    if (ok)
        error = plant.lastError().text();
    plant.rollback();
    return false;
}

bool LinkPass::downloadLog(DeviceSession& s, qint64* records)
{
    const QString key = QStringLiteral("%1-%2").arg(deviceTypeText(s.expandedDeviceType)).arg(s.deviceId);
    const QString fileName = options.out + QStringLiteral(".") + key + QStringLiteral(".log.db");
    const QString connection = QStringLiteral("fleet-log-%1").arg(index);
    qint64 before = 0;
    {
        FleetLogDownload log(connection, s);
        // A download cut short goes on in its file; otherwise the file starts from what the
        // plant file holds of this detector, so only records not yet stored are read.
        const bool resuming = QFile::exists(fileName);
        if (!(resuming ? log.openFile(fileName, &error) : log.createFile(fileName, &error)))
            return false;
        QSqlDatabase db = log.database();
        // The plant file is shared with the other links' threads: wait for them, never fail.
        if (!exec(db, QStringLiteral("PRAGMA busy_timeout = 60000"), &error)
            || !attachPlant(db, options.out, &error))
            return false;
        const QString where = QStringLiteral(" WHERE deviceType = %1 AND deviceId = %2").arg(s.expandedDeviceType).arg(s.deviceId);
        if (!resuming) {
            const bool seeded = exec(db, QStringLiteral("UPDATE Info SET (idHash, captionHash) = (SELECT idHash, captionHash "
                                                        "FROM plant.LogInfo") + where + QStringLiteral(") WHERE EXISTS "
                                                        "(SELECT 1 FROM plant.LogInfo") + where + ')', &error)
                && exec(db, QStringLiteral("INSERT INTO Events (id, type, caption) SELECT id, type, caption FROM "
                                           "plant.LogEvents") + where, &error)
                && exec(db, QStringLiteral("INSERT INTO Log (i, count, dt, type, event, data) SELECT i, count, dt, type, "
                                           "event, data FROM plant.LogRecords") + where
                                + QStringLiteral(" ORDER BY i DESC LIMIT 1"), &error);
            if (!seeded)
                return false;
        }
        QSqlQuery count(db);
        if (count.exec(QStringLiteral("SELECT COUNT(*) FROM plant.LogRecords") + where) && count.next())
            before = count.value(0).toLongLong();
        count.finish();
        // The attachment would hold the plant file while the download writes.
        exec(db, QStringLiteral("DETACH DATABASE plant"), &error);
        const DeviceSession::Result r = s.downloadLog(log);
        if (!log.storeError.isEmpty()) {
            error = log.storeError;
            return false;
        }
        if (!r.ok()) {
            error = r.text;
            return false;
        }
        // The whole log goes into the plant file in one transaction; a record already there
        // (the seed, or a merge cut before its file was removed) is not stored twice.
        const QString key2 = QStringLiteral("%1, %2").arg(s.expandedDeviceType).arg(s.deviceId);
        const bool merged = attachPlant(db, options.out, &error)
            && exec(db, QStringLiteral("BEGIN IMMEDIATE"), &error)
            && exec(db, QStringLiteral("INSERT OR REPLACE INTO plant.LogInfo SELECT %1, idHash, captionHash FROM Info").arg(key2), &error)
            && exec(db, QStringLiteral("INSERT OR REPLACE INTO plant.LogEvents SELECT %1, id, type, caption FROM Events").arg(key2), &error)
            && exec(db, QStringLiteral("INSERT OR IGNORE INTO plant.LogRecords SELECT %1, i, count, dt, type, event, data "
                                       "FROM Log").arg(key2), &error)
            && exec(db, QStringLiteral("COMMIT"), &error);
        if (!merged) {
            exec(db, QStringLiteral("ROLLBACK"), &error);
            return false;
        }
        QSqlQuery after(db);
        if (after.exec(QStringLiteral("SELECT COUNT(*) FROM plant.LogRecords") + where) && after.next())
            *records = after.value(0).toLongLong() - before;
        after.finish();
        exec(db, QStringLiteral("DETACH DATABASE plant"), &error);
        log.closeFile();
    }
    QFile::remove(fileName);
    return true;
}

LinkOutcome LinkPass::run()
{
    LinkOutcome outcome;
    plant = openPlant(options.out, QStringLiteral("fleet-%1").arg(index), &error);
    DeviceSession s;
    if (!plant.isOpen() || !s.open(link, &error)) {
        say(error.trimmed());
        outcome.status = Exit::link;
        return outcome;
    }
    for (int a = options.firstAddress; a <= options.lastAddress; ++a) {
        if (addressDone(a))
            continue;
        DeviceSession::Result r = s.identify(std::uint8_t(a));
        if (r.outcome == DeviceSession::Outcome::NoAnswer) {
            markAddress(a, QStringLiteral("absent"));
            continue;
        }
        if (r.ok() && !DetectorModel::isServed(s.expandedDeviceType)) {
            say(QStringLiteral("адрес %1: неизвестное устройство %2").arg(a).arg(deviceTypeText(s.expandedDeviceType)));
            markAddress(a, QStringLiteral("unknown"));
            continue;
        }
        if (r.ok())
            r = s.readAll();
        if (!r.ok()) {
            say(QStringLiteral("адрес %1: %2").arg(a).arg(r.text));
            outcome.status = r.outcome == DeviceSession::Outcome::DeviceError ? Exit::device : Exit::link;
            if (outcome.status == Exit::link)
                break;
            continue;
        }
        qint64 records = 0;
        if (!storeDevice(s) || !downloadLog(s, &records)) {
            say(QStringLiteral("адрес %1: %2").arg(a).arg(error));
            outcome.status = s.isOpen() ? Exit::device : Exit::link;
            if (outcome.status == Exit::link)
                break;
            continue;
        }
        markAddress(a, QStringLiteral("done"));
        ++outcome.devices;
        outcome.records += records;
        QMutexLocker lock(&outputLock);
        Output(false).line(QStringLiteral("%1\t%2\t%3\t%4\t%5\tзаписей журнала: %6")
                               .arg(link.text()).arg(a).arg(deviceTypeText(s.expandedDeviceType))
                               .arg(s.deviceId).arg(tagText(s)).arg(records));
    }
    s.close();
    const QString name = plant.connectionName();
    plant.close();
    plant = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
    return outcome;
}

} // namespace

int runFleet(const Options& options, Output& out)
{
    if (options.out.isEmpty() || options.links.isEmpty() || options.arguments.size() != 1) {
        Output::error(QStringLiteral("Обход: укажите --out ФАЙЛ.db и хотя бы одну линию (--port, --hartip)"));
        return Exit::usage;
    }
    {
        QString error;
        QSqlDatabase db = openPlant(options.out, QStringLiteral("fleet"), &error);
        bool ok = db.isOpen();
        for (const char* statement : schema)
            ok = ok && exec(db, QString::fromLatin1(statement), &error);
        // A new pass visits every address again; --resume goes on with the one cut short.
        if (ok && !options.resume)
            ok = exec(db, QStringLiteral("DELETE FROM Pass"), &error);
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("fleet"));
        if (!ok) {
            Output::error(QStringLiteral("Не удается открыть файл \"%1\": %2").arg(options.out, error));
            return Exit::usage;
        }
    }
    std::vector<LinkOutcome> outcomes(size_t(options.links.size()));
    QList<QThread*> threads;
    for (int i = 0; i < options.links.size(); ++i) {
        QThread* thread = QThread::create([&options, &outcomes, i] {
            LinkPass pass(options.links.at(i), options, i);
            const LinkOutcome outcome = pass.run();
            const std::lock_guard<std::mutex> lock(outcomeLock);
            outcomes[size_t(i)] = outcome;
        });
        threads.append(thread);
        thread->start();
    }
    for (QThread* thread : threads) {
        thread->wait();
        delete thread;
    }
    int status = Exit::done;
    int devices = 0;
    qint64 records = 0;
    const std::lock_guard<std::mutex> lock(outcomeLock);
    for (const LinkOutcome& o : outcomes) {
        status = std::max(status, o.status);
        devices += o.devices;
        records += o.records;
    }
    out.line(QStringLiteral("Обход завершён: извещателей %1, новых записей журнала %2").arg(devices).arg(records));
    return status;
}

int runFleetLog(const Options& options, Output& out)
{
    // The detector as the fleet's output names it: its id, or its type and id ("FF04-123456")
    // where detectors of two models share an id.
    const QRegularExpressionMatch key
        = QRegularExpression(QStringLiteral("^(?:([0-9A-Fa-f]{4})-)?(\\d{1,8})$")).match(options.arguments.value(3));
    bool ok = key.hasMatch();
    if (options.arguments.size() != 5 || !ok) {
        Output::error(QStringLiteral("Журнал из файла обхода: ipp93kt fleet log ФАЙЛ.db [ТИП-]ИДЕНТИФИКАТОР ЖУРНАЛ.db"));
        return Exit::usage;
    }
    const QString plantFile = options.arguments.at(2);
    if (!QFile::exists(plantFile)) {
        Output::error(QStringLiteral("Не удается найти файл \"") + plantFile + '"');
        return Exit::usage;
    }
    QString where = QStringLiteral(" WHERE deviceId = %1").arg(key.captured(2).toLongLong());
    if (!key.captured(1).isEmpty())
        where += QStringLiteral(" AND deviceType = %1").arg(key.captured(1).toUInt(nullptr, 16));
    QString error;
    bool known = false;
    {
        QSqlDatabase plant = openPlant(plantFile, QStringLiteral("fleet-find"), &error);
        QSqlQuery query(plant);
        known = query.exec(QStringLiteral("SELECT COUNT(*) FROM Detectors") + where) && query.next()
            && query.value(0).toInt() == 1;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fleet-find"));
    if (!known) {
        Output::error(QStringLiteral("В файле обхода нет извещателя %1 (или их несколько: укажите тип)")
                          .arg(options.arguments.at(3)));
        return Exit::usage;
    }
    DeviceSession idle;
    qint64 records = 0;
    {
        FleetLogDownload log(QStringLiteral("fleet-export"), idle);
        if (!log.createFile(options.arguments.at(4), &error)) {
            Output::error(error);
            return Exit::usage;
        }
        QSqlDatabase db = log.database();
        ok = attachPlant(db, plantFile, &error)
            && exec(db, QStringLiteral("UPDATE Info SET (idHash, captionHash) = (SELECT idHash, captionHash FROM "
                                       "plant.LogInfo") + where + QStringLiteral(" LIMIT 1)"), &error)
            && exec(db, QStringLiteral("INSERT INTO Events (id, type, caption) SELECT id, type, caption FROM plant.LogEvents")
                            + where, &error)
            && exec(db, QStringLiteral("INSERT INTO Log (i, count, dt, type, event, data) SELECT i, count, dt, type, event, "
                                       "data FROM plant.LogRecords") + where + QStringLiteral(" ORDER BY i"), &error);
        QSqlQuery count(db);
        if (ok && count.exec(QStringLiteral("SELECT COUNT(*) FROM Log")) && count.next())
            records = count.value(0).toLongLong();
        count.finish();
        exec(db, QStringLiteral("DETACH DATABASE plant"), &error);
    }
    if (!ok) {
        Output::error(error);
        return Exit::usage;
    }
    out.line(QStringLiteral("Записей журнала: %1").arg(records));
    return Exit::done;
}

int runFleetDiff(const Options& options, Output& out)
{
    if (options.arguments.size() != 4) {
        Output::error(QStringLiteral("Сравнение: ipp93kt fleet diff ФАЙЛ.db ПРОФИЛЬ"));
        return Exit::usage;
    }
    const QString plantFile = options.arguments.at(2);
    ConfigDocument document(options.arguments.at(3));
    if (const int status = loadProgramFile(document))
        return status;
    // The model comes first: the limits a value is checked against are that model's.
    Profile::Limits any;
    any.fill({ INT_MIN, INT_MAX, 1 });
    const Profile::ReadOutcome first = Profile::read(document, any);
    const Profile::ReadOutcome profile = first.modelRead ? Profile::read(document, DetectorSettings::limits(first.values.model))
                                                         : first;
    if (profile.result != Profile::ReadResult::Loaded) {
        Output::error(profile.result == Profile::ReadResult::NoParameters
                          ? QStringLiteral("В файле нет параметров извещателя")
                          : QStringLiteral("Неверное значение параметра \"%1\" в файле.").arg(profile.badEntry));
        return Exit::usage;
    }
    if (!QFile::exists(plantFile)) {
        Output::error(QStringLiteral("Не удается найти файл \"") + plantFile + '"');
        return Exit::usage;
    }
    QString error;
    QSqlDatabase db = openPlant(plantFile, QStringLiteral("fleet-diff"), &error);
    QJsonArray detectors;
    QList<QPair<QString, QString>> rows;
    {
        QSqlQuery query(db);
        if (!db.isOpen() || !query.exec(QStringLiteral("SELECT deviceType, deviceId, tag, link, address FROM Detectors "
                                                       "ORDER BY link, address"))) {
            Output::error(QStringLiteral("Не удается прочитать файл \"%1\": %2")
                              .arg(plantFile, db.isOpen() ? query.lastError().text() : error));
            return Exit::usage;
        }
        while (query.next()) {
            const std::uint16_t model = std::uint16_t(query.value(0).toUInt());
            const qint64 id = query.value(1).toLongLong();
            const QString name = QStringLiteral("%1 %2 %3").arg(deviceTypeText(model)).arg(id).arg(query.value(2).toString());
            QJsonObject device{ { QStringLiteral("deviceType"), deviceTypeText(model) },
                                { QStringLiteral("deviceId"), id },
                                { QStringLiteral("tag"), query.value(2).toString() } };
            if (model != profile.values.model) {
                device.insert(QStringLiteral("otherModel"), true);
                rows << qMakePair(name, QStringLiteral("другая модель извещателя"));
                detectors.append(device);
                continue;
            }
            Profile::Values values;
            values.model = model;
            QSqlQuery settings(db);
            settings.prepare(QStringLiteral("SELECT field, value FROM Settings WHERE deviceType = ? AND deviceId = ?"));
            settings.addBindValue(model);
            settings.addBindValue(id);
            settings.exec();
            while (settings.next())
                for (int f = 0; f < Profile::FieldCount; ++f)
                    if (Profile::entryName(Profile::Field(f)) == settings.value(0).toString())
                        values.fields[f] = settings.value(1).toInt();
            QJsonObject differences;
            for (Profile::Field f : Profile::differences(values, profile.values)) {
                const QString device_ = DetectorSettings::displayText(model, f, values.fields[f]);
                const QString wanted = DetectorSettings::displayText(model, f, profile.values.fields[f]);
                differences.insert(Profile::entryName(f), QJsonObject{ { QStringLiteral("device"), values.fields[f].toInt() },
                                                                       { QStringLiteral("profile"), profile.values.fields[f].toInt() } });
                rows << qMakePair(name, QStringLiteral("%1: %2 → %3").arg(DetectorSettings::caption(f), device_, wanted));
            }
            if (differences.isEmpty())
                rows << qMakePair(name, QStringLiteral("совпадает с профилем"));
            device.insert(QStringLiteral("differences"), differences);
            detectors.append(device);
        }
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("fleet-diff"));
    if (out.json())
        out.object({ { QStringLiteral("detectors"), detectors } });
    else
        out.table(rows);
    return Exit::done;
}
