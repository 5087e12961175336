#include "audittrail.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#include <atomic>

namespace Audit {

QString outcomeKey(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Started: return QStringLiteral("started");
    case Outcome::Done: return QStringLiteral("done");
    case Outcome::Refused: return QStringLiteral("refused");
    case Outcome::NoAnswer: return QStringLiteral("no-answer");
    case Outcome::LineLost: return QStringLiteral("line-lost");
    }
    return QString();
}

QString outcomeText(const QString& key)
{
    if (key == QLatin1String("started"))
        return QStringLiteral("Начато, результат неизвестен");
    if (key == QLatin1String("done"))
        return QStringLiteral("Выполнено");
    if (key == QLatin1String("refused"))
        return QStringLiteral("Отклонено устройством");
    if (key == QLatin1String("no-answer"))
        return QStringLiteral("Нет ответа");
    if (key == QLatin1String("line-lost"))
        return QStringLiteral("Связь потеряна");
    return key;
}

QString systemUser()
{
    for (const char* variable : { "USER", "USERNAME", "LOGNAME" }) {
        const QString name = qEnvironmentVariable(variable);
        if (!name.isEmpty())
            return name;
    }
    // Without the variables (a service, a bare environment) the home folder bears the name.
    return QDir::home().dirName();
}

} // namespace Audit

namespace {

const char* const schema[] = {
    "CREATE TABLE operations (id INTEGER PRIMARY KEY AUTOINCREMENT, started_at TEXT NOT NULL, "
    "user TEXT NOT NULL, link TEXT NOT NULL, device_type TEXT NOT NULL, device_id TEXT NOT NULL, "
    "tag TEXT NOT NULL, operation TEXT NOT NULL, outcome TEXT NOT NULL, response_code INTEGER, "
    "outcome_text TEXT, finished_at TEXT)",
    "CREATE TABLE changes (record_id INTEGER NOT NULL REFERENCES operations(id), position INTEGER NOT NULL, "
    "field TEXT NOT NULL, before TEXT NOT NULL, after TEXT NOT NULL, PRIMARY KEY (record_id, position))",
    "CREATE INDEX operations_by_device ON operations (device_id, started_at)",
};

QString isoTime(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

} // namespace

AuditTrail::AuditTrail(const QString& path) : filePath(path)
{
    static std::atomic<int> counter{ 0 };
    connection = QStringLiteral("audit-trail-%1").arg(++counter);
    open = openFile();
    if (!open && openNotice.isEmpty())
        openNotice = QStringLiteral("Журнал изменений не ведётся: не удалось открыть файл %1.")
                         .arg(QDir::toNativeSeparators(filePath));
}

AuditTrail::~AuditTrail()
{
    closeConnection();
}

QString AuditTrail::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/audit.db");
}

void AuditTrail::closeConnection()
{
    if (QSqlDatabase::contains(connection)) {
        QSqlDatabase::database(connection, false).close();
        QSqlDatabase::removeDatabase(connection);
    }
}

bool AuditTrail::openFile()
{
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    bool existed = QFileInfo(filePath).size() > 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(filePath);
        if (!db.open())
            return false;
    }
    if (existed && !checkExisting()) {
        closeConnection();
        if (!setAside(openNotice))
            return false;
        existed = false;
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(filePath);
        if (!db.open())
            return false;
    }
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    QSqlQuery query(db);
    // A rollback journal with every commit on the disk: a kill at any moment leaves the file
    // as it was before or after the last commit.
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=DELETE")) || !query.exec(QStringLiteral("PRAGMA synchronous=FULL"))
        || !query.exec(QStringLiteral("PRAGMA foreign_keys=ON")))
        return false;
    return existed || createSchema();
}

// Sets openNotice to the reason when the file is not ours or not sound.
bool AuditTrail::checkExisting()
{
    QSqlQuery query(QSqlDatabase::database(connection, false));
    auto pragma = [&query](const char* statement) {
        return query.exec(QLatin1String(statement)) && query.next() ? query.value(0) : QVariant();
    };
    const QVariant id = pragma("PRAGMA application_id");
    if (!id.isValid()) {
        openNotice = QStringLiteral("повреждён");
        return false;
    }
    if (id.toInt() != applicationId || pragma("PRAGMA user_version").toInt() != schemaVersion) {
        openNotice = QStringLiteral("не является журналом изменений этой программы");
        return false;
    }
    if (pragma("PRAGMA quick_check").toString() != QLatin1String("ok")) {
        openNotice = QStringLiteral("повреждён");
        return false;
    }
    return true;
}

bool AuditTrail::setAside(const QString& reason)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = filePath + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = filePath + QStringLiteral(".damaged-") + stamp + '-' + QString::number(n);
    if (!QFile::rename(filePath, aside)) {
        openNotice = QStringLiteral("Файл журнала изменений %1 %2 и не может быть переименован. "
                                    "Журнал изменений не ведётся.")
                         .arg(QDir::toNativeSeparators(filePath), reason);
        return false;
    }
    // A hot journal belongs to the file it was written for.
    for (const char* suffix : { "-journal", "-wal", "-shm" })
        if (QFileInfo::exists(filePath + QLatin1String(suffix)))
            QFile::rename(filePath + QLatin1String(suffix), aside + QLatin1String(suffix));
    openNotice = QStringLiteral("Файл журнала изменений %1 %2. Он сохранён как %3, начат новый журнал.")
                     .arg(QDir::toNativeSeparators(filePath), reason, QDir::toNativeSeparators(aside));
    return true;
}

