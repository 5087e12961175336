#include "profile.h"

#include "configdocument.h"
#include "detectormodel.h"

#include <QDate>

namespace Profile {

namespace {

const std::string groupKey = "parameters";
const std::string modelKey = "model";
const QString dateFormat = QStringLiteral("yyyy-MM-dd");

enum class Kind { PackedText, Latin1Text, Date, Number };

// Each field once: its entry name, its group, how it is written, and the longest text.
struct FieldInfo {
    const char* name;
    std::uint8_t group;
    Kind kind;
    int maxLength;
};

const FieldInfo fieldTable[FieldCount] = {
    { "message", ConfigGroup::message, Kind::PackedText, 32 },
    { "tag", ConfigGroup::tagDescriptorDate, Kind::PackedText, 8 },
    { "descriptor", ConfigGroup::tagDescriptorDate, Kind::PackedText, 16 },
    { "date", ConfigGroup::tagDescriptorDate, Kind::Date, 0 },
    { "longTag", ConfigGroup::longTag, Kind::Latin1Text, 32 },
    { "address", ConfigGroup::address, Kind::Number, 0 },
    { "sensitivity", ConfigGroup::detector, Kind::Number, 0 },
    { "analysisTimeS", ConfigGroup::detector, Kind::Number, 0 },
    { "analysisType", ConfigGroup::detector, Kind::Number, 0 },
    { "alarmLatching", ConfigGroup::detector, Kind::Number, 0 },
    { "autoHeat", ConfigGroup::detector, Kind::Number, 0 },
    { "alarmRelayNormallyOpen", ConfigGroup::detector, Kind::Number, 0 },
    { "faultRelayNormallyClosed", ConfigGroup::detector, Kind::Number, 0 },
    { "faultCurrentUA", ConfigGroup::currents, Kind::Number, 0 },
    { "opticsCurrentUA", ConfigGroup::currents, Kind::Number, 0 },
    { "standbyCurrentUA", ConfigGroup::currents, Kind::Number, 0 },
    { "diagnosticCurrentUA", ConfigGroup::currents, Kind::Number, 0 },
    { "alarmCurrentUA", ConfigGroup::currents, Kind::Number, 0 },
};

// Packed ASCII holds 0x20..0x5F; the long tag any Latin-1 character from 0x20.
bool textFits(const QString& text, Kind kind, int maxLength)
{
    if (text.size() > maxLength)
        return false;
    const ushort highest = kind == Kind::PackedText ? 0x5F : 0xFF;
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > highest)
            return false;
    return true;
}

// The whole text as a number; "12a", "1.5", blanks or an empty text are not numbers.
bool readNumber(const ConfigNode& node, qint64* number)
{
    bool ok = false;
    *number = QByteArray::fromStdString(node.stringValue()).toLongLong(&ok);
    return ok;
}

} // namespace

std::uint8_t groupOf(Field field)
{
    return fieldTable[field].group;
}

QString entryName(Field field)
{
    return QString::fromLatin1(fieldTable[field].name);
}

void write(ConfigDocument& document, const Values& values)
{
    ConfigNode* group = document.addChild(groupKey);
    group->addChild(modelKey)->setInteger(values.model);
    for (int f = 0; f < FieldCount; ++f) {
        const FieldInfo& info = fieldTable[f];
        ConfigNode* entry = group->addChild(info.name);
        const QVariant& value = values.fields[f];
        switch (info.kind) {
        case Kind::Number: entry->setInteger(value.toInt()); break;
        case Kind::Date: entry->setString(value.toDate().toString(dateFormat).toStdString()); break;
        default: entry->setString(value.toString().toUtf8().toStdString()); break;
        }
    }
}

ReadOutcome read(ConfigDocument& document, const Limits& limits)
{
    ReadOutcome outcome;
    ConfigNode* group = document.findChild(groupKey, false);
    if (!group || !group->children() || group->children()->empty())
        return outcome;
    outcome.result = ReadResult::BadValue;
    const ConfigNode* model = group->findChild(modelKey, false);
    qint64 number = 0;
    if (!model || !readNumber(*model, &number) || number < 0 || number > 0xFFFF) {
        outcome.badEntry = QString::fromStdString(modelKey);
        return outcome;
    }
    outcome.values.model = std::uint16_t(number);
    outcome.modelRead = true;
    for (int f = 0; f < FieldCount; ++f) {
        const FieldInfo& info = fieldTable[f];
        outcome.badEntry = QString::fromLatin1(info.name);
        const ConfigNode* entry = group->findChild(info.name, false);
        if (!entry)
            return outcome;
        QVariant& value = outcome.values.fields[f];
        const QString text = QString::fromUtf8(QByteArray::fromStdString(entry->stringValue()));
        switch (info.kind) {
        case Kind::Number: {
            const Range& range = limits[f];
            if (!readNumber(*entry, &number) || number < range.min || number > range.max
                || (range.step > 1 && (number - range.min) % range.step != 0))
                return outcome;
            value = int(number);
            break;
        }
        case Kind::Date: {
            const QDate date = QDate::fromString(text, dateFormat);
            const Range& range = limits[f];
            if (!date.isValid() || date.toJulianDay() < range.min || date.toJulianDay() > range.max)
                return outcome;
            value = date;
            break;
        }
        case Kind::PackedText:
        case Kind::Latin1Text: {
            const QString shown = info.kind == Kind::PackedText ? text.toUpper() : text;
            if (!textFits(shown, info.kind, info.maxLength))
                return outcome;
            value = shown;
            break;
        }
        }
    }
    outcome.badEntry.clear();
    outcome.result = ReadResult::Loaded;
    return outcome;
}

QList<Field> differences(const Values& a, const Values& b)
{
    QList<Field> fields;
    for (int f = 0; f < FieldCount; ++f)
        if (a.fields[f] != b.fields[f])
            fields << Field(f);
    return fields;
}

} // namespace Profile
