// The audit trail's window and the commissioning report, from the main window's menus.

#include "mainwindow.h"
#include "savefilename.h"
#include "profilefields.h"
#include "ui_mainwindow.h"

#include "auditwindow.h"
#include "commissioningreport.h"
#include "logviewmodel.h"

#include "hart/messages.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>

namespace {

constexpr int reportDays = 30;
constexpr int reportEvents = 50;

QString shownText(const QWidget* widget)
{
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget))
        return edit->text();
    if (const auto* box = qobject_cast<const QAbstractSpinBox*>(widget))
        return box->text();
    if (const auto* combo = qobject_cast<const QComboBox*>(widget))
        return combo->currentText();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    return QString();
}

// The rows of the form layouts of a group box as the window shows them: label and value.
ReportSection formSection(const QGroupBox* box)
{
    ReportSection section{ box->title(), {} };
    for (const QFormLayout* form : box->findChildren<QFormLayout*>()) {
        for (int row = 0; row < form->rowCount(); ++row) {
            QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole);
            QLayoutItem* field = form->itemAt(row, QFormLayout::FieldRole);
            if (!label || !field || !label->widget() || !field->widget() || !field->widget()->isVisibleTo(box))
                continue;
            QString caption = shownText(label->widget()).simplified();
            if (caption.endsWith(':'))
                caption.chop(1);
            section.rows.append({ caption, shownText(field->widget()) });
        }
    }
    return section;
}

}

void MainWindow::buildAuditActions(QMenu* viewMenu)
{
    auditWindow = new AuditWindow([this] { return auditTrail(); }, this);
    QAction* showAudit = viewMenu->addAction(QStringLiteral("Журнал изменений"));
    showAudit->setObjectName(QStringLiteral("actionAuditTrail"));
    connect(showAudit, &QAction::triggered, auditWindow, &QWidget::show);
    reportAction = ui->menu->addAction(QStringLiteral("Отчёт о проверке…"));
    reportAction->setObjectName(QStringLiteral("actionReport"));
    connect(reportAction, &QAction::triggered, this, &MainWindow::chooseReportFile);
    // Enabled while a device is identified, judged as the menu opens; the slot checks again.
    reportAction->setEnabled(false);
    connect(ui->menu, &QMenu::aboutToShow, this,
            [this] { reportAction->setEnabled(terminal.isOpen() && deviceReady && deviceId != 0); });
}

ReportContent MainWindow::reportContent()
{
    ReportContent c;
    c.made = QDateTime::currentDateTime();
    c.user = Audit::systemUser();
    c.link = linkName();
    c.sections.append(formSection(ui->groupBox));
    c.sections.append(formSection(ui->groupBox_3));
    ReportSection status{ QStringLiteral("Байт состояния устройства"), {} };
    for (unsigned bit = 0; bit < 8; ++bit)
        status.rows.append({ QString::fromUtf8(Hart::deviceStatusText(bit)),
                             (deviceStatus >> bit) & 1 ? QStringLiteral("установлен") : QStringLiteral("нет") });
    c.sections.append(status);
    ReportSection faults{ QStringLiteral("Неисправности"), {} };
    for (const QLabel* line : faultLines)
        if (line && line->isVisibleTo(this) && !line->text().isEmpty())
            faults.rows.append({ line->text(), line->toolTip() });
    if (!faults.rows.isEmpty())
        c.sections.append(faults);
    // The configuration as the window shows it, under the titles of its groups.
    for (const QGroupBox* box : { ui->groupBox_4, ui->groupBox_5, ui->groupBox_6 }) {
        ReportSection section{ box->title(), {} };
        for (int f = 0; f < FormField::Count; ++f) {
            const auto field = f;
            const QWidget* widget = profileFields->widgetsOf(field).value(0);
            if (widget && box->isAncestorOf(widget) && profileFields->isShown(field))
                section.rows.append({ profileFields->caption(field), profileFields->displayText(field) });
        }
        c.sections.append(section);
    }
    c.opticsCheck = opticsCheckResult;
    if (eventLogWindow.isLogOf(deviceId)) {
        for (int column = 0; column < LogViewModel::shownColumns; ++column)
            c.eventTitles << LogViewModel::columnTitle(column);
        c.events = eventLogWindow.lastRecords(reportEvents);
    }
    c.records = auditTrail()->records({ QString::number(deviceId), QDate::currentDate().addDays(-reportDays), QDate() });
    return c;
}

void MainWindow::chooseReportFile()
{
    if (!checkDeviceReady())
        return;
    const QString path = saveFileName(this, QStringLiteral("Отчёт о проверке"), lastSaveDir,
                                      QStringLiteral("PDF (*.pdf)"), QStringLiteral("pdf"));
    if (path.isEmpty())
        return;
    QString error;
    if (!writeReportPdf(reportContent(), path, &error))
        reportError(QStringLiteral("Не удалось записать файл %1: %2").arg(QDir::toNativeSeparators(path), error));
}
