#pragma once
// The command-line tool's shared parts: its options, how a command reaches its detector, and
// how results, progress and failures are written.

#include "devicesession.h"

#include "configdocument.h"

#include <QCommandLineParser>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>

// Exit statuses, as --help and the manual page give them.
namespace Exit {
constexpr int done = 0;
constexpr int device = 1; // the device answered with an error or refused the operation
constexpr int usage = 2;  // wrong options, or a file that cannot be used
constexpr int link = 3;   // no port, a link lost, or no device answering
}

// A failure on its way out: the message for stderr and the exit status.
struct Failure {
    int status = Exit::done;
    QString message;
};

struct Options {
    QStringList arguments; // the command and its operands
    QList<LinkSpec> links;
    int address = 0;
    bool addressGiven = false;
    QString tag;
    int firstAddress = 0;
    int lastAddress = 15;
    bool json = false;
    bool yes = false;
    bool resume = false;
    QString profile;
    QString out;
};

// Writes results to stdout and progress to stderr; progress only on a terminal.
class Output {
public:
    explicit Output(bool json);
    bool json() const { return m_json; }
    void line(const QString& text);
    // Label and value pairs, aligned.
    void table(const QList<QPair<QString, QString>>& rows);
    void object(const QJsonObject& object);
    // A bar with what is done of total, its unit ("записей", "байт") and the time left.
    void progress(std::uint64_t done, std::uint64_t total, const QString& unit);
    void endProgress();
    static void error(const QString& text);

private:
    bool m_json;
    bool m_terminal;
    qint64 m_started = -1;
    std::uint64_t m_startedAt = 0;
    bool m_shown = false;
};

// The exit status of a session's result, with its message written.
int reportResult(const DeviceSession::Result& result);
// Opens the link and addresses the device the options name (polling address or tag); a served
// model only. Returns Exit::done or the status of what failed, the message written.
int reachDevice(DeviceSession& session, const LinkSpec& link, const Options& options);
// The program's internal name and version number, as its files carry them.
QString programName();
int programVersion();
// Loads a file of the program, refused (Exit::usage) with the window's reasons.
int loadProgramFile(ConfigDocument& document);
// "FF04" as the window shows a device type.
QString deviceTypeText(std::uint16_t type);
// The texts of the identity record, as the device sent them.
QString tagText(const DeviceSession& session);
QString longTagText(const DeviceSession& session);

int runDeviceCommand(const QString& command, const Options& options, Output& out);
int runFleet(const Options& options, Output& out);
int runFleetDiff(const Options& options, Output& out);
int runFleetLog(const Options& options, Output& out);
