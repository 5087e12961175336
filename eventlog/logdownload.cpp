#include "logdownload.h"

#include "devicetext.h"
#include "logstatements.h"

#include "hart/parsermaster.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

LogDownload::LogDownload(const QString& connectionName, Hart::ParserMaster* master)
    : master(master)
{
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    onInfo = onInfoReceived;
    onCaption = onCaptionReceived;
    onRange = onRangeReceived;
    onRecords = onRecordReceived;
    onFinished = onTransferFinished;
    onErased = onEraseDone;
}

LogDownload::~LogDownload()
{
    db.close();
    const QString name = db.connectionName();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}

bool LogDownload::createFile(const QString& fileName, QString* error)
{
    db.close();
    if (QFile::exists(fileName) && !QFile::remove(fileName)) {
        *error = QStringLiteral("Не удается заменить файл");
        return false;
    }
    db.setDatabaseName(fileName);
    if (!db.open()) {
        *error = db.lastError().text();
        return false;
    }
    QSqlQuery query(db);
    for (const QString* statement : {&LogSql::createInfo, &LogSql::createEvents, &LogSql::createLog, &LogSql::insertInfo}) {
        if (!query.exec(*statement)) {
            *error = query.lastError().text();
            return false;
        }
    }
    return true;
}

bool LogDownload::openFile(const QString& fileName, QString* error)
{
    if (!QFile::exists(fileName)) {
        *error = QStringLiteral("Не удается найти файл \"") + fileName + '"';
        return false;
    }
    db.close();
    db.setDatabaseName(fileName);
    if (!db.open()) {
        *error = db.lastError().text();
        return false;
    }
    return true;
}

void LogDownload::closeFile()
{
    db.close();
}

void LogDownload::stopTransfer()
{
    requestFlags = 0;
    remaining = 0;
    state = Hart::EventLogState::Info;
    lastSubcommand = 4;
}

bool LogDownload::failed(const QString& error)
{
    stopTransfer();
    storeFailed(error);
    return false;
}

bool LogDownload::saveCatalogueIds()
{
    QSqlQuery query(db);
    query.prepare(LogSql::updateInfo);
    query.bindValue(QStringLiteral(":idHash"), idHash);
    query.bindValue(QStringLiteral(":captionHash"), captionHash);
    return query.exec() || failed(query.lastError().text());
}

bool LogDownload::onInfoReceived(Hart::ParserMasterEventLog* log, std::uint16_t captionCount, std::uint32_t infoA,
                                 std::uint32_t infoB)
{
    LogDownload* d = downloadOf(log);
    d->eventCount = captionCount;
    d->idHash = infoA;
    d->idHashDevice = d->master ? d->master->deviceId : 0;
    d->captionHash = infoB;
    QSqlQuery query(d->db);
    if (!query.exec(LogSql::selectInfo))
        return d->failed(query.lastError().text());
    const bool known = query.next() && !query.value(0).isNull() && !query.value(1).isNull();
    if (known) {
        // Compared as unsigned 32-bit numbers, whatever type the file holds them in.
        const bool sameId = std::uint32_t(query.value(0).toLongLong()) == d->idHash;
        const bool sameCaptions = std::uint32_t(query.value(1).toLongLong()) == d->captionHash;
        query.finish();
        if (sameId && sameCaptions)
            return false; // the file's catalogue is current
        if (sameId)
            return true;  // the same device with new texts: read them without asking
        // Keeping the file's catalogue still downloads the records.
        if (!d->replaceCatalogue())
            return false;
    }
    query.finish();
    if (d->eventCount == 0 && !d->saveCatalogueIds())
        return false;
    d->phaseStarted(Phase::Catalogue, d->eventCount);
    return true;
}

void LogDownload::onCaptionReceived(Hart::ParserMasterEventLog* log, std::uint16_t index, std::uint32_t id,
                                    const char* text)
{
    LogDownload* d = downloadOf(log);
    QSqlQuery query(d->db);
    query.prepare(LogSql::insertEvent);
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":type"), 0);
    query.bindValue(QStringLiteral(":caption"), fromDeviceText(text));
    if (!query.exec()) {
        d->failed(query.lastError().text());
        return;
    }
    // The identifiers go in only with the last entry: a catalogue cut short is read again.
    if (index == d->eventCount - 1) {
        if (!d->saveCatalogueIds())
            return;
        d->catalogueStored();
    }
    d->advanced(std::uint64_t(index) + 1);
}

std::uint32_t LogDownload::onRangeReceived(Hart::ParserMasterEventLog* log, std::uint32_t first, std::uint32_t count)
{
    LogDownload* d = downloadOf(log);
    QSqlQuery query(d->db);
    if (!query.exec(LogSql::selectLastRecord)) {
        d->failed(query.lastError().text());
        return first + count;
    }
    const std::uint32_t next = query.next() ? std::uint32_t(query.value(0).toLongLong() + query.value(1).toLongLong())
                                            : first;
    // The positions still to read, as the decoder will count them from the resume point.
    const std::uint64_t end = std::uint64_t(first) + count;
    const std::uint64_t from = std::max(next, first);
    d->recordUnits = end > from ? end - from : 0;
    d->phaseStarted(Phase::Records, d->recordUnits);
    return next;
}

void LogDownload::onRecordReceived(Hart::ParserMasterEventLog* log, std::uint32_t index, std::uint8_t count,
                                   std::uint8_t type, std::uint32_t valueA, std::uint32_t valueB,
                                   const std::uint8_t* data, std::uint32_t length)
{
    LogDownload* d = downloadOf(log);
    QSqlQuery query(d->db);
    query.prepare(LogSql::insertRecord);
    query.bindValue(QStringLiteral(":i"), index);
    query.bindValue(QStringLiteral(":count"), int(count));
    query.bindValue(QStringLiteral(":dt"), valueA);
    query.bindValue(QStringLiteral(":type"), int(type));
    query.bindValue(QStringLiteral(":event"), valueB);
    query.bindValue(QStringLiteral(":data"), QByteArray(reinterpret_cast<const char*>(data), int(length)));
    if (!query.exec()) {
        d->failed(query.lastError().text());
        return;
    }
    query.finish();
    d->recordStored();
    // remaining still counts the positions of this record.
    d->advanced(d->recordUnits - std::min<std::uint64_t>(d->recordUnits, d->remaining) + count);
}

void LogDownload::onTransferFinished(Hart::ParserMasterEventLog* log)
{
    downloadOf(log)->transferFinished();
}

void LogDownload::onEraseDone(Hart::ParserMasterEventLog* log)
{
    downloadOf(log)->logErased();
}

bool LogDownload::isLogOf(std::uint32_t deviceId) const
{
    if (!db.isOpen() || deviceId == 0 || idHashDevice != deviceId)
        return false;
    QSqlQuery query(db);
    return query.exec(LogSql::selectInfo) && query.next() && !query.value(0).isNull()
        && std::uint32_t(query.value(0).toLongLong()) == idHash;
}
