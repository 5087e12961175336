#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;

namespace Ui {
class DialogPortSettings;
}

// Lets the user pick the HART modem's serial port. The caller preselects the port used last
// through port(), runs the dialog and reads the choice back from port().
class DialogPortSettings : public QDialog {
    Q_OBJECT

public:
    // Lists the ports present now; the list is not refreshed while the dialog is open.
    explicit DialogPortSettings(QWidget* parent = nullptr);
    // Lists the given names instead, in that order.
    DialogPortSettings(const QStringList& portNames, QWidget* parent);
    ~DialogPortSettings() override;

    // currentIndex() is -1 when there is no port to choose.
    QComboBox* port() const;

    static QStringList availablePortNames();

private:
    Ui::DialogPortSettings* ui;
};
