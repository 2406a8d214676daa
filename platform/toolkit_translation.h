// Qt's own texts (the standard buttons of boxes and dialogs, the file
// dialogs, the edits' context menus) in the language of a program's
// interface, from the toolkit's own translations (qtbase_<language>.qm, as
// Debian's qt6-translations-l10n installs them), never typed by hand.
#pragma once

#include <QLocale>
#include <QString>

class QTranslator;

namespace krv::platform {

// The folder the toolkit's translations are installed in.
QString ToolkitTranslationsFolder();

// Loads the toolkit's texts in the locale's language from `folder` into
// `translator`; false, silently, when the folder holds none.
bool LoadToolkitTranslation(QTranslator &translator, const QLocale &locale, const QString &folder);

// Makes the toolkit's texts of the running application speak the locale's
// language, from the translations in `folder`, in place of what an earlier
// call installed. English (and the C locale) takes the toolkit's own texts.
// A language without a translation there leaves the English texts and says
// nothing: the answer is false then. Called on the application's thread
// once it exists.
bool UseToolkitLanguage(const QLocale &locale, const QString &folder = ToolkitTranslationsFolder());

} // namespace krv::platform
