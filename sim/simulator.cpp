#include "sim/simulator.h"

#include "hart/encoding.h"
#include "sim/exchange.h"
#include "sim/frame.h"

#include <algorithm>

namespace Sim {

namespace {

constexpr std::size_t requestLogLimit = 20000;
constexpr std::uint8_t extendedCommand = 31;

bool takesBroadcast(std::uint16_t command)
{
    return command == 11 || command == 21 || command == 73;
}

bool identifies(std::uint16_t command)
{
    return command == 0 || takesBroadcast(command);
}

// After a reset the device starts afresh: a new cold start, the loop back to its measured value,
// a temporary lock gone, the service operations forgotten.
void resetDevice(DeviceState& s)
{
    s.coldStart = true;
    s.fixedCurrent = false;
    if ((s.lockState & 0x02) == 0)
        s.lockState = 0;
    s.calibration.state = 0;
    s.opticsCheck.state = 0;
}

ReceivedRequest describe(const RequestFrame& frame, Clock::time_point arrived)
{
    ReceivedRequest rec;
    rec.time = arrived;
    rec.preambles = frame.preambles;
    rec.delimiter = frame.delimiter;
    rec.address = frame.address;
    rec.command = frame.command;
    rec.data = frame.data;
    if (frame.command == extendedCommand && frame.data.size() >= 2) {
        rec.command = Hart::loadU16(frame.data.data());
        rec.data.erase(rec.data.begin(), rec.data.begin() + 2);
    }
    return rec;
}

// The device's long address without the master and burst bits: six bits of the expanded
// device type's high byte, its low byte, then the device id.
std::vector<std::uint8_t> uniqueAddress(const DeviceState& s)
{
    std::vector<std::uint8_t> address(5);
    Hart::storeU16(&address[0], s.expandedDeviceType);
    address[0] &= 0x3F;
    Hart::storeU24(&address[2], s.deviceId);
    return address;
}

// Short frames carry only command 0; long frames name the device or, for the identification
// commands, the broadcast address.
bool isAddressed(const RequestFrame& frame, std::uint16_t command, const DeviceState& s)
{
    std::vector<std::uint8_t> asked = frame.address;
    asked[0] &= 0x3F;
    if (!frame.isLong())
        return frame.command == 0 && asked[0] == s.pollingAddress;
    const bool broadcast = asked == std::vector<std::uint8_t>(5, 0);
    return asked == uniqueAddress(s) || (broadcast && takesBroadcast(command));
}

// The device answers with its own unique address (also to a broadcast), or with the polling
// address it was asked by; the master bit is echoed, the burst bit is clear.
std::vector<std::uint8_t> answerAddress(const RequestFrame& frame, const DeviceState& s)
{
    std::vector<std::uint8_t> address = frame.isLong() ? uniqueAddress(s) : frame.address;
    address[0] = std::uint8_t((frame.address[0] & 0x80) | (address[0] & 0x3F));
    return address;
}

} // namespace

Simulator::Simulator(const Options& options)
    : m_preambles(options.preambles)
    , m_turnaroundMs(options.turnaroundMs)
{
    if (options.devices == 0) {
        DeviceState s = defaultDeviceState(options.expandedDeviceType);
        s.pollingAddress = options.pollingAddress & 0x3F;
        s.loopCurrentMode = options.loopCurrentMode ? 1 : 0;
        s.deviceId = options.deviceId & 0xFFFFFF;
        m_devices.push_back(std::move(s));
    }
    for (unsigned number = 1; number <= std::min(options.devices, maxDevices); ++number)
        m_devices.push_back(loopDeviceState(options.expandedDeviceType, options.deviceId, number));
    setPaced(options.paced);
}

Simulator::~Simulator()
{
    stop();
}

bool Simulator::start(std::string* error)
{
    if (isRunning())
        return true;
    if (!m_link.open(error))
        return false;
    m_link.start([this](const std::vector<std::uint8_t>& bytes, Clock::time_point arrived) {
        return onFrame(bytes, arrived);
    });
    return true;
}

void Simulator::stop()
{
    m_hartIp.stop();
    m_link.stop();
}

bool Simulator::startHartIp(const std::string& address, std::uint16_t port, std::string* error)
{
    if (m_hartIp.isRunning())
        return true;
    if (!m_hartIp.open(address, port, error))
        return false;
    m_hartIp.start(
        [this](const std::vector<std::uint8_t>& bytes, Clock::time_point arrived) {
            return onNetworkFrame(bytes, arrived);
        },
        [this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_faults.takeSessionBusy();
        });
    return true;
}

// What the line would carry becomes one answer: the frame behind the preambles, and the time a
// gateway takes to put the request on a 1200-baud loop and read the answer back (paced), or
// only the delays the faults add (unpaced).
HartIpServer::Answer Simulator::onNetworkFrame(const std::vector<std::uint8_t>& bytes, Clock::time_point arrived)
{
    const Delivery delivery = onFrame(bytes, arrived);
    HartIpServer::Answer answer;
    answer.closeSession = delivery.closeLine;
    answer.network = delivery.network;
    std::vector<std::uint8_t> line;
    std::chrono::milliseconds delay(0);
    for (const Delivery::Segment& segment : delivery.segments) {
        delay += segment.delay;
        line.insert(line.end(), segment.bytes.begin(), segment.bytes.end());
    }
    if (line.empty())
        return answer;
    // Noise and preambles stay on the loop; the gateway forwards the frame after them.
    const auto preamble = std::find(line.begin(), line.end(), std::uint8_t(0xFF));
    const auto frame = std::find_if(preamble, line.end(), [](std::uint8_t b) { return b != 0xFF; });
    answer.frame.assign(frame, line.end());
    answer.answered = !answer.frame.empty();
    if (m_paced) {
        const auto wire = PtyLink::characterTime * long(bytes.size() + 3 + line.size());
        answer.delay = delay + std::chrono::ceil<std::chrono::milliseconds>(wire);
    } else {
        answer.delay = delay > std::chrono::milliseconds(m_turnaroundMs) ? delay - std::chrono::milliseconds(m_turnaroundMs)
                                                                          : std::chrono::milliseconds(0);
    }
    return answer;
}

DeviceState Simulator::state(std::size_t device) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_devices.at(device);
}