bool AuditTrail::createSchema()
{
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    if (!db.transaction())
        return false;
    QSqlQuery query(db);
    for (const char* statement : schema)
        if (!query.exec(QLatin1String(statement)))
            return db.rollback(), false;
    if (!query.exec(QStringLiteral("PRAGMA application_id=%1").arg(applicationId))
        || !query.exec(QStringLiteral("PRAGMA user_version=%1").arg(schemaVersion)))
        return db.rollback(), false;
    return db.commit();
}

qint64 AuditTrail::begin(const Audit::Operation& op, const QDateTime& now)
{
    if (!open)
        return -1;
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    if (!db.transaction())
        return -1;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO operations (started_at, user, link, device_type, device_id, tag, "
                                 "operation, outcome) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QString& value : { isoTime(now), Audit::systemUser(), op.link, op.deviceType, op.deviceId, op.tag,
                                  op.operation, Audit::outcomeKey(Audit::Outcome::Started) })
        query.addBindValue(value.isNull() ? QStringLiteral("") : value);
    if (!query.exec())
        return db.rollback(), -1;
    const qint64 id = query.lastInsertId().toLongLong();
    query.prepare(QStringLiteral("INSERT INTO changes (record_id, position, field, before, after) VALUES (?, ?, ?, ?, ?)"));
    for (int i = 0; i < op.changes.size(); ++i) {
        const Audit::Change& c = op.changes[i];
        query.addBindValue(id);
        query.addBindValue(i);
        // A value the operation has no "before" for is empty, not NULL.
        for (const QString& text : { c.field, c.before, c.after })
            query.addBindValue(text.isNull() ? QStringLiteral("") : text);
        if (!query.exec())
            return db.rollback(), -1;
    }
    return db.commit() ? id : -1;
}

bool AuditTrail::finish(qint64 id, Audit::Outcome outcome, int responseCode, const QString& text, const QDateTime& now)
{
    if (!open || id < 0)
        return false;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(QStringLiteral("UPDATE operations SET outcome = ?, response_code = ?, outcome_text = ?, "
                                 "finished_at = ? WHERE id = ? AND outcome = 'started'"));
    query.addBindValue(Audit::outcomeKey(outcome));
    query.addBindValue(responseCode >= 0 ? QVariant(responseCode) : QVariant(QVariant::Int));
    query.addBindValue(text);
    query.addBindValue(isoTime(now));
    query.addBindValue(id);
    return query.exec() && query.numRowsAffected() == 1;
}

QList<Audit::Record> AuditTrail::records(const Audit::Filter& filter) const
{
    QList<Audit::Record> out;
    if (!open)
        return out;
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    QString sql = QStringLiteral("SELECT id, started_at, user, link, device_type, device_id, tag, operation, outcome, "
                                 "response_code, outcome_text FROM operations WHERE 1");
    QVariantList values;
    if (!filter.deviceId.isEmpty()) {
        sql += QStringLiteral(" AND device_id = ?");
        values << filter.deviceId;
    }
    // The days are the user's; the times are stored in UTC, in one fixed text form that sorts.
    if (filter.first.isValid()) {
        sql += QStringLiteral(" AND started_at >= ?");
        values << isoTime(filter.first.startOfDay());
    }
    if (filter.last.isValid()) {
        sql += QStringLiteral(" AND started_at < ?");
        values << isoTime(filter.last.addDays(1).startOfDay());
    }
    sql += QStringLiteral(" ORDER BY id DESC");
    QSqlQuery query(db);
    query.prepare(sql);
    for (const QVariant& v : values)
        query.addBindValue(v);
    if (!query.exec())
        return out;
    QSqlQuery changes(db);
    changes.prepare(QStringLiteral("SELECT field, before, after FROM changes WHERE record_id = ? ORDER BY position"));
    while (query.next()) {
        Audit::Record r;
        r.id = query.value(0).toLongLong();
        r.started = QDateTime::fromString(query.value(1).toString(), Qt::ISODateWithMs);
        r.user = query.value(2).toString();
        r.link = query.value(3).toString();
        r.deviceType = query.value(4).toString();
        r.deviceId = query.value(5).toString();
        r.tag = query.value(6).toString();
        r.operation = query.value(7).toString();
        r.outcome = query.value(8).toString();
        r.responseCode = query.value(9);
        r.outcomeText = query.value(10).toString();
        changes.addBindValue(r.id);
        if (changes.exec())
            while (changes.next())
                r.changes.append({ changes.value(0).toString(), changes.value(1).toString(), changes.value(2).toString() });
        out.append(r);
    }
    return out;
}

QList<QPair<QString, QString>> AuditTrail::devices() const
{
    QList<QPair<QString, QString>> out;
    if (!open)
        return out;
    QSqlQuery query(QStringLiteral("SELECT device_id, tag FROM operations WHERE id IN "
                                   "(SELECT MAX(id) FROM operations GROUP BY device_id) ORDER BY id DESC"),
                    QSqlDatabase::database(connection, false));
    while (query.next())
        out.append({ query.value(0).toString(), query.value(1).toString() });
    return out;
}
