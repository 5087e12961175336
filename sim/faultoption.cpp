#include "sim/faultoption.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace Sim {

const char* const faultOptionHelp =
    "  FAULT is KIND[:VALUE][,cmd=N][,times=N][,after=N]; each applies once unless times says otherwise\n"
    "    no-answer[:N]        the next N requests (1) are not answered\n"
    "    other-address        the answer comes from another device id\n"
    "    bad-check            the answer's check byte is wrong\n"
    "    noise[:N]            N bytes of line noise (5) before the preambles\n"
    "    comm-error[:BITS]    a communication-error status byte, 0x80 | BITS (0x08)\n"
    "    response-code:N      the answer carries response code N and no data (,data keeps the data)\n"
    "    split[:MS]           the answer stops for MS (60ms) half way, or after byte N with ,at=N\n"
    "    burst[:N]            the answer is padded with preambles to N bytes (300)\n"
    "    late[:MS]            the answer comes MS (2500ms) later than usual\n"
    "    hang-up[:N]          the line closes instead of answering (N requests, 1)\n"
    "    hang-up-after:N      N requests are answered, then the line closes\n"
    "    HART-IP only (--hartip):\n"
    "    busy[:N]             the next N session initiates (1) are refused: all sessions in use\n"
    "    error-message        the request gets a HART-IP error message instead of an answer\n"
    "    truncated-header     the answer message stops inside its header\n"
    "    wrong-sequence       the answer carries another sequence number\n"
    "    cmd=N                only requests with command N count\n"
    "    times=N              the fault applies to N requests; 0 for ever\n"
    "    after=N              N requests pass untouched first\n"
    "    times are milliseconds; \"ms\" and \"s\" suffixes are understood\n";

namespace {

enum class Value { None, Count, Bytes, Bits, Code, Duration };

struct Kind {
    const char* name;
    FaultKind kind;
    Value value;
    bool valueRequired;
    unsigned max;
};

// Limits keep a typing slip from stalling the line for hours or flooding it.
const Kind kinds[] = {
    {"no-answer", FaultKind::NoAnswer, Value::Count, false, 100000},
    {"other-address", FaultKind::OtherAddress, Value::None, false, 0},
    {"bad-check", FaultKind::BadCheckByte, Value::None, false, 0},
    {"noise", FaultKind::NoiseBeforePreamble, Value::Bytes, false, 1000},
    {"comm-error", FaultKind::CommunicationError, Value::Bits, false, 0x7F},
    {"response-code", FaultKind::ResponseCode, Value::Code, true, 255},
    {"split", FaultKind::SplitFrame, Value::Duration, false, 60000},
    {"burst", FaultKind::Burst, Value::Bytes, false, 4096},
    {"late", FaultKind::LateAnswer, Value::Duration, false, 60000},
    {"hang-up", FaultKind::LineClosed, Value::Count, false, 100000},
    {"hang-up-after", FaultKind::LineClosed, Value::Count, true, 100000},
    {"busy", FaultKind::SessionBusy, Value::Count, false, 100000},
    {"error-message", FaultKind::ErrorMessage, Value::None, false, 0},
    {"truncated-header", FaultKind::TruncatedHeader, Value::None, false, 0},
    {"wrong-sequence", FaultKind::WrongSequence, Value::None, false, 0},
};

bool parseUnsigned(const std::string& text, unsigned long max, unsigned long& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && value <= max;
}

bool parseDuration(std::string text, unsigned long max, unsigned long& ms)
{
    unsigned long scale = 1;
    if (text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0) {
        text.resize(text.size() - 2);
    } else if (text.size() > 1 && text.back() == 's') {
        text.pop_back();
        scale = 1000;
    }
    if (!parseUnsigned(text, max / scale, ms))
        return false;
    ms *= scale;
    return true;
}

bool fail(std::string& error, const std::string& why)
{
    error = why;
    return false;
}

} // namespace

