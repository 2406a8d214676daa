#include "ui_strings.h"

#include "setup_utf8.h"

#include <cstdio>
#include <functional>
#include <mutex>

namespace krv::setup {

namespace {

// The program's own string table. Where the setup has always shown a text,
// that text is kept as it was (typos included); the others are ours.
const std::map<uint32_t, std::string> &BuiltinStrings() {
    static const std::map<uint32_t, std::string> table = {
        // Package and installer results.
        {129, "Этот архив повреждён."},
        {130, "Этот архив имеет неверную версию."},
        {131, "Не удаётся запустить Установщик Windows."},
        {132, "При чтении файла возникла ошибка."},
        {133, "При извлечении возникла ошибка."},
        {135, "%s requires Windows Installer %s or later. Please update Windows Installer and run "
              "the setup again."},
        {138, "Проверка целостности (MD5)..."},
        {139, "Повреждённый файл (неверная подпись MD5). Файл удалён."},
        {140, "Параметры %s"},
        {141, "Извлечение основных файлов приложения..."},
        // Column titles and actions of the prerequisite pages.
        {142, "Ссылка"},
        {143, "Состояние"},
        {144, "Командная строка:\n%s [параметры]\nпараметры:\n"
              "/? или /help\t\tэта справка\n"
              "/extract [папка]\t\tизвлечь файлы пакета\n"
              "/originalPath путь\tпуть исходного файла установки\n"
              "/extractlzma\t\tизвлечь основной пакет\n"
              "/deletelzma\t\tудалить извлечённый основной пакет\n"
              "/exenoui\t\t\tустановка без интерфейса\n"
              "/exebasicui\t\tустановка с простым интерфейсом\n"
              "/exefullui\t\tустановка с полным интерфейсом\n"
              "/exelang код\t\tязык установки\n"
              "/listlangs\t\tсписок языков установки\n"
              "/exelog [файл]\t\tвести журнал установки\n"
              "/groupsextract список\tизвлечь группы по номерам (101;102;)\n"
              "/callbackid номер\tидентификатор вызывающего процесса\n"
              "/out папка\t\tпапка для извлечения групп\n"
              "/username, /proxyusername имя\tимя пользователя прокси\n"
              "/password, /proxypassword пароль\tпароль прокси\n"
              "/exenoupdates\t\tне искать обновления\n"
              "/aespassword пароль\tпароль пакета\n"
              "/prereqs список\t\tустанавливаемые компоненты\n"
              "/noprereqs\t\tне устанавливать компоненты\n"
              "Остальные параметры передаются Установщику Windows."},
        {145, "Имя"},
        {146, "Действие"},
        {147, "Пропустить"},
        {148, "Загрузить"},
        {149, "Установить"},
        {151, "Не найдено"},
        {152, "Открыть сайт"},
        {153, "Запуск %s..."},
        {154, "Нажмите кнопку Далее для загрузки необходимых программ."},
        {155, "Нажмите кнопку Далее для установки необходимых программ."},
        {156, "Нажмите кнопку Далее для открытия сайтов необходимых программ."},
        {157, "Нажмите кнопку Завершить для установки главного приложения."},
        {158, "Пауза"},
        {159, "Продолжить"},
        {160, "Требуется: любая."},
        {161, "Установка %s"},
        {162, "Требуется: %s или ниже."},
        {163, "Требуется: %s или выше."},
        {164, "Требуется: между %s и %s."},
        {165, " Найдено: ничего."},
        {166, " Найдено: %s."},
        {167, "Версия"},
        {168, "Данный компонент обязателен. Он обязан быть установлен, и пометка с него не может "
              "быть снята."},
        {169, "Имя"},
        {170, "Нажмите кнопку Завершить, когда закончите и будете готовы устанавливать %s. "},
        {171, "Нажмите кнопку Далее для установки необходимых программ."},
        {172, "Состояние"},
        {173, "Ожидание"},
        {174, "Установка..."},
        {175, "Установлено"},
        {176, "Ошибка: %s"},
        {177, "Установка %s из: %s"},
        {178, "Некоторые программы не могут быть установлены. Нажмите Назад для возврата к списку "
              "требований."},
        {179, "После запуска всех пакетов некоторые необходимые программы всё ещё отсутствуют. "
              "Нажмите Назад для "
              "возврата к списку требований."},
        {180, "Все необходимые программы успешно установлены. Нажмите Завершить для установки "
              "главного приложения."},
        {182, "Требование"},
        {183, "Некоторые программы не удалось загрузить. Попробуйте снова, или исключите их из "
              "списка требований."},
        {184, "Ожидание"},
        {185, "Завершено"},
        {186, "Неверный размер"},
        {188, "Некоторые необходимые программы всё ещё отсутствуют. Попробуйте снова, или уберите "
              "их из списка "
              "требований."},
        {189, "%d ч %d мин при %s/с"},
        {190, "%d мин %d с при %s/с"},
        {191, "%d с при %s/с"},
        {192, "Размер"},
        {193, "Приостановлено"},
        {194, "Выполнение: %d%% (%s из %s)"},
        {195, "Загрузка: %s %d%%  (%s of %s)"},
        {196, "Загрузка завершена"},
        {198, "Открытие %s..."},
        {199, "Загрузка %s"},
        {200, "Извлечение файлов из архива..."},
        {201, "Извлечение файла в %s"},
        {202, "Файл %s не может быть извлечён. Сообщение об ошибке: %s"},
        {203, "Для извлечения из файлов JAR должна быть установлена Среда исполнения Java версии "
              "1.5 или более "
              "поздней."},
        {204, "Уже запущена другая копия установки."},
        {205, " Найдена подходящая версия."},
        // Launch conditions: product name, then the setting's text.
        {206, "%s невозможно установить на %s."},
        {207, "%s cannot be installed on the following Windows versions: %s."},
        {208, "%s невозможно установить на системах с Internet Explorer версии, меньшей, чем %s."},
        {209, "%s невозможно установить на системах с Internet Information Services, версии, "
              "меньшей, чем %s."},
        {210, "%s невозможно установить на системах, имеющих разрешение экрана менее %s."},
        {211, "%s невозможно установить на системах, имеющих глубину цвета экрана менее %s бит."},
        {212, "%s невозможно установить на системах, имеющих объём физической памяти менее %s МБ."},
        {213, "%s невозможно установить на системах с .NET Framework версии, меньшей, чем %s."},
        {214, "%s требует административных полномочий для установки."},
        {215, "Ошибка: %s"},
        {216, "Для завершения установки необходимых программ компьютер необходимо перезагрузить. "
              "Перезагрузить сейчас?"},
        {217, "Требуется перезагрузка"},
        {218, "Извлечение файла:%s"},
        {219, "Недостаточно места в папке:%s\r\nПожалуйста, освободите место и нажмите Повторить, "
              "или нажмите "
              "Отменить, чтобы прервать установку."},
        {220, "Подготовка..."},
        {221, "%s невозможно установить на системах с Adobe Reader версии, меньшей, чем %s."},
        {222, "Языки %s"},
        {223, "Поиск необходимых компонентов..."},
        {224, "%s невозможно установить на системах с JRE версии, меньшей, чем %s."},
        {225, "%s невозможно установить на системах с DirectX версии, меньшей, чем %s."},
        {226, "%s для установки требует активного соединения с Интернет. Пожалуйста, проверьте "
              "конфигурацию вашей "
              "сети и настройки прокси."},
        {227, "%s cannot be installed on systems without %s 2003 or higher."},
        {228, "%s cannot be installed on systems without %s 2007 or higher."},
        {229, "Путь для установки"},
        {230, "Имя продукта"},
        {231, "Вопрос"},
        {232, "Будет выполнено обновление выбранного экземпляра. Продолжить?"},
        {234, "%s is already installed on this computer. Install a new instance, or choose an "
              "installed instance "
              "to maintain."},
        {235, "Продукт %s не может быть установлен на системах с версией XNA Framework меньше %s."},
        {236, "Проверка условий запуска..."},
        {237, "Продукт %s не может быть установлен на системах с версией JDK меньше %s."},
        {238, "Продукт %s не может быть установлен на системах без %s."},
        {239, "Продукт %s не может быть установлен на системах без %s или выше."},
        {241, "%s cannot be installed on systems without %s 2003 Primary Interop Assembly."},
        {242, "%s cannot be installed on systems without %s 2007 Primary Interop Assembly."},
        {243, "Продукт %s не может быть установлен на системах без %s."},
        {244, "%s cannot be installed on systems without %s 2010 or higher."},
        {247, "Cannot acces URL: %s"},
        {248, "%s cannot be installed on systems without %s 2010 Primary Interop Assembly."},
        {249, "Продукт %s не может быть установлен на системах без %s."},
        {253, "Failed"},
        {255, "%s cannot be installed on systems without %s Primary Interop Assembly."},
        {256, "There is a newer version of %s (%s).\r\nWould you like to download and install it?"},
        {257, "Checking for a newer version..."},
        {258, "Failed to download newer version (Error: %s). Would you like to retry or proceed "
              "and install current "
              "version?"},
        {259, "Cannot read the file %s: %s"},
        {260, "Cannot write the file %s: %s"},
        {261, "Instance"},
        {262, "Default"},
        {263, "Version"},
        {265, "\r\nA reboot was initiated. Application will close automatically."},
        {266, "Deleting extracted files..."},
        // Texts of our own, beyond the program's table.
        {ui_text::kErrorCaption, "Ошибка"},
        {ui_text::kRebootFailed, "\r\nНе удалось перезагрузить компьютер. Перезагрузите его "
                                 "вручную; установка продолжится после перезагрузки."},
        {ui_text::kNoPackage,
         "В программе нет пакета установки:\n%s\n(его не дописали, или файл обрезан): "
         "устанавливать нечего.\n"
         "Пакет собирает ./scripts/package.sh (dist/TelmarSetup2.3) или "
         "krv-package-builder."},
        {ui_text::kDownloadProgressUnknownSize, "Загрузка: %s (%s)"},
        {ui_text::kSpeedOnly, "%s/с"},
        {ui_text::kOverallProgressUnknownSize, "Выполнение: %s"},
    };
    return table;
}

// The English table, for users who choose English: only the texts that
// differ from the program's own (the others fall back to those); every text
// takes the same arguments in the same order.
const std::map<uint32_t, std::string> &EnglishStrings() {
    static const std::map<uint32_t, std::string> table = {
        {129, "This archive is corrupt."},
        {130, "This archive has a wrong version."},
        {131, "Windows Installer cannot be started."},
        {132, "An error occurred while reading the file."},
        {133, "An error occurred during extraction."},
        {138, "Checking integrity (MD5)..."},
        {139, "Corrupt file (wrong MD5 signature). The file was deleted."},
        {140, "%s options"},
        {141, "Extracting the main application files..."},
        {142, "Link"},
        {143, "State"},
        {144, "Command line:\n%s [options]\noptions:\n"
              "/? or /help\t\tthis help\n"
              "/extract [folder]\t\textract the package files\n"
              "/originalPath path\tpath of the original setup file\n"
              "/extractlzma\t\textract the main package\n"
              "/deletelzma\t\tdelete the extracted main package\n"
              "/exenoui\t\t\tinstall without a user interface\n"
              "/exebasicui\t\tinstall with a basic user interface\n"
              "/exefullui\t\tinstall with the full user interface\n"
              "/exelang code\t\tsetup language\n"
              "/listlangs\t\tlist the setup languages\n"
              "/exelog [file]\t\twrite a setup log\n"
              "/groupsextract list\textract the groups of these ids (101;102;)\n"
              "/callbackid number\tidentifier of the calling process\n"
              "/out folder\t\tfolder for extracted groups\n"
              "/username, /proxyusername name\tproxy user name\n"
              "/password, /proxypassword password\tproxy password\n"
              "/exenoupdates\t\tdo not look for updates\n"
              "/aespassword password\tpackage password\n"
              "/prereqs list\t\trequired programs to install\n"
              "/noprereqs\t\tdo not install required programs\n"
              "Other options are passed to Windows Installer."},
        {145, "Name"},
        {146, "Action"},
        {147, "Skip"},
        {148, "Download"},
        {149, "Install"},
        {151, "Not found"},
        {152, "Open web site"},
        {153, "Running %s..."},
        {154, "Click Next to download the required programs."},
        {155, "Click Next to install the required programs."},
        {156, "Click Next to open the web sites of the required programs."},
        {157, "Click Finish to install the main application."},
        {158, "Pause"},
        {159, "Resume"},
        {160, "Required: any."},
        {161, "%s Setup"},
        {162, "Required: %s or lower."},
        {163, "Required: %s or higher."},
        {164, "Required: between %s and %s."},
        {165, " Found: nothing."},
        {166, " Found: %s."},
        {167, "Version"},
        {168, "This component is mandatory. It must be installed and cannot be unchecked."},
        {169, "Name"},
        {170, "Click Finish when you are done and ready to install %s. "},
        {171, "Click Next to install the required programs."},
        {172, "State"},
        {173, "Waiting"},
        {174, "Installing..."},
        {175, "Installed"},
        {176, "Error: %s"},
        {177, "Installing %s from: %s"},
        {178, "Some programs could not be installed. Click Back to return to the list of required "
              "programs."},
        {179, "After all packages ran, some required programs are still missing. Click Back to "
              "return to the list of "
              "required programs."},
        {180, "All required programs were installed successfully. Click Finish to install the main "
              "application."},
        {182, "Requirement"},
        {183, "Some programs could not be downloaded. Try again, or remove them from the list of "
              "required programs."},
        {184, "Waiting"},
        {185, "Completed"},
        {186, "Wrong size"},
        {188, "Some required programs are still missing. Try again, or remove them from the list "
              "of required "
              "programs."},
        {189, "%d h %d min at %s/s"},
        {190, "%d min %d s at %s/s"},
        {191, "%d s at %s/s"},
        {192, "Size"},
        {193, "Paused"},
        {194, "Progress: %d%% (%s of %s)"},
        {195, "Downloading: %s %d%%  (%s of %s)"},
        {196, "Download completed"},
        {198, "Opening %s..."},
        {199, "Downloading %s"},
        {200, "Extracting files from the archive..."},
        {201, "Extracting file to %s"},
        {202, "The file %s cannot be extracted. Error message: %s"},
        {203, "Extracting from JAR files requires Java Runtime Environment 1.5 or later."},
        {204, "Another copy of the setup is already running."},
        {205, " A suitable version was found."},
        {206, "%s cannot be installed on %s."},
        {208, "%s cannot be installed on systems with Internet Explorer older than %s."},
        {209,
         "%s cannot be installed on systems with Internet Information Services older than %s."},
        {210, "%s cannot be installed on systems with a screen resolution below %s."},
        {211, "%s cannot be installed on systems with a colour depth below %s bits."},
        {212, "%s cannot be installed on systems with less than %s MB of physical memory."},
        {213, "%s cannot be installed on systems with .NET Framework older than %s."},
        {214, "%s requires administrator rights to install."},
        {215, "Error: %s"},
        {216,
         "The computer must be restarted to finish installing the required programs. Restart now?"},
        {217, "Restart required"},
        {218, "Extracting file:%s"},
        {219, "Not enough space in the folder:%s\r\nPlease free some space and click Retry, or "
              "click Cancel to stop "
              "the installation."},
        {220, "Preparing..."},
        {221, "%s cannot be installed on systems with Adobe Reader older than %s."},
        {222, "%s languages"},
        {223, "Looking for required components..."},
        {224, "%s cannot be installed on systems with JRE older than %s."},
        {225, "%s cannot be installed on systems with DirectX older than %s."},
        {226, "%s requires an active Internet connection to install. Please check your network "
              "configuration and "
              "proxy settings."},
        {229, "Installation path"},
        {230, "Product name"},
        {231, "Question"},
        {232, "The selected instance will be updated. Continue?"},
        {235, "Product %s cannot be installed on systems with XNA Framework older than %s."},
        {236, "Checking launch conditions..."},
        {237, "Product %s cannot be installed on systems with JDK older than %s."},
        {238, "Product %s cannot be installed on systems without %s."},
        {239, "Product %s cannot be installed on systems without %s or higher."},
        {243, "Product %s cannot be installed on systems without %s."},
        {247, "Cannot access URL: %s"},
        {249, "Product %s cannot be installed on systems without %s."},
        {ui_text::kErrorCaption, "Error"},
        {ui_text::kRebootFailed, "\r\nThe computer could not be restarted. Restart it yourself; "
                                 "setup continues after the restart."},
        {ui_text::kNoPackage, "The program carries no setup package:\n%s\n(none was appended, or "
                              "the file is cut short): there is nothing to install.\nA package is "
                              "made by ./scripts/package.sh "
                              "(dist/TelmarSetup2.3) or krv-package-builder."},
        {ui_text::kDownloadProgressUnknownSize, "Downloading: %s (%s)"},
        {ui_text::kSpeedOnly, "%s/s"},
        {ui_text::kOverallProgressUnknownSize, "Progress: %s"},
    };
    return table;
}

std::mutex g_moduleMutex;
// The program's own dialog texts.
const std::map<uint32_t, std::map<uint32_t, std::string>> &BuiltinDialogs() {
    static const std::map<uint32_t, std::map<uint32_t, std::string>> dialogs = {
        // The language dialog: title, prompt, OK and Cancel.
        {217,
         {{0, "Язык программы установки"},
          {0xFFFF, "Пожалуйста, выберите язык:"},
          {1, "OK"},
          {2, "Отмена"}}},
    };
    return dialogs;
}

std::shared_ptr<const ResourceModule> g_module;
std::function<void(const ResourceModule &)> g_moduleListener;

constexpr std::size_t kMaxFieldWidth = 1024;

std::size_t Utf8Length(std::string_view text) {
    std::size_t n = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++n;
    }
    return n;
}

struct FormatField {
    std::string flags;
    std::size_t width = 0;
    bool hasPrecision = false;
    std::size_t precision = 0;
    char conversion = 0;
};

void AppendPadded(std::string &out, const std::string &text, const FormatField &field) {
    std::size_t length = Utf8Length(text);
    bool left = field.flags.find('-') != std::string::npos;
    if (!left && field.width > length)
        out.append(field.width - length, ' ');
    out += text;
    if (left && field.width > length)
        out.append(field.width - length, ' ');
}

std::string NumberText(const UiArg &arg) {
    if (auto s = std::get_if<int64_t>(&arg))
        return std::to_string(*s);
    return std::to_string(std::get<uint64_t>(arg));
}

// A number conversion through snprintf, with a format we built ourselves
// from checked parts.
std::string FormatNumber(const FormatField &field, const UiArg &arg) {
    // "#" means something only for hexadecimal; elsewhere printf leaves it
    // undefined.
    std::string flags = field.flags;
    if (field.conversion != 'x' && field.conversion != 'X')
        std::erase(flags, '#');
    std::string format = "%" + flags;
    if (field.width)
        format += std::to_string(field.width);
    if (field.hasPrecision)
        format += "." + std::to_string(field.precision);
    char buffer[2 * kMaxFieldWidth + 64];
    int n = 0;
    if (field.conversion == 'd' || field.conversion == 'i') {
        format += "lld";
        long long value = 0;
        if (auto s = std::get_if<int64_t>(&arg)) {
            value = *s;
        } else {
            uint64_t u = std::get<uint64_t>(arg);
            if (u > static_cast<uint64_t>(INT64_MAX)) {
                format.back() = 'u'; // too large for a signed number
                n = std::snprintf(buffer, sizeof buffer, format.c_str(),
                                  static_cast<unsigned long long>(u));
                if (n < 0)
                    return {};
                return std::string(
                    buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
            }
            value = static_cast<long long>(u);
        }
        n = std::snprintf(buffer, sizeof buffer, format.c_str(), value);
    } else {
        format += "ll";
        format += field.conversion;
        unsigned long long value = 0;
        if (auto s = std::get_if<int64_t>(&arg)) {
            // A negative 32-bit number prints as its unsigned 32-bit form.
            value = (*s < 0 && *s >= INT32_MIN) ? static_cast<uint32_t>(*s)
                                                : static_cast<unsigned long long>(*s);
        } else {
            value = std::get<uint64_t>(arg);
        }
        n = std::snprintf(buffer, sizeof buffer, format.c_str(), value);
    }
    if (n < 0)
        return {};
    return std::string(buffer,
                       std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

} // namespace

std::string TruncateUtf8(std::string_view text, std::size_t maxChars) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == maxChars)
                return std::string(text.substr(0, i));
            ++chars;
        }
    }
    return std::string(text);
}

