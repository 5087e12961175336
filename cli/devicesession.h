#pragma once
// One detector reached over one link, worked from a program without windows: the window's HART
// master, command table and transfers, driven to completion one operation at a time.

#include "comhalfduplexterminal.h"
#include "hartiplink.h"

#include "hart/clockrecord.h"
#include "hart/commandtable.h"
#include "hart/detectorconfig.h"
#include "hart/dynamicvariablesrecord.h"
#include "hart/identityrecord.h"
#include "hart/parsermaster.h"
#include "hart/parsermastereventlog.h"
#include "hart/parsermasterfirmwareupdate.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class LogDownload;
class QEventLoop;
class QFile;

// A serial port or a HART-IP server.
struct LinkSpec {
    QString port;
    bool hartIp = false;
    HartIpAddress server;

    // The port's name or the server's address, as the messages name the link.
    QString text() const { return hartIp ? server.text() : port; }
};

class DeviceSession : public QObject, public Hart::ParserMaster {
    Q_OBJECT

public:
    enum class Outcome {
        Done,
        DeviceError, // the device answered with an error; code and text say which
        NoAnswer,    // the device did not answer the request
        LinkLost,    // the port or the session failed
        Refused,     // nothing was sent: the request could not be made
    };
    struct Result {
        Outcome outcome = Outcome::Done;
        int responseCode = -1;
        QString text;
        bool ok() const { return outcome == Outcome::Done; }
    };

    DeviceSession();
    ~DeviceSession() override;

    bool open(const LinkSpec& link, QString* error);
    void close();
    bool isOpen() const { return terminal.isOpen(); }
    const LinkSpec& link() const { return linkSpec; }

    // Command 0 at one polling address, the device answering there is then the one addressed.
    Result identify(std::uint8_t address);
    // Command 11: the device with this tag, wherever it is on the loop.
    Result findByTag(const QString& tag);
    // Tag, descriptor, date, message, long tag, final assembly number, status and the
    // detector's settings and currents of the device identified.
    Result readAll();
    // Only the tag and long tag, as a scan lists them.
    Result readTags();
    // Writes the detector settings (command 134) and the currents (command 132) given.
    Result writeSettings(const std::uint8_t configuration[4], const std::uint16_t currents[5], bool settings,
                         bool currentsToo);
    // The device's log into the download's open file; progress goes through the download's hooks.
    Result downloadLog(LogDownload& log);
    Result eraseLog(LogDownload& log);
    // The image in the open file; progress(offset, size) after each chunk the device took.
    Result updateFirmware(QFile& file, const std::function<void(std::uint32_t, std::uint32_t)>& progress);
    Result setClock(std::uint32_t timeOfDay, std::uint32_t date);

    enum class Operation {
        Restart, ResetConfigurationFlag, FactoryReset, ClearStatus, Calibrate, CheckOptics,
        Unlock, LockTemporary, LockPermanent, LockAll,
        LoopNormal, LoopMultidrop, LoopFixed4, LoopFixed20,
    };
    // The outcome's text is what the window tells the user when the operation ends.
    Result operate(Operation operation);

    // Each request just before it goes out, each answer's parse result, and each operation's
    // end: what the audit trail records.
    std::function<void(const std::uint8_t* frame, std::uint32_t length)> beforeSend;
    std::function<void(std::uint32_t result, std::uint8_t responseCode)> answered;
    std::function<void(const Result& result)> ended;

    Hart::IdentityRecord identity;
    Hart::DynamicVariablesRecord dynamicVariables;
    Hart::DeviceVariable loopCurrentValue;
    Hart::DeviceVariable deviceVariables[3];
    Hart::ClockRecord clock;
    Hart::DetectorConfig detector;

private:
    // Runs the engine until nothing is due and nothing awaits an answer, or it fails.
    Result run();
    void tick();
    void end(Outcome outcome, int responseCode, const QString& text);
    // Why the link is gone, the HART-IP server's reason included.
    QString lostText() const;
    Hart::CommandContexts contexts();
    void cancelAll();
    Result runLog(LogDownload& download, std::uint8_t request);
    static void onFrameReceived(void* context);

    static void handleCalibrationStarted(void*, Hart::ParserMaster* master, std::uint8_t responseCode);
    static void handleCalibrationState(void*, Hart::ParserMaster* master, std::uint8_t responseCode);
    static void handleOpticsCheckStarted(void*, Hart::ParserMaster* master, std::uint8_t responseCode);
    static void handleOpticsCheckState(void*, Hart::ParserMaster* master, std::uint8_t responseCode);

    // The links work on this buffer, so it is declared first and destroyed last.
    std::uint8_t frameBuffer[256] = {};
    ComHalfDuplexTerminal serialTerminal;
    HartIpLink hartIpLink;
    LinkSwitch terminal;
    LinkSpec linkSpec;

    struct FirmwareTransfer : Hart::ParserMasterFirmwareUpdate {
        DeviceSession* session = nullptr;
    };
    static DeviceSession* sessionOfFirmware(Hart::ParserMasterFirmwareUpdate* update);
    FirmwareTransfer firmware;
    QFile* image = nullptr;
    // The command table's event-log context while no download runs: it never has a request.
    Hart::ParserMasterEventLog idleLog;
    std::function<void(std::uint32_t, std::uint32_t)> firmwareProgress;
    LogDownload* log = nullptr;
    Hart::CommandEntry commandTable[Hart::commandTableSize];

    // The run in progress and how it ended; an operation's handlers leave its outcome in
    // operationText, and operationFailed when the device reported it failed.
    QEventLoop* loop = nullptr;
    bool running = false;
    Result result;
    QString operationText;
    bool operationFailed = false;
};
