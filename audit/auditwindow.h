#pragma once
// "Журнал изменений": the audit records, by device and date, newest first, with a CSV export.

#include "audittrail.h"

#include <QDialog>

class QComboBox;
class QDateEdit;
class QIODevice;
class QStandardItemModel;
class QTableView;

class AuditWindow : public QDialog {
    Q_OBJECT
public:
    AuditWindow(std::function<AuditTrail*()> trail, QWidget* parent = nullptr);

    // Re-reads the file with the filters now set.
    void refresh();
    Audit::Filter filter() const;
    QTableView* table() const { return view; }
    QComboBox* deviceBox() const { return devices; }
    QDateEdit* firstDay() const { return first; }
    QDateEdit* lastDay() const { return last; }

    // The column titles of the window and the export, and one record's fields under them.
    static QStringList columnTitles();
    static QStringList fields(const Audit::Record& record);
    // The records as the event log's export writes its own: UTF-8 with a byte-order mark, ";"
    // between fields, CRLF; false with *error set when the device refuses the bytes.
    static bool writeCsv(const QList<Audit::Record>& records, QIODevice& out, QString* error);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fillDevices();
    void exportCsv();

    std::function<AuditTrail*()> trail;
    QComboBox* devices = nullptr;
    QDateEdit* first = nullptr;
    QDateEdit* last = nullptr;
    QTableView* view = nullptr;
    QStandardItemModel* model = nullptr;
};
