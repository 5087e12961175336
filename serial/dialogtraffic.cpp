#include "dialogtraffic.h"

#include "ui_dialogtraffic.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTextCursor>

#include <chrono>

namespace {
// Past this much HTML the monitor starts over, so an append never gets slower with the hours.
constexpr int maxDocumentHtmlLength = 65535;
} // namespace

DialogTraffic::DialogTraffic(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogTraffic)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    // Beside "Очистить", which also starts the capture afresh.
    auto* save = new QPushButton(QStringLiteral("Сохранить захват…"), ui->frame_4);
    save->setObjectName(QStringLiteral("saveCapture"));
    save->setToolTip(QStringLiteral("Все пакеты после последнего нажатия «Очистить» в файл pcap (HART-IP) для Wireshark"));
    ui->verticalLayout_3->insertWidget(ui->verticalLayout_3->indexOf(ui->clear), save);
    connect(save, &QPushButton::clicked, this, &DialogTraffic::askAndSaveCapture);
}

DialogTraffic::~DialogTraffic()
{
    delete ui;
}

void DialogTraffic::appendHtml(const QString& line)
{
    if (!isVisible())
        return;
    if (ui->textEdit->toHtml().size() > maxDocumentHtmlLength)
        ui->textEdit->clear();
    // From the end, whatever the user has selected; then the view follows the new line.
    ui->textEdit->moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
    ui->textEdit->insertHtml(line);
    ui->textEdit->moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
}

void DialogTraffic::showEvent(QShowEvent* event)
{
    ui->textEdit->clear();
    QDialog::showEvent(event);
}

void DialogTraffic::on_clear_clicked()
{
    ui->textEdit->clear();
    frames.clear();
}

void DialogTraffic::recordFrame(const std::uint8_t* bytes, std::uint32_t length, bool outgoing)
{
    using namespace std::chrono;
    if (capturingHartIp)
        return;
    frames.record(bytes, length, outgoing, duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

void DialogTraffic::recordHartIpMessage(const std::uint8_t* bytes, std::uint32_t length, bool outgoing, bool tcp)
{
    using namespace std::chrono;
    frames.recordHartIpMessage(bytes, length, outgoing, tcp,
                               duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

bool DialogTraffic::saveCapture(const QString& path)
{
    QString reason;
    if (frames.writePcap(path, &reason))
        return true;
    QMessageBox::critical(this, QStringLiteral("Ошибка"),
                          QStringLiteral("Не удалось сохранить захват в файл ") + path + QStringLiteral(": ") + reason);
    return false;
}

void DialogTraffic::askAndSaveCapture()
{
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить захват"), QString(),
                                                QStringLiteral("Захват HART-IP (*.pcap)"));
    if (path.isEmpty())
        return;
    // Wireshark picks its reader by content, but the file manager by the suffix.
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pcap");
    saveCapture(path);
}
