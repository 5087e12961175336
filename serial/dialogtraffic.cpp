#include "dialogtraffic.h"

#include "ui_dialogtraffic.h"

#include <QTextCursor>

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
}
