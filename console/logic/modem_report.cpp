#include "modem_report.h"

#include "date_time_text.h"
#include "driver_binding.h"
#include "saved_file.h"
#include "text_forms.h"

#include <KRV_T100DRV.h>

namespace krv::console {

namespace {

// Which state shows a field: the extended group needs a modem OS of
// revision 18 or later; the unused third byte is shown for revision 0 only.
enum class Shown { Always, Extended, RevisionZero };
constexpr uint16_t kExtendedRevision = 18;

bool IsShown(Shown shown, const ModemState &state) {
    switch (shown) {
    case Shown::Always:
        return true;
    case Shown::Extended:
        return state.OSRev >= kExtendedRevision;
    case Shown::RevisionZero:
        return state.OSRev == 0;
    }
    return false;
}

// One field as both the window and the printed report show it.
struct Field {
    Shown shown = Shown::Always;
    QString windowLabel;
    QString reportLabel;
    QString key;       // value line up to the value, e.g. " SN: "
    QString reportKey; // the same on paper where it differs
    QString value;
    // Decoded codes: the window adds a description line, the report prints
    // the key alone and the value on a line of its own.
    bool decoded = false;
    bool valueOnOwnLine = false; // on paper only
    QString description;
    uint32_t valueRgb = kBlueRgb;
    uint32_t descriptionRgb = kBlueRgb;
};

QString S(const char16_t *text) {
    return QString::fromUtf16(text);
}

Field Plain(Shown shown, const char16_t *windowLabel, const char16_t *reportLabel, const char *key,
            const QString &value, uint32_t rgb = kBlueRgb) {
    Field f;
    f.shown = shown;
    f.windowLabel = S(windowLabel);
    f.reportLabel = S(reportLabel);
    f.key = QString::fromLatin1(key);
    f.value = value;
    f.valueRgb = f.descriptionRgb = rgb;
    return f;
}

Field Decoded(const char16_t *windowLabel, const char16_t *reportLabel, const char *key,
              const QString &name, const QString &description, uint32_t rgb,
              uint32_t descriptionRgb) {
    Field f = Plain(Shown::Always, windowLabel, reportLabel, key, name);
    f.decoded = f.valueOnOwnLine = true;
    f.description = description;
    f.valueRgb = rgb;
    f.descriptionRgb = descriptionRgb;
    return f;
}

// Red for a description that reports a fault.
uint32_t FaultRgb(uint8_t code) {
    return code != 0 ? kRedRgb : kBlueRgb;
}

std::vector<Field> Fields(const ModemState &s) {
    const QString seconds = QStringLiteral(" сек.");
    std::vector<Field> f;
    f.push_back(Plain(Shown::Always, u" Серийный номер модема:", u"Серійний номер модема:",
                      " SN: ", DecHexPair(s.SN, 4)));
    f.push_back(Plain(Shown::Always, u" Идентификатор модема:", u"Ідентифікатор модема:",
                      " ID_DEV: ", DecHexPair(s.ID_DEV, 4)));
    f.push_back(Plain(Shown::Always, u" Идентификатор модуля безопасности:",
                      u"Ідентифікатор модуля безпеки:", " ID_SAM: ", DecHexPair(s.ID_SAM, 4)));
    f.push_back(Plain(Shown::Extended, u" Версия операционной системы:", u"Версія ОС:",
                      " OSVer: ", VersionText(s.OSVer), kMaroonRgb));
    f.push_back(Plain(Shown::Extended, u" Ревизия операционной системы:", u"Ревізія ОС:",
                      " OSRev: ", DecHexPair(s.OSRev, 2), kMaroonRgb));
    f.push_back(Plain(Shown::Extended, u" Системное время:", u"Системна дата/час:",
                      " SysTime: ", LocaleDateTimeText(s.SysTime), kMaroonRgb));
    f.push_back(Plain(Shown::Extended, u" IP - адрес для сетевого интерфейса:",
                      u"IP-адреса Ethernet інтерфейса:", " NETIPAddr: ", s.NETIPAddr, kMaroonRgb));
    f.push_back(Plain(Shown::Extended, u" IP - адрес шлюза для сетевого интерфейса:",
                      u"IP-адреса шлюза Ethernet інтерфейса:", " NETGate: ", s.NETGate,
                      kMaroonRgb));
    f.push_back(Plain(Shown::Extended, u" Маска сети для сетевого интерфейса:",
                      u"Маска мережі Ethernet інтерфейса:", " NETMask: ", s.NETMask, kMaroonRgb));
    f.push_back(Plain(Shown::Extended, u" IP-адрес для модемного интерфейса:",
                      u"IP-адреса модемного інтерфейса:", " MODIPAddr: ", s.MODIPAddr, kMaroonRgb));
    f.push_back(Plain(Shown::Extended, u" IP-адрес эквайера:", u"IP-адреса еквайера:",
                      " ACQIPAddr: ", s.ACQIPAddr, kMaroonRgb));
    f.push_back(Plain(Shown::Extended, u" Порт эквайера:", u"Порт еквайера:",
                      " ACQPort: ", DecHexPair(s.ACQPort, 2), kMaroonRgb));
    f.push_back(Plain(Shown::Always, u" Счётчик подписей пакета:", u"Підписаних пакетів:",
                      " NT_SAM: ", DecHexPair(s.NT_SAM, 4)));
    f.push_back(Plain(Shown::Always, u" Счётчик сеансов связи с эквайером:",
                      u"Сеансів зв''язку з еквайером:",
                      " NT_SESSION: ", DecHexPair(s.NT_SESSION, 2)));
    f.push_back(Decoded(u" Код ошибки модема:", u"Код помилки модема:",
                        " FailCode: ", FailCodeName(s.FailCode), FailCodeDescription(s.FailCode),
                        kBlueRgb, FaultRgb(s.FailCode)));
    f.push_back(Plain(Shown::Always, u" Время с момента включения модема в секундах:",
                      u"Час роботи модема:", " SecondCnt: ", DecHexPair(s.SecondCnt, 4) + seconds));
    f.push_back(Plain(Shown::Always, u" Время завершения последнего обмена с РРО в секундах:",
                      u"Час від обміну з РРО:",
                      " RROXchgTime: ", DecHexPair(s.RROXchgTime, 4) + seconds));
    f.push_back(Plain(Shown::Always, u" Время завершения последнего обмена с эквайером в секундах:",
                      u"Час від обміну з еквайером:",
                      " ACQXchgTime: ", DecHexPair(s.ACQXchgTime, 4) + seconds));
    Field unsent =
        Plain(Shown::Always, u" Дата первого непереданного эквайеру пакета (по часам РРО):",
              u"Дата першого не переданого пакета:",
              " FirstUnsendPIDDateTime: ", LocaleDateTimeText(s.FirstUnsendPIDDateTime));
    unsent.reportKey = QStringLiteral(" FirstUnsendPID: ");
    f.push_back(unsent);
    f.push_back(Plain(Shown::Always, u" Номер первого свободного пакета:",
                      u"Номер першого вільного пакета:",
                      " PID_Unused: ", DecHexPair(s.PID_Unused, 4)));
    f.push_back(Plain(Shown::Always, u" Номер пакета текущей персонализации:",
                      u"Номер пакета поточної персоналізації:",
                      " PID_CurPers: ", DecHexPair(s.PID_CurPers, 4)));
    f.push_back(Plain(Shown::Always, u" Номер последнего считанного пакета из РРО:",
                      u"Номер останнього зчит. пакета з РРО:",
                      " PID_LastWrite: ", DecHexPair(s.PID_LastWrite, 4)));
    f.push_back(Plain(Shown::Always, u" Номер последнего подписанного пакета:",
                      u"Номер останнього підписаного пакета:",
                      " PID_LastSign: ", DecHexPair(s.PID_LastSign, 4)));
    f.push_back(Plain(Shown::Always, u" Номер последнего переданного пакета эквайеру:",
                      u"Номер останнього переданого пакета:",
                      " PID_LastSend: ", DecHexPair(s.PID_LastSend, 4)));
    f.push_back(Decoded(u" Текущая стадия драйвера модема:", u"Поточна стадія драйвера модема:",
                        " ModemState1: ", ModemState1Name(s.ModemState1),
                        ModemState1Description(s.ModemState1), kGreenRgb, kGreenRgb));
    f.push_back(Decoded(u" Стадия PPP-соединения:", u"Стадія PPP-з''єднання:",
                        " ModemState2: ", ModemState2Name(s.ModemState2),
                        ModemState2Description(s.ModemState2), kGreenRgb, kGreenRgb));
    f.push_back(Decoded(u" Стадия IP-соединения:", u"Стадія IP-з''єднання:",
                        " ModemState3: ", ModemState3Name(s.ModemState3),
                        ModemState3Description(s.ModemState3), kGreenRgb, kGreenRgb));
    f.push_back(Decoded(u" Состояние Ethernet TP PHYS Layer:", u"Стан Ethernet TP PHYS Layer:",
                        " LanState1: ", LanState1Name(s.LanState1),
                        LanState1Description(s.LanState1), kMaroonRgb, kMaroonRgb));
    f.push_back(Decoded(u" Состояние DHCP:", u"Стан DHCP:",
                        " LanState2: ", LanState2Name(s.LanState2),
                        LanState2Description(s.LanState2), kMaroonRgb, kMaroonRgb));
    f.push_back(Decoded(u" Результат сеанса связи с РРО:", u"Результат сеанса зв''язку з РРО:",
                        " RROXchgResult: ", RROXchgResultName(s.RROXchgResult),
                        RROXchgResultDescription(s.RROXchgResult), kBlueRgb,
                        FaultRgb(s.RROXchgResult)));
    f.push_back(
        Decoded(u" Результат сеанса связи с эквайером:", u"Результат сеанса зв''язку з екв.:",
                " ACQXchgResult: ", ACQXchgResultName(s.ACQXchgResult),
                ACQXchgResultDescription(s.ACQXchgResult), kBlueRgb, FaultRgb(s.ACQXchgResult)));
    f.push_back(Plain(Shown::Always, u" Количество неудачных сеансов связи с РРО:",
                      u"Кількість невдалих сеансів з РРО:",
                      " RROXchgErrorCnt: ", DecHexPair(s.RROXchgErrorCnt, 2)));
    Field rssi = Plain(Shown::Always, u" Уровень сигнала GPRS/CDMA:", u"Рівень сигнала GPRS/CDMA:",
                       " RSSI: ", RSSIText(s.RSSI));
    Field ber = Plain(Shown::Extended, u" Качество сигнала GPRS/CDMA:",
                      u"Якість сигнала GPRS/CDMA:", " RSSI_BER: ", RSSI_BERText(s.RSSI_BER));
    Field ussd =
        Plain(Shown::Always, u" Результат выполнения USSD-запроса:",
              u"Результат виконання USSD-запиту:", " USSDResult: ", UssdText(s.USSDResult));
    for (Field *split : {&rssi, &ber, &ussd}) {
        split->valueOnOwnLine = true;
        f.push_back(*split);
    }
    f.push_back(Plain(Shown::Always, u" Напряжение на аккумуляторе:", u"Напруга на АКБ:",
                      " BatVoltage: ", MilliUnits(s.BatVoltage) + QStringLiteral(" В.")));
    f.push_back(Plain(Shown::Always, u" Напряжение внешнего источника питания:",
                      u"Напруга зовнішнього джерела живлення:",
                      " DCVoltage: ", MilliUnits(s.DCVoltage) + QStringLiteral(" В.")));
    f.push_back(Plain(Shown::Always, u" Ток заряда аккумулятора:", u"Струм заряду АКБ:",
                      " BatCurrent: ", MilliUnits(s.BatCurrent) + QStringLiteral(" А.")));
    f.push_back(Plain(Shown::Always, u" Температура внутри модема:", u"Температура:",
                      " Temperature: ", QString::number(s.Temperature) + QStringLiteral(" ° C.")));
    f.push_back(Plain(Shown::Always, u" Параметр Res1 (не используется):",
                      u"Параметр Res1 (не використовується):", " Res1: ", DecHexPair(s.Res1, 1)));
    f.push_back(Plain(Shown::Always, u" Параметр Res2 (не используется):",
                      u"Параметр Res2 (не використовується):", " Res2: ", DecHexPair(s.Res2, 1)));
    f.push_back(Plain(Shown::RevisionZero, u" Параметр Res3 (не используется):",
                      u"Параметр Res3 (не використовується):",
                      " Res3: ", DecHexPair(s.RSSI_BER, 1)));
    return f;
}

// The driver reads the lines through callbacks while the call runs.
struct LineSource {
    std::vector<std::string> lines;
    static int32_t Count(void *context) {
        return static_cast<int32_t>(static_cast<LineSource *>(context)->lines.size());
    }
    static const char *Line(void *context, int32_t index) {
        const auto &lines = static_cast<LineSource *>(context)->lines;
        return index >= 0 && static_cast<size_t>(index) < lines.size()
                   ? lines[static_cast<size_t>(index)].c_str()
                   : "";
    }
};

constexpr int32_t kModemBufferHigh = 65534;
constexpr int32_t kReceiptTapeStyle = 1;

} // namespace

QString DecHexPair(uint32_t value, int n) {
    return QString::number(value) + QStringLiteral(", ") + HexWithPrefix(value, n);
}

QString VersionText(uint16_t version) {
    const QString digits = QString::number(version);
    return digits.left(std::max<qsizetype>(0, digits.size() - 2)) + QLatin1Char('.') +
           digits.right(2);
}

QString MilliUnits(uint16_t value) {
    return QString::asprintf("%0.3f", value / 1000.0).replace(u'.', LocaleDecimalSeparator());
}

std::vector<ListingBlock> DetailedListing(const ModemState &state) {
    std::vector<ListingBlock> blocks;
    for (const Field &field : Fields(state)) {
        if (!IsShown(field.shown, state))
            continue;
        ListingBlock block;
        block.label = field.windowLabel;
        block.value = field.key + field.value;
        block.hasDescription = field.decoded;
        block.description =
            field.decoded ? QStringLiteral(" Desription: ") + field.description : QString();
        block.valueRgb = field.valueRgb;
        block.descriptionRgb = field.descriptionRgb;
        blocks.push_back(std::move(block));
    }
    return blocks;
}

QStringList PrintedReport(const ModemState &state) {
    QStringList lines{QStringLiteral("******   ДІАГНОСТИКА МОДЕМА    ******")};
    for (const Field &field : Fields(state)) {
        if (!IsShown(field.shown, state))
            continue;
        const QString key = field.reportKey.isEmpty() ? field.key : field.reportKey;
        lines << field.reportLabel;
        if (field.valueOnOwnLine)
            lines << key << QStringLiteral("  ") + field.value;
        else
            lines << key + field.value;
    }
    lines << QString(37, u'*');
    return lines;
}

QString ProposedSaveName(uint32_t idDev) {
    return idDev != 0 ? QStringLiteral("ID_DEV_%1").arg(idDev) : QString();
}

QString SaveViewFile(const QString &path, const QStringList &lines) {
    const QString reason = SaveFileBytes(path, AnsiLinesBytes(lines));
    if (reason.isEmpty())
        return {};
    return QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason);
}

bool CallModemStateText(QString &text) {
    const char *answer = nullptr;
    if (!DriverSucceeded(L5GetStateText(&answer)))
        return false;
    text = FromDriverText(answer);
    return true;
}

bool CallModemStateStruct(ModemStateReply &reply) {
    int16_t count = 0;
    std::vector<uint8_t> buffer(static_cast<size_t>(kModemBufferHigh) + 1, 0);
    if (!DriverSucceeded(L5GetStateStruct(&count, buffer.data(), kModemBufferHigh)))
        return false;
    buffer.resize(static_cast<uint16_t>(count));
    reply.bytes = std::move(buffer);
    return true;
}

bool CallPrintLines(const QStringList &lines) {
    LineSource source;
    for (const QString &line : lines)
        source.lines.push_back(ToDriverText(line));
    const TextLineList list{&source, &LineSource::Count, &LineSource::Line};
    return DriverSucceeded(FPTransPrintNew(&list, -1, kReceiptTapeStyle));
}

} // namespace krv::console
