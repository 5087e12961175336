#include "dialogeventlog.h"
#include "ui_dialogeventlog.h"

#include "devicetext.h"
#include "logcsvexport.h"
#include "logstatements.h"
#include "logviewmodel.h"
#include "savefilename.h"
#include "timedstatus.h"

#include "hart/identityrecord.h"
#include "hart/parsermaster.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QProgressBar>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace {

const QString errorTitle = QStringLiteral("Ошибка");
const QString logFilter = QStringLiteral("Файлы журнала (*.db)");
const QString logWindowTitle = QStringLiteral("Журнал событий");
// The bar's steps; the catalogue takes the first half when it is read.
constexpr int barScale = 1000;

} // namespace

DialogEventLog::DialogEventLog(const EventLogOwner& owner, QWidget* parent)
    : QMainWindow(parent), ui(new Ui::DialogEventLog), owner(owner)
{
    ui->setupUi(this);
    progressBar = new QProgressBar(this);
    ui->statusBar->addWidget(progressBar, 0);
    progressBar->hide();
    ui->toolBar->addSeparator();
    QAction* exportAction = ui->toolBar->addAction(QIcon(QStringLiteral(":/new/prefix/Resources/Icons/Basic/16x16/save.png")),
                                                   QStringLiteral("Экспорт в CSV…"));
    exportAction->setObjectName(QStringLiteral("actionExportCsv"));
    connect(exportAction, &QAction::triggered, this, &DialogEventLog::chooseCsvFile);
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    model = new LogViewModel(this);

    onInfo = onInfoReceived;
    onCaption = onCaptionReceived;
    onRange = onRangeReceived;
    onRecords = onRecordReceived;
    onFinished = onTransferFinished;
    onErased = onEraseDone;
}

DialogEventLog::~DialogEventLog()
{
    // The model's query and the connection go before the connection is unregistered.
    model->clear();
    db.close();
    const QString name = db.connectionName();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
    delete ui;
}

void DialogEventLog::on_actionCreate_triggered()
{
    const QString name = saveFileName(this, QStringLiteral("Создать файл журнала"), QDir::currentPath(), logFilter,
                                      QStringLiteral("db"));
    if (!name.isEmpty())
        createLog(name);
}

void DialogEventLog::createLog(const QString& fileName)
{
    model->clear();
    db.close();
    showOpenFile();
    if (QFile::exists(fileName) && !QFile::remove(fileName)) {
        QMessageBox::critical(this, errorTitle, QStringLiteral("Не удается заменить файл"));
        return;
    }
    db.setDatabaseName(fileName);
    if (!db.open()) {
        QMessageBox::critical(this, errorTitle, db.lastError().text());
        return;
    }
    showOpenFile();
    QSqlQuery query(db);
    for (const QString* statement : {&LogSql::createInfo, &LogSql::createEvents, &LogSql::createLog, &LogSql::insertInfo}) {
        if (!query.exec(*statement)) {
            reportSqlError(query);
            return;
        }
    }
    refreshView();
}

void DialogEventLog::on_actionOpen_triggered()
{
    const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("Открыть файл журнала"),
                                                      QDir::currentPath(), logFilter);
    if (!name.isEmpty())
        openLog(name);
}

void DialogEventLog::openLog(const QString& fileName)
{
    if (!QFile::exists(fileName)) {
        QMessageBox::critical(this, errorTitle, QStringLiteral("Не удается найти файл \"") + fileName + '"');
        return;
    }
    model->clear();
    db.close();
    db.setDatabaseName(fileName);
    const bool opened = db.open();
    showOpenFile();
    if (!opened) {
        QMessageBox::critical(this, errorTitle, db.lastError().text());
        return;
    }
    // SQLite reads a file only at the first statement: a file that is not a log shows here.
    if (!refreshView())
        QMessageBox::critical(this, errorTitle, model->lastError().text());
}

