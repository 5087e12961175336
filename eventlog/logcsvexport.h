#pragma once

#include "csvfield.h"

#include <QString>

class QIODevice;
class QSqlDatabase;

// The records of a log file as the event-log view shows them, written for a spreadsheet: the
// view's columns and titles, the class as its number, the time as the view shows it and the
// rendered message. UTF-8 with a byte-order mark, since without it a Russian spreadsheet takes
// the file for Windows-1251; ";" between fields, as the comma is the decimal separator there.
// Rows are read one at a time, so a log of any length costs the memory of one row.
// Returns the number of records written, or -1 with *error set.
qint64 writeLogCsv(const QSqlDatabase& db, QIODevice& out, QString* error);
