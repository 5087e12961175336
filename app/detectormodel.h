#pragma once
// Detector models as the expanded device type names them, and the parameter groups that the
// window tracks between reads and writes.

#include <cstdint>

namespace DetectorModel {

constexpr std::uint16_t ir = 0xFF01;     // "Альтор - 3 ИК", first generation
constexpr std::uint16_t irUv = 0xFF02;   // "Альтор - ИК/УФ", first generation
constexpr std::uint16_t ir3 = 0xFF03;    // "Альтор - 3 ИК"
constexpr std::uint16_t irUv2 = 0xFF04;  // "Альтор - ИК/УФ"

// The device types that reading accepts after identification; any other is reported unknown.
inline bool isServed(std::uint16_t expandedDeviceType)
{
    return expandedDeviceType >= 0xFF03 && expandedDeviceType <= 0xFF06;
}

// The model's name as the window shows it (UTF-8).
inline const char* name(std::uint16_t model)
{
    switch (model) {
    case ir:
    case ir3: return "\"Альтор - 3 ИК\" HART";
    case irUv:
    case irUv2: return "\"Альтор - ИК/УФ\" HART";
    default: return "Неизвестная модель";
    }
}

// Models with a detection-distance scale, analysis times of 5..20 s and the noise indicator.
inline bool hasDistanceScale(std::uint16_t model)
{
    return model == ir3 || model == irUv2;
}

} // namespace DetectorModel

namespace ConfigGroup {

constexpr std::uint8_t address = 0x01;
constexpr std::uint8_t tagDescriptorDate = 0x02;
constexpr std::uint8_t longTag = 0x04;
constexpr std::uint8_t message = 0x08;
constexpr std::uint8_t detector = 0x10;
constexpr std::uint8_t currents = 0x20;
constexpr std::uint8_t all = 0x3F;

} // namespace ConfigGroup
