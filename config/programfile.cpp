#include "programfile.h"

namespace ProgramFile {

namespace {
const std::string appKey = "app";
const std::string versionKey = "version";
}

void fill(ConfigDocument& document, const QByteArray& internalName, std::int64_t version)
{
    document.addChild(appKey)->setString(internalName.toStdString());
    document.addChild(versionKey)->setInteger(version);
}

Check check(ConfigDocument& document, const QByteArray& internalName, std::int64_t version)
{
    const ConfigNode* app = document.findChild(appKey, false);
    if (!app || app->stringValue() != internalName.toStdString())
        return Check::WrongFormat;
    // The whole 64-bit number is compared: a version that only looks old in its low 32 bits
    // is still newer.
    const ConfigNode* written = document.findChild(versionKey, false);
    if (!written || written->integerValue() > version)
        return Check::NewerVersion;
    return Check::Accepted;
}

}
