#pragma once

#include "hart/parsermastereventlog.h"

#include <QMainWindow>
#include <QSqlDatabase>

#include <cstdint>
#include <functional>

class LogViewModel;
class QProgressBar;
class QSqlQuery;

namespace Hart {
class ParserMaster;
struct IdentityRecord;
}

namespace Ui {
class DialogEventLog;
}

// What the window needs of the main window: whether the port is open, the device identity the
// master holds, and the identity record through which command 0 is raised.
struct EventLogOwner {
    std::function<bool()> isPortOpen;
    Hart::ParserMaster* master = nullptr;
    Hart::IdentityRecord* identity = nullptr;
};

// The event-log window: creates and opens log files, downloads the device's log into the open
// file through the command-252 transfer it derives from, erases the device's log, and shows
// the file's records.
class DialogEventLog : public QMainWindow, public Hart::ParserMasterEventLog {
    Q_OBJECT

public:
    DialogEventLog(const EventLogOwner& owner, QWidget* parent = nullptr);
    ~DialogEventLog() override;

    // Ends any download or erase.
    void stopTransfer();

    // The work of the Create and Open actions once a name is chosen.
    void createLog(const QString& fileName);
    void openLog(const QString& fileName);
    bool isLogOpen() const { return db.isOpen(); }
    // Writes the view's records to a CSV file; false, after telling the user, when it failed.
    bool exportCsv(const QString& fileName);
    // Whether the open file holds the log of the device with this unique id: a download in this
    // session found that device's log identity in the file.
    bool isLogOf(std::uint32_t deviceId) const;
    // The file's last count records as the view shows them (class, time, message), oldest first.
    QList<QStringList> lastRecords(int count) const;
    // Runs the view statement again and sets the table up; false when the statement failed.
    bool refreshView();

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void on_actionCreate_triggered();
    void on_actionOpen_triggered();
    void on_actionRead_triggered(bool checked);
    void on_actionErase_triggered();
    void chooseCsvFile();

private:
    // One bar over the catalogue and the records: each phase fills the bar from where the last
    // one left it, so the bar never runs backwards when the record count turns up.
    void beginProgressPhase(std::uint64_t units, int barEnd);
    void updateProgress(std::uint64_t done = 0);
    void resetTransfer();
    // The window's title names the open file.
    void showOpenFile();
    void showStatus(const QString& what);
    // The checks both the download and the erase start with; false, after telling the user.
    bool readyToTransfer();
    void reportSqlError(const QSqlQuery& query);
    bool saveCatalogueIds();

    static DialogEventLog* windowOf(Hart::ParserMasterEventLog* log) { return static_cast<DialogEventLog*>(log); }
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

    Ui::DialogEventLog* ui = nullptr;
    EventLogOwner owner;
    QSqlDatabase db;
    LogViewModel* model = nullptr;
    std::uint32_t idHash = 0;
    // The unique id of the device idHash came from; 0 before any download.
    std::uint32_t idHashDevice = 0;
    std::uint32_t captionHash = 0;
    std::uint16_t eventCount = 0;
    QProgressBar* progressBar = nullptr;
    std::uint32_t progressMaximum = 0; // the bar's fixed scale
    int phaseStart = 0;               // where on the bar the current phase began
    int phaseEnd = 0;                 // and where it ends
    std::uint64_t phaseUnits = 0;     // catalogue entries or record positions in the phase
};
