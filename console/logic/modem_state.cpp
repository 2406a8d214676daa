#include "modem_state.h"

#include "codepage.h"
#include "date_time_text.h"
#include "text_forms.h"

#include <algorithm>
#include <optional>

namespace krv::console {

namespace {

// ---- Reading the reply ----------------------------------------------------------

// Little- or big-endian fields of a reply that holds at least the base state.
class ReplyReader {
  public:
    explicit ReplyReader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    uint32_t Le(size_t offset, size_t size) const {
        uint32_t value = 0;
        for (size_t i = size; i-- > 0;)
            value = (value << 8) | At(offset + i);
        return value;
    }
    uint32_t Be(size_t offset, size_t size) const {
        uint32_t value = 0;
        for (size_t i = 0; i < size; ++i)
            value = (value << 8) | At(offset + i);
        return value;
    }
    uint8_t At(size_t offset) const { return offset < m_bytes.size() ? m_bytes[offset] : 0; }
    QString Address(size_t offset) const {
        return QStringLiteral("%1.%2.%3.%4")
            .arg(At(offset))
            .arg(At(offset + 1))
            .arg(At(offset + 2))
            .arg(At(offset + 3));
    }

  private:
    std::span<const uint8_t> m_bytes;
};

const QString kNoAddress = QStringLiteral("0.0.0.0");

// The version word is four BCD digits: its hexadecimal text read as decimal.
// A word with a digit above 9 is no version and reads as 0.
uint16_t VersionOf(uint16_t word) {
    bool ok = false;
    const uint32_t value = QString::number(word, 16).toUInt(&ok, 10);
    return ok ? static_cast<uint16_t>(value) : 0;
}

// ---- Decoder tables ---------------------------------------------------------------

struct CodeRow {
    int code;
    const char16_t *name;
    const char16_t *description;
};

template <size_t N> const CodeRow *Find(const CodeRow (&rows)[N], int code) {
    const auto it = std::find_if(std::begin(rows), std::end(rows),
                                 [code](const CodeRow &row) { return row.code == code; });
    return it == std::end(rows) ? nullptr : it;
}

template <size_t N> QString NameOf(const CodeRow (&rows)[N], int code, const char16_t *fallback) {
    const CodeRow *row = Find(rows, code);
    return QString::fromUtf16(row ? row->name : fallback);
}

template <size_t N>
QString DescriptionOf(const CodeRow (&rows)[N], int code, const char16_t *fallback) {
    const CodeRow *row = Find(rows, code);
    return QString::fromUtf16(row ? row->description : fallback);
}

const CodeRow kFailCodes[] = {
    {0x00, u"DPSWFAIL_NONE (0x00)", u"Нет ошибок"},
    {0x01, u"DPSWFAIL_ECR_INIT_ERROR (0x01)", u"Ошибка инициализации драйвера РРО"},
    {0x02, u"DPSWFAIL_ECR_CHANGED (0x02)",
     u"Параметры РРО изменились во время работы модема\r\n (заводской, фискальный или налоговый "
     u"номер)"},
    {0x03, u"DPSWFAIL_ECR_PID_INVALID (0x03)",
     u"Нарушена синхронизация в нумерации пакетов\r\n между РРО и модемом (номер первого пакета "
     u"в РРО\r\n больше номера, ожидаемого модемом)"},
    {0x04, u"DPSWFAIL_ECR_DATA_INVALID (0x04)",
     u"Данные чека или Z-отчёта, считанные из РРО,\r\n некорректны"},
    {0x20, u"DPSWFAIL_KSEF_INIT_ERROR (0x20)", u"Ошибка инициализации КЛЭФ (SD-карта)"},
    {0x21, u"DPSWFAIL_KSEF_REC_INVALID (0x21)", u"КЛЭФ повреждён"},
    {0x22, u"DPSWFAIL_KSEF_ALLOC_ERROR (0x22)", u"Ошибка создания пакета КЛЭФ"},
    {0x23, u"DPSWFAIL_KSEF_WRITE_ERROR (0x23)", u"Ошибка записи пакета КЛЭФ"},
    {0x24, u"DPSWFAIL_KSEF_FULL (0x24)", u"Переполнение КЛЭФ"},
    {0x40, u"DPSWFAIL_SAM_INIT_ERROR (0x40)", u"Ошибка инициализации модуля безопасности"},
    {0x41, u"DPSWFAIL_SAM_FAIL (0x41)", u"Ошибка взаимодействия с модулем безопасности"},
    {0x42, u"DPSWFAIL_SAM_MISMATCH (0x42)", u"Модуль безопасности заменён"},
    {0x60, u"DPSWFAIL_ACQ_REJECT (0x60)", u"Эквайер отказал в регистрации ID_DEV+ID_SAM"},
};

// Modem driver stages by range of the low seven bits.
struct StageRow {
    int first, last;
    const char16_t *name;
    const char16_t *description;
};
const StageRow kStages[] = {
    {0, 0, u"DLS_NONE (0)", u"Модем не инициализирован"},
    {1, 1, u"DLS_INIT (1)", u"Старт инициализации модема"},
    {2, 2, u"DLS_WAIT_RECONNECT (2)", u"Переподключение модема"},
    {4, 4, u"DLS_PORT_OPEN (4)", u"Открытие порта модема"},
    {5, 11, u"DLS_CMDx (5-11)", u"Выполнение внутренних команд инициализации"},
    {12, 14, u"DLS_INIT_MAIN (12-14)", u"Отправка в модем команд из строки инициализации"},
    {15, 16, u"DLS_WAIT_INIT (15-16)", u"Ожидание ответа на команду строки инициализации"},
    {17, 17, u"DLS_PPP (17)", u"GPRS/CDMA соединение установлено"},
    {18, 24, u"DLS_DC_CMD (18-24)", u"Выполнение внутр. команд завершения соединения"},
    {25, 25, u"DLS_CLOSE (25)", u"Закрытие порта модема"},
};

const StageRow *StageOf(uint8_t code) {
    const int stage = code & 0x7F;
    for (const StageRow &row : kStages)
        if (stage >= row.first && stage <= row.last)
            return &row;
    return nullptr;
}

const char16_t *const kLinkStageNames[] = {
    u"Initial (0)",  u"Starting (1)", u"Closed (2)",  u"Stopped (3)", u"Closing (4)",
    u"Stopping (5)", u"ReqSent (6)",  u"AckRcvd (7)", u"AckSent (8)", u"Opened (9)"};
constexpr uint8_t kLinkOpened = 9;

QString LinkStageName(uint8_t code) {
    return code <= kLinkOpened ? QString::fromUtf16(kLinkStageNames[code])
                               : QStringLiteral("UNKNOWN");
}

QString LinkStageDescription(uint8_t code, const char16_t *opened) {
    if (code == kLinkOpened)
        return QString::fromUtf16(opened);
    return code < kLinkOpened ? QString() : QStringLiteral("Не известно");
}

const CodeRow kLanStates[] = {
    {0x00, u"LMS_NONE (0x00)", u""},          {0x01, u"LMS_POR_WAIT (0x01)", u""},
    {0x02, u"LMS_RESET (0x02)", u""},         {0x03, u"LMS_RESET_WAIT (0x03)", u""},
    {0x04, u"LMS_PHL_ON (0x04)", u""},        {0x05, u"LMS_PHL_ON_WAIT (0x05)", u""},
    {0x06, u"LMS_PHL_ON_WAIT_1 (0x06)", u""}, {0x07, u"LMS_PHL_ON_WAIT_2 (0x07)", u""},
    {0x08, u"LMS_PHL_ON_WAIT_3 (0x08)", u""}, {0x09, u"LMS_MAIN (0x09)", u"Активен"},
};

const CodeRow kDhcpStates[] = {
    {0x00, u"DHCP_NONE (0x00)", u""},
    {0x01, u"DHCP_START (0x01)", u""},
    {0x02, u"DHCP_SEND_DISCOVER (0x02)", u""},
    {0x04, u"DHCP_SEND_REQUEST (0x04)", u""},
    {0x06, u"DHCP_CHECK_LEASTIME (0x06)", u"Сконфигурирован успешно"},
    {0x83, u"DHCP_WAIT_OFFER (0x83)", u""},
    {0x85, u"DHCP_WAIT_ACK (0x85)", u""},
};

const CodeRow kRegisterResults[] = {
    {0x00, u"ECRRES_NO_ERROR (0x00)", u"Нет ошибок"},
    {0x01, u"ECRRES_GENERAL_FAIL (0x01)", u"Общая ошибка"},
    {0x02, u"ECRRES_TIMEOUT_INITTASK (0x02)", u"Ошибка старта сеанса связи"},
    {0x03, u"ECRRES_NO_PERSON_REC (0x03)", u"Ошибка получения данных персонализации"},
    {0x04, u"ECRRES_PID_MAP_ERR (0x04)", u"Ошибка чтения служебной информации КЛЭФ"},
    {0x05, u"ECRRES_PID_WRITE_ERR (0x05)", u"Ошибка записи пакета КЛЭФ"},
    {0x06, u"ECRRES_PID_ALLOC_ERR (0x06)", u"Ошибка создания пакета КЛЭФ"},
    {0x07, u"ECRRES_PID_READ_ERR (0x07)", u"Ошибка чтения пакета КЛЭФ"},
    {0x08, u"ECRRES_NOT_FISCAL_MODE (0x08)", u"РРО в нефискальном режиме"},
    {0xFB, u"ECRTR_INV_STATE (0xFB)", u"Ошибка связи с РРО на транспортном уровне"},
    {0xFC, u"ECRTR_BUSY (0xFC)", u"РРО занят"},
    {0xFD, u"ECRTR_CONFLICT (0xFD)", u"Конфликт пакетов на транспортном уровне"},
    {0xFE, u"ECRTR_TIMEOUT (0xFE)", u"Таймаут связи с РРО"},
    {0xFF, u"ECRTR_FAIL (0xFF)", u"Общая ошибка обмена с РРО"},
};

const CodeRow kAcquirerResults[] = {
    {0x00, u"XCHGRES_NO_ERROR (0x00)", u"Нет ошибок"},
    {0x01, u"XCHGRES_GENERAL_FAIL (0x01)", u"Общая ошибка"},
    {0x02, u"XCHGRES_TIMEOUT (0x02)", u"Таймаут сеанса связи"},
    {0x03, u"XCHGRES_PID_MAP_ERR (0x03)", u"Ошибка чтения служебной информации КЛЭФ"},
    {0x04, u"XCHGRES_PID_READ_ERR (0x04)", u"Ошибка чтения пакета КЛЭФ"},
    {0x05, u"XCHGRES_PID_WRITE_ERR (0x05)", u"Ошибка записи пакета КЛЭФ"},
    {0x06, u"XCHGRES_STA_RESP_LEN_ERR (0x06)", u"Некорректная длина документа ДПС"},
    {0x07, u"XCHGRES_STA_RESP_TLGID_ERR (0x07)", u"Некорректный тип вложенной телеграммы ДПС"},
    {0x08, u"XCHGRES_STA_RESP_MAC_ERR (0x08)", u"Ошибка при проверке MAC"},
    {0x09, u"XCHGRES_SAM_BUSY (0x09)", u"Модуль безопасности занят"},
    {0xF0, u"SES_ERR_CNCT (0xF0)", u"Ошибка установления соединения с эквайером"},
    {0xF1, u"SES_ERR_REJECT (0xF1)", u"Эквайер отверг соединение с данным ID_DEV"},
    {0xF2, u"SES_ERR_INTERNAL (0xF2)", u"Внутренняя ошибка модема"},
    {0xF3, u"SES_ERR_TIMEOUT (0xF3)", u"Таймаут ожидания ответа от эквайера"},
    {0xF4, u"SES_CNCT_ACQ_CLOSE (0xF4)", u"Эквайер неожиданно закрыл TCP-соединение"},
    {0xF5, u"SES_ACQ_BADRESP (0xF5)", u"Неверный формат ответа эквайера"},
    {0xF6, u"SES_RETRY_CNT_OVERFLOW (0xF6)",
     u"Превышено максмальное количество попыток\r\n повтора передачи телеграммы"},
    {0xF7, u"SES_ACQ_SEND_BREAK (0xF7)", u"Эквайер неожиданно закрыл сессию"},
};

const char16_t *const kUnknown = u"Не известно";

QString Band(const char16_t *prefix, uint8_t value) {
    return QString::fromUtf16(prefix) + QString::number(value) + QLatin1Char(')');
}

} // namespace

// ---- The record -------------------------------------------------------------------

ModemState EmptyModemState() {
    ModemState state;
    state.FirstUnsendPIDDateTime = ModemMoment(0);
    state.SysTime = PlainDateTime(QDate(1899, 12, 30), QTime(0, 0));
    for (QString *address :
         {&state.NETIPAddr, &state.NETGate, &state.NETMask, &state.MODIPAddr, &state.ACQIPAddr})
        *address = kNoAddress;
    return state;
}

ModemState &CurrentModemState() {
    static ModemState state = EmptyModemState();
    return state;
}

void ResetModemState() {
    CurrentModemState() = EmptyModemState();
}

QDateTime ModemMoment(uint32_t seconds) {
    return PlainDateTime(QDate(2000, 1, 1), QTime(0, 0)).addSecs(seconds);
}

bool ModemStateParser(std::span<const uint8_t> bytes, int highestIndex, ModemState &state) {
    const size_t given = highestIndex < 0 ? 0 : static_cast<size_t>(highestIndex) + 1;
    const std::span<const uint8_t> reply = bytes.first(std::min(given, bytes.size()));
    if (reply.size() < kModemBaseStateBytes)
        return false;

    const ReplyReader r(reply);
    ModemState s = EmptyModemState();
    s.SecondCnt = r.Le(0, 4);
    s.RROXchgTime = r.Le(4, 4);
    s.ACQXchgTime = r.Le(8, 4);
    s.FirstUnsendPIDDateTime = ModemMoment(r.Le(12, 4));
    s.PID_Unused = r.Le(16, 4);
    s.PID_CurPers = r.Le(20, 4);
    s.PID_LastWrite = r.Le(24, 4);
    s.PID_LastSign = r.Le(28, 4);
    s.PID_LastSend = r.Le(32, 4);
    s.SN = r.Le(36, 4);
    s.ID_DEV = r.Le(40, 4);
    s.ID_SAM = r.Be(44, 4);
    s.NT_SAM = r.Be(48, 4);
    s.NT_SESSION = static_cast<uint16_t>(r.Be(52, 2));
    s.FailCode = r.At(54);
    s.Res1 = r.At(55);
    s.BatVoltage = static_cast<uint16_t>(r.Le(56, 2));
    s.DCVoltage = static_cast<uint16_t>(r.Le(58, 2));
    s.BatCurrent = static_cast<uint16_t>(r.Le(60, 2));
    s.Temperature = static_cast<uint16_t>(r.Le(62, 2));
    s.ModemState1 = r.At(64);
    s.ModemState2 = r.At(65);
    s.ModemState3 = r.At(66);
    s.LanState1 = r.At(67);
    s.LanState2 = r.At(68);
    s.RROXchgResult = r.At(69);
    s.ACQXchgResult = r.At(70);
    s.Res2 = r.At(71);
    s.RROXchgErrorCnt = static_cast<uint16_t>(r.Le(72, 2));
    s.RSSI = r.At(74);
    s.RSSI_BER = r.At(75);

    if (reply.size() == kModemExtendedStateBytes) {
        s.USSDResult = QByteArray(reinterpret_cast<const char *>(reply.data()) + 76, 79);
        s.OSVer = VersionOf(static_cast<uint16_t>(r.Le(156, 2)));
        s.OSRev = static_cast<uint16_t>(r.Le(158, 2));
        s.SysTime = ModemMoment(r.Le(160, 4));
        s.NETIPAddr = r.Address(164);
        s.NETGate = r.Address(168);
        s.NETMask = r.Address(172);
        s.MODIPAddr = r.Address(176);
        s.ACQIPAddr = r.Address(180);
        s.ACQPort = static_cast<uint16_t>(r.Be(184, 2));
    }
    state = std::move(s);
    return true;
}

QString HexWithPrefix(uint32_t value, int n) {
    return QStringLiteral("0x") + HexDigits(value, 2 * n);
}

QString UssdText(const QByteArray &raw) {
    const qsizetype end = raw.indexOf('\0');
    const QByteArray shown = end < 0 ? raw : raw.left(end);
    return QString::fromStdString(
        platform::Cp1251ToUtf8(std::string_view(shown.constData(), size_t(shown.size()))));
}

// ---- Decoders ------------------------------------------------------------------------

QString FailCodeName(uint8_t code) {
    return NameOf(kFailCodes, code, u"DPSWFAIL_UNKNOWN");
}
QString FailCodeDescription(uint8_t code) {
    return DescriptionOf(kFailCodes, code, u"Не известная ошибка");
}

QString ModemState1Name(uint8_t code) {
    const StageRow *row = StageOf(code);
    return QString::fromUtf16(row ? row->name : u"DLS_UNKNOWN");
}
QString ModemState1Description(uint8_t code) {
    const StageRow *row = StageOf(code);
    QString text = QString::fromUtf16(row ? row->description : kUnknown);
    // Bit 7 marks a stage still running (80 alone is stage 0 at rest).
    if (code > 0x80)
        text += QStringLiteral("\r\n(ожидается завершение стадии)");
    return text;
}

QString ModemState2Name(uint8_t code) {
    return LinkStageName(code);
}
QString ModemState2Description(uint8_t code) {
    return LinkStageDescription(code, u"PPP-соедиение установлено");
}
QString ModemState3Name(uint8_t code) {
    return LinkStageName(code);
}
QString ModemState3Description(uint8_t code) {
    return LinkStageDescription(code, u"IP-соедиение установлено");
}

QString LanState1Name(uint8_t code) {
    return NameOf(kLanStates, code, u"LMS_UNKNOWN");
}
QString LanState1Description(uint8_t code) {
    return DescriptionOf(kLanStates, code, kUnknown);
}
QString LanState2Name(uint8_t code) {
    return NameOf(kDhcpStates, code, u"DHCP_UNKNOWN");
}
QString LanState2Description(uint8_t code) {
    return DescriptionOf(kDhcpStates, code, kUnknown);
}

QString RROXchgResultName(uint8_t code) {
    return NameOf(kRegisterResults, code, u"ECRRES_UNKNOWN");
}
QString RROXchgResultDescription(uint8_t code) {
    return DescriptionOf(kRegisterResults, code, kUnknown);
}
// The acquirer table falls back to the register table's name.
QString ACQXchgResultName(uint8_t code) {
    return NameOf(kAcquirerResults, code, u"ECRRES_UNKNOWN");
}
QString ACQXchgResultDescription(uint8_t code) {
    return DescriptionOf(kAcquirerResults, code, kUnknown);
}

QString RSSIText(uint8_t value) {
    if (value <= 1)
        return Band(u"Нет сигнала (", value);
    if (value <= 7)
        return Band(u"Очень плохой (", value);
    if (value <= 13)
        return Band(u"Плохой (", value);
    if (value <= 19)
        return Band(u"Приемлемый (", value);
    if (value <= 25)
        return Band(u"Хороший (", value);
    if (value <= 31)
        return Band(u"Отличный (", value);
    return Band(value == 99 ? u"Не определён (" : u"Не известно (", value);
}

QString RSSI_BERText(uint8_t value) {
    static const char16_t *const kBands[] = {
        u"Меньше 0.2% (",     u"От 0.2% до 0.4% (", u"От 0.4% до 0.8% (",  u"От 0.8% до 1.6% (",
        u"От 1.6% до 3.2% (", u"От 3.2% до 6.4% (", u"От 6.4% до 12.8% (", u"Больше 12.8% ("};
    if (value <= 7)
        return Band(kBands[value], value);
    return Band(value == 99 ? u"Не определён (" : u"Не известно (", value);
}

} // namespace krv::console