std::shared_ptr<const ResourceModule> BuiltinResourceModule() {
    static const auto builtin = std::make_shared<const ResourceModule>(
        ResourceModule{"builtin", 0x0419, BuiltinStrings(), BuiltinDialogs(), {}});
    return builtin;
}

std::shared_ptr<const ResourceModule> EnglishResourceModule() {
    static const auto english = std::make_shared<const ResourceModule>(
        ResourceModule{"english", 0x0409, EnglishStrings(), {}, {}});
    return english;
}

std::shared_ptr<const ResourceModule> GetResourceModule() {
    std::lock_guard lock(g_moduleMutex);
    if (!g_module)
        g_module = BuiltinResourceModule();
    return g_module;
}

std::shared_ptr<const ResourceModule>
SetResourceModule(std::shared_ptr<const ResourceModule> module) {
    if (!module)
        module = BuiltinResourceModule();
    std::shared_ptr<const ResourceModule> previous;
    std::function<void(const ResourceModule &)> listener;
    {
        std::lock_guard lock(g_moduleMutex);
        previous = g_module ? g_module : BuiltinResourceModule();
        g_module = module;
        listener = g_moduleListener;
    }
    if (listener)
        listener(*module);
    return previous;
}

void SetResourceModuleListener(std::function<void(const ResourceModule &)> listener) {
    std::lock_guard lock(g_moduleMutex);
    g_moduleListener = std::move(listener);
}

