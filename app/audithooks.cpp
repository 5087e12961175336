// The audit trail's view of the engine: the recorder sees every frame; the window tells it the
// device, the link and the fields a configuration write changes.

#include "mainwindow.h"
#include "profilefields.h"
#include "ui_mainwindow.h"

#include "audittrail.h"
#include "detectormodel.h"

#include "hart/mastercommands.h"

#include <QMessageBox>

namespace {

const QString notRead = QStringLiteral("(не прочитано)");

int groupIndex(uint8_t group)
{
    for (int i = 0; i < 8; ++i)
        if (group == (1u << i))
            return i;
    return -1;
}

uint8_t groupOfCommand(uint16_t command)
{
    switch (command) {
    case 17: return ConfigGroup::message;
    case 18: return ConfigGroup::tagDescriptorDate;
    case 22: return ConfigGroup::longTag;
    case 132: return ConfigGroup::currents;
    case 134: return ConfigGroup::detector;
    default: return 0;
    }
}

}

AuditTrail* MainWindow::auditTrail()
{
    if (!audit) {
        audit = std::make_unique<AuditTrail>();
        if (!audit->notice().isEmpty())
            QMessageBox::warning(this, QStringLiteral("Журнал изменений"), audit->notice());
    }
    return audit.get();
}

void MainWindow::rememberDeviceValues(uint8_t groups)
{
    if (!profileFields)
        return;
    for (int f = 0; f < FormField::Count; ++f)
        if (FormField::groupOf(f) & groups)
            deviceValues[size_t(f)] = profileFields->displayText(f);
}

void MainWindow::prepareAuditChanges(uint8_t groups)
{
    if (!profileFields)
        return;
    for (int i = 0; i < 8; ++i)
        if (groups & (1u << i))
            pendingWrites[size_t(i)] = PendingWrite();
    for (int f = 0; f < FormField::Count; ++f) {
        const int field = f;
        const uint8_t group = FormField::groupOf(field);
        const int index = groupIndex(group);
        if (!(groups & group) || index < 0)
            continue;
        PendingWrite& pending = pendingWrites[size_t(index)];
        const QString after = profileFields->displayText(field);
        pending.after[size_t(f)] = after;
        const QString before = (readGroups & group) ? deviceValues[size_t(f)] : notRead;
        if (before != after && profileFields->isShown(field))
            pending.changes.append({ profileFields->caption(field), before, after });
    }
}

void MainWindow::auditWriteConfirmed(uint8_t group)
{
    const int index = groupIndex(group);
    if (index < 0)
        return;
    for (int f = 0; f < FormField::Count; ++f)
        if (FormField::groupOf(f) == group && !pendingWrites[size_t(index)].after[size_t(f)].isNull())
            deviceValues[size_t(f)] = pendingWrites[size_t(index)].after[size_t(f)];
}

// The changed fields of a configuration write, kept from when the write was raised.
QString MainWindow::describeWrite(uint16_t command, QList<Audit::Change>* changes)
{
    const int index = groupIndex(groupOfCommand(command));
    if (index < 0)
        return ui->connectWrite->text();
    *changes = pendingWrites[size_t(index)].changes;
    pendingWrites[size_t(index)].changes.clear();
    const QString titles[] = { QString(), ui->groupBox_4->title(), ui->groupBox_4->title(), ui->groupBox_4->title(),
                               ui->groupBox_6->title(), ui->groupBox_5->title() };
    return QStringLiteral("%1: %2").arg(ui->connectWrite->text(), titles[index]);
}

void MainWindow::setupAuditRecorder()
{
    auditRecorder.trail = [this] { return auditTrail(); };
    auditRecorder.device = [this] {
        return AuditRecorder::Device{ linkName(), expandedDeviceType, deviceId, ui->tag->text(), pollingAddress,
                                      loopCurrentMode, profileFields->caption(FormField::Address) };
    };
    auditRecorder.describeWrite = [this](uint16_t command, QList<Audit::Change>* changes) {
        return describeWrite(command, changes);
    };
}

void MainWindow::auditBeforeSend(const uint8_t* frame, uint32_t length)
{
    auditRecorder.beforeSend(frame, length);
}

void MainWindow::auditAnswered(uint32_t result, uint8_t responseCode)
{
    auditRecorder.answered(result, responseCode);
}

void MainWindow::auditEnd(Audit::Outcome outcome, int responseCode, const QString& text)
{
    auditRecorder.end(outcome, responseCode, text);
}
