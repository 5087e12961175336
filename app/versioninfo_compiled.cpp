#include "versioninfo.h"
#include "versionstrings.h"

#include <cstring>

QString versionString(const QString&, const char* key)
{
    static const struct {
        const char* key;
        const char* value;
    } strings[] = {
        { "ProductName", VersionStrings::productName },
        { "InternalName", VersionStrings::internalName },
        { "ProductVersion", VersionStrings::productVersion },
        { "ReleaseYear", VersionStrings::releaseYear },
        { "CompanyName", VersionStrings::companyName },
        { "CompanyDomain", VersionStrings::companyDomain },
    };
    for (const auto& s : strings)
        if (std::strcmp(s.key, key) == 0)
            return QString::fromUtf8(s.value);
    return QString();
}