std::string LoadUiString(uint32_t id) {
    auto module = GetResourceModule();
    auto it = module->strings.find(id);
    if (it == module->strings.end()) {
        const auto &builtin = BuiltinResourceModule()->strings;
        it = builtin.find(id);
        if (it == builtin.end())
            return {};
    }
    return TruncateUtf8(it->second, kUiStringMaxChars);
}

namespace {

// The entry of `id` under `key` of a two-level table; null when missing.
template <typename Table, typename Key>
const std::string *FindNested(const Table &table, const Key &key, uint32_t id) {
    const auto inner = table.find(key);
    if (inner == table.end())
        return nullptr;
    const auto entry = inner->second.find(id);
    return entry == inner->second.end() ? nullptr : &entry->second;
}

} // namespace

std::string LoadDialogText(uint32_t dialogId, uint32_t controlId) {
    for (const auto &module : {GetResourceModule(), BuiltinResourceModule()})
        if (const std::string *text = FindNested(module->dialogs, dialogId, controlId))
            return TruncateUtf8(*text, kUiStringMaxChars);
    return {};
}

std::string LoadResourceBlock(std::string_view kind, uint32_t id) {
    for (const auto &module : {GetResourceModule(), BuiltinResourceModule()})
        if (const std::string *block = FindNested(module->blocks, kind, id))
            return *block;
    return {};
}

