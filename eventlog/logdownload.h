#pragma once
// The event-log download into a log file: the command-252 transfer record with the file it
// fills. It decides whether the device's caption catalogue is read, stores the catalogue and the
// records, and resumes after the last record the file holds. The window and the command-line
// tool derive from it and say in their own way what happens.

#include "hart/parsermastereventlog.h"

#include <QSqlDatabase>
#include <QString>

#include <cstdint>

namespace Hart {
class ParserMaster;
}

class LogDownload : public Hart::ParserMasterEventLog {
public:
    enum class Phase { Catalogue, Records };

    // The file is worked through its own database connection of this name; master gives the
    // device id the catalogue identifiers come from.
    LogDownload(const QString& connectionName, Hart::ParserMaster* master);
    virtual ~LogDownload();
    LogDownload(const LogDownload&) = delete;
    LogDownload& operator=(const LogDownload&) = delete;

    // A new empty log file in place of any file of that name; false with the reason in *error.
    bool createFile(const QString& fileName, QString* error);
    // Opens the file; whether it is a log shows at its first statement.
    bool openFile(const QString& fileName, QString* error);
    void closeFile();
    bool isLogOpen() const { return db.isOpen(); }
    QString fileName() const { return db.databaseName(); }
    const QSqlDatabase& database() const { return db; }

    // Ends any download or erase.
    virtual void stopTransfer();
    // Whether the open file holds the log of the device with this unique id: a download in this
    // session found that device's log identity in the file.
    bool isLogOf(std::uint32_t deviceId) const;

protected:
    // The file holds another device's catalogue: true reads the device's catalogue over it,
    // false keeps the file's and downloads the records all the same.
    virtual bool replaceCatalogue() = 0;
    // A statement failed; the transfer has been stopped.
    virtual void storeFailed(const QString& error) = 0;
    // Progress: a phase of units steps begins, then done of them are through.
    virtual void phaseStarted(Phase, std::uint64_t) {}
    virtual void advanced(std::uint64_t) {}
    virtual void catalogueStored() {}
    virtual void recordStored() {}
    virtual void transferFinished() {}
    virtual void logErased() {}

    QSqlDatabase db;

private:
    bool failed(const QString& error);
    bool saveCatalogueIds();

    static LogDownload* downloadOf(Hart::ParserMasterEventLog* log) { return static_cast<LogDownload*>(log); }
    static bool onInfoReceived(Hart::ParserMasterEventLog* log, std::uint16_t captionCount, std::uint32_t infoA,
                               std::uint32_t infoB);
    static void onCaptionReceived(Hart::ParserMasterEventLog* log, std::uint16_t index, std::uint32_t id,
                                  const char* text);
    static std::uint32_t onRangeReceived(Hart::ParserMasterEventLog* log, std::uint32_t first, std::uint32_t count);
    static void onRecordReceived(Hart::ParserMasterEventLog* log, std::uint32_t index, std::uint8_t count,
                                 std::uint8_t type, std::uint32_t valueA, std::uint32_t valueB,
                                 const std::uint8_t* data, std::uint32_t length);
    static void onTransferFinished(Hart::ParserMasterEventLog* log);
    static void onEraseDone(Hart::ParserMasterEventLog* log);

    Hart::ParserMaster* master;
    std::uint32_t idHash = 0;
    // The unique id of the device idHash came from; 0 before any download.
    std::uint32_t idHashDevice = 0;
    std::uint32_t captionHash = 0;
    std::uint16_t eventCount = 0;
    std::uint64_t recordUnits = 0; // record positions the records phase reads
};
