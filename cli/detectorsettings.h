#pragma once
// A detector's settings as a parameter profile, without a window: what the main window shows
// after reading a detector, what it accepts from a profile file, the bytes it sends after
// loading one, and the labels and texts it shows for each field. The window's own tables
// (analysis types, analysis times, the bits of the configuration bytes) are shared through
// SettingBits; the rest follows the window's fields and is proven equal to them by the tests.
//
// Every function assumes a window that has served no other model since it started, as a
// program that reads one detector is: the one thing that depends on the window's history is the
// hidden analysis-type list of a model without types (0xFF05, 0xFF06), which holds the
// start-up list of 0xFF04 at its start-up index. The window reads and writes only the models
// DetectorModel::isServed accepts; others are computed by the same rules.

#include "profile.h"

#include "hart/detectorconfig.h"

#include <QString>
#include <QVariant>

#include <cstdint>

namespace DetectorSettings {

// The profile the window saves after reading this detector (commands 131 and 133 answered):
// each value as its field shows it, clamped to the field's range.
Profile::Values fromDevice(std::uint16_t model, const Hart::DetectorConfig& device);

// What the window accepts when a profile is loaded on a detector of this model. No limit
// depends on another field's value.
Profile::Limits limits(std::uint16_t model);

// The values as the window's fields hold them once a profile is applied: numbers clamped to
// their ranges, older models' analysis times snapped to 5 or 10 s, an index outside its list -1.
// Values within limits() come back unchanged.
Profile::Values shown(std::uint16_t model, const Profile::Values& values);

struct Encoded {
    std::uint8_t configuration[4]; // data of command 134
    std::uint16_t currents[5];     // data of command 132, microamperes, in the profile's order
    // The groups (ConfigGroup::detector, ConfigGroup::currents) in which the profile differs
    // from what the window read from this device: the window marks them and its write sends
    // exactly these. 0: the window finds no change and asks whether to write every group,
    // the identity's too.
    std::uint8_t groups;
};
// The data of commands 134 and 132 the window sends after this profile is loaded on this
// device. The window writes every bit of byte 0 and byte 1 itself (byte 0 bit 2 and byte 1
// bits 1 and 7 set, byte 1 bit 6 clear, bits 5..3 by model and type): none is kept from the
// device, which decides only `groups`.
Encoded toDevice(std::uint16_t model, const Profile::Values& values, const Hart::DetectorConfig& device);

// The field's label as the window shows it, without the colon: a Profile::Field, or one of the
// identity fields the window numbers after them (message, tag, descriptor, date, long tag,
// polling address: Profile::FieldCount + 0..5). Empty for any other number.
QString caption(int field);
// The value as the window shows it once applied: item texts, numbers with the Russian decimal
// comma and their unit, "да"/"нет", relays "НР"/"НЗ".
QString displayText(std::uint16_t model, Profile::Field field, const QVariant& value);
// Whether the window shows the field for this model (the analysis type only where the model
// has types); identity fields are always shown.
bool isShown(std::uint16_t model, int field);

} // namespace DetectorSettings