std::string GetUiString(uint32_t id) {
    return LoadUiString(id);
}

std::string FormatUiText(std::string_view format, const std::vector<UiArg> &args) {
    std::string out;
    std::size_t next = 0;
    std::size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        std::size_t start = i++;
        if (i < format.size() && format[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        FormatField field;
        bool refused = false;
        while (i < format.size() &&
               std::string_view("-+ 0#").find(format[i]) != std::string_view::npos)
            field.flags += format[i++];
        auto readNumber = [&](std::size_t &value) {
            if (i < format.size() && format[i] == '*') {
                refused = true;
                ++i;
                return;
            }
            while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
                value = std::min<std::size_t>(
                    value * 10 + static_cast<std::size_t>(format[i] - '0'), kMaxFieldWidth);
                ++i;
            }
        };
        readNumber(field.width);
        if (i < format.size() && format[i] == '.') {
            ++i;
            field.hasPrecision = true;
            readNumber(field.precision);
        }
        // Length letters carry no meaning here: every argument is 64-bit.
        if (format.substr(i, 3) == "I64" || format.substr(i, 3) == "I32")
            i += 3;
        else
            while (i < format.size() && (format[i] == 'h' || format[i] == 'l' || format[i] == 'z'))
                ++i;
        if (i >= format.size()) {
            out.append(format.substr(start)); // an unfinished conversion at the end
            break;
        }
        field.conversion = format[i++];
        bool known = std::string_view("sdiuxXc").find(field.conversion) != std::string_view::npos;
        if (refused || !known) {
            out.append(format.substr(start, i - start));
            continue;
        }
        if (next >= args.size())
            continue; // a conversion without an argument prints nothing
        const UiArg &arg = args[next++];
        if (const auto *text = std::get_if<std::string>(&arg)) {
            std::string value = *text;
            if (field.conversion == 'c')
                value = TruncateUtf8(value, 1);
            else if (field.hasPrecision)
                value = TruncateUtf8(value, field.precision);
            AppendPadded(out, value, field);
            continue;
        }
        if (field.conversion == 's') {
            std::string value = NumberText(arg);
            AppendPadded(out, field.hasPrecision ? TruncateUtf8(value, field.precision) : value,
                         field);
        } else if (field.conversion == 'c') {
            std::string value;
            if (auto s = std::get_if<int64_t>(&arg))
                krv::platform::AppendUtf8(value, *s < 0 ? 0xFFFD : static_cast<uint64_t>(*s));
            else
                krv::platform::AppendUtf8(value, std::get<uint64_t>(arg));
            AppendPadded(out, value, field);
        } else {
            out += FormatNumber(field, arg);
        }
    }
    return out;
}

std::string FormatUiString(uint32_t id, const std::vector<UiArg> &args) {
    return FormatUiText(LoadUiString(id), args);
}

} // namespace krv::setup
