#pragma once
// "Отчёт о проверке": a PDF of the connected detector a safety engineer signs: what it is,
// what it showed, how it is configured, the optics check of this connection, and its records
// in the audit trail.

#include "audittrail.h"

#include <QList>
#include <QPair>
#include <QString>

struct ReportSection {
    QString title;
    QList<QPair<QString, QString>> rows;
};

struct ReportContent {
    QDateTime made;
    QString user;
    QString link;
    QList<ReportSection> sections;
    // Empty when no optics check was run on this connection.
    QString opticsCheck;
    // The last events of the device's log (class, time, message) with the view's column titles;
    // empty when no log file of this device is open.
    QStringList eventTitles;
    QList<QStringList> events;
    // This device's audit records, newest first.
    QList<Audit::Record> records;
};

// The report as HTML for QTextDocument: black text, bordered tables, legible in black and white.
QString reportHtml(const ReportContent& content);
// A4 PDF with its fonts embedded; false with *error set when the file cannot be written.
bool writeReportPdf(const ReportContent& content, const QString& path, QString* error);
