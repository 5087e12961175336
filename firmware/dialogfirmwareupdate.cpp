#include "dialogfirmwareupdate.h"
#include "ui_dialogfirmwareupdate.h"

#include "timedstatus.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QShowEvent>
#include <QTimer>

#include <climits>

namespace {

const QString errorTitle = QStringLiteral("Ошибка");

}

DialogFirmwareUpdate::DialogFirmwareUpdate(FirmwareUpdateOwner owner, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogFirmwareUpdate)
    , owner(std::move(owner))
{
    ui->setupUi(this);
    begin = beginImage;
    readChunk = readImage;
    onProgress = showProgress;
}

DialogFirmwareUpdate::~DialogFirmwareUpdate()
{
    delete ui;
}

bool DialogFirmwareUpdate::isImageOpen() const
{
    return file && file->isOpen();
}

void DialogFirmwareUpdate::on_fileOpen_clicked()
{
    const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("Открыть файл"),
                                                      owner.openDirectory ? owner.openDirectory() : QString(),
                                                      QStringLiteral("Файлы прошивки (*.fwb)"));
    if (name.isEmpty())
        return;
    if (owner.rememberOpenDirectory)
        owner.rememberOpenDirectory(QFileInfo(name).absolutePath());
    ui->fileName->setText(name.trimmed());
}

void DialogFirmwareUpdate::on_fileName_textChanged(const QString& text)
{
    ui->update->setEnabled(QFileInfo(text.trimmed()).isFile());
}

void DialogFirmwareUpdate::on_update_clicked()
{
    const QString name = ui->fileName->text().trimmed();
    if (!QFileInfo(name).isFile())
        return;
    // The port may have been lost since the window opened: a request now would only time out.
    if (owner.isPortOpen && !owner.isPortOpen()) {
        stopTransfer();
        QMessageBox::critical(this, errorTitle, QStringLiteral("Соединение не установлено"), QMessageBox::Ok);
        return;
    }
    // A second start begins again from the size announcement with the file reopened.
    file = std::make_unique<QFile>(name);
    // Unbuffered, so every chunk is read from the file as it is now, not from a copy read ahead.
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        // The earlier image is closed already: a transfer still running has nothing to send.
        stopTransfer();
        file.reset();
        QMessageBox::critical(this, errorTitle, QStringLiteral("Не удается открыть файл"), QMessageBox::Ok);
        return;
    }
    // The image goes to the device's unique address, so a device never identified since the
    // start (no device id yet) is identified first, like one lost in a search. Command 0 sits
    // before command 253 in the same class, so it goes out first.
    if (owner.master && owner.identity && (owner.master->expandedDeviceType == 0 || owner.master->deviceId == 0))
        owner.identity->requestFlags |= Hart::IdentityRequest::ReadUniqueIdentifier;
    started = 0;
    rateStarted = false;
    ui->progressBar->setFormat(QStringLiteral("%p%"));
    requestFlags |= Hart::FirmwareRequest::Transfer;
}

void DialogFirmwareUpdate::on_buttonBox_rejected()
{
    stopTransfer();
}

void DialogFirmwareUpdate::closeEvent(QCloseEvent* event)
{
    stopTransfer();
    QDialog::closeEvent(event);
}

void DialogFirmwareUpdate::showEvent(QShowEvent* event)
{
    ui->progressBar->setValue(0);
    ui->progressBar->hide();
    QDialog::showEvent(event);
}

void DialogFirmwareUpdate::stopTransfer()
{
    requestFlags &= std::uint8_t(~Hart::FirmwareRequest::Transfer);
}

void DialogFirmwareUpdate::closeImage()
{
    file.reset();
}

void DialogFirmwareUpdate::reportEnd(bool success, const QString& text)
{
    QTimer::singleShot(0, this, [this, success, text] {
        if (success)
            QMessageBox::information(this, QStringLiteral("Обновление ПО"), text, QMessageBox::Ok);
        else
            QMessageBox::critical(this, errorTitle, text, QMessageBox::Ok);
    });
}

