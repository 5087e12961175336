#pragma once
// What the tool sends to a detector goes into the same audit trail as the window's work: the
// user's data folder's audit.db, one record per operation, committed before the request.

#include "auditrecorder.h"
#include "devicesession.h"

#include <memory>

class SessionAudit {
public:
    explicit SessionAudit(DeviceSession& session);
    ~SessionAudit();

    // The fields the next configuration write changes, by command (132, 134).
    void setWriteChanges(std::uint16_t command, const QList<Audit::Change>& changes);
    // Said once on stderr: a trail set aside or not kept.
    void sayNotice();

private:
    AuditTrail* trail();

    DeviceSession& session;
    AuditRecorder recorder;
    std::unique_ptr<AuditTrail> auditTrail;
    QList<Audit::Change> detectorChanges;
    QList<Audit::Change> currentChanges;
};
