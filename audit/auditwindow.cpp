#include "auditwindow.h"
#include "savefilename.h"

#include "logcsvexport.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace {

constexpr int defaultDays = 30;

}

AuditWindow::AuditWindow(std::function<AuditTrail*()> trailOf, QWidget* parent)
    : QDialog(parent), trail(std::move(trailOf))
{
    setWindowTitle(QStringLiteral("Журнал изменений"));
    resize(1000, 500);
    devices = new QComboBox(this);
    devices->setObjectName(QStringLiteral("auditDevice"));
    first = new QDateEdit(QDate::currentDate().addDays(-defaultDays), this);
    last = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit* edit : { first, last }) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        connect(edit, &QDateEdit::dateChanged, this, &AuditWindow::refresh);
    }
    auto* exportButton = new QPushButton(QStringLiteral("Экспорт в CSV…"), this);
    exportButton->setObjectName(QStringLiteral("auditExport"));
    connect(exportButton, &QPushButton::clicked, this, &AuditWindow::exportCsv);
    connect(devices, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &AuditWindow::refresh);

    auto* filters = new QHBoxLayout;
    filters->addWidget(new QLabel(QStringLiteral("Устройство:"), this));
    filters->addWidget(devices, 1);
    filters->addWidget(new QLabel(QStringLiteral("с"), this));
    filters->addWidget(first);
    filters->addWidget(new QLabel(QStringLiteral("по"), this));
    filters->addWidget(last);
    filters->addWidget(exportButton);

    model = new QStandardItemModel(this);
    view = new QTableView(this);
    view->setModel(model);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(view);
}

QStringList AuditWindow::columnTitles()
{
    return { QStringLiteral("Время"), QStringLiteral("Пользователь"), QStringLiteral("Связь"),
             QStringLiteral("Тип"), QStringLiteral("Серийный номер"), QStringLiteral("Тег"),
             QStringLiteral("Операция"), QStringLiteral("Изменения"), QStringLiteral("Результат"),
             QStringLiteral("Код ответа"), QStringLiteral("Ответ") };
}

QStringList AuditWindow::fields(const Audit::Record& r)
{
    QStringList changes;
    for (const Audit::Change& c : r.changes)
        changes << (c.before.isEmpty() ? QStringLiteral("%1: %3") : QStringLiteral("%1: %2 → %3"))
                       .arg(c.field, c.before, c.after);
    return { r.started.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")), r.user, r.link, r.deviceType,
             r.deviceId, r.tag, r.operation, changes.join(QStringLiteral("; ")), Audit::outcomeText(r.outcome),
             r.responseCode.isNull() ? QString() : r.responseCode.toString(), r.outcomeText };
}

Audit::Filter AuditWindow::filter() const
{
    return { devices->currentData().toString(), first->date(), last->date() };
}

void AuditWindow::showEvent(QShowEvent* event)
{
    fillDevices();
    refresh();
    QDialog::showEvent(event);
}

void AuditWindow::fillDevices()
{
    const QString chosen = devices->currentData().toString();
    const QSignalBlocker blocker(devices);
    devices->clear();
    devices->addItem(QStringLiteral("Все устройства"), QString());
    for (const auto& device : trail()->devices())
        devices->addItem(device.second.isEmpty() ? device.first : device.first + QStringLiteral(" (") + device.second + ')',
                         device.first);
    devices->setCurrentIndex(std::max(0, devices->findData(chosen)));
}

void AuditWindow::refresh()
{
    model->clear();
    model->setHorizontalHeaderLabels(columnTitles());
    for (const Audit::Record& r : trail()->records(filter())) {
        QList<QStandardItem*> row;
        for (const QString& text : fields(r))
            row << new QStandardItem(text);
        model->appendRow(row);
    }
    view->resizeColumnsToContents();
}

bool AuditWindow::writeCsv(const QList<Audit::Record>& records, QIODevice& out, QString* error)
{
    QByteArray bytes = csvByteOrderMark;
    // Tags, operations and values may come from a device: text, whatever they start with.
    auto line = [&bytes](const QStringList& fields) {
        QStringList quoted;
        for (const QString& f : fields)
            quoted << csvTextField(f);
        bytes += csvLine(quoted);
    };
    line(columnTitles());
    for (const Audit::Record& r : records)
        line(fields(r));
    if (out.write(bytes) == bytes.size())
        return true;
    *error = out.errorString();
    return false;
}

void AuditWindow::exportCsv()
{
    const QString path = saveFileName(this, QStringLiteral("Экспорт в CSV"), QString(), QStringLiteral("CSV (*.csv)"),
                                      QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    QString error;
    if (!file.open(QIODevice::WriteOnly))
        error = file.errorString();
    else if (writeCsv(trail()->records(filter()), file, &error) && !file.commit())
        error = file.errorString();
    if (!error.isEmpty())
        QMessageBox::critical(this, QStringLiteral("Ошибка"),
                              QStringLiteral("Не удалось записать файл %1: %2").arg(QDir::toNativeSeparators(path), error));
}