void DialogEventLog::chooseCsvFile()
{
    if (!db.isOpen()) {
        QMessageBox::critical(this, errorTitle, QStringLiteral("Файл журнала не открыт"));
        return;
    }
    const QFileInfo log(db.databaseName());
    const QString name = saveFileName(this, QStringLiteral("Экспорт в CSV"),
                                      log.dir().filePath(log.completeBaseName() + QStringLiteral(".csv")),
                                      QStringLiteral("Файлы CSV (*.csv)"), QStringLiteral("csv"));
    if (!name.isEmpty())
        exportCsv(name);
}

bool DialogEventLog::exportCsv(const QString& fileName)
{
    // Written aside and put in place only when whole: a failed export leaves no half file
    // and an older export of the same name as it was.
    QSaveFile file(fileName);
    QString error;
    if (!file.open(QIODevice::WriteOnly))
        error = file.errorString();
    else if (writeLogCsv(db, file, &error) >= 0 && !file.commit())
        error = file.errorString();
    if (error.isEmpty()) {
        showStatus(QStringLiteral("Журнал событий сохранён в CSV"));
        return true;
    }
    QMessageBox::critical(this, errorTitle,
                          QStringLiteral("Не удается записать файл \"") + fileName + QStringLiteral("\"\n") + error);
    return false;
}

bool DialogEventLog::refreshView()
{
    model->setQuery(LogSql::selectView, db);
    if (ui->tableView->model() != model)
        ui->tableView->setModel(model);
    ui->tableView->setColumnHidden(3, true);
    ui->tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->tableView->setSelectionMode(QAbstractItemView::SingleSelection);
    ui->tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->tableView->resizeColumnsToContents();
    // A file without the Log table gives no columns, and the header must not be asked about one.
    if (model->columnCount() > 2)
        ui->tableView->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    ui->tableView->horizontalHeader()->setStretchLastSection(true);
    return !model->lastError().isValid();
}

void DialogEventLog::showOpenFile()
{
    setWindowTitle(db.isOpen() ? logWindowTitle + QStringLiteral(" — ") + QFileInfo(db.databaseName()).fileName()
                               : logWindowTitle);
}

void DialogEventLog::showStatus(const QString& what)
{
    ui->statusBar->showMessage(timedStatus(what));
}

void DialogEventLog::reportSqlError(const QSqlQuery& query)
{
    QMessageBox::critical(this, errorTitle, query.lastError().text());
}

void DialogEventLog::resetTransfer()
{
    // The message of an earlier transfer would share the status bar with the new one's bar.
    ui->statusBar->clearMessage();
    state = Hart::EventLogState::Info;
    lastSubcommand = 4;
    remaining = 0;
    requestFlags = 0;
    updateProgress();
}

void DialogEventLog::stopTransfer()
{
    ui->actionRead->setChecked(false);
    requestFlags = 0;
    remaining = 0;
    state = Hart::EventLogState::Info;
    lastSubcommand = 4;
    updateProgress();
}

bool DialogEventLog::readyToTransfer()
{
    if (!db.isOpen()) {
        stopTransfer();
        QMessageBox::critical(this, errorTitle, QStringLiteral("Файл журнала не открыт"));
        return false;
    }
    if (!owner.isPortOpen || !owner.isPortOpen()) {
        stopTransfer();
        QMessageBox::critical(this, errorTitle, QStringLiteral("Соединение не установлено"));
        return false;
    }
    // The master starts with a device type but no device id: until command 0 has answered,
    // long frames would go to no device. Command 0 is served before the transfer.
    if (owner.master && owner.identity && (owner.master->expandedDeviceType == 0 || owner.master->deviceId == 0))
        owner.identity->requestFlags |= Hart::IdentityRequest::ReadUniqueIdentifier;
    return true;
}

void DialogEventLog::on_actionRead_triggered(bool checked)
{
    resetTransfer();
    if (!checked || !readyToTransfer())
        return;
    requestFlags |= Hart::EventLogRequest::Read;
}

