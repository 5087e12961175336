#include "sessionaudit.h"

#include "detectorsettings.h"
#include "tool.h"

SessionAudit::SessionAudit(DeviceSession& session)
    : session(session)
{
    recorder.trail = [this] { return trail(); };
    recorder.device = [this] {
        return AuditRecorder::Device{ this->session.link().text(), this->session.expandedDeviceType,
                                      this->session.deviceId, tagText(this->session), this->session.pollingAddress,
                                      this->session.loopCurrentMode, DetectorSettings::caption(Profile::FieldCount + 5) };
    };
    // The window's words for its two writes: its action and the group box the fields are in.
    recorder.describeWrite = [this](std::uint16_t command, QList<Audit::Change>* changes) {
        if (command == 134) {
            *changes = detectorChanges;
            return QStringLiteral("Записать конфигурацию: Настройки извещателя");
        }
        if (command == 132) {
            *changes = currentChanges;
            return QStringLiteral("Записать конфигурацию: Настройки токового выхода");
        }
        return QStringLiteral("Записать конфигурацию");
    };
    session.beforeSend = [this](const std::uint8_t* frame, std::uint32_t length) { recorder.beforeSend(frame, length); };
    session.answered = [this](std::uint32_t result, std::uint8_t code) { recorder.answered(result, code); };
    session.ended = [this](const DeviceSession::Result& r) {
        using Outcome = DeviceSession::Outcome;
        switch (r.outcome) {
        case Outcome::Done: recorder.end(Audit::Outcome::Done, 0, QString()); break;
        case Outcome::DeviceError: recorder.end(Audit::Outcome::Refused, r.responseCode, r.text); break;
        case Outcome::NoAnswer: recorder.end(Audit::Outcome::NoAnswer, -1, r.text); break;
        case Outcome::LinkLost:
        case Outcome::Refused: recorder.end(Audit::Outcome::LineLost, -1, r.text); break;
        }
    };
}

SessionAudit::~SessionAudit()
{
    session.beforeSend = nullptr;
    session.answered = nullptr;
    session.ended = nullptr;
}

AuditTrail* SessionAudit::trail()
{
    if (!auditTrail) {
        auditTrail = std::make_unique<AuditTrail>();
        sayNotice();
    }
    return auditTrail.get();
}

void SessionAudit::sayNotice()
{
    if (auditTrail && !auditTrail->notice().isEmpty())
        Output::error(QStringLiteral("Журнал изменений: ") + auditTrail->notice());
}

void SessionAudit::setWriteChanges(std::uint16_t command, const QList<Audit::Change>& changes)
{
    (command == 134 ? detectorChanges : currentChanges) = changes;
}
