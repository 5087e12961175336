#pragma once

#include "comhalfduplexterminal.h"
#include "hartiplink.h"
#include "detectormodel.h"
#include "dialogeventlog.h"
#include "dialogfind.h"
#include "dialogfirmwareupdate.h"

#include "hart/clockrecord.h"
#include "hart/commandtable.h"
#include "hart/detectorconfig.h"
#include "hart/dynamicvariablesrecord.h"
#include "hart/identityrecord.h"
#include "hart/parsermaster.h"
#include "hart/parsermastereventlog.h"
#include "hart/parsermasterfirmwareupdate.h"

#include "auditrecorder.h"
#include "audittrail.h"
#include "profilefields.h"

#include <QDate>
#include <QMainWindow>
#include <QPalette>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>

class AuditWindow;
class ConfigDocument;
struct ReportContent;
class DialogTraffic;
class ProfileFields;
class QAction;
class TrendWindow;
class QLabel;
class QMenu;
class QLineEdit;
class QSettings;
class QSpinBox;
class QTimer;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow, public Hart::ParserMaster {
    Q_OBJECT
    // The engine's tests drive the timers by hand and raise requests on the records.
    friend class SimulatedWindow;
    friend class TestEngine;
    friend class TestStatus;
    friend class TestConfiguration;
    friend class TestLayout;
    friend class TestAudit;
    friend class TestDetectorSettings;

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Ports offered in the port dialog after the ones the system lists.
    void setExtraPorts(const QStringList& ports) { extraPorts = ports; }
    // A HART-IP server given on the command line: preselected in the port dialog.
    void setHartIpServer(const HartIpAddress& address);

    bool isPortOpen() const { return terminal.isOpen(); }
    // Whether an answer is parsed the moment it is complete (the default) or at the next parse
    // tick only, as the link benchmark compares. Takes effect while disconnected.
    void setParseOnArrival(bool on);
    const QString& storedPortName() const { return portName; }
    int version() const { return versionNumber; }
    uint32_t sentPackets() const { return sentCount; }
    uint32_t receivedPackets() const { return receivedCount; }
    TerminalState terminalState() const { return terminal.state(); }
    DialogEventLog& eventLog() { return eventLogWindow; }
    // The audit trail, opened at first use; the user is told once when its file was set aside.
    AuditTrail* auditTrail();
    // Parameter groups edited or loaded since the device last confirmed them (ConfigGroup bits).
    uint8_t modifiedParameterGroups() const { return modifiedGroups; }

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void on_connectButton_triggered();
    void on_aboutAction_triggered();
    void on_connectRead_triggered(bool checked);
    void on_find_triggered(bool checked);
    void on_traffic_triggered(bool checked);
    void on_actionReadLog_triggered(bool checked);
    void on_actionFirmwareUpdate_triggered();
    void on_fileOpen_triggered();
    void on_fileSave_triggered();
    void parseTimerUpdate();
    void requestTimerUpdate();

private:
    // Connected by hand: the tool-bar box does not exist when the form connects slots by name.
    void on_deviceAddressSpinBox_valueChanged(int value);
    void on_dialogEventLogClosed();

    void readVersionStrings();
    void readSettings();
    void buildAddressBox();
    void buildStatusBar();
    void buildCommandTable();
    Hart::CommandContexts commandContexts();
    void updateConnectButton();
    void trafficWindowFinished();
    void closePort();
    void handlePortLost();
    // The HART-IP side of the connection (connection.cpp).
    void loadHartIpChoice();
    void rememberHartIpChoice(bool chosen);
    void openHartIp(const HartIpAddress& address);
    void showLinkInUse();
    // The serial port's name or the HART-IP server's address, as the boxes name the link.
    QString linkName() const;
    // The box of a link lost, or of a HART-IP session that could not be had.
    QString lostLinkText() const;
    // Both the configuration and the firmware open dialogs start in the last directory used.
    void rememberOpenDir(const QString& directory);
    // Loads a file of this program and tells the user why it is refused; true when accepted.
    bool loadProgramFile(ConfigDocument& document);
    void saveProgramFile(ConfigDocument& document);
    void rememberSaveDir(const QString& directory);

    void stopPolling();
    void cancelAllRequests();
    void reportResult(uint32_t result, uint8_t responseCode);
    // Worker thread: a frame is ready; the parse runs on the GUI thread through a queued call.
    static void onFrameReceived(void* context);
    void parseReceivedFrame();
    void transmitFrame(const uint8_t* frame, uint32_t length);

