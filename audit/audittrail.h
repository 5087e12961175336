#pragma once
// The audit trail: every operation that changes a detector, kept in one SQLite file of the
// user's data folder. A record is committed before its request goes out and completed when the
// answer arrives, so a crash or a pulled cable leaves "started, outcome unknown", never nothing.

#include <QDateTime>
#include <QDate>
#include <QList>
#include <QVariant>
#include <QString>

namespace Audit {

enum class Outcome { Started, Done, Refused, NoAnswer, LineLost };

// The stored word of an outcome and the text the user sees.
QString outcomeKey(Outcome outcome);
QString outcomeText(const QString& key);

struct Change {
    QString field;
    QString before;
    QString after;
};

struct Operation {
    QString link;
    QString deviceType;
    QString deviceId;
    QString tag;
    QString operation;
    QList<Change> changes;
};

// One stored record as the window, the export and the report show it.
struct Record {
    qint64 id = 0;
    QDateTime started; // UTC
    QString user, link, deviceType, deviceId, tag, operation;
    QString outcome; // the stored word; outcomeText gives the user's text
    QVariant responseCode;
    QString outcomeText;
    QList<Change> changes;
};

// Which records: one device (empty: every device) from the first to the last local day.
struct Filter {
    QString deviceId;
    QDate first;
    QDate last;
};

// The name of the operating-system user running the program.
QString systemUser();

} // namespace Audit

class AuditTrail {
public:
    // Opens (or creates) the file; a damaged or foreign file is renamed aside first.
    explicit AuditTrail(const QString& path = defaultPath());
    ~AuditTrail();
    AuditTrail(const AuditTrail&) = delete;
    AuditTrail& operator=(const AuditTrail&) = delete;

    static QString defaultPath();
    // The identifiers that tell this program's file from any other SQLite file.
    static constexpr int applicationId = 0x49505041;
    static constexpr int schemaVersion = 1;

    bool isOpen() const { return open; }
    const QString& path() const { return filePath; }
    // What the user must be told about opening, once: a file set aside, or a trail not kept.
    const QString& notice() const { return openNotice; }
    // The named connection of this trail (never the default one).
    const QString& connectionName() const { return connection; }

    // Commits the record with its changed fields and returns its id, or -1 when not stored.
    qint64 begin(const Audit::Operation& operation, const QDateTime& now = QDateTime::currentDateTimeUtc());
    bool finish(qint64 id, Audit::Outcome outcome, int responseCode = -1, const QString& text = QString(),
                const QDateTime& now = QDateTime::currentDateTimeUtc());

    // Newest first.
    QList<Audit::Record> records(const Audit::Filter& filter) const;
    // Every device in the file as "device id" and its latest tag, newest first.
    QList<QPair<QString, QString>> devices() const;

private:
    bool openFile();
    bool checkExisting();
    bool createSchema();
    void closeConnection();
    bool setAside(const QString& reason);

    QString filePath;
    QString connection;
    QString openNotice;
    bool open = false;
};
