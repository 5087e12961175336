#pragma once

#include "hartiplink.h"

#include <QDialog>
#include <QStringList>

class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace Ui {
class DialogPortSettings;
}

// Lets the user pick the HART modem's serial port, or a HART-IP server (host, port, UDP or TCP).
// The caller preselects the port used last through port() and the server through setHartIp(),
// runs the dialog and reads the choice back.
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

    void setHartIp(bool chosen, const HartIpAddress& address);
    bool hartIpChosen() const;
    HartIpAddress hartIpAddress() const;

private:
    void addHartIpChoice();

    Ui::DialogPortSettings* ui;
    QRadioButton* serialChoice = nullptr;
    QRadioButton* hartIpChoice = nullptr;
    QLineEdit* hartIpHost = nullptr;
    QSpinBox* hartIpPort = nullptr;
    QComboBox* hartIpTransport = nullptr;
};
