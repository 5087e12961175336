#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class DialogFind;
}

// Asks how to look for a field device on the loop. The dialog sends nothing: exec() returns the
// kind of search and the caller reads the range or the text through the accessors.
class DialogFind : public QDialog
{
    Q_OBJECT

public:
    enum Result {
        NoSearch = 0,
        ByAddressRange = 1,
        ByTag = 2,
        ByLongTag = 3,
    };

    explicit DialogFind(QWidget* parent = nullptr);
    ~DialogFind() override;

    int firstAddress() const;
    int lastAddress() const;
    QString tagText() const;
    QString longTagText() const;

private slots:
    void on_findAddres_clicked();
    void on_findTag_clicked();
    void on_findLongTag_clicked();
    void on_addrFrom_valueChanged(int arg1);
    void on_addrTo_valueChanged(int arg1);
    void on_tag_textChanged(const QString& arg1);

private:
    Ui::DialogFind* ui;
};
