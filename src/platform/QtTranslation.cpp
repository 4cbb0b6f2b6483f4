#include "platform/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

using namespace Qt::StringLiterals;

namespace linvera::platform {

bool InstallQtTranslation(const QLocale& locale)
{
    // The program's own texts are Japanese only: any other language keeps Qt's English.
    if (locale.language() != QLocale::Japanese || !QCoreApplication::instance())
        return false;
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(locale, u"qtbase"_s, u"_"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

} // namespace linvera::platform
