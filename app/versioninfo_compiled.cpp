#include "versioninfo.h"
#include "versionstrings.h"

#include <cstring>

QString versionString(const QString&, const char* key)
{
    static const struct {
        const char* key;
        const char* value;
    } strings[] = {
        { "ProductName", CompiledVersion::productName },
        { "InternalName", CompiledVersion::internalName },
        { "ProductVersion", CompiledVersion::productVersion },
        { "ReleaseYear", CompiledVersion::releaseYear },
        { "CompanyName", CompiledVersion::companyName },
        { "CompanyDomain", CompiledVersion::companyDomain },
    };
    for (const auto& s : strings)
        if (std::strcmp(s.key, key) == 0)
            return QString::fromUtf8(s.value);
    return QString();
}
