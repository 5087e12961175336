#include "profile.h"

#include "configdocument.h"
#include "detectormodel.h"

namespace Profile {

namespace {

const std::string groupKey = "parameters";
const std::string modelKey = "model";

// Each field once: its entry name and its group.
struct FieldInfo {
    const char* name;
    std::uint8_t group;
};

const FieldInfo fieldTable[FieldCount] = {
    { "sensitivity", ConfigGroup::detector },
    { "analysisTimeS", ConfigGroup::detector },
    { "analysisType", ConfigGroup::detector },
    { "alarmLatching", ConfigGroup::detector },
    { "autoHeat", ConfigGroup::detector },
    { "alarmRelayNormallyOpen", ConfigGroup::detector },
    { "faultRelayNormallyClosed", ConfigGroup::detector },
    { "faultCurrentUA", ConfigGroup::currents },
    { "opticsCurrentUA", ConfigGroup::currents },
    { "standbyCurrentUA", ConfigGroup::currents },
    { "diagnosticCurrentUA", ConfigGroup::currents },
    { "alarmCurrentUA", ConfigGroup::currents },
};

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
        group->addChild(info.name)->setInteger(values.fields[f].toInt());
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
        const Range& range = limits[f];
        if (!readNumber(*entry, &number) || number < range.min || number > range.max
            || (range.step > 1 && (number - range.min) % range.step != 0))
            return outcome;
        outcome.values.fields[f] = int(number);
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

QString modelCaption(std::uint16_t model)
{
    return QString::fromUtf8(DetectorModel::name(model)) + QStringLiteral(" (%1)").arg(QString::number(model, 16).toUpper());
}

} // namespace Profile
