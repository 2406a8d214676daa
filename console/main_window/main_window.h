// The main window of the service console.
//
// The layout (main_window_layout) creates every control by its layout name; this
// class owns the start-up and close handlers, the link and the access
// modes. Handlers are slots named after their control and event
// (`Button31Click`, `Edit14Change`); ConnectHandlersByName() wires every such
// slot to its control, so a handler added later needs no wiring code.
#pragma once

#include "access_modes.h"
#include "driver_binding.h"
#include "receipt_logic.h"
#include "tax_logic.h"
#include "widgets.h"

#include <QMainWindow>
#include <QString>

class QCloseEvent;
class QLabel;

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    // `driverLibrary` is the library whose version start-up checks (by
    // name, as the loader finds it, or by path).
    explicit TForm1(QWidget *parent = nullptr, const QString &driverLibrary = QString::fromLatin1(
                                                   krv::console::kDriverLibraryName));
    ~TForm1() override;

    // A control of the window by its layout name, never null: a name the
    // layout does not have throws (see RequiredControl).
    template <class T = QWidget> T *Control(const QString &name) const {
        return krv::console::RequiredControl<T>(*this, name);
    }

    // The two status-bar panels: 0 the link, 1 the progress of bulk article
    // programming.
    void SetStatusPanel(int index, const QString &text);
    QString StatusPanelText(int index) const;
    QLabel *StatusPanel(int index) const;

    // Every operation control off, the connect button on. `keepCodeFields`
    // keeps the fiscal-number and stress-test code fields as they are.
    void DisableAllControls(bool keepCodeFields = false);
    // Enables the controls of the current access mode and model.
    void ApplyControlsForMode();
    // Whether the open link's access mode and model let the operator use a
    // control (false while the link is closed).
    bool ModeEnables(const QString &name) const;

  public slots:
    void FormCreate();
    void FormClose();

    // Tab "Связь" (link_tab.cpp).
    void Button31Click();   // "Установить связь"
    void Button40Click();   // "Завершить связь"
    void Button34Click();   // "Изменить" (link rate)
    void CheckBox13Click(); // "Определить скорость"
    void Button56Click();   // "Диагностика модема"

    // Tab "Операции" (operations_tab.cpp).
    void Button9Click();    // "Продажа"
    void Button10Click();   // "Возврат"
    void Button44Click();   // "Отмена поз."
    void Button11Click();   // "Комментарий"
    void Button38Click();   // "Скидка/Наценка"
    void ComboBox9Change(); // discount type
    void Button37Click();   // "Оплатить"
    void Button39Click();   // "Закрыть чек"
    void Button32Click();   // "Нулевой чек"
    void Button13Click();   // "Отмена чека"
    void Button14Click();   // "Внесение"
    void Button16Click();   // "Изъятие"
    void BitBtn19Click();   // "CODE 128"
    void BitBtn20Click();   // "EAN 13"

    // Tab "Доп. функции" (extra_functions_tab.cpp).
    void Button2Click();  // "Получить дату"
    void Button3Click();  // "Установить дату"
    void Button4Click();  // "Получить время"
    void Button5Click();  // "Установить время"
    void Button1Click();  // "Чтение статуса"
    void Button17Click(); // "Вывести" (customer display)
    void Button12Click(); // "Прогон строки"
    void Button18Click(); // "Открыть ящик"
    void Button19Click(); // "Копия чека"
    void Button20Click(); // "Печать версии"
    void Button21Click(); // "Сумма в кассе (наличные) "
    void Button35Click(); // "Режим печати Online/Offline"
    void Button36Click(); // "Режим работы дисплея"
    void BitBtn9Click();  // "Открыть " (logo file)
    void BitBtn10Click(); // "Записать  " (logo upload)
    void Button24Click(); // "Включить печать логотипа"
    void Button45Click(); // "Отключить печать логотипа"
    void BitBtn21Click(); // "Записать" (contrast)
    void BitBtn13Click(); // "Режим обрезки  "
    void Button52Click(); // "Статус обрезчика"

    // Tab "Программирование" (programming_tab.cpp).
    void Edit14Change();      // fiscal number
    void Button22Click();     // "Фискализировать"
    void Button15Click();     // "W" of initial line 1
    void Button27Click();     // "W" of initial line 2
    void Button49Click();     // "W" of initial line 3
    void Button26Click();     // "W" of final line 1
    void Button50Click();     // "W" of final line 2
    void Button51Click();     // "W" of final line 3
    void Edit26Change();      // tax or identification number
    void RadioButton1Click(); // "ПН:"
    void RadioButton2Click(); // " ІД:"
    void BitBtn17Click();     // "Записать" (taxpayer header)
    void Button53Click();     // "Заголовок чека"
    void BitBtn5Click();      // "Прочитать" (tax rates)
    void BitBtn6Click();      // "Установить" (tax rates)
    void BitBtn14Click();     // "Составной налог"
    void RadioGroup3Click();  // tax type
    void Button23Click();     // "Формы оплат"
    // "Составной налог" and the tax type as the access mode, the tax type
    // and the working compound scheme allow (also run when the compound-tax
    // window closes).
    void ApplyTaxControlRules();

    // Tab "Артикулы" (articles_tab.cpp).
    void BitBtn7Click();  // " Запомнить"
    void BitBtn8Click();  // " Прочитать"
    void Button48Click(); // "Память артикулов"
    void Button41Click(); // "Программирование товаров" / "Стоп!"
    void Edit23Change();  // stress-test access code
    void Button42Click(); // "Стресс-тест"
    void Button57Click(); // "VENDOR ONLY!"

    // Tab "Отчеты" (reports_tab.cpp).
    void BitBtn15Click();   // " X - Отчет"
    void BitBtn16Click();   // " Z - Отчет"
    void Button33Click();   // "X-отчет по товарам"
    void CheckBox14Click(); // "Весь диапазон"
    void Edit37Change();    // first article code
    void Edit38Change();    // last article code
    void Button28Click();   // "Отчет из ФП"
    void Button29Click();   // "Отчет из ФП короткий"
    void Button30Click();   // "Отчет по номерам"
    void BitBtn2Click();    // "Печать" (service report)
    void CheckBox16Click(); // "Только на чековая лента"
    void CheckBox12Click(); // "Только контрольная лента"
    void BitBtn1Click();    // "Сведения  "
    void BitBtn3Click();    // "    Итоги за день          "
    void BitBtn4Click();    // "Данные текущего чека"

    // Tab "Пароли" (passwords_tab.cpp).
    void Button6Click();   // "Установить" (cashier passwords)
    void Button46Click();  // "Установить" (programming and report passwords)
    void Button7Click();   // "Регистрация" (cashier)
    void Button8Click();   // "Разрегистрация"
    void Button43Click();  // "Регистрация" (keep the programming or report password)
    void CheckBox3Click(); // "Запрограммированное имя"
    void BitBtn18Click();  // "Забыл пароль"

    // Tab "Дамп" (dump_tab.cpp).
    void BitBtn11Click(); // "Прочитать" (one block)
    void BitBtn12Click(); // "Сохранить" (hex view)
    void Button55Click(); // "Прочитать" (range)

    // Control tape and lock controls (tape_lock_tab.cpp).
    void Button54Click(); // "Чтение статуса КЛЭФ"
    void Button47Click(); // "Снять блокировку КЛЭФ"

  protected:
    void closeEvent(QCloseEvent *event) override;

  private:
    void ApplyModel(const QString &designation);
    void EnableControlsForMode();
    krv::console::ModeContext CurrentModeContext() const;
    void ReadPaymentFormNames();
    void EnterClosedState();
    int SelectedPort() const;

    // Receipt operations (operations_tab.cpp).
    void RegisterLine(krv::console::ReceiptAction action);
    // Pays (or closes) the receipt and shows the result; false after the
    // driver's error was shown.
    bool Pay(const krv::console::PaymentRequest &request);
    bool CloseReceipt();
    bool CloseAutomatically();
    void ServiceCash(krv::console::CashOperation operation, const char *field);
    void ShowInputError(const QString &text);
    QString FieldText(const char *name) const;
    bool Checked(const char *name) const;
    int ItemIndex(const char *name) const;
    krv::console::ReceiptPanel Panel() const;
    void SetPanel(const krv::console::ReceiptPanel &panel);
    void CheckPaper(krv::console::ReceiptAction action, bool autoClosed = false);

    // Extra functions (extra_functions_tab.cpp).

    // Programming (programming_tab.cpp).
    // Writes message line 0..5 (initial 1-3, final 1-3) from its edit.
    void WriteMessageLine(int line, const char *edit);
    // The rate rows as the applied scheme and the tax type show them:
    // compound groups in light green with their typed rates kept aside.
    void RefreshTaxGrid();
    krv::console::RateCells TaxRateCells() const;
    int TaxTypeIndex() const;

    // Articles (articles_tab.cpp).
    // Asks a running bulk programming or stress test to stop; true when one
    // was running (the window then stays open).
    bool StopRunningLoops();
    int m_bulkArticleCounter = 0; // the last article the bulk programming wrote

    // Reports (reports_tab.cpp).
    // After a printing call: the driver's error, or the paper check on a
    // KRV-T100.
    void ReportPrinted(bool ok);
    void PeriodicReport(bool shortForm);
    void CheckArticleCodeField(const char *field, const QString &error);

    // Passwords (passwords_tab.cpp).
    void ChangePassword(const char *oldField, const char *newField, const char *confirmField,
                        int number, const QString *name);
    void SetCashier(bool signOn);

    // Dump (dump_tab.cpp).
    int SpinValue(const char *name) const;

    // Control tape and lock (tape_lock_tab.cpp).

    QString m_driverLibrary;
    QLabel *m_panels[2] = {nullptr, nullptr};
    bool m_closed = false;
};
