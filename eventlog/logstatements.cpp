#include "logstatements.h"

namespace LogSql {

const QString createInfo = QStringLiteral("CREATE TABLE Info(\tidHash      INTEGER,\tcaptionHash INTEGER)");
const QString createEvents = QStringLiteral(
    "CREATE TABLE Events (\tid      INTEGER NOT NULL,\ttype    CHAR NOT NULL,\tcaption TINYINT(255),\t"
    "PRIMARY KEY(id, type))");
const QString createLog = QStringLiteral(
    "CREATE TABLE Log (\tid      INTEGER,\ti       INTEGER NOT NULL,\tcount   TINYINT NOT NULL,\t"
    "dt      DATETIME NOT NULL,\ttype    TINYINT NOT NULL,\tevent   INTEGER NOT NULL,\tdata    TINYINT(255),\t"
    "PRIMARY KEY(id AUTOINCREMENT))");
const QString insertInfo = QStringLiteral("INSERT INTO Info (idHash, captionHash) VALUES(NULL, NULL)");
const QString selectInfo = QStringLiteral("SELECT idHash, captionHash FROM Info");
const QString updateInfo = QStringLiteral("UPDATE Info SET idHash = :idHash, captionHash = :captionHash");
const QString insertEvent =
    QStringLiteral("INSERT OR REPLACE INTO Events(id, type, caption) VALUES(:id, :type, :caption)");
const QString selectLastRecord = QStringLiteral("SELECT i, count FROM Log ORDER BY id DESC LIMIT 1");
const QString insertRecord = QStringLiteral(
    "INSERT INTO Log (i, count, dt, type, event, data)\tVALUES(:i, :count, :dt, :type, :event, :data)");
// dt counts seconds since 2000-01-01 as the device does; 946684800 is that instant in Unix
// time. Adding calendar years to a 1970 date instead would put most days one day late.
const QString selectView = QStringLiteral(
    "SELECT l.type, DATETIME(l.dt + 946684800, 'unixepoch'), e.caption, l.data\tFROM Log l\t"
    "LEFT OUTER JOIN Events e ON e.id = l.event AND e.type = 0\tORDER BY l.id ASC");

} // namespace LogSql
