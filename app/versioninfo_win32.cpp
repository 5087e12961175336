#include "versioninfo.h"

#include <windows.h>

#include <vector>

QString versionString(const QString& applicationPath, const char* key)
{
    const std::wstring path = applicationPath.toStdWString();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0)
        return QString();
    // Twice the reported size: some system versions write past it when converting strings.
    std::vector<unsigned char> block(size_t(size) * 2);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
        return QString();
    // US English, Windows-1252: the language block the resource script declares.
    const std::wstring query = L"\\StringFileInfo\\040904E4\\" + QString::fromLatin1(key).toStdWString();
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
        return QString();
    return QString::fromWCharArray(value, int(wcsnlen(value, length)));
}
