/*
 * KRV_T100DRV: driver of the KRV-T100 / KRV-T200 fiscal printers and their
 * KRV-L5 modem. A flat C interface; every call runs one command exchange (or
 * a short fixed series) with the printer over a serial port.
 *
 * Conventions of every function here:
 *  - Results are booleans: 0 false, -1 (all bits set) true, in 32 bits;
 *    FPInit alone returns a 16-bit boolean. Test the low 16 bits.
 *  - Boolean inputs are 16-bit, 0 false and -1 true, tested as non-zero.
 *  - Money is an integer number of kopecks; dates and times are day-based
 *    floating-point date-times (days since 1899-12-30, the fraction is the
 *    time of day).
 *  - Texts are zero-terminated Windows-1251 strings. Texts the driver hands
 *    out (out arguments and FPErrorMessage) belong to the driver and stay
 *    valid until the next call into it; never free them. An out text the
 *    printer left empty may be handed out as a null pointer: treat null as "".
 *  - Arrays cross as a pointer to the first element and the highest index;
 *    the driver writes or reads the fixed number of elements the function
 *    names and never more than highest index + 1.
 *  - After false, FPErrorMessage gives the reason and FPCodeError the
 *    printer's error code, status byte and extended flags. Argument checks
 *    run before anything is sent and leave code and status as they were.
 *  - One call at a time: the driver keeps one process-wide connection.
 *
 * COMn is the device named by the environment variable KRV_COM<n> when set,
 * otherwise /dev/ttyS<n-1>.
 */
#ifndef KRV_T100DRV_H
#define KRV_T100DRV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(KRV_BUILDING_DRIVER)
#define KRV_API __attribute__((visibility("default")))
#else
#define KRV_API
#endif

typedef int32_t KrvBool;   /* 0 false, -1 true */
typedef int16_t KrvBool16; /* 0 false, -1 true */
typedef double KrvDateTime;

/* ---- Link --------------------------------------------------------------- */

/* Opens COM<port> at `baud` (9600, 19200 or 38400) with read and write
 * time-outs in units of 100 ms; any port already open is closed first. Sets
 * no error text. */
KRV_API KrvBool16 FPInit(uint8_t port, uint32_t baud, uint8_t readTimeout, uint8_t writeTimeout);
KRV_API KrvBool FPClose(void);

/* ---- Errors ------------------------------------------------------------- */

/* The last error text ("" when there is none). */
KRV_API const char *FPErrorMessage(void);
/* The last error code, the last status byte and the extended flags of the
 * last reply. Always true. */
KRV_API KrvBool FPCodeError(uint8_t *code, uint8_t *status, uint8_t *extFlags);

/* ---- Programming ------------------------------------------------------- */

/* One tax rate; rates and levies in hundredths of a percent. */
typedef struct TaxRateEntry {
    KrvBool16 hasLevy;  /* out only: the group has a non-zero levy */
    int32_t rate;       /* 0..9999 */
    int32_t levyRate;   /* rate + levyRate at most 9999 */
    KrvBool16 compound; /* the levy is compounded */
} TaxRateEntry;

/* Password (and, for cashiers 0..7, name) of operator 0..9; 8 programming, 9 reports. */
KRV_API KrvBool FPSetPassword(uint16_t password, uint16_t newPassword, uint8_t op,
                              const char *name);
/* Registers the cashier on duty; byNumber takes the name programmed for the operator. */
KRV_API KrvBool FPSetCashier(uint8_t op, const char *name, uint16_t password, KrvBool16 byNumber);
/* Receipt message lines (36 characters, 21 in double width). */
KRV_API KrvBool FPSetInitialFirstLine(const char *line, KrvBool16 doubleWidth,
                                      int32_t doubleHeight);
KRV_API KrvBool FPSetFinalFirstLine(const char *line, KrvBool16 doubleWidth, int32_t doubleHeight);
KRV_API KrvBool FPSetInitialSecondLine(const char *line, KrvBool16 doubleWidth,
                                       int32_t doubleHeight);