    // Result handlers of the command table get the master, which is this window.
    static MainWindow* windowOf(Hart::ParserMaster* master) { return static_cast<MainWindow*>(master); }
    static void handleIdentification(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleLoopConfiguration(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    void showIdentity();
    void raiseOneTimeReads();

    // Configuration: fields, edits, read and write (configuration.cpp).
private slots:
    void on_address_valueChanged(int value);
    void on_date_userDateChanged(const QDate& date);
    void on_fixTime_currentIndexChanged(int index);
    void on_sensitivitySlider_valueChanged(int value);
    void on_sensitivity_valueChanged(double value);
    void on_sensitivityLen_valueChanged(int distance);
    void on_analysisTimeSlider_valueChanged(int value);
    void on_analysisTime_valueChanged(int value);
    void on_analysisType_currentIndexChanged(int index);
    void on_connectWrite_triggered();

private:
    // Connected by hand in setupConfiguration: several widgets share one slot, and the text
    // edits are connected only once their validators are in place.
    void on_tag_textChanged(const QString& text);
    void on_longTag_textChanged(const QString& text);
    void on_descriptor_textChanged(const QString& text);
    void on_message_textChanged(const QString& text);
    void on_deviceConfiguration_toggled(bool checked);
    void on_statusCurrents_valueChanged(double value);

    void setupConfiguration();
    // Parameter profiles (profileactions.cpp).
    void setupProfiles();
    void chooseProfileToSave();
    void chooseProfileToLoad();
    void markModified(uint8_t groups);
    void confirmGroups(uint8_t groups);
    void writeConfirmed(uint8_t group);
    void applyModelLayout();
    void updateNoiseIndicator();
    void coupleSensitivity(double value);
    void writeDetectorSettings();
    uint8_t configurationByte1() const;

    static void handleReadMessage(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleReadTagDescriptorDate(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleReadLongTag(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleReadCurrents(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleReadDetectorSettings(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    // The confirmation of the write of one parameter group.
    template <uint8_t group>
    static void handleWritten(void*, Hart::ParserMaster* master, uint8_t responseCode)
    {
        if (responseCode == 0)
            windowOf(master)->writeConfirmed(group);
    }

    // The audit trail (audithooks.cpp): the record of the request in flight, the values each
    // field had when last read from the device, and the changes of each group's write.
    void auditBeforeSend(const uint8_t* frame, uint32_t length);
    void auditAnswered(uint32_t result, uint8_t responseCode);
    void auditEnd(Audit::Outcome outcome, int responseCode, const QString& text);
    QString describeWrite(uint16_t command, QList<Audit::Change>* changes);
    void setupAuditRecorder();
    void rememberDeviceValues(uint8_t groups);
    void prepareAuditChanges(uint8_t groups);
    void auditWriteConfirmed(uint8_t group);
    struct PendingWrite {
        QList<Audit::Change> changes;
        std::array<QString, FormField::Count> after;
    };
    std::unique_ptr<AuditTrail> audit;
    // The audit trail's window and the report (reportactions.cpp).
    void buildAuditActions(QMenu* viewMenu);
    ReportContent reportContent();
    void chooseReportFile();
    AuditWindow* auditWindow = nullptr; // a child of the window
    QAction* reportAction = nullptr;
    // The outcome of the optics check run on this connection, as the user was told it.
    QString opticsCheckResult;
    AuditRecorder auditRecorder;
    std::array<QString, FormField::Count> deviceValues;
    std::array<PendingWrite, 8> pendingWrites;

    // Groups edited since their last write was raised: a confirmation that arrives after such
    // an edit must leave the group marked, or the edit would never be sent.
    uint8_t editedSinceWrite = 0;
    // The model the layout was last built for; the item lists are rebuilt only when it changes.
    uint16_t layoutModel = 0;
    std::unique_ptr<ProfileFields> profileFields;

    // Status display and service operations (statusdisplay.cpp, operations.cpp).
private slots:
    void on_restart_triggered();
    void on_resetFlagChanges_triggered();
    void on_resetDefault_triggered();
    void on_actionClearStatus_triggered();
    void on_calibration_triggered();
    void on_actionCheckOptics_triggered();
    void on_updateTime_clicked();
    void on_unlock_triggered();
    void on_lockTemporary_triggered();
    void on_lockPermanent_triggered();
    void on_lockAll_triggered();
    void on_normalCurrentMode_triggered();
    void on_multiDropMode_triggered();
    void on_fixMode4_triggered();
    void on_fixMode20_triggered();

private:
    static constexpr int faultLineCount = 13;
    static constexpr int statusIconCount = 9;

    void buildStatusDisplay();
    void showLoopCurrent(bool checkMode);
    void showDeviceVariable(uint8_t index);
    void showFaultLines();
    void showClock();
    void updateLoopCurrentActions();
    void updateLockActions();
    void updateLockIcon();
    void setStatusIcons(uint8_t status);
    // False, after telling the user, when no port is open. A checkable action that asked for
    // the operation gets its check state back.
    bool checkPortOpen(QAction* triggered = nullptr);
    // As checkPortOpen, and false too when no device has answered its identification on this
    // connection: an operation is sent now or refused, never held for a later identification.
    bool checkDeviceReady(QAction* triggered = nullptr);
    // The live values keep their text but turn grey, with the reason as their tooltip, while
    // nothing refreshes them; an empty reason shows them live again.
    void showLiveValuesStale(const QString& reason);
    // The device stopped answering or the port closed: nothing identified remains, and the
    // operations asked for are dropped with the polling.
    void forgetDevice(const QString& staleReason);
    // Tells, at the right of the status bar, what has just been completed and when.
    void noteDone(const QString& what);
    void showFresh(QLineEdit* field, const QPalette& palette);
    void inform(const QString& text);
    void reportError(const QString& text);
    // The box of an operation that has ended, with its note in the status bar.
    void informDone(const QString& text);
    void reportDone(const QString& text);

    static void onDeviceStatusChanged(Hart::ParserMaster* master, uint8_t status);
    static void onDeviceVariableUpdated(Hart::DynamicVariablesRecord* record, Hart::ParserMaster* master,
                                        uint8_t index);
    static void handleLoopCurrent(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleDynamicVariables(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleFixedCurrent(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleFinalAssemblyNumber(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleAdditionalStatus(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleLock(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleLockState(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleClockRead(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleClockSet(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleDeviceReset(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleConfigurationFlagReset(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleServiceOperation(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleCalibrationStarted(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleCalibrationState(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleOpticsCheckStarted(void* context, Hart::ParserMaster* master, uint8_t responseCode);
    static void handleOpticsCheckState(void* context, Hart::ParserMaster* master, uint8_t responseCode);

    QLabel* faultLines[faultLineCount] = {};
    QLabel* statusIcons[statusIconCount] = {};

    Ui::MainWindow* ui = nullptr;
    std::unique_ptr<QSettings> settings;

    QString applicationPath;
    QString productName;
    QString internalName;
    QString productVersion;
    QString releaseYear;
    QString companyName;
    QString companyDomain;
    int versionNumber = 0;

    QString portName;
    QStringList extraPorts;
    QString lastOpenDir;
    QString lastSaveDir;

    QLabel* addressLabel = nullptr;
    QSpinBox* addressSpinBox = nullptr;
    // A device answered its identification on the open connection.
    bool deviceReady = false;
    // Where the box returns when an address search finds nothing: the address that last
    // answered, or the one set before the search.
    int lastAnsweredAddress = -1;
    uint8_t addressBeforeSearch = 0;
    bool addressSearchRunning = false;
    void endAddressSearch(bool found);

    DialogFind searchWindow;
    DialogTraffic* trafficWindow = nullptr; // a child of the window
    TrendWindow* trendWindow = nullptr; // a child of the window, fed by the value displays

    // Text colours of the value displays: red for doubtful and limited values, else the default.
    QPalette redTextPalette;
    QPalette normalPalette;

    // Parameter groups (ConfigGroup bits) edited since the last write.
    uint8_t modifiedGroups = 0;
    // Groups the window has read from (or written to) the device now addressed: until all are
    // known, a write would put the form's own values over the device's.
    uint8_t readGroups = 0;

    // The links work on this buffer, so it is declared first and destroyed last.
    uint8_t frameBuffer[256] = {};
    ComHalfDuplexTerminal serialTerminal;
    HartIpLink hartIpLink;
    // The engine's link: the serial terminal or the HART-IP link, whichever was opened last.
    LinkSwitch terminal;
    bool hartIpChosen = false;
    HartIpAddress hartIpAddress;
    QLabel* linkLabel = nullptr;

    // Contexts of the command table.
    Hart::DeviceVariable loopCurrentValue;
    Hart::DeviceVariable deviceVariables[3];
    Hart::IdentityRecord identity;
    Hart::ClockRecord clock;
    Hart::DetectorConfig detector;
    Hart::DynamicVariablesRecord dynamicVariables;
    // The event-log window is the transfer record of its download (command 252).
    DialogEventLog eventLogWindow;
    // The firmware window is the context of command 253 through its transfer record.
    DialogFirmwareUpdate firmwareWindow;
    Hart::CommandEntry commandTable[Hart::commandTableSize];

    std::unique_ptr<QTimer> parseTimer;
    // A parse tick is running, possibly waiting in a message box of one of its handlers.
    bool parsing = false;
    std::unique_ptr<QTimer> requestTimer;
    uint32_t sentCount = 0;
    uint32_t receivedCount = 0;
    QLabel* sentLabel = nullptr;
    QLabel* receivedLabel = nullptr;
    QLabel* doneLabel = nullptr;
    // Parameter groups of the write in progress; the last confirmation completes the write.
    uint8_t writeGroupsPending = 0;
};