void Simulator::setState(const DeviceState& state, std::size_t device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices.at(device) = state;
}

void Simulator::inject(const Fault& fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.add(fault);
}

void Simulator::clearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
}

std::size_t Simulator::pendingFaults() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_faults.size();
}

std::vector<ReceivedRequest> Simulator::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void Simulator::clearRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
    m_discarded = 0;
}

bool Simulator::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_requestLogged.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
}

std::size_t Simulator::discardedFrames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_discarded;
}

void Simulator::setRequestObserver(std::function<void(const ReceivedRequest&)> observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = std::move(observer);
}

std::vector<std::uint8_t> Simulator::firmwareImage(std::size_t device) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_devices.at(device).firmware.image;
}

void Simulator::logRequest(const ReceivedRequest& request)
{
    if (m_requests.size() >= requestLogLimit)
        m_requests.erase(m_requests.begin(), m_requests.begin() + requestLogLimit / 2);
    m_requests.push_back(request);
    m_requestLogged.notify_all();
}

Delivery Simulator::onFrame(const std::vector<std::uint8_t>& bytes, Clock::time_point arrived)
{
    ReceivedRequest logged;
    Delivery delivery;
    std::function<void(const ReceivedRequest&)> observer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        RequestFrame frame;
        if (!parseRequest(bytes.data(), bytes.size(), frame)) {
            ++m_discarded;
            return {};
        }
        logged = describe(frame, arrived);
        std::vector<std::size_t> reached;
        for (std::size_t i = 0; i < m_devices.size(); ++i) {
            if (isAddressed(frame, logged.command, m_devices[i]))
                reached.push_back(i);
        }
        logged.addressed = !reached.empty();
        if (logged.addressed)
            delivery = answer(frame, logged, reached, m_faults.take(logged.command));
        logRequest(logged);
        observer = m_observer;
    }
    if (observer)
        observer(logged);
    return delivery;
}

