#include "settingbits.h"

#include "detectormodel.h"

namespace SettingBits {

using namespace DetectorModel;

QStringList analysisTypes(std::uint16_t model)
{
    QStringList types;
    if (model == irUv || model == irUv2)
        types << QStringLiteral("ИК и УФ каналы") << QStringLiteral("Только ИК канал")
              << QStringLiteral("Только УФ канал") << QStringLiteral("ИК или УФ канал");
    if (model == irUv2)
        types << QStringLiteral("ИК и УФ каналы (повышенная помехозащищенность)");
    if (model == ir3)
        types << QStringLiteral("3 ИК") << QStringLiteral("3 ИК (повышенная помехозащищенность)");
    return types;
}

int analysisType(std::uint16_t model, std::uint8_t byte1)
{
    if (model == irUv2)
        return (byte1 & 0x20) ? 4 : (byte1 >> 3) & 3;
    if (model == ir3)
        return (byte1 & 0x20) ? 1 : 0;
    return -1;
}

int analysisTime(std::uint8_t byte1, std::uint8_t byte3)
{
    return (byte1 & 0x80) ? byte3 : (byte1 & 0x02) ? 10 : 5;
}

int longestAnalysisTime(std::uint16_t model)
{
    return hasDistanceScale(model) ? 20 : 10;
}

int analysisTimeStep(std::uint16_t model)
{
    return hasDistanceScale(model) ? 1 : 5;
}

int snapAnalysisTime(int seconds)
{
    return seconds < 8 ? 5 : 10;
}

std::uint8_t byte0(bool alarmNormallyOpen, bool faultNormallyClosed)
{
    return std::uint8_t(0x04 | (alarmNormallyOpen ? 0x02 : 0) | (faultNormallyClosed ? 0x01 : 0));
}

std::uint8_t byte1(std::uint16_t model, bool latchUntilPowerOff, int type, bool autoHeat)
{
    std::uint8_t byte = 0x26 | 0x80;
    if (latchUntilPowerOff)
        byte |= 0x01;
    if (model == irUv2 && type >= 0) {
        byte = std::uint8_t((byte & ~0x38) | (type & 3) << 3);
        if (type > 3)
            byte |= 0x20;
    } else if (model == ir3 && type >= 0) {
        byte &= std::uint8_t(~0x38);
        if (type > 0)
            byte |= 0x20;
    }
    return std::uint8_t((byte & ~0x04) | (autoHeat ? 0x04 : 0));
}

} // namespace SettingBits
