#pragma once
// Fields of the CSV files the program writes for spreadsheets.

#include <QByteArray>
#include <QString>
#include <QStringList>

// The files start with a UTF-8 byte-order mark, so a spreadsheet reads the Cyrillic right.
extern const QByteArray csvByteOrderMark;

// One field, quoted when it holds the separator ";", a quote or a line break.
QString csvField(const QString& text);

// A text field (a message, a name, a unit): one that starts like a formula ("=", "+", "-", "@",
// a tab or a carriage return) gets a leading "'", or a spreadsheet would run it. Numbers go
// through csvField, so "-1,5" stays a number.
QString csvTextField(const QString& text);

// One line of fields already made by csvField or csvTextField: ";" between them, CRLF after.
QByteArray csvLine(const QStringList& fields);
