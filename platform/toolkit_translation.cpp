#include "toolkit_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

namespace krv::platform {

QString ToolkitTranslationsFolder() {
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

bool LoadToolkitTranslation(QTranslator &translator, const QLocale &locale, const QString &folder) {
    return translator.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder);
}

bool UseToolkitLanguage(const QLocale &locale, const QString &folder) {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return false;
    // The one translation installed by this function; it goes with the
    // application that owns it.
    static QPointer<QTranslator> installed;
    static QLocale::Language installedLanguage = QLocale::AnyLanguage;
    static QString installedFrom;
    const QLocale::Language language = locale.language();
    if (installed && installedLanguage == language && installedFrom == folder)
        return true;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
    }
    if (language == QLocale::English || language == QLocale::C)
        return true;
    auto *translator = new QTranslator(app);
    if (!LoadToolkitTranslation(*translator, locale, folder)) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    installedLanguage = language;
    installedFrom = folder;
    return true;
}

} // namespace krv::platform
