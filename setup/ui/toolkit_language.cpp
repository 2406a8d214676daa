#include "toolkit_language.h"

#include "ui_strings.h"

#include <setup_locale.h>
#include <toolkit_translation.h>

#include <QCoreApplication>
#include <QLocale>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QWizard>

#include <cstdint>
#include <string>

namespace krv::setup {

namespace {

void UseLanguage(uint16_t langId) {
    const std::string name = platform::LocaleNameFromLangId(langId);
    // An id the locale table does not know keeps the toolkit's English.
    platform::UseToolkitLanguage(name.empty() ? QLocale::c()
                                              : QLocale(QString::fromStdString(name)));
}

} // namespace

void FollowUiLanguageInToolkit() {
    SetResourceModuleListener([](const ResourceModule &module) {
        const uint16_t language = module.language;
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return;
        // The translation changes on the application's thread only.
        if (QThread::currentThread() == app->thread())
            UseLanguage(language);
        else
            QMetaObject::invokeMethod(
                app, [language] { UseLanguage(language); }, Qt::QueuedConnection);
    });
    UseLanguage(GetResourceModule()->language);
}

QString ToolkitButtonText(QDialogButtonBox::StandardButton button) {
    const QDialogButtonBox box(button);
    const QPushButton *made = box.button(button);
    return made ? made->text() : QString();
}

WizardButtonTexts ToolkitWizardButtonTexts() {
    QWizard wizard;
    wizard.setWizardStyle(QWizard::ClassicStyle);
    return {wizard.buttonText(QWizard::BackButton), wizard.buttonText(QWizard::NextButton),
            wizard.buttonText(QWizard::FinishButton), wizard.buttonText(QWizard::CancelButton)};
}

} // namespace krv::setup
