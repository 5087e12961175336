#pragma once

#include "comhalfduplexterminal.h"

#include <QMainWindow>
#include <QPalette>
#include <QString>

#include <cstdint>
#include <memory>

class QLabel;
class QSettings;
class QSpinBox;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The one main window of the process, for the about dialog's maintenance mode.
    static MainWindow* instance();

    bool isPortOpen() const { return terminal.isOpen(); }
    const QString& storedPortName() const { return portName; }
    int version() const { return versionNumber; }

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void on_connectButton_triggered();
    void on_aboutAction_triggered();

private:
    void readVersionStrings();
    void readSettings();
    void buildAddressBox();
    void updateConnectButton();

    Ui::MainWindow* ui = nullptr;
    std::unique_ptr<QSettings> settings;

    QString applicationPath;
    QString productName;
    QString internalName;
    QString productVersion;
    QString releaseYear;
    QString companyName;
    QString companyDomain;
    int versionNumber = 0;

    QString portName;
    QString lastOpenDir;
    QString lastSaveDir;

    QLabel* addressLabel = nullptr;
    QSpinBox* addressSpinBox = nullptr;

    // Text colours of the value displays: the first two red, the third the default.
    QPalette redTextPalette;
    QPalette valuePalette;
    QPalette normalPalette;

    // Parameter groups edited since the last write: 0x01 polling address, 0x02 tag,
    // descriptor and date, 0x04 long tag, 0x08 message, 0x10 detector, 0x20 currents.
    uint8_t modifiedGroups = 0;

    // The terminal works on this buffer, so it is declared first and destroyed last.
    uint8_t frameBuffer[256] = {};
    ComHalfDuplexTerminal terminal;
};
