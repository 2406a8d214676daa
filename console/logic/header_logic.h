// Fiscalization, the taxpayer header and the receipt message lines, without
// widgets: the characters a fiscal or tax number may hold, the length limits
// of double-width print and the texts that go with them, and the driver
// calls.
#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace krv::console {

// One header line as applied in the receipt-header window.
struct ReceiptHeaderLine {
    QString text;
    bool doubleWidth = false;
    bool doubleHeight = false;
};

// Lines 1-3 and the additional lines 1-2.
inline constexpr int kHeaderLineCount = 5;

// ---- Numbers ----------------------------------------------------------------------

// Digits, Latin and Cyrillic letters, Ё ё Є є Ї ї І і.
bool IsNumberCharacter(QChar c);
// Index of the first character a fiscal or tax number may not hold; -1 when
// there is none.
qsizetype FirstRefusedNumberCharacter(const QString &text);

QString FiscalNumberRefusedText();
// The tax number's refusal while "ПН:" is chosen, else the identification
// number's.
QString TaxNumberRefusedText(bool taxNumberChosen);

// ---- Length limits ------------------------------------------------------------------

// A line in double width: 20 characters on a KRV-T100, 19 on a KRV-T200.
int DoubleWidthLimit(bool isFirstModel);

// Whether a message line must be cut before it is sent, and to what length.
struct LineCut {
    bool ask = false;
    int limit = 0;
};
LineCut MessageLineCut(qsizetype length, bool doubleWidth, bool isFirstModel);
QString CutQuestionText(int limit);

// The six message lines, 0..5: initial 1-3, final 1-3.
inline constexpr int kMessageLineCount = 6;
// The question's caption for line `line` cut to `limit`.
QString CutQuestionCaption(int line, int limit);
QString MessageLineDoneText(int line);

// Header line 0..4 (lines 1-3, additional 1-2): its length limit, and the
// label above its edit for that limit.
int HeaderLineLimit(int line, bool doubleWidth, bool isFirstModel);
QString HeaderLimitLabel(int line, int limit);

// ---- Success texts ------------------------------------------------------------------

QString FiscalizationDoneText();
// After a taxpayer-header write; the first one after a fiscalization also
// says the fiscalization is complete.
QString HeaderDoneText(bool fiscalizationWizardActive);

// ---- Driver calls -----------------------------------------------------------------------

bool CallDayClosingReport(uint16_t reportPassword); // FPDayClrReport
bool CallFiscalization(uint16_t password, const QString &fiscalNumber);
struct HeadLineRequest {
    std::array<ReceiptHeaderLine, 3> lines;
    QString number;
    bool idNumber = false;
};
bool CallHeadLine(uint16_t password, const HeadLineRequest &request); // FPSetHeadLine
// Additional header line 1 or 2.
bool CallHeaderLineAdd(int which, const ReceiptHeaderLine &line);
// Message line 0..5.
bool CallMessageLine(int line, const QString &text, bool doubleWidth, bool doubleHeight);

} // namespace krv::console
