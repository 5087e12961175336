#pragma once

#include "serialport.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A port that plays a script of reads and records what happens, for driving the terminal's
// real worker loop without a device. The journal outlives the port, which the terminal owns.
struct PortJournal {
    struct Event {
        bool isWrite;
        std::vector<std::uint8_t> bytes; // bytes read or written; empty for an empty read
    };
    struct Read {
        std::vector<std::uint8_t> bytes;
        std::function<void()> during; // runs on the worker inside the read
    };

    std::mutex mutex;
    std::deque<Read> script;
    std::vector<Event> events;
    int readDelayUs = 0; // added to every read that delivers bytes

    std::size_t scriptLeft()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return script.size();
    }
    void add(std::vector<std::uint8_t> bytes, std::function<void()> during = {})
    {
        std::lock_guard<std::mutex> lock(mutex);
        script.push_back({std::move(bytes), std::move(during)});
    }
    std::vector<Event> snapshot()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }
    std::vector<std::vector<std::uint8_t>> writes()
    {
        std::vector<std::vector<std::uint8_t>> blocks;
        for (const Event& event : snapshot())
            if (event.isWrite)
                blocks.push_back(event.bytes);
        return blocks;
    }
};

class ScriptedPort : public SerialPort {
public:
    explicit ScriptedPort(std::shared_ptr<PortJournal> journal) : journal(std::move(journal)) {}

    SerialPortError open(const char*, const SerialLineSettings&, unsigned) override { return SerialPortError::None; }
    bool isOpen() const override { return opened; }
    void close() override { opened = false; }
    SerialPortError purge() override { return SerialPortError::None; }
    void clearErrors() override {}
    void raiseThreadPriority() override {}
    void lowerThreadPriority() override {}
    SerialPortError read(std::uint8_t* data, std::size_t capacity, std::size_t& received) override
    {
        PortJournal::Read next;
        {
            std::lock_guard<std::mutex> lock(journal->mutex);
            if (!journal->script.empty()) {
                next = std::move(journal->script.front());
                journal->script.pop_front();
            }
        }
        if (next.during)
            next.during();
        std::this_thread::sleep_for(std::chrono::microseconds(next.bytes.empty() ? 1000 : journal->readDelayUs));
        received = std::min(capacity, next.bytes.size());
        std::copy(next.bytes.begin(), next.bytes.begin() + long(received), data);
        std::lock_guard<std::mutex> lock(journal->mutex);
        journal->events.push_back({false, next.bytes});
        return SerialPortError::None;
    }
    SerialPortError write(const std::uint8_t* data, std::size_t size) override
    {
        std::lock_guard<std::mutex> lock(journal->mutex);
        journal->events.push_back({true, std::vector<std::uint8_t>(data, data + size)});
        return SerialPortError::None;
    }

private:
    std::shared_ptr<PortJournal> journal;
    bool opened = true;
};
