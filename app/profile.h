#pragma once
// A detector's settings as the main window shows them, kept in a configuration file so that
// one detector's settings can be carried to the next detector of the same model. The identity
// (polling address, tag, long tag, descriptor, message, date) belongs to each detector and
// is neither saved nor loaded; files that still hold it load, those entries ignored.

#include <QList>
#include <QString>
#include <QVariant>

#include <array>
#include <cstdint>

class ConfigDocument;

namespace Profile {

// Every field a profile carries, in the order the file lists them.
enum Field {
    Sensitivity, AnalysisTime, AnalysisType, FixTime, AutoHeat, AlarmNormallyOpen, FaultNormallyClosed,
    FaultCurrent, OpticsCurrent, StandbyCurrent, DiagnosticCurrent, AlarmCurrent,
    FieldCount
};

// The parameter group (ConfigGroup bit) the field is written with.
std::uint8_t groupOf(Field field);
// The field's entry name in the file.
QString entryName(Field field);

// Every field an int: indexes as the window's lists count them, switches 0 or 1, currents in
// microamperes.
struct Values {
    std::uint16_t model = 0;
    std::array<QVariant, FieldCount> fields;
};

// What the window accepts for a field: min, max, and the step from min.
struct Range {
    int min = 0;
    int max = 0;
    int step = 1;
};
using Limits = std::array<Range, FieldCount>;

// Appends the parameters group to a document that already holds app and version.
void write(ConfigDocument& document, const Values& values);

enum class ReadResult {
    Loaded,
    NoParameters, // a file of this program without a parameters group
    BadValue,     // an entry missing or outside what the window accepts
};
struct ReadOutcome {
    ReadResult result = ReadResult::NoParameters;
    Values values;          // the model is filled in as soon as it is read
    bool modelRead = false;
    QString badEntry;
};
// Every value is checked against the limits of its field.
ReadOutcome read(ConfigDocument& document, const Limits& limits);

// The model as the refusal of another model's profile names it: "\"Альтор - ИК/УФ\" HART (FF04)".
QString modelCaption(std::uint16_t model);

// The fields whose values differ between two sets of values.
QList<Field> differences(const Values& a, const Values& b);

} // namespace Profile
