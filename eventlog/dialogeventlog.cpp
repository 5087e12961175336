#include "dialogeventlog.h"
#include "ui_dialogeventlog.h"

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
    // The default connection: the window is the one log file a session of the program works on.
    : QMainWindow(parent), LogDownload(QLatin1String(QSqlDatabase::defaultConnection), owner.master),
      ui(new Ui::DialogEventLog), owner(owner)
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
    model = new LogViewModel(this);
}

DialogEventLog::~DialogEventLog()
{
    // The model's query goes before the download unregisters the connection.
    model->clear();
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
    QString error;
    const bool created = createFile(fileName, &error);
    showOpenFile();
    if (!created) {
        QMessageBox::critical(this, errorTitle, error);
        return;
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
    QString error;
    const bool opened = openFile(fileName, &error);
    showOpenFile();
    if (!opened) {
        QMessageBox::critical(this, errorTitle, error);
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
    LogDownload::stopTransfer();
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

bool DialogEventLog::replaceCatalogue()
{
    // No keeps the file's catalogue; the records are downloaded all the same.
    return QMessageBox::question(this, QStringLiteral("Обновление конфигурации журнала"),
                                 QStringLiteral("Конфигурация журнала устройства отличается от открытого журнала.\n"
                                                "Обновить конфигурацию?"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton)
        == QMessageBox::Yes;
}

void DialogEventLog::storeFailed(const QString& error)
{
    QMessageBox::critical(this, errorTitle, error);
}

void DialogEventLog::phaseStarted(Phase phase, std::uint64_t units)
{
    beginProgressPhase(units, phase == Phase::Catalogue ? barScale / 2 : barScale);
    updateProgress();
}

void DialogEventLog::transferFinished()
{
    updateProgress();
    ui->actionRead->setChecked(false);
    showStatus(QStringLiteral("Журнал событий загружен"));
}

void DialogEventLog::logErased()
{
    showStatus(QStringLiteral("Журнал событий в устройстве очищен"));
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
