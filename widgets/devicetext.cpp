#include "devicetext.h"

#include <QTextCodec>

#include <cstring>

static QTextCodec* deviceCodec()
{
    static QTextCodec* codec = QTextCodec::codecForName("Windows-1251");
    return codec;
}

QString fromDeviceText(const char* data, int size)
{
    if (!data)
        return QString();
    if (size < 0)
        size = int(std::strlen(data));
    return deviceCodec()->toUnicode(data, size);
}

QByteArray toDeviceText(const QString& text)
{
    return deviceCodec()->fromUnicode(text);
}
