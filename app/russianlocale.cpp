#include "russianlocale.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void installRussian(QCoreApplication& application)
{
    // Before any widget exists: each takes the default locale when it is created.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    auto* qtTranslator = new QTranslator(&application);
    if (qtTranslator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        application.installTranslator(qtTranslator);
    else
        delete qtTranslator;
}
