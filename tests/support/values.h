#pragma once

#include <QStringList>
#include <QVariant>

#include <type_traits>

// Several values as text, to compare them at once and see them all when one differs.
template <typename T>
QString valueText(const T& v)
{
    if constexpr (std::is_integral_v<T>) // bool as 0 or 1, so a flag compares with a count
        return QString::number(qlonglong(v));
    else
        return QVariant(v).toString();
}
template <typename... T>
QStringList values(const T&... v)
{
    return { valueText(v)... };
}