bool parseFaultOption(const std::string& text, Fault& fault, std::string& error)
{
    std::vector<std::string> items;
    for (std::size_t from = 0;;) {
        const std::size_t comma = text.find(',', from);
        items.push_back(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    const std::string& head = items.front();
    const std::size_t colon = head.find(':');
    const std::string name = head.substr(0, colon);
    const bool hasValue = colon != std::string::npos;
    const std::string valueText = hasValue ? head.substr(colon + 1) : std::string();

    const Kind* kind = nullptr;
    for (const Kind& k : kinds) {
        if (name == k.name)
            kind = &k;
    }
    if (!kind)
        return fail(error, "unknown fault kind \"" + name + "\"");
    if (hasValue && kind->value == Value::None)
        return fail(error, name + " takes no value");
    if (!hasValue && kind->valueRequired)
        return fail(error, name + " needs a value, e.g. " + name + ":5");

    Fault f;
    switch (kind->kind) {
    case FaultKind::NoiseBeforePreamble: f = Fault::noiseBeforePreamble(); break;
    case FaultKind::CommunicationError: f = Fault::communicationError(); break;
    case FaultKind::SplitFrame: f = Fault::splitFrame(); break;
    case FaultKind::Burst: f = Fault::burst(); break;
    case FaultKind::LateAnswer: f = Fault::lateAnswer(); break;
    default: f.kind = kind->kind; break;
    }
    if (hasValue) {
        unsigned long v = 0;
        const bool ok = kind->value == Value::Duration ? parseDuration(valueText, kind->max, v)
                                                       : parseUnsigned(valueText, kind->max, v);
        const bool positive = kind->value != Value::Code;
        if (!ok || (positive && v == 0))
            return fail(error, "bad value \"" + valueText + "\" for " + name + " (" + (positive ? "1" : "0") + ".."
                                   + std::to_string(kind->max) + (kind->value == Value::Duration ? " ms)" : ")"));
        switch (kind->value) {
        case Value::Count:
            if (kind->valueRequired) // hang-up-after
                f.after = unsigned(v);
            else
                f.count = unsigned(v);
            break;
        case Value::Bytes: f.length = unsigned(v); break;
        case Value::Bits:
        case Value::Code: f.value = std::uint8_t(v); break;
        case Value::Duration: f.delayMs = unsigned(v); break;
        case Value::None: break;
        }
    }

    for (std::size_t i = 1; i < items.size(); ++i) {
        const std::string& item = items[i];
        const std::size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string valueOf = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        unsigned long v = 0;
        if (item.empty()) {
            return fail(error, "empty modifier");
        } else if (key == "data" && eq == std::string::npos && kind->kind == FaultKind::ResponseCode) {
            f.keepData = true;
        } else if (eq == std::string::npos) {
            return fail(error, "unknown modifier \"" + item + "\"");
        } else if (key == "cmd") {
            if (!parseUnsigned(valueOf, 65535, v))
                return fail(error, "bad command number \"" + valueOf + "\" (0..65535)");
            f.command = int(v);
        } else if (key == "times") {
            if (!parseUnsigned(valueOf, 100000, v))
                return fail(error, "bad count \"" + valueOf + "\" for times (0..100000, 0 for ever)");
            f.count = unsigned(v);
        } else if (key == "after") {
            if (!parseUnsigned(valueOf, 100000, v))
                return fail(error, "bad count \"" + valueOf + "\" for after (0..100000)");
            f.after = unsigned(v);
        } else if (key == "at" && kind->kind == FaultKind::SplitFrame) {
            if (!parseUnsigned(valueOf, 4096, v) || v == 0)
                return fail(error, "bad byte position \"" + valueOf + "\" for at (1..4096)");
            f.length = unsigned(v);
        } else {
            return fail(error, "unknown modifier \"" + item + "\" for " + name);
        }
    }
    fault = f;
    return true;
}

} // namespace Sim