KRV_API KrvBool FPSetInitialEndLine(const char *line, KrvBool16 doubleWidth, int32_t doubleHeight);
KRV_API KrvBool FPSetFinalSecondLine(const char *line, KrvBool16 doubleWidth, int32_t doubleHeight);
KRV_API KrvBool FPSetFinalEndLine(const char *line, KrvBool16 doubleWidth, int32_t doubleHeight);
/* Additional receipt header lines (36 characters, 20 in double width). */
KRV_API KrvBool FPSetHeaderLineAdd1(const char *line, KrvBool16 doubleWidth, int32_t doubleHeight);
KRV_API KrvBool FPSetHeaderLineAdd2(const char *line, KrvBool16 doubleWidth, int32_t doubleHeight);
/* Fiscalization with a fiscal number of up to 10 letters and digits. */
KRV_API KrvBool FPFiscalization(uint16_t password, const char *fiscalNumber);
/* The three taxpayer lines and the tax (or, with isIdNumber, identification) number. */
KRV_API KrvBool FPSetHeadLine(uint16_t password, const char *line1, KrvBool16 doubleWidth1,
                              KrvBool16 doubleHeight1, const char *line2, KrvBool16 doubleWidth2,
                              KrvBool16 doubleHeight2, const char *line3, KrvBool16 doubleWidth3,
                              KrvBool16 doubleHeight3, const char *number, int32_t isIdNumber);
/* Programs `count` (1..5) tax rates taken from rates[0..count-1]. */
KRV_API KrvBool FPSetTaxRate(uint16_t password, uint8_t count, KrvBool16 addedTax,
                             const TaxRateEntry *rates, int32_t ratesHigh, KrvBool16 withLevy,
                             int32_t groupFLevy);
/* Programs one article (price in kopecks, tax group 0..5, name up to 70 characters). */
KRV_API KrvBool FPProgArt(uint16_t password, uint8_t qtyFlags, int32_t price, uint8_t taxGroup,
                          const char *name, int64_t code);
/* Name (1..15 characters) of payment form 0..9 other than cash (3). */
KRV_API KrvBool FPSetPayName(uint16_t password, uint8_t index, const char *name);
/* Reads the name of payment form `index`. */
KRV_API KrvBool FPGetPayName(uint8_t index, const char **name);
/* Personalization string (1..180 characters); a refusal by the printer is a failure. */
KRV_API KrvBool FPPersonalize(uint16_t password, KrvBool16 personalizationFlag, const char *text);
/* Sets the running data-packet number; a refusal by the printer is a failure. */
KRV_API KrvBool FPSetTotalNumb(uint16_t password, int32_t packetNumber);

/* ---- Information queries ----------------------------------------------- */

/* Reads *length bytes of printer memory at address/bank into dst[0..dstHigh]. */
KRV_API KrvBool FPGetMemoryData(uint8_t *dst, int32_t dstHigh, const uint8_t *length,
                                uint16_t address, int32_t bank);
/* Number of the last sales receipt. */
KRV_API KrvBool FPGetSaleCheckNumber(int16_t *number);
/* Number of the last return (payout) receipt. */
KRV_API KrvBool FPGetPayCheckNumber(int16_t *number);
/* Day sales over all tax groups, in kopecks. */
KRV_API KrvBool FPGetSaleDaySum(int64_t *total);
/* Day returns over all tax groups, in kopecks. */
KRV_API KrvBool FPGetPayDaySum(int64_t *total);
/* Number and date of the last Z report. */
KRV_API KrvBool FPGetNumZReport(int16_t *number, KrvDateTime *date);
/* Levy rate of the sixth tax group. */
KRV_API KrvBool FPGetValueFor_F(int16_t *value);
/* Voided receipts: counts and sums of sales and returns. */
KRV_API KrvBool FPGetResetOrders(int16_t *salesCount, int16_t *returnsCount, int64_t *salesSum,
                                 int64_t *returnsSum);
