#include "header_logic.h"

#include "driver_binding.h"

#include <KRV_T100DRV.h>

#include <string>

namespace krv::console {

namespace {

int16_t Flag(bool on) {
    return on ? -1 : 0;
}

struct MessageLine {
    KrvBool (*call)(const char *, KrvBool16, int32_t);
    const char16_t *captionAt20;
    const char16_t *doneText;
};

// Initial lines 1-3, final lines 1-3. The question at 19 characters always
// has the plain caption.
const MessageLine kMessageLines[kMessageLineCount] = {
    {FPSetInitialFirstLine, u"Что будем делать?",
     u"1-я строка начального сообщения чека установлена."},
    {FPSetInitialSecondLine, u"Что будем делать?!",
     u"2-я строка начального сообщения чека установлена."},
    {FPSetInitialEndLine, u"Что будем делать?",
     u"3-я строка начального сообщения чека установлена."},
    {FPSetFinalFirstLine, u"Что будем делать?",
     u"1-я строка конечного сообщения чека установлена."},
    {FPSetFinalSecondLine, u"Что будем делать?",
     u"2-я строка конечного сообщения чека установлена."},
    {FPSetFinalEndLine, u"Что будем делать?", u"3-я строка конечного сообщения чека установлена."},
};

bool ValidMessageLine(int line) {
    return line >= 0 && line < kMessageLineCount;
}

} // namespace

// ---- Numbers ---------------------------------------------------------------------------

bool IsNumberCharacter(QChar c) {
    const char16_t u = c.unicode();
    if ((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z'))
        return true;
    if (u >= u'А' && u <= u'я')
        return true;
    for (char16_t extra : {u'Ё', u'ё', u'Є', u'є', u'Ї', u'ї', u'І', u'і'})
        if (u == extra)
            return true;
    return false;
}

qsizetype FirstRefusedNumberCharacter(const QString &text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (!IsNumberCharacter(text[i]))
            return i;
    return -1;
}

QString FiscalNumberRefusedText() {
    return QStringLiteral("Фискальный номер задан неверно!\r\nФискальный номер может состоять "
                          "только из цифр и (или) букв!");
}

QString TaxNumberRefusedText(bool taxNumberChosen) {
    return taxNumberChosen
               ? QStringLiteral("Налоговый номер задан неверно!\r\nНалоговый номер может состоять "
                                "только из цифр и (или) букв!")
               : QStringLiteral("Идентификационный номер задан неверно!\r\nИдентификационный "
                                "номер может состоять только из цифр и (или) букв!");
}

// ---- Length limits ------------------------------------------------------------------------

int DoubleWidthLimit(bool isFirstModel) {
    return isFirstModel ? 20 : 19;
}

LineCut MessageLineCut(qsizetype length, bool doubleWidth, bool isFirstModel) {
    if (!doubleWidth)
        return {};
    const int limit = DoubleWidthLimit(isFirstModel);
    return {length > limit, limit};
}

QString CutQuestionText(int limit) {
    return QStringLiteral("В режиме двойной ширины строка не может превышать %1 символов.\r\n"
                          "Обрезать строку?")
        .arg(limit);
}

QString CutQuestionCaption(int line, int limit) {
    if (!ValidMessageLine(line) || limit != 20)
        return QStringLiteral("Что будем делать?");
    return QString::fromUtf16(kMessageLines[line].captionAt20);
}

QString MessageLineDoneText(int line) {
    return ValidMessageLine(line) ? QString::fromUtf16(kMessageLines[line].doneText) : QString();
}

int HeaderLineLimit(int line, bool doubleWidth, bool isFirstModel) {
    if (doubleWidth)
        return DoubleWidthLimit(isFirstModel);
    return line < 3 ? 30 : 36;
}

QString HeaderLimitLabel(int line, int limit) {
    const QString name = line < 3 ? QStringLiteral("Строка №%1").arg(line + 1)
                                  : QStringLiteral("Дополнительная строка №%1").arg(line - 2);
    return QStringLiteral("%1 (0..%2 символов)").arg(name).arg(limit);
}

// ---- Success texts --------------------------------------------------------------------------

QString FiscalizationDoneText() {
    return QStringLiteral("     Фискальный номер был успешно записан!\r\nТеперь введите атрибуты "
                          "налогоплательщика.");
}

QString HeaderDoneText(bool fiscalizationWizardActive) {
    const QString head =
        QStringLiteral("                         Атрибуты налогоплательщика установлены!\r\n");
    const QString tail =
        QStringLiteral("Теперь укажите тип налога и введите значения ставок налоговых групп.");
    if (fiscalizationWizardActive)
        return head +
               QStringLiteral("                               ФИСКАЛИЗАЦИЯ УСПЕШНО "
                              "ЗАВЕРШЕНА!\r\n") +
               tail;
    return head + tail;
}

// ---- Driver calls ----------------------------------------------------------------------------

bool CallDayClosingReport(uint16_t reportPassword) {
    return DriverSucceeded(FPDayClrReport(reportPassword));
}

bool CallFiscalization(uint16_t password, const QString &fiscalNumber) {
    return DriverSucceeded(FPFiscalization(password, ToDriverText(fiscalNumber).c_str()));
}

bool CallHeadLine(uint16_t password, const HeadLineRequest &request) {
    std::string texts[3];
    for (size_t i = 0; i < 3; ++i)
        texts[i] = ToDriverText(request.lines[i].text);
    const std::string number = ToDriverText(request.number);
    const auto &l = request.lines;
    return DriverSucceeded(FPSetHeadLine(
        password, texts[0].c_str(), Flag(l[0].doubleWidth), Flag(l[0].doubleHeight),
        texts[1].c_str(), Flag(l[1].doubleWidth), Flag(l[1].doubleHeight), texts[2].c_str(),
        Flag(l[2].doubleWidth), Flag(l[2].doubleHeight), number.c_str(), Flag(request.idNumber)));
}

bool CallHeaderLineAdd(int which, const ReceiptHeaderLine &line) {
    const std::string text = ToDriverText(line.text);
    const auto call = which == 1 ? FPSetHeaderLineAdd1 : FPSetHeaderLineAdd2;
    return DriverSucceeded(call(text.c_str(), Flag(line.doubleWidth), Flag(line.doubleHeight)));
}

bool CallMessageLine(int line, const QString &text, bool doubleWidth, bool doubleHeight) {
    if (!ValidMessageLine(line))
        return false;
    const std::string bytes = ToDriverText(text);
    return DriverSucceeded(
        kMessageLines[line].call(bytes.c_str(), Flag(doubleWidth), Flag(doubleHeight)));
}

} // namespace krv::console
