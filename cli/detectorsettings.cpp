#include "detectorsettings.h"

#include "detectormodel.h"
#include "settingbits.h"

#include <QLocale>

#include <algorithm>

using namespace Profile;

namespace DetectorSettings {

namespace {

// The ranges and items the window's form gives its fields.
constexpr int sensitivityMax = 100;
constexpr int shortestAnalysisTime = 5;
constexpr int currentMaxUa = 24000;
// Until a model with types is laid out, the form holds the list of 0xFF04 at this index.
constexpr std::uint16_t startModel = DetectorModel::irUv2;
constexpr int startAnalysisType = 4;

QStringList fixTimes()
{
    return { QStringLiteral("Не менее 10 секунд"), QStringLiteral("До сброса напряжения питания") };
}

// The analysis-type list the window's combo box holds for this model, shown or hidden.
QStringList typeList(std::uint16_t model)
{
    const QStringList own = SettingBits::analysisTypes(model);
    return own.isEmpty() ? SettingBits::analysisTypes(startModel) : own;
}

// A combo box's index: -1 when the list has no such item.
int indexIn(int index, int count)
{
    return index >= 0 && index < count ? index : -1;
}

// What an analysis-time box shows after a value is set: clamped, then snapped on older models.
int shownAnalysisTime(std::uint16_t model, int seconds)
{
    seconds = std::clamp(seconds, shortestAnalysisTime, SettingBits::longestAnalysisTime(model));
    return DetectorModel::hasDistanceScale(model) ? seconds : SettingBits::snapAnalysisTime(seconds);
}

bool isCurrent(int field)
{
    return field >= FaultCurrent && field <= AlarmCurrent;
}

} // namespace

Values fromDevice(std::uint16_t model, const Hart::DetectorConfig& device)
{
    const std::uint8_t byte0 = device.configurationByte(0);
    const std::uint8_t byte1 = device.configurationByte(1);
    const int type = SettingBits::analysisType(model, byte1);
    Values v;
    v.model = model;
    auto& f = v.fields;
    f[Sensitivity] = std::min(int(device.configurationByte(2)), sensitivityMax);
    f[AnalysisTime] = shownAnalysisTime(model, SettingBits::analysisTime(byte1, device.configurationByte(3)));
    // Bytes without a type leave the list's index: the start-up one, which 0xFF02's shorter list lacks.
    f[AnalysisType] = type >= 0 ? type : SettingBits::analysisTypes(model).isEmpty() ? startAnalysisType : -1;
    f[FixTime] = byte1 & 0x01;
    f[AutoHeat] = int((byte1 & 0x04) != 0);
    f[AlarmNormallyOpen] = int((byte0 & 0x02) != 0);
    f[FaultNormallyClosed] = int((byte0 & 0x01) != 0);
    for (int i = 0; i < 5; ++i)
        f[FaultCurrent + i] = std::min(int(device.currentSettings[i]), currentMaxUa);
    return v;
}

Limits limits(std::uint16_t model)
{
    Limits l;
    l[Sensitivity] = { 0, sensitivityMax, 1 };
    l[AnalysisTime] = { shortestAnalysisTime, SettingBits::longestAnalysisTime(model),
                        SettingBits::analysisTimeStep(model) };
    const bool typesShown = !SettingBits::analysisTypes(model).isEmpty();
    l[AnalysisType] = { typesShown ? 0 : -1, int(typeList(model).size()) - 1, 1 };
    l[FixTime] = { 0, int(fixTimes().size()) - 1, 1 };
    for (Field f : { AutoHeat, AlarmNormallyOpen, FaultNormallyClosed })
        l[f] = { 0, 1, 1 };
    for (int f = FaultCurrent; f <= AlarmCurrent; ++f)
        l[f] = { 0, currentMaxUa, 1 };
    return l;
}

Values shown(std::uint16_t model, const Values& values)
{
    Values v;
    v.model = values.model;
    const auto& in = values.fields;
    auto& f = v.fields;
    f[Sensitivity] = std::clamp(in[Sensitivity].toInt(), 0, sensitivityMax);
    f[AnalysisTime] = shownAnalysisTime(model, in[AnalysisTime].toInt());
    f[AnalysisType] = indexIn(in[AnalysisType].toInt(), int(typeList(model).size()));
    f[FixTime] = indexIn(in[FixTime].toInt(), int(fixTimes().size()));
    for (Field s : { AutoHeat, AlarmNormallyOpen, FaultNormallyClosed })
        f[s] = int(in[s].toBool());
    // The boxes hold milliamperes to three decimals: whole microamperes pass unchanged.
    for (int c = FaultCurrent; c <= AlarmCurrent; ++c)
        f[c] = std::clamp(in[c].toInt(), 0, currentMaxUa);
    return v;
}

Encoded toDevice(std::uint16_t model, const Values& values, const Hart::DetectorConfig& device)
{
    const auto f = shown(model, values).fields;
    Encoded e{};
    e.configuration[0] = SettingBits::byte0(f[AlarmNormallyOpen].toBool(), f[FaultNormallyClosed].toBool());
    e.configuration[1] = SettingBits::byte1(model, f[FixTime].toInt() == 1, f[AnalysisType].toInt(), f[AutoHeat].toBool());
    e.configuration[2] = std::uint8_t(f[Sensitivity].toInt());
    e.configuration[3] = std::uint8_t(f[AnalysisTime].toInt());
    for (int i = 0; i < 5; ++i)
        e.currents[i] = std::uint16_t(f[FaultCurrent + i].toInt());
    for (Field changed : differences(fromDevice(model, device), values))
        e.groups |= groupOf(changed);
    return e;
}

QString caption(int field)
{
    static const char* const captions[] = {
        "Чувствительность", "Время анализа", "Алгоритм фиксации состояния \"Сработал\"",
        "Фиксация сигнала \"Сработал\"", "Автоматический подогрев оптики",
        "Начальное состояние реле Р1 \"Сработал\"", "Начальное состояние реле Р2 \"Авария\"",
        "Ток неисправности", "Ток загрязнения оптики", "Ток дежурного режима", "Ток диагностики", "Ток сработки",
        "Заметки", "Заголовок", "Описание", "Дата", "Длинный заголовок", "Короткий адрес",
    };
    constexpr int count = int(sizeof captions / sizeof *captions);
    return field >= 0 && field < count ? QString::fromUtf8(captions[field]) : QString();
}

QString displayText(std::uint16_t model, Field field, const QVariant& value)
{
    if (field < 0 || field >= FieldCount)
        return QString();
    Values one;
    one.fields[field] = value;
    const QVariant v = shown(model, one).fields[field];
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    if (isCurrent(field))
        return russian.toString(v.toInt() / 1000.0, 'f', 3) + QStringLiteral(" мА");
    switch (field) {
    case Sensitivity: return russian.toString(v.toInt());
    case AnalysisTime: return russian.toString(v.toInt()) + QStringLiteral(" с");
    case AnalysisType: return typeList(model).value(v.toInt());
    case FixTime: return fixTimes().value(v.toInt());
    case AutoHeat: return v.toBool() ? QStringLiteral("да") : QStringLiteral("нет");
    case AlarmNormallyOpen: return v.toBool() ? QStringLiteral("НР") : QStringLiteral("НЗ");
    case FaultNormallyClosed: return v.toBool() ? QStringLiteral("НЗ") : QStringLiteral("НР");
    default: return QString();
    }
}

bool isShown(std::uint16_t model, int field)
{
    if (field == AnalysisType)
        return !SettingBits::analysisTypes(model).isEmpty();
    return !caption(field).isEmpty();
}

} // namespace DetectorSettings
