#pragma once

#include <QDialog>
#include <QString>

class QAction;
class QKeyEvent;

namespace Ui {
class DialogAbout;
}

// The maintenance action that the about dialog's key sequence reveals (the main window's
// optics calibration). The main window registers it once at construction; the dialog only
// makes it visible. Passing nullptr, or deleting the action, unregisters it.
void setMaintenanceAction(QAction* action);

// Shows the program's version information. Typing K L O V E N T while the dialog has the focus
// closes it and reveals the maintenance action for the rest of the run. Progress through the
// sequence is kept for the whole process, so it may be typed across several openings.
class DialogAbout : public QDialog
{
    Q_OBJECT

public:
    // The six strings of the program's version information.
    struct VersionStrings
    {
        QString productName;
        QString internalName;
        QString productVersion;
        QString releaseYear;
        QString companyName;
        QString companyDomain;
    };

    explicit DialogAbout(QWidget* parent = nullptr);
    DialogAbout(const VersionStrings& version, QWidget* parent = nullptr);
    ~DialogAbout() override;

    void setVersionStrings(const VersionStrings& version);

    // The rich text the dialog shows for these strings.
    static QString aboutText(const VersionStrings& version);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    Ui::DialogAbout* ui;
};