/* Cancellations inside receipts: counts and sums of sales and returns. */
KRV_API KrvBool FPGetCancels(int16_t *salesCount, int16_t *returnsCount, int64_t *salesSum,
                             int64_t *returnsSum);
/* The ten passwords in operator order. */
KRV_API KrvBool FPGetPasswords(uint16_t *values, int32_t valuesHigh);
/* Tax rates from printer memory: six rates and levies, five compound flags. */
KRV_API KrvBool FPGetTaxRate(int32_t *rates, int32_t ratesHigh, int32_t *levies, int32_t leviesHigh,
                             KrvBool16 *compound, int32_t compoundHigh, uint8_t *count,
                             KrvBool16 *addedTax, KrvBool16 *withLevy);
/* Description and turnover of the article *code (*code is only read). */
KRV_API KrvBool FPGetArticleInfo(uint8_t *nameLength, const char **name, int32_t *price,
                                 uint8_t *taxGroup, int32_t *salesQty, uint8_t *salesQtyFlags,
                                 int64_t *salesSum, int32_t *returnsQty, uint8_t *returnsQtyFlags,
                                 int64_t *returnsSum, const int64_t *code);
/* Day totals: counters, sums by tax group (6) and payment form (10), markups, discounts, cash in
 * and out. */
KRV_API KrvBool FPGetDayReport(int16_t *salesCount, int16_t *returnsCount, int64_t *salesByGroup,
                               int32_t salesByGroupHigh, int64_t *salesByForm,
                               int32_t salesByFormHigh, int64_t *returnsByGroup,
                               int32_t returnsByGroupHigh, int64_t *returnsByForm,
                               int32_t returnsByFormHigh, int64_t *salesMarkups,
                               int64_t *salesDiscounts, int64_t *returnsMarkups,
                               int64_t *returnsDiscounts, int64_t *cashIn, int64_t *cashOut);
/* Sums of the current receipt by tax group (6) and payment form (10). */
KRV_API KrvBool FPGetCheckSums(int32_t *groupSums, int32_t groupSumsHigh, int32_t *formSums,
                               int32_t formSumsHigh);
/* The full tax table with its programming date (six entries). */
KRV_API KrvBool FPFullGetTaxRate(KrvDateTime *date, uint8_t *count, KrvBool16 *addedTax,
                                 TaxRateEntry *rates, int32_t ratesHigh, KrvBool16 *withLevy,
                                 uint16_t *groupFLevy);

/* ---- Non-fiscal text, logo and barcodes --------------------------------- */

/* The caller's list of text lines; the driver only reads it during the call. */
typedef struct TextLineList {
    void *context;
    int32_t (*count)(void *context);
    const char *(*line)(void *context, int32_t index); /* Windows-1251, zero-terminated */
} TextLineList;

/* The caller's monochrome bitmap; the driver only reads it during the call. */
typedef struct LogoBitmap {
    void *context;
    int32_t (*width)(void *context); /* in dots */
    int32_t (*height)(void *context);
    int32_t (*file_bytes)(void *context, const uint8_t **data); /* the BMP file; returns its size */
} LogoBitmap;

/* Prints lines (at most 37 characters) of a non-fiscal document, opening and closing it on request.
 */
KRV_API KrvBool FPTransPrint(const TextLineList *lines, KrvBool16 open, int32_t close);
/* Prints lines cut to 37 characters; tape 1 receipt tape only, 2 control tape only, else both. */
KRV_API KrvBool FPTransPrintNew(const TextLineList *lines, KrvBool16 close, int32_t tape);
/* Uploads the shop logo. */
KRV_API KrvBool FPLoadBMP(uint16_t password, uint16_t maxWidth, uint16_t maxHeight,
                          const LogoBitmap *bitmap, KrvBool16 doubleHeight, int32_t invert);
/* Switches the logo on the receipt head on. */
KRV_API KrvBool FPEnableBMP(int32_t password);
/* Switches the logo on the receipt head off. */
KRV_API KrvBool FPDisableBMP(int32_t password);
/* Prints a Code-128 barcode of up to 16 characters. */
KRV_API KrvBool FPSetBarCode(const char *text);
/* Prints an EAN-13 barcode of up to 13 digits (left-padded with zeros). */
KRV_API KrvBool FPPrintEAN13(const char *digits);

