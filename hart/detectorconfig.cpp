#include "detectorconfig.h"

#include "hart/codecsupport.h"
#include "hart/encoding.h"

namespace Hart {

namespace {

DetectorConfig* detector(void* context)
{
    return static_cast<DetectorConfig*>(context);
}

std::uint32_t done(void* context, std::uint16_t flag)
{
    detector(context)->requestFlags &= std::uint16_t(~flag);
    return Ok;
}

void putCurrents(std::uint8_t* p, const DetectorConfig* r)
{
    for (int i = 0; i < 5; ++i)
        storeU16(p + 2 * i, r->currentSettings[i]);
}

const ResponseMapping serviceMapping[] = {{2, InvalidSelection}, {5, TooFewDataBytes}, {6, DeviceSpecificError},
                                          {7, WriteProtected}, {16, AccessRestricted}};
const ResponseMapping writeMapping[] = {{2, InvalidSelection}, {3, ParameterTooLarge}, {5, TooFewDataBytes},
                                        {6, DeviceSpecificError}, {7, WriteProtected}, {16, AccessRestricted}};
const ResponseMapping readStateMapping[] = {{6, DeviceSpecificError}};
const ResponseMapping startCalibrationMapping[] = {{6, DeviceSpecificError}, {7, WriteProtected},
                                                   {16, AccessRestricted}};

} // namespace

void DetectorConfig::requestWriteConfiguration(std::uint8_t byte0, std::uint8_t byte1, std::uint8_t byte2,
                                               std::uint8_t byte3)
{
    configuration[0] = byte0;
    configuration[1] = std::uint8_t(byte1 | 0x80);
    configuration[2] = byte2;
    configuration3 = byte3;
    requestFlags |= DetectorRequest::WriteConfiguration;
}

void DetectorConfig::requestWriteCurrents(std::uint16_t c1, std::uint16_t c2, std::uint16_t c3, std::uint16_t c4,
                                          std::uint16_t c5)
{
    currentSettings[0] = c1;
    currentSettings[1] = c2;
    currentSettings[2] = c3;
    currentSettings[3] = c4;
    currentSettings[4] = c5;
    requestFlags |= DetectorRequest::WriteCurrents;
}

std::int32_t encodeServiceOperation(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    if (whenDue(detector(context), DetectorRequest::ServiceOperation, master) < 0)
        return -1;
    **cursor = detector(context)->serviceCode;
    *cursor += 1;
    return defaultTimeoutMs;
}

std::uint32_t decodeServiceOperation(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                     std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, serviceMapping))
        return result;
    if (dataSize(data, end) < 1 || data[0] != detector(context)->serviceCode)
        return Ignore;
    return done(context, DetectorRequest::ServiceOperation);
}

std::int32_t encodeReadCurrents(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(detector(context), DetectorRequest::ReadCurrents, master);
}

std::uint32_t decodeReadCurrents(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                 std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode))
        return result;
    if (dataSize(data, end) < 10)
        return Ignore;
    DetectorConfig* r = detector(context);
    for (int i = 0; i < 5; ++i)
        r->currentSettings[i] = loadU16(data + 2 * i);
    return done(context, DetectorRequest::ReadCurrents);
}

std::int32_t encodeWriteCurrents(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    if (whenDue(detector(context), DetectorRequest::WriteCurrents, master) < 0)
        return -1;
    putCurrents(*cursor, detector(context));
    *cursor += 10;
    return defaultTimeoutMs;
}

std::uint32_t decodeWriteCurrents(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                  std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, writeMapping))
        return result;
    if (dataSize(data, end) < 10)
        return Ignore;
    std::uint8_t sent[10];
    putCurrents(sent, detector(context));
    for (int i = 0; i < 10; ++i) {
        if (data[i] != sent[i])
            return Ignore;
    }
    return done(context, DetectorRequest::WriteCurrents);
}

std::int32_t encodeReadConfiguration(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(detector(context), DetectorRequest::ReadConfiguration, master);
}

std::uint32_t decodeReadConfiguration(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                      std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode))
        return result;
    if (dataSize(data, end) < 4)
        return Ignore;
    DetectorConfig* r = detector(context);
    r->configuration[0] = data[0];
    r->configuration[1] = data[1];
    r->configuration[2] = data[2];
    r->configuration3 = data[3];
    return done(context, DetectorRequest::ReadConfiguration);
}

std::int32_t encodeWriteConfiguration(void* context, ParserMaster* master, std::uint8_t** cursor)
{
    if (whenDue(detector(context), DetectorRequest::WriteConfiguration, master) < 0)
        return -1;
    DetectorConfig* r = detector(context);
    for (unsigned i = 0; i < 4; ++i)
        (*cursor)[i] = r->configurationByte(i);
    *cursor += 4;
    return defaultTimeoutMs;
}

std::uint32_t decodeWriteConfiguration(void* context, ParserMaster*, const std::uint8_t* data,
                                       const std::uint8_t* end, std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, writeMapping))
        return result;
    const DetectorConfig* r = detector(context);
    if (dataSize(data, end) < 3 || data[0] != r->configuration[0] || data[1] != r->configuration[1]
        || data[2] != r->configuration[2])
        return Ignore;
    return done(context, DetectorRequest::WriteConfiguration);
}

std::int32_t encodeReadCalibration(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(detector(context), DetectorRequest::ReadCalibration, master);
}

std::uint32_t decodeReadCalibration(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                    std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, readStateMapping))
        return result;
    if (dataSize(data, end) < 1)
        return Ignore;
    detector(context)->calibrationState = data[0];
    return done(context, DetectorRequest::ReadCalibration);
}

std::int32_t encodeStartCalibration(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(detector(context), DetectorRequest::StartCalibration, master);
}

std::uint32_t decodeStartCalibration(void* context, ParserMaster*, const std::uint8_t*, const std::uint8_t*,
                                     std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, startCalibrationMapping))
        return result;
    return done(context, DetectorRequest::StartCalibration);
}

std::int32_t encodeReadOpticsCheck(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(detector(context), DetectorRequest::ReadOpticsCheck, master);
}

std::uint32_t decodeReadOpticsCheck(void* context, ParserMaster*, const std::uint8_t* data, const std::uint8_t* end,
                                    std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, readStateMapping))
        return result;
    if (dataSize(data, end) < 1)
        return Ignore;
    detector(context)->opticsCheckState = data[0];
    return done(context, DetectorRequest::ReadOpticsCheck);
}

std::int32_t encodeStartOpticsCheck(void* context, ParserMaster* master, std::uint8_t**)
{
    return whenDue(detector(context), DetectorRequest::StartOpticsCheck, master);
}

std::uint32_t decodeStartOpticsCheck(void* context, ParserMaster*, const std::uint8_t*, const std::uint8_t*,
                                     std::uint8_t responseCode)
{
    if (const std::uint32_t result = mapResponseCode(responseCode, readStateMapping))
        return result;
    return done(context, DetectorRequest::StartOpticsCheck);
}

} // namespace Hart