void DialogEventLog::on_actionErase_triggered()
{
    // Abandons a running download; the download's check mark stays as it is.
    resetTransfer();
    if (!readyToTransfer())
        return;
    requestFlags |= Hart::EventLogRequest::Erase;
}

void DialogEventLog::closeEvent(QCloseEvent* event)
{
    stopTransfer();
    emit closed();
    event->accept();
}

void DialogEventLog::beginProgressPhase(std::uint64_t units, int barEnd)
{
    phaseStart = progressBar->isHidden() ? 0 : progressBar->value();
    phaseEnd = std::max(barEnd, phaseStart);
    phaseUnits = units;
}

void DialogEventLog::updateProgress(std::uint64_t done)
{
    if (state == Hart::EventLogState::Finished || remaining == 0 || phaseUnits == 0) {
        progressBar->hide();
        progressBar->setValue(0);
        phaseUnits = 0;
        return;
    }
    progressMaximum = barScale;
    progressBar->setRange(0, barScale);
    const std::uint64_t part = std::min(done, phaseUnits);
    const int value = phaseStart + int(std::uint64_t(phaseEnd - phaseStart) * part / phaseUnits);
    if (progressBar->isHidden() || value > progressBar->value())
        progressBar->setValue(value);
    progressBar->show();
}

bool DialogEventLog::saveCatalogueIds()
{
    QSqlQuery query(db);
    query.prepare(LogSql::updateInfo);
    query.bindValue(QStringLiteral(":idHash"), idHash);
    query.bindValue(QStringLiteral(":captionHash"), captionHash);
    if (!query.exec()) {
        stopTransfer();
        reportSqlError(query);
        return false;
    }
    return true;
}

bool DialogEventLog::onInfoReceived(Hart::ParserMasterEventLog* log, std::uint16_t captionCount,
                                    std::uint32_t infoA, std::uint32_t infoB)
{
    DialogEventLog* w = windowOf(log);
    w->eventCount = captionCount;
    w->idHash = infoA;
    w->idHashDevice = w->owner.master ? w->owner.master->deviceId : 0;
    w->captionHash = infoB;
    QSqlQuery query(w->db);
    if (!query.exec(LogSql::selectInfo)) {
        w->stopTransfer();
        w->reportSqlError(query);
        return false;
    }
    const bool known = query.next() && !query.value(0).isNull() && !query.value(1).isNull();
    if (known) {
        // Compared as unsigned 32-bit numbers, whatever type the file holds them in.
        const bool sameId = std::uint32_t(query.value(0).toLongLong()) == w->idHash;
        const bool sameCaptions = std::uint32_t(query.value(1).toLongLong()) == w->captionHash;
        query.finish();
        if (sameId && sameCaptions)
            return false; // the file's catalogue is current
        if (sameId)
            return true;  // the same device with new texts: read them without asking
        // No keeps the file's catalogue; the records are downloaded all the same.
        const auto answer = QMessageBox::question(
            w, QStringLiteral("Обновление конфигурации журнала"),
            QStringLiteral("Конфигурация журнала устройства отличается от открытого журнала.\n"
                           "Обновить конфигурацию?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
        if (answer == QMessageBox::No)
            return false;
    }
    query.finish();
    if (w->eventCount == 0 && !w->saveCatalogueIds())
        return false;
    w->beginProgressPhase(w->eventCount, barScale / 2);
    w->updateProgress();
    return true;
}

void DialogEventLog::onCaptionReceived(Hart::ParserMasterEventLog* log, std::uint16_t index, std::uint32_t id,
                                       const char* text)
{
    DialogEventLog* w = windowOf(log);
    QSqlQuery query(w->db);
    query.prepare(LogSql::insertEvent);
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":type"), 0);
    query.bindValue(QStringLiteral(":caption"), fromDeviceText(text));
    if (!query.exec()) {
        w->stopTransfer();
        w->reportSqlError(query);
        return;
    }
    // The identifiers go in only with the last entry: a catalogue cut short is read again.
    if (index == w->eventCount - 1) {
        if (!w->saveCatalogueIds())
            return;
        // Records stored under the old catalogue get their texts now, not at the next reopening.
        w->refreshView();
    }
    w->updateProgress(std::uint64_t(index) + 1);
}