/* ---- Electronic control tape, 72-hour lock, modem ----------------------- */

/* First and last packet stored in the tape and its free space in bytes. */
KRV_API KrvBool FPGetStatusKLEF(int32_t *firstPacket, int32_t *lastPacket, uint16_t *freeBytes);
/* Clears the tape up to packet lastPacket; a refusal by the printer is a failure. */
KRV_API KrvBool FPClrKLEF(uint16_t password, int32_t lastPacket);
/* Acknowledges the transfer of packets firstPacket..lastPacket at `moment`; a refusal is a failure.
 */
KRV_API KrvBool FPAckKLEF(uint16_t password, int32_t firstPacket, int32_t lastPacket,
                          KrvDateTime moment);
/* Extends the 72-hour lock from `moment` (extend set) or removes it; a refusal is a failure. */
KRV_API KrvBool FPSet72Lock(uint16_t password, KrvDateTime moment, KrvBool16 extend);
/* The modem's state as free text (null when the modem does not answer). */
KRV_API KrvBool L5GetStateText(const char **text);
/* The modem's state record: *count := its first byte, the rest into buffer[0..bufferHigh]. */
KRV_API KrvBool L5GetStateStruct(int16_t *count, uint8_t *buffer, int32_t bufferHigh);

/* ---- Receipts ---------------------------------------------------------- */

/* Registers a sale line; *itemCost and *receiptSum get the line value and the receipt sum (0 on
 * failure). */
KRV_API KrvBool FPSale(int64_t *itemCost, int64_t *receiptSum, int32_t quantity, uint8_t qtyFlags,
                       int32_t price, uint8_t taxGroup, KrvBool16 nameFromRegister,
                       KrvBool16 printBarcode, const char *name, int64_t code);
/* Registers a payout (return) line; arguments and outputs as FPSale. */
KRV_API KrvBool FPPayMoney(int64_t *itemCost, int64_t *receiptSum, int32_t quantity,
                           uint8_t qtyFlags, int32_t price, uint8_t taxGroup,
                           KrvBool16 nameFromRegister, KrvBool16 printBarcode, const char *name,
                           int64_t code);
/* Pays with form 0..9; *amount is the change (*isChange -1) or the rest still to pay (*isChange 0).
 */
KRV_API KrvBool FPPayment(int32_t *amount, KrvBool16 *isChange, uint8_t form, int32_t paid,
                          KrvBool16 payRest, int32_t fiscal);
/* Discount (isDiscount) or markup of kind 0..3 by percent (kinds 0, 2) or amount (kinds 1, 3). */
KRV_API KrvBool FPDiscount(int64_t *value, int64_t *receiptSum, uint8_t kind, int32_t percent,
                           int32_t amount, KrvBool16 isDiscount, const char *text);
/* Prints a comment line of at most 27 characters in the receipt. */
KRV_API KrvBool FPComment(const char *text, KrvBool16 attribute);
/* Prints a zero receipt: void, the comment line, payment of 0 in cash. */
KRV_API KrvBool FPNullCheck(void);
/* Feeds the paper by one line. */
KRV_API KrvBool FPLineFeed(void);
/* Voids the open receipt. */
KRV_API KrvBool FPResetOrder(void);
/* Service cash in, in kopecks. */
KRV_API KrvBool FPInToCash(int32_t amount);
/* Service cash out, in kopecks. */
KRV_API KrvBool FPOutOfCash(int32_t amount);

/* ---- Status, clock and device control ----------------------------------- */

/* The printer's status: 13 flags, seven texts and the registration date and time. The texts are
 * serial number, fiscal number, header lines 1 to 3, tax number and firmware designation; a text
 * the printer left empty is handed out as a NULL pointer, so read each one as "" when NULL. */
