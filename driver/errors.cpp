#include "errors.h"

#include "codepage.h"
#include "link.h"

#include <array>
#include <mutex>

namespace krv::drv {

namespace {

constexpr const char *kCrLf = "\r\n";

constexpr std::array<const char *, 8> kStatusBitTexts = {
    "Принтер не готов",
    "Превышение продолжительности хранения данных в КЛЭФ",
    "Переполнение фискальной памяти",
    "Неправильная дата или ошибка часов",
    "Ошибка индикатора",
    "Превышение продолжительности смены",
    "Снижение рабочего напряжения питания",
    "Функция не существует или запрещена в данном режиме",
};

constexpr const char *kServiceReportOpenText = "Команда запрещена, открыт служебный отчёт";

// Texts of the error codes 00..32; null where the printer's code has none.
constexpr std::array<const char *, 0x33> kErrorCodeTexts = {
    /* 00 */ nullptr,
    /* 01 */ "Ошибка принтера",
    /* 02 */ "Закончилаь бумага",
    /* 03 */ nullptr,
    /* 04 */ "Сбой фискальной памяти",
    /* 05 */ nullptr,
    /* 06 */ "Снижение рабочего напряжения питания",
    /* 07 */ nullptr,
    /* 08 */ "Фискальная память переполнена",
    /* 09 */ nullptr,
    /* 0A */ "Не было персонализации",
    /* 0B */ nullptr,
    /* 0C */ nullptr,
    /* 0D */ nullptr,
    /* 0E */ nullptr,
    /* 0F */ nullptr,
    /* 10 */ "Команда запрещена в данном режиме",
    /* 11 */ nullptr,
    /* 12 */ nullptr,
    /* 13 */ "Ошибка программирования логотипа",
    /* 14 */ "Недопустимая длина строки",
    /* 15 */ "Неверный пароль",
    /* 16 */ "Несуществующий номер (пароля, строки)",
    /* 17 */ "Налоговая группа не существует или не установлена, налоги не вводились",
    /* 18 */ "Тип оплат не существует",
    /* 19 */ "Недопустимые коды символов",
    /* 1A */ "Превышение количества налогов",
    /* 1B */ "Отрицательная продажа больше суммы предыдущих продаж чека",
    /* 1C */ "Ошибка в описании артикула (название или налоговая группа)",
    /* 1D */ nullptr,
    /* 1E */ "Ошибка формата даты/времени",
    /* 1F */ "Превышение количества регистраций в чеке",
    /* 20 */ "Превышение разрядности вычисленной стоимости",
    /* 21 */ "Переполнение регистра дневного оборота",
    /* 22 */ "Переполнение регистра оплат",
    /* 23 */ "Попытка выдачи большей суммы наличных, чем в денежном ящике",
    /* 24 */ "Устанавливаемая дата предшествует дате последнего Z-отчета",
    /* 25 */ "Открыт чек выплат, продажи запрещены",
    /* 26 */ "Открыт чек продаж, выплаты запрещены",
    /* 27 */ "Команда запрещена, чек не открыт",
    /* 28 */ nullptr,
    /* 29 */ "Команда запрещена до Z-отчета",
    /* 2A */ "Команда запрещена, не было чеков",
    /* 2B */ "Сдача с этой формы оплаты запрещена",
    /* 2C */ "Команда запрещена, чек открыт",
    /* 2D */ "Не было продаж/выплат, скидка невозможна",
    /* 2E */ "Команда запрещена после начала оплат",
    /* 2F */ "Переполнение КЛЭФ",
    /* 30 */ "Неправильный номер данных КЛЭФ",
    /* 31 */ nullptr,
    /* 32 */ "Команда запрещена, КЛЭФ не пустой",
};

// The lines the extended flags add in front of every refusal, in this order.
std::string FlagLines(const ReplyFlags &flags) {
    std::string text;
    const auto add = [&](int16_t flag, const char *line) {
        if (flag != 0) {
            text += kCrLf;
            text += line;
        }
    };
    add(flags.accident, "АВАРИЯ! Команда завершится после устранения ошибки.");
    add(flags.clockError, "Ошибка часов.");
    add(flags.shiftOver24h, "Продолжительность смены больше 24 часов.");
    add(flags.notPersonalized, "ЭККР не персонализирован.");
    add(flags.noPaper, "Нет бумаги.");
    return text;
}

} // namespace

namespace {
std::recursive_mutex &ExportMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}
} // namespace

ExportLock::ExportLock() {
    ExportMutex().lock();
}
ExportLock::~ExportLock() {
    ExportMutex().unlock();
}

LastErrorState &ErrorState() {
    static LastErrorState state;
    return state;
}

void SetErrorText(std::string_view utf8) {
    ErrorState().text = platform::Utf8ToCp1251(utf8);
}

void ClearErrorText() {
    ErrorState().text.clear();
}

std::string StatusBitText(int bit) {
    if (bit < 0 || bit >= static_cast<int>(kStatusBitTexts.size()))
        return {};
    return kStatusBitTexts[bit];
}

std::string ErrorCodeText(uint8_t code, bool serviceReportOpen) {
    if (code >= kErrorCodeTexts.size() || kErrorCodeTexts[code] == nullptr)
        return {};
    if ((code == 0x27 || code == 0x2C) && serviceReportOpen)
        return kServiceReportOpenText;
    return kErrorCodeTexts[code];
}

bool DeviceStatusDecoder(uint8_t status, uint8_t code) {
    if (status == 0 && code == 0)
        return true;
    const ReplyFlags &flags = LastReply().flags;
    std::string text = FlagLines(flags);
    text += kCrLf;
    if (status != 0) {
        // The status bits say more than the code; the code's text is left out.
        bool first = true;
        for (int bit = 0; bit < 8; ++bit) {
            if ((status & (1u << bit)) == 0)
                continue;
            if (!first)
                text += kCrLf;
            text += kStatusBitTexts[bit];
            first = false;
        }
    } else {
        text += ErrorCodeText(code, flags.serviceReportOpen != 0);
    }
    LastErrorState &state = ErrorState();
    state.code = code;
    state.status = status;
    SetErrorText(text);
    return false;
}

bool LinkResult(bool transactionOk) {
    if (!transactionOk)
        SetErrorText(LastLinkFault() == LinkFault::ReplyTooLong ? kReplyFormatText : kTimeoutText);
    return transactionOk;
}

bool StrictResult(bool transactionOk) {
    if (!LinkResult(transactionOk))
        return false;
    const ReplyHeader &header = LastReply().header;
    return DeviceStatusDecoder(header.status, header.error);
}

bool StandardResult(bool transactionOk) {
    if (StrictResult(transactionOk))
        return true;
    // A shift past its 24 hours alone does not stop the command; the text
    // stays for the caller who wants to warn about it.
    return transactionOk && ErrorState().status == 0x20;
}

bool LinkResultCheckingCode(bool transactionOk) {
    if (!LinkResult(transactionOk))
        return false;
    const uint8_t code = LastReply().header.error;
    return code == 0 || DeviceStatusDecoder(0, code);
}

} // namespace krv::drv
