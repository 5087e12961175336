#pragma once
// The audit trail's view of a HART master: a request frame that changes the device begins a
// committed record before it goes out; its answer, the lack of one or the lost line ends it.
// The window and the command-line tool both record through it.

#include "audittrail.h"

#include <cstdint>
#include <functional>

class AuditRecorder {
public:
    // The device and link the next record names, as the program shows them.
    struct Device {
        QString link;
        std::uint16_t deviceType = 0;
        std::uint32_t deviceId = 0;
        QString tag;
        std::uint8_t pollingAddress = 0;
        std::uint8_t loopCurrentMode = 0;
        QString addressCaption; // the polling address field's label
    };

    std::function<AuditTrail*()> trail;
    std::function<Device()> device;
    // A configuration write (commands 17, 18, 22, 132, 134): its operation text, and the
    // changed fields, which only the program knows.
    std::function<QString(std::uint16_t command, QList<Audit::Change>* changes)> describeWrite;

    void beforeSend(const std::uint8_t* frame, std::uint32_t length);
    // result is the master's parse result of the answer.
    void answered(std::uint32_t result, std::uint8_t responseCode);
    void end(Audit::Outcome outcome, int responseCode, const QString& text);
    bool isOpen() const { return record >= 0; }

    // What a request does to the device, in the user's words; empty for one that only reads.
    QString describe(std::uint16_t command, const std::uint8_t* data, std::uint32_t size, const Device& device,
                     QList<Audit::Change>* changes) const;

private:
    qint64 record = -1;
    std::uint16_t command = 0;
};
