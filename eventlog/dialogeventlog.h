#pragma once

#include "logdownload.h"

#include <QMainWindow>

#include <cstdint>
#include <functional>

class LogViewModel;
class QProgressBar;

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
// file through the download it derives from, erases the device's log, and shows the file's
// records.
class DialogEventLog : public QMainWindow, public LogDownload {
    Q_OBJECT

public:
    DialogEventLog(const EventLogOwner& owner, QWidget* parent = nullptr);
    ~DialogEventLog() override;

    // Ends any download or erase, and unchecks the download action.
    void stopTransfer() override;

    // The work of the Create and Open actions once a name is chosen.
    void createLog(const QString& fileName);
    void openLog(const QString& fileName);
    // Writes the view's records to a CSV file; false, after telling the user, when it failed.
    bool exportCsv(const QString& fileName);
    // The file's last count records as the view shows them (class, time, message), oldest first.
    QList<QStringList> lastRecords(int count) const;
    // Runs the view statement again and sets the table up; false when the statement failed.
    bool refreshView();

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool replaceCatalogue() override;
    void storeFailed(const QString& error) override;
    void phaseStarted(Phase phase, std::uint64_t units) override;
    void advanced(std::uint64_t done) override { updateProgress(done); }
    void catalogueStored() override { refreshView(); }
    void recordStored() override { refreshView(); }
    void transferFinished() override;
    void logErased() override;

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
    Ui::DialogEventLog* ui = nullptr;
    EventLogOwner owner;
    LogViewModel* model = nullptr;
    QProgressBar* progressBar = nullptr;
    std::uint32_t progressMaximum = 0; // the bar's fixed scale
    int phaseStart = 0;               // where on the bar the current phase began
    int phaseEnd = 0;                 // and where it ends
    std::uint64_t phaseUnits = 0;     // catalogue entries or record positions in the phase
};
