#pragma once
// Every statement run against a log file. The texts are part of the file format: files written
// by earlier versions hold exactly these tables.

#include <QString>

namespace LogSql {

extern const QString createInfo;
extern const QString createEvents;
extern const QString createLog;
extern const QString insertInfo;
extern const QString selectInfo;
extern const QString updateInfo;
extern const QString insertEvent;
extern const QString selectLastRecord;
extern const QString insertRecord;
extern const QString selectView;

} // namespace LogSql