std::uint32_t DialogFirmwareUpdate::beginImage(Hart::ParserMasterFirmwareUpdate* update)
{
    return windowOf(update)->imageSize();
}

void DialogFirmwareUpdate::readImage(Hart::ParserMasterFirmwareUpdate* update, std::uint32_t offset,
                                     std::uint8_t* destination, std::uint32_t length)
{
    windowOf(update)->readChunkAt(offset, destination, length);
}

void DialogFirmwareUpdate::showProgress(Hart::ParserMasterFirmwareUpdate* update, std::uint32_t nextOffset)
{
    windowOf(update)->progressTo(nextOffset);
}

std::uint32_t DialogFirmwareUpdate::imageSize()
{
    if (!isImageOpen())
        return 0;
    const qint64 bytes = file->size();
    // The device learns the size as 32 bits and names offsets in 32 bits: a larger file cannot
    // be sent, and an empty one has nothing to send. Either is said plainly rather than sent.
    if (bytes <= 0 || bytes > qint64(UINT32_MAX)) {
        closeImage();
        reportEnd(false, bytes <= 0 ? QStringLiteral("Файл прошивки пуст")
                                    : QStringLiteral("Файл прошивки слишком велик"));
        return 0;
    }
    barShift = 0;
    while ((bytes >> barShift) > INT_MAX)
        ++barShift;
    ui->progressBar->setRange(0, barValue(std::uint32_t(bytes)));
    ui->progressBar->setValue(0);
    ui->progressBar->show();
    return std::uint32_t(bytes);
}

void DialogFirmwareUpdate::readChunkAt(std::uint32_t offset, std::uint8_t* destination, std::uint32_t length)
{
    // A file cut short or unreadable since the start would send made-up bytes: the transfer
    // stops instead, and the engine sends nothing.
    if (!isImageOpen() || !file->seek(offset)
        || file->read(reinterpret_cast<char*>(destination), qint64(length)) != qint64(length)) {
        stopTransfer();
        closeImage();
        reportEnd(false, QStringLiteral("Не удается прочитать файл прошивки"));
    }
}

void DialogFirmwareUpdate::progressTo(std::uint32_t offset)
{
    // QWidget has a size of its own.
    const std::uint32_t imageBytes = Hart::ParserMasterFirmwareUpdate::size;
    if (offset < imageBytes) {
        ui->progressBar->setValue(barValue(offset));
        showTimeLeft(offset);
        return;
    }
    // The decoder has ended the transfer; only an offset equal to the size means the device
    // has the whole image.
    closeImage();
    if (offset == imageBytes) {
        ui->progressBar->setValue(barValue(offset));
        ui->progressBar->setFormat(QStringLiteral("%p%"));
        emit finishedWith(timedStatus(QStringLiteral("ПО обновлено")));
        reportEnd(true, QStringLiteral("Обновление выполнено"));
    } else {
        const QString reason = QStringLiteral("Устройство запросило данные за концом файла прошивки. "
                                              "Обновление не выполнено");
        emit failedWith(reason);
        reportEnd(false, reason);
    }
}

void DialogFirmwareUpdate::showTimeLeft(std::uint32_t offset)
{
    const std::uint32_t now = Hart::currentTick();
    // The device may ask for an earlier offset again: the rate is measured afresh from there.
    if (!rateStarted || offset < rateFromOffset) {
        rateStarted = true;
        rateFromOffset = offset;
        rateFromTick = now;
        ui->progressBar->setFormat(QStringLiteral("%p%"));
        return;
    }
    const std::uint64_t sent = offset - rateFromOffset;
    const std::uint64_t elapsedMs = std::uint32_t(now - rateFromTick);
    if (sent == 0 || elapsedMs == 0)
        return;
    const std::uint64_t left = Hart::ParserMasterFirmwareUpdate::size - offset;
    const std::uint64_t seconds = (left * elapsedMs / sent + 999) / 1000;
    const QString time = seconds >= 60 ? QStringLiteral("%1 мин %2 с").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'))
                                       : QStringLiteral("%1 с").arg(seconds);
    ui->progressBar->setFormat(QStringLiteral("%p%, осталось ") + time);
}