// The line faults act once per frame, whichever detector answers. Every detector the frame
// reaches acts on it; when two answer at once (a shared polling address, a tag twice on the loop)
// their carriers garble each other and the master gets one frame with a spoiled check byte.
Delivery Simulator::answer(const RequestFrame& frame, ReceivedRequest& rec, const std::vector<std::size_t>& reached,
                           const std::vector<Fault>& faults)
{
    if (findFault(faults, FaultKind::NoAnswer))
        return {};
    // The gateway turns the request away: it never reaches the device.
    if (findFault(faults, FaultKind::ErrorMessage)) {
        Delivery refused;
        refused.network.push_back(FaultKind::ErrorMessage);
        return refused;
    }
    if (findFault(faults, FaultKind::LineClosed)) {
        Delivery unplugged;
        unplugged.closeLine = true;
        return unplugged;
    }

    std::vector<std::uint8_t> line;
    for (std::size_t i : reached) {
        std::vector<std::uint8_t> response;
        std::uint8_t code = 0;
        if (!answerFrom(m_devices[i], frame, rec, faults, response, code))
            continue;
        if (rec.answered) {
            rec.collision = true;
            continue;
        }
        rec.answered = true;
        rec.responseCode = code;
        rec.device = int(i);
        line = std::move(response);
    }
    if (!rec.answered)
        return {};
    if (rec.collision)
        line.back() ^= 0xA5;
    Delivery delivery = shapeAnswer(std::move(line), m_preambles, m_turnaroundMs, faults);
    for (FaultKind kind : {FaultKind::TruncatedHeader, FaultKind::WrongSequence}) {
        if (findFault(faults, kind))
            delivery.network.push_back(kind);
    }
    return delivery;
}

bool Simulator::answerFrom(DeviceState& s, const RequestFrame& frame, const ReceivedRequest& rec,
                           const std::vector<Fault>& faults, std::vector<std::uint8_t>& response, std::uint8_t& code)
{
    const bool extended = frame.command == extendedCommand && frame.data.size() >= 2;
    Exchange ex(s, rec.command, rec.data.data(), rec.data.size(), frame.primaryMaster(), rec.time);
    if (frame.command == extendedCommand && !extended)
        ex.fail(Rc::TooFewBytes);
    else if (!handleUniversal(ex) && !handleDeviceSpecific(ex))
        ex.fail(Rc::NotImplemented);
    if (ex.silent)
        return false;

    if (const Fault* f = findFault(faults, FaultKind::ResponseCode)) {
        ex.responseCode = f->value;
        if (!f->keepData)
            ex.reply.clear();
    }
    if (identifies(rec.command) && ex.responseCode == 0 && ex.reply.size() > 12)
        ex.reply[12] = std::uint8_t(m_preambles);
    if (const Fault* f = findFault(faults, FaultKind::CommunicationError)) {
        ex.responseCode = std::uint8_t(0x80 | f->value);
        ex.reply.clear();
    }
    if (extended) {
        std::uint8_t number[2];
        Hart::storeU16(number, rec.command);
        ex.reply.insert(ex.reply.begin(), number, number + 2);
    }

    const std::uint8_t status = fieldDeviceStatus(s);
    if (status & 0x20)
        s.coldStart = false; // reported once
    std::vector<std::uint8_t> address = answerAddress(frame, s);
    if (findFault(faults, FaultKind::OtherAddress))
        address.back() ^= 0x01;
    if (rec.command == 42 && ex.responseCode == 0)
        resetDevice(s);
    code = ex.responseCode;
    response = buildResponse(address, frame.command, ex.responseCode, status, ex.reply);
    return true;
}

} // namespace Sim
