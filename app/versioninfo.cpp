#include "versioninfo.h"

int leadingInteger(const QString& text)
{
    int i = 0;
    const int n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > 0x7FFFFFFF) {
            value = 0x7FFFFFFF; // saturate like strtol instead of wrapping
            break;
        }
    }
    return int(negative ? -value : value);
}