std::uint32_t DialogEventLog::onRangeReceived(Hart::ParserMasterEventLog* log, std::uint32_t first,
                                              std::uint32_t count)
{
    DialogEventLog* w = windowOf(log);
    QSqlQuery query(w->db);
    if (!query.exec(LogSql::selectLastRecord)) {
        w->stopTransfer();
        w->reportSqlError(query);
        return first + count;
    }
    const std::uint32_t next = query.next() ? std::uint32_t(query.value(0).toLongLong() + query.value(1).toLongLong())
                                            : first;
    // The positions still to read, as the decoder will count them from the resume point.
    const std::uint64_t end = std::uint64_t(first) + count;
    const std::uint64_t from = std::max(next, first);
    w->beginProgressPhase(end > from ? end - from : 0, barScale);
    w->updateProgress();
    return next;
}

void DialogEventLog::onRecordReceived(Hart::ParserMasterEventLog* log, std::uint32_t index, std::uint8_t count,
                                      std::uint8_t type, std::uint32_t valueA, std::uint32_t valueB,
                                      const std::uint8_t* data, std::uint32_t length)
{
    DialogEventLog* w = windowOf(log);
    QSqlQuery query(w->db);
    query.prepare(LogSql::insertRecord);
    query.bindValue(QStringLiteral(":i"), index);
    query.bindValue(QStringLiteral(":count"), int(count));
    query.bindValue(QStringLiteral(":dt"), valueA);
    query.bindValue(QStringLiteral(":type"), int(type));
    query.bindValue(QStringLiteral(":event"), valueB);
    query.bindValue(QStringLiteral(":data"), QByteArray(reinterpret_cast<const char*>(data), int(length)));
    if (!query.exec()) {
        w->stopTransfer();
        w->reportSqlError(query);
        return;
    }
    query.finish();
    w->refreshView();
    // remaining still counts the positions of this record.
    w->updateProgress(w->phaseUnits - std::min<std::uint64_t>(w->phaseUnits, w->remaining) + count);
}

void DialogEventLog::onTransferFinished(Hart::ParserMasterEventLog* log)
{
    DialogEventLog* w = windowOf(log);
    w->updateProgress();
    w->ui->actionRead->setChecked(false);
    w->showStatus(QStringLiteral("Журнал событий загружен"));
}

void DialogEventLog::onEraseDone(Hart::ParserMasterEventLog* log)
{
    windowOf(log)->showStatus(QStringLiteral("Журнал событий в устройстве очищен"));
}

bool DialogEventLog::isLogOf(std::uint32_t deviceId) const
{
    if (!db.isOpen() || deviceId == 0 || idHashDevice != deviceId)
        return false;
    QSqlQuery query(db);
    return query.exec(LogSql::selectInfo) && query.next() && !query.value(0).isNull()
        && std::uint32_t(query.value(0).toLongLong()) == idHash;
}

QList<QStringList> DialogEventLog::lastRecords(int count) const
{
    QList<QStringList> rows;
    QSqlQuery query(db);
    // Forward only, keeping the last rows alone: a log of any length costs count rows.
    query.setForwardOnly(true);
    if (count <= 0 || !query.exec(LogSql::selectView))
        return rows;
    while (query.next()) {
        rows.append({ query.value(0).toString(), query.value(1).toString(),
                      LogViewModel::messageText(query.value(2), query.value(3).toByteArray()) });
        if (rows.size() > count)
            rows.removeFirst();
    }
    return rows;
}
