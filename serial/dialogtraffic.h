#pragma once

#include <QDialog>

class QShowEvent;

namespace Ui {
class DialogTraffic;
}

// The traffic monitor: one rich-text line per frame sent or received, newest at the bottom.
// It keeps lines only while it is shown, and starts empty each time it is shown.
class DialogTraffic : public QDialog {
    Q_OBJECT

public:
    explicit DialogTraffic(QWidget* parent = nullptr);
    ~DialogTraffic() override;

    // Adds a line made by renderFrame; dropped while the window is hidden.
    void appendHtml(const QString& line);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void on_clear_clicked();

private:
    Ui::DialogTraffic* ui;
};