KRV_API KrvBool FPGetStatus(KrvBool16 *paymentMode, KrvBool16 *drawerClosed, KrvBool16 *flagA3,
                            KrvBool16 *addedTax, KrvBool16 *shiftOpen, KrvBool16 *receiptOpen,
                            KrvBool16 *displayOff, KrvBool16 *taxRatesChanged,
                            KrvBool16 *serviceReport, KrvBool16 *fiscalMode,
                            KrvBool16 *lastCommandFailed, KrvBool16 *onLine,
                            KrvBool16 *serviceReportOnTape, const char **serialNumber,
                            const char **fiscalNumber, const char **headerLine1,
                            const char **headerLine2, const char **headerLine3,
                            const char **taxNumber, const char **firmware,
                            KrvDateTime *registrationDate, KrvDateTime *registrationTime);
/* The printer's date (at midnight). */
KRV_API KrvBool FPGetDate(KrvDateTime *date);
/* Sets the printer's date from the date part of `date`. */
KRV_API KrvBool FPSetDate(KrvDateTime date);
/* The printer's time of day. */
KRV_API KrvBool FPGetTime(KrvDateTime *time);
/* Sets the printer's time from the time of day of `time`. */
KRV_API KrvBool FPSetTime(KrvDateTime time);
/* Shows at most 20 characters on the first or second line of the customer display. */
KRV_API KrvBool FPSendCustomer(KrvBool16 secondLine, const char *text);
/* Opens the cash drawer. */
KRV_API KrvBool FPOpenBox(void);
/* Prints a copy of the last receipt. */
KRV_API KrvBool FPCopyLastCheck(void);
/* Prints the firmware version. */
KRV_API KrvBool FPPrintVersion(void);
/* Toggles on-line printing. */
KRV_API KrvBool FPCplOnline(void);
/* Toggles the sums on the customer display. */
KRV_API KrvBool FPCplInd(void);
/* Toggles the paper cutter. */
KRV_API KrvBool FPCplCutter(void);
/* The cash in the drawer, in kopecks. */
KRV_API KrvBool FPGetMoneyInBox(int64_t *sum);
/* Switches the printer to 9600, 19200 or 38400 bit/s (low byte 0, 1, 2); reopen the port at the new
 * rate. */
KRV_API KrvBool FPChangeBaudRate(int32_t code);
/* Sets the line spacing (low byte 0..63). */
KRV_API KrvBool FPLineSP(int32_t spacing);
/* Sets the print contrast in percent (low byte 50..200). */
KRV_API KrvBool FPSetContrast(int32_t contrast);
/* -1 in *enabled when the paper cutter is on. */
KRV_API KrvBool FPCutterStatus(KrvBool16 *enabled);
/* Paper sensors: bits 0, 2 (control tape running out), 3 (receipt tape running out), 5 and 6. */
KRV_API KrvBool FPGetPaperState(KrvBool16 *bit0, KrvBool16 *controlTapeLow,
                                KrvBool16 *receiptTapeLow, KrvBool16 *bit5, KrvBool16 *bit6);

/* ---- Printed reports ---------------------------------------------------- */

/* X report (day totals, the day stays open). */
KRV_API KrvBool FPDayReport(uint16_t password);
/* Z report (day totals, closes the day). */
KRV_API KrvBool FPDayClrReport(uint16_t password);
/* X report by articles: all when both codes are 0, else the codes between them. */
KRV_API KrvBool FPXArtReport(uint16_t password, int64_t firstCode, int64_t lastCode);
/* Full periodic report from fiscal memory between two dates. */
KRV_API KrvBool FPPeriodicReport(uint16_t password, KrvDateTime from, KrvDateTime to);
/* Short periodic report from fiscal memory between two dates. */
KRV_API KrvBool FPPeriodicReportShort(uint16_t password, KrvDateTime from, KrvDateTime to);
/* Periodic report over the Z reports numbered first..last. */
KRV_API KrvBool FPPeriodicNumberReport(uint16_t password, uint16_t first, uint16_t last);

#ifdef __cplusplus
}
#endif

#endif /* KRV_T100DRV_H */
