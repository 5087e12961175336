#pragma once
// Every frame the traffic monitor was given, kept apart from its text so that trimming the text
// loses nothing, and written out as a HART-IP capture that Wireshark decodes frame by frame.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <deque>

class TrafficCapture {
public:
    struct Frame {
        qint64 timeUs = 0; // microseconds since the epoch
        QByteArray bytes; // as on the line, preamble included
        bool outgoing = false;
        // A HART-IP message as it crossed the network (bytes hold it whole), over TCP or UDP.
        bool hartIpMessage = false;
        bool tcp = false;
    };

    // A day of polling at 1200 baud is about 350 000 frames and under 10 MB of line bytes; the
    // oldest frames go first once either bound is reached.
    static constexpr std::size_t defaultMaxFrames = 500000;
    static constexpr std::size_t defaultMaxBytes = std::size_t(32) << 20;
    // No frame of the terminal is longer; anything longer is cut to this.
    static constexpr std::uint32_t maxFrameLength = 1024;

    explicit TrafficCapture(std::size_t maxFrames = defaultMaxFrames, std::size_t maxBytes = defaultMaxBytes);

    void record(const std::uint8_t* bytes, std::uint32_t length, bool outgoing, qint64 timeUs);
    // Keeps a real HART-IP message of a session (session messages included) as it is.
    void recordHartIpMessage(const std::uint8_t* bytes, std::uint32_t length, bool outgoing, bool tcp, qint64 timeUs);
    void clear();

    const std::deque<Frame>& frames() const { return stored; }
    std::size_t storedBytes() const { return byteCount; }
    // Frames dropped from the front since the last clear to stay within the bounds.
    std::size_t droppedFrames() const { return dropped; }

    // Writes the frames as a pcap file: each frame one UDP datagram between the configurator
    // and the detector's port 5094, in a HART-IP pass-through message without the preamble.
    // Requests count the sequence number up; a received frame carries the number of the
    // request before it. A damaged frame is kept whole as a HART-IP error message, so that it
    // shows as damaged and never decodes as a command. HART-IP messages of a session go as they
    // were, in UDP datagrams or TCP segments. False, with the reason, when the file cannot be
    // written.
    bool writePcap(const QString& path, QString* error) const;

private:
    std::deque<Frame> stored;
    std::size_t maxFrames;
    std::size_t maxBytes;
    std::size_t byteCount = 0;
    std::size_t dropped = 0;
};
