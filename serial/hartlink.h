#pragma once
// The link below the HART master: the serial terminal or a HART-IP session. The engine hands
// requests over and takes answers through this alone, in a frame buffer the owner provides.

#include <cstdint>

// Who holds the frame buffer and what it contains. The master (GUI thread) owns it in
// Received and Filling, the link in every other state.
enum class TerminalState : std::uint8_t {
    Idle = 0,              // listening, buffer empty
    Receiving = 1,         // part of an incoming frame is stored
    Received = 2,          // a complete frame lies in the buffer for the master
    Filling = 3,           // the master is writing a request
    TransmitRequested = 4, // the request goes out at the next silence on the line
    Transmitting = 5,      // the worker is sending the request
};

class HartLink {
public:
    using FrameHook = void (*)(void* context);

    virtual ~HartLink() = default;

    // Closing discards whatever request is pending or half sent.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The link failed while open; close() still has to release it.
    virtual bool portLost() const = 0;
    virtual TerminalState state() const = 0;
    // Length of the frame at the start of the buffer while the state is Received, else 0.
    virtual std::uint32_t receivedLength() const = 0;
    virtual void releaseReceived() = 0;
    // The buffer for a request, or nullptr while the link cannot take one.
    virtual std::uint8_t* claimForTransmit() = 0;
    // Sends the request of length bytes (preambles included) written into the claimed buffer.
    virtual bool transmit(std::uint32_t length) = 0;
    // Called once a frame lies ready; set while the link is closed.
    virtual void setFrameReceivedHook(FrameHook hook, void* context) = 0;
};

// The link the engine talks to: whichever of its links was opened last. Every call goes to it,
// so the engine's code path is the same for all of them.
class LinkSwitch : public HartLink {
public:
    explicit LinkSwitch(HartLink& initial)
        : m_active(&initial)
    {
    }

    // Chooses the link for the next session; the one in use is closed first.
    void select(HartLink& link)
    {
        if (&link != m_active)
            m_active->close();
        m_active = &link;
        m_active->setFrameReceivedHook(m_hook, m_hookContext);
    }
    HartLink& active() const { return *m_active; }

    void close() override { m_active->close(); }
    bool isOpen() const override { return m_active->isOpen(); }
    bool portLost() const override { return m_active->portLost(); }
    TerminalState state() const override { return m_active->state(); }
    std::uint32_t receivedLength() const override { return m_active->receivedLength(); }
    void releaseReceived() override { m_active->releaseReceived(); }
    std::uint8_t* claimForTransmit() override { return m_active->claimForTransmit(); }
    bool transmit(std::uint32_t length) override { return m_active->transmit(length); }
    void setFrameReceivedHook(FrameHook hook, void* context) override
    {
        m_hook = hook;
        m_hookContext = context;
        m_active->setFrameReceivedHook(hook, context);
    }

private:
    HartLink* m_active;
    FrameHook m_hook = nullptr;
    void* m_hookContext = nullptr;
};
