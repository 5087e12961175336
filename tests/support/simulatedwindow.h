#pragma once

#include "mainwindow.h"
#include "sim/simulator.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "modalanswerer.h"

// A main window connected through the real port dialog, terminal and POSIX backend to a
// simulated detector on a pseudo-terminal. The window's timers are stopped: the test ticks the
// engine itself and moves the frame layer's clock as it likes.
class DialogFirmwareUpdate;

// Runs the firmware window modally from the main window's action, types the image's name and
// presses "Обновить ПО"; `started` then gets the window. The window is closed once a box has
// told how the update ended, or after limitMs.
void runFirmwareUpdate(ModalAnswerer& answerer, MainWindow& window, const QString& image,
                       const std::function<void(DialogFirmwareUpdate*)>& started = nullptr, int limitMs = 20000);

// The link the window reaches the simulated detector through: its pseudo-terminal, or its
// HART-IP server on the loopback.
enum class SimulatedLink { Serial, HartIpUdp, HartIpTcp };

// Sanitized builds run every thread several times slower, the simulator's too: the real-time
// waits for an answer are stretched by this factor, and the faults timed against them alike.
#if defined(__SANITIZE_THREAD__)
constexpr int realTimeScale = 5;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int realTimeScale = 2;
#else
constexpr int realTimeScale = 1;
#endif

class SimulatedWindow {
public:
    SimulatedWindow(ModalAnswerer& answerer, const Sim::Options& options = Sim::Options(),
                    SimulatedLink link = SimulatedLink::Serial);

    bool isConnected() const { return connected; }
    MainWindow& window() { return *mainWindow; }
    Sim::Simulator& simulator() { return *sim; }
    // The window's own timers, for tests that run with real time.
    void startTimers();
    // The port the simulator serves HART-IP on; 0 (the default) takes a free one.
    static uint16_t hartIpPort;
    // Connects through the port dialog to this HART-IP server (the simulator's, or another).
    static void chooseHartIp(ModalAnswerer& answerer, uint16_t port, bool tcp);

    // One tick of the parse timer; if it sent a request, waits (real time) until the answer is
    // back in the terminal. Returns whether a frame went out.
    bool tick(int answerWaitMs = 1000);

    // Ticks until nothing more goes out and returns the commands the device saw meanwhile.
    // Every request must reach the device before the next goes out: oneAtATime turns false if
    // a tick ever sends more than one.
    std::vector<uint16_t> runUntilQuiet(int maxTicks = 60, bool* oneAtATime = nullptr);

    static QString commandList(const std::vector<uint16_t>& commands);
    static std::vector<uint16_t> commandsOf(const std::vector<Sim::ReceivedRequest>& requests, size_t from = 0);

private:
    std::unique_ptr<Sim::Simulator> sim;
    std::unique_ptr<MainWindow> mainWindow;
    bool connected = false;
    // The HART-IP link lives on the GUI thread: waiting for its answer runs the event loop.
    bool network = false;
};

// The frame layer's clock for tests: installed by install(), moved by hand through `now`.
namespace TestClock {
extern uint32_t now;
void install(uint32_t start);
}

// What a test of the window on a simulated line holds from init() to cleanup(): the answerer,
// the rig, and short names for its window and device.
struct WindowBench {
    std::unique_ptr<ModalAnswerer> answerer;
    std::unique_ptr<SimulatedWindow> rig;
    std::unique_ptr<MainWindow> lineless;
    MainWindow* window = nullptr;
    Sim::Simulator* sim = nullptr;

    // A device of this model answering after 2 ms, which keeps many exchanges quick.
    static Sim::Options quick(uint16_t model = 0xFF04);
    void start() { answerer = std::make_unique<ModalAnswerer>(); }
    bool connectWindow(const Sim::Options& options = quick(), SimulatedLink link = SimulatedLink::Serial);
    void disconnectWindow();
    // A window without a line, for what needs no device.
    void linelessWindow();
    void finish();
    QAction* action(const char* name) const;
    QAction* logAction(const char* name) const;
    // The serial number the window shows once it has identified the device.
    QString serial() const;
    // The rows of the event-log window's view, every one fetched.
    int logRows() const;
    // Reads the device once, so that requests reach it by its unique address; then reading is
    // switched off and the device's log emptied.
    void readOnce(int maxTicks = 60);
    // The modem plugged in again with a detector on a new line, and the window connected to it.
    std::unique_ptr<Sim::Simulator> plugInNewDetector();
    // Ticks until quiet; the commands the device saw, separated by blanks.
    QString runUntilQuiet(int maxTicks = 60, bool* oneAtATime = nullptr);
    // Every command the device saw since its log was last emptied.
    QString sent() const;
    QStringList boxTexts() const;
};
