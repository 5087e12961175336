#include "dialogfind.h"
#include "textfields.h"
#include "ui_dialogfind.h"

#include <QRegExp>
#include <QRegExpValidator>

DialogFind::DialogFind(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogFind)
{
    ui->setupUi(this);
    // A tag goes out in packed ASCII, which holds only 0x20..0x5F; a long tag is 8-bit text.
    ui->tag->setValidator(new QRegExpValidator(QRegExp(QStringLiteral("[\\x0020-\\x005F]{0,8}")), ui->tag));
    ui->longTag->setValidator(
        new QRegExpValidator(QRegExp(QStringLiteral("[\\x0020-\\x00FF]{0,32}")), ui->longTag));
}

DialogFind::~DialogFind()
{
    delete ui;
}

int DialogFind::firstAddress() const
{
    return ui->addrFrom->value();
}

int DialogFind::lastAddress() const
{
    return ui->addrTo->value();
}

QString DialogFind::tagText() const
{
    return ui->tag->text();
}

QString DialogFind::longTagText() const
{
    return ui->longTag->text();
}

void DialogFind::on_findAddres_clicked()
{
    done(ByAddressRange);
}

void DialogFind::on_findTag_clicked()
{
    done(ByTag);
}

void DialogFind::on_findLongTag_clicked()
{
    done(ByLongTag);
}

void DialogFind::on_addrFrom_valueChanged(int arg1)
{
    if (ui->addrTo->value() < arg1)
        ui->addrTo->setValue(arg1);
}

void DialogFind::on_addrTo_valueChanged(int arg1)
{
    if (ui->addrFrom->value() > arg1)
        ui->addrFrom->setValue(arg1);
}

void DialogFind::on_tag_textChanged(const QString& arg1)
{
    keepUpperCase(ui->tag, arg1);
}
