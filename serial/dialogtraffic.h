#pragma once

#include "trafficcapture.h"

#include <QDialog>

#include <cstdint>

class QShowEvent;

namespace Ui {
class DialogTraffic;
}

// The traffic monitor: one rich-text line per frame sent or received, newest at the bottom.
// It keeps lines only while it is shown, and starts empty each time it is shown. Apart from the
// text it keeps every frame since "Очистить", shown or not, for "Сохранить захват…".
class DialogTraffic : public QDialog {
    Q_OBJECT

public:
    explicit DialogTraffic(QWidget* parent = nullptr);
    ~DialogTraffic() override;

    // Adds a line made by renderFrame; dropped while the window is hidden.
    void appendHtml(const QString& line);

    // Keeps one frame as it went out or came in, stamped with the current time.
    void recordFrame(const std::uint8_t* bytes, std::uint32_t length, bool outgoing);
    // Keeps a HART-IP message of the session in use. While a session is captured this way, the
    // frames it carries are not kept a second time.
    void recordHartIpMessage(const std::uint8_t* bytes, std::uint32_t length, bool outgoing, bool tcp);
    void setCapturingHartIp(bool on) { capturingHartIp = on; }
    const TrafficCapture& capture() const { return frames; }
    // Writes the kept frames as a pcap file; false, after telling the user, on failure.
    bool saveCapture(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void on_clear_clicked();

private:
    void askAndSaveCapture();

    Ui::DialogTraffic* ui;
    TrafficCapture frames;
    bool capturingHartIp = false;
};
