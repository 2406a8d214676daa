#include "main_window_layout.h"

#include "connection.h"
#include "logo_file.h"
#include "widgets.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>

using krv::console::LayoutBuilder;

namespace {

constexpr int kClientWidth = 514;
constexpr int kClientHeight = 569;

// The tab strip: each caption with room around it, the tabs drawn apart, and
// the current tab raised, joined to its page and marked with a blue top edge
// (the blue of the header picture). The font stays the console's: a bold
// current tab would need more room than the window has.
constexpr char kPageControlStyle[] =
    "QTabWidget::pane { border: 1px solid #8a94a2; top: -1px; }"
    "QTabBar::tab { padding: 3px 5px; margin-top: 2px; border: 1px solid #a9b2be;"
    " border-bottom-color: #8a94a2; background: #dfe4ea; color: #3a4450; }"
    "QTabBar::tab:!first { margin-left: -1px; }"
    "QTabBar::tab:hover:!selected { background: #eaeef3; }"
    "QTabBar::tab:selected { margin-top: 0px; border-color: #8a94a2;"
    " border-top: 3px solid #1f5fa8; border-bottom-color: palette(window);"
    " background: palette(window); color: black; }";

const QStringList kTaxGroups = {"А", "Б", "В", "Г", "Д", "Е"};
// The rate lists show the link rates in their order: an item's index is the
// rate index the link calls take.
QStringList RateTexts() {
    QStringList texts;
    for (const uint32_t rate : krv::console::kLinkRates)
        texts << QString::number(rate);
    return texts;
}
const QStringList kCashiers = {"Кассир №1", "Кассир №2", "Кассир №3", "Кассир №4",
                               "Кассир №5", "Кассир №6", "Кассир №7", "Кассир №8"};
const QStringList kPasswordKinds = {"Пароль программирования", "Пароль отчетов"};

QWidget *AddPage(QTabWidget *pages, const char *name, const QString &caption) {
    auto *page = new QWidget;
    page->setObjectName(QString::fromLatin1(name));
    pages->addTab(page, caption);
    return page;
}

void BuildLinkTab(LayoutBuilder &b) {
    b.beginGroup("GroupLink", " Параметры связи: ", {8, 8, 240, 150});
    b.label("Порт:", 12, 22);
    b.comboBox("ComboBox6", {12, 38, 100, 21}, {}, -1);
    b.label("Скорость (бит/с):", 124, 22);
    b.comboBox("ComboBox7", {124, 38, 104, 21}, RateTexts(), 0);
    b.checkBox("CheckBox13", "Определить скорость", {12, 66, 216, 17});
    b.button("Button31", "Установить связь", {12, 88, 216, 25});
    b.button("Button40", "Завершить связь", {12, 116, 216, 25});
    b.end();

    b.beginGroup("GroupRateChange", " Изменение скорости связи: ", {8, 164, 240, 60});
    b.comboBox("ComboBox8", {12, 26, 104, 21}, RateTexts(), 0);
    b.button("Button34", "Изменить", {124, 24, 104, 25});
    b.end();

    b.beginGroup("GroupModem", " Модем KRV-L5 Vertal: ", {8, 230, 240, 60});
    b.button("Button56", "Диагностика модема", {12, 24, 216, 25});
    b.end();

    b.beginPanel("Panel1", {256, 8, 244, 282});
    // The two models side by side, each above its caption, drawn at this
    // size (tools/pictures draws it).
    auto *printers = b.label({}, {4, 4, 236, 240}, "Image2");
    printers->setPixmap(QPixmap(QStringLiteral(":/console/printers.png")));
    printers->setAlignment(Qt::AlignCenter);
    b.label("KRV-T100", 34, 250);
    b.label("KRV-T200", 154, 250);
    b.end();
}

void BuildOperationsTab(LayoutBuilder &b) {
    b.label("Код:", 8, 4);
    b.edit("Edit39", {8, 20, 90, 21}, 15, "1");
    b.label("Наименование:", 104, 4);
    b.edit("Edit6", {104, 20, 250, 21}, 70);
    b.label("Налог:", 360, 4);
    b.comboBox("ComboBox3", {360, 20, 50, 21}, kTaxGroups, 0);
    b.label("Количество:", 416, 4);
    b.edit("Edit7", {416, 20, 84, 21}, 10);
    b.label("Цена (грн.):", 8, 46);
    b.edit("Edit8", {8, 62, 90, 21}, 10);
    b.checkBox("CheckBox2", "Брать единичное количество", {104, 46, 200, 17});
    b.checkBox("CheckBox4", "Наименование брать из ЭККР", {104, 65, 200, 17});
    b.checkBox("CheckBox15", "Печатать штрих-код товара", {104, 84, 200, 17});
    b.checkBox("CheckBox1", "Автоматически закрыть чек", {310, 46, 190, 17});
    b.checkBox("CheckBox5", "Печатать не фискальный чек", {310, 65, 190, 17});

    b.button("Button9", "Продажа", {8, 106, 78, 25});
    b.button("Button10", "Возврат", {90, 106, 78, 25});
    b.button("Button44", "Отмена поз.", {172, 106, 78, 25});
    b.button("Button32", "Нулевой чек", {254, 106, 78, 25});
    b.button("Button39", "Закрыть чек", {336, 106, 78, 25});
    b.button("Button13", "Отмена чека", {418, 106, 82, 25});

    b.beginGroup("GroupDiscount", " Скидки / наценки: ", {8, 136, 300, 132});
    b.label("Тип скидки / наценки:", 8, 16);
    b.comboBox("ComboBox9", {8, 32, 160, 21},
               {"% на последний товар", "абс. на последний товар", "% на пром. сумму",
                "абс на пром. сумму"},
               0);
    b.comboBox("ComboBox10", {176, 32, 116, 21}, {"Скидка", "Наценка"}, 0);
    b.label("Процент (%):", 8, 58);
    b.edit("Edit18", {8, 74, 70, 21}, 0);
    b.label("Сумма (грн.):", 86, 58);
    b.edit("Edit19", {86, 74, 82, 21}, 0);
    b.button("Button38", "Скидка/Наценка", {176, 72, 116, 25});
    b.label("Пояснительная строка: ", 8, 104);
    b.edit("Edit20", {146, 100, 146, 21}, 25);
    b.end();

    b.beginGroup("GroupReceiptInfo", " Информация по чеку: ", {316, 136, 184, 132});
    b.label("Стоимость:", 8, 24);
    b.label("", {96, 24, 84, 14}, "Label51");
    b.label("Сумма по чеку:", 8, 48);
    b.label("", {96, 48, 84, 14}, "Label52");
    b.label("", {8, 72, 84, 14}, "Label11");
    b.label("", {96, 72, 84, 14}, "Label54");
    b.end();

    b.beginGroup("GroupPayment", " Оплата: ", {8, 272, 300, 72});
    b.label("От клиента (грн.):", 8, 18);
    b.edit("Edit11", {8, 34, 100, 21}, 11);
    b.label("Форма оплаты:", 116, 18);
    b.comboBox("ComboBox4", {116, 34, 100, 21},
               {"карточка", "кредит", "чек", "наличные", "сплата", "сплата", "сплата", "сплата",
                "сплата", "сплата"},
               3);
    b.button("Button37", "Оплатить", {224, 32, 68, 25});
    b.end();

    b.beginGroup("GroupComment", " Комментарий: ", {316, 272, 184, 72});
    b.edit("Edit9", {8, 18, 168, 21}, 27);
    b.button("Button11", "Комментарий", {8, 42, 168, 25});
    b.end();

    b.beginGroup("GroupBarcodes", " Штрих-коды: ", {8, 348, 300, 76});
    b.edit("Edit40", {8, 20, 180, 21}, 16);
    b.glyphButton("BitBtn19", "CODE 128", {196, 18, 96, 25}, QStyle::SP_FileIcon);
    b.edit("Edit41", {8, 48, 180, 21}, 13);
    b.glyphButton("BitBtn20", "EAN 13", {196, 46, 96, 25}, QStyle::SP_FileIcon);
    b.end();

    b.beginGroup("GroupCash", " Служебные операции: ", {316, 348, 184, 76});
    b.edit("Edit10", {8, 20, 80, 21}, 11);
    b.button("Button14", "Внесение", {94, 18, 82, 25});
    b.edit("Edit29", {8, 48, 80, 21}, 11);
    b.button("Button16", "Изъятие", {94, 46, 82, 25});
    b.end();
}

void BuildExtraTab(LayoutBuilder &b) {
    b.beginGroup("GroupDateTime", " Установка/чтение даты и времени: ", {8, 4, 240, 134});
    b.datePicker("DateTimePicker1", {8, 22, 96, 21});
    b.button("Button3", "Установить дату", {108, 20, 124, 25});
    b.button("Button2", "Получить дату", {108, 48, 124, 25});
    b.timePicker("DateTimePicker2", {8, 80, 96, 21});
    b.button("Button5", "Установить время", {108, 78, 124, 25});
    b.button("Button4", "Получить время", {108, 106, 124, 25});
    b.end();

    b.beginGroup("GroupCustomerDisplay",
                 " Вывод строки на индикатор клиента: ", {256, 4, 244, 134});
    b.label("Верхняя строка:", 8, 18);
    b.edit("Edit13", {8, 32, 228, 21}, 20);
    b.label("Нижняя строка:", 8, 58);
    b.edit("Edit28", {8, 72, 228, 21}, 20);
    b.button("Button17", "Вывести", {8, 102, 228, 25});
    b.end();

    b.beginGroup("GroupServiceFunctions", " Служебные функции: ", {8, 142, 492, 132});
    const struct {
        const char *name;
        const char *caption;
    } serviceButtons[] = {
        {"Button12", "Прогон строки"},
        {"Button18", "Открыть ящик"},
        {"Button19", "Копия чека"},
        {"Button20", "Печать версии"},
        {"Button35", "Режим печати Online/Offline"},
        {"Button36", "Режим работы дисплея"},
        {"Button21", "Сумма в кассе (наличные) "},
        {"Button1", "Чтение статуса"},
        {"Button54", "Чтение статуса КЛЭФ"},
        {"Button24", "Включить печать логотипа"},
        {"Button45", "Отключить печать логотипа"},
    };
    // Three columns, four buttons down; the middle ones carry the longest texts.
    const int columnLeft[] = {8, 132, 314};
    const int columnWidth[] = {120, 178, 170};
    int index = 0;
    for (const auto &button : serviceButtons) {
        const int column = index / 4;
        const int row = index % 4;
        b.button(button.name, QString::fromUtf8(button.caption),
                 {columnLeft[column], 20 + row * 27, columnWidth[column], 25});
        ++index;
    }
    b.end();

    b.beginGroup("GroupLogo", " Логотип торговой точки: ", {8, 278, 492, 74});
    b.label("Путь:", 8, 22);
    // The logo path starts at the user's home folder.
    b.edit("Edit31", {40, 18, 280, 21}, 0, krv::console::DefaultLogoPath());
    b.glyphButton("BitBtn9", "Открыть ", {328, 16, 76, 25}, QStyle::SP_DialogOpenButton);
    b.glyphButton("BitBtn10", "Записать  ", {408, 16, 76, 25}, QStyle::SP_DialogSaveButton);
    b.checkBox("CheckBox8", "Двойная высота", {40, 46, 130, 17});
    b.checkBox("CheckBox9", "Инверсия цвета", {180, 46, 130, 17});
    b.end();

    b.beginGroup("GroupBox29", " Контрастность печати: ", {8, 356, 230, 76});
    b.label("Контрастность:", 8, 18);
    b.spinEdit("SpinEdit1", {8, 36, 56, 21}, 50, 200, 50, 3);
    b.label("%", 68, 40);
    b.glyphButton("BitBtn21", "Записать", {122, 34, 100, 25}, QStyle::SP_DialogSaveButton);
    b.end();

    b.beginGroup("GroupBox30", " Обрезчик чековой ленты: ", {242, 356, 258, 76});
    b.glyphButton("BitBtn13", "Режим обрезки  ", {8, 34, 122, 25}, QStyle::SP_BrowserReload);
    b.button("Button52", "Статус обрезчика", {134, 34, 116, 25});
    b.end();
}

void BuildProgrammingTab(LayoutBuilder &b) {
    b.beginGroup("GroupFiscal", " Фискализация: ", {8, 4, 240, 76});
    b.label("Пароль программирования", 8, 18);
    b.edit("Edit14", {8, 42, 100, 21}, 10);
    b.button("Button22", "Фискализировать", {114, 40, 118, 25});
    b.end();

    b.beginGroup("GroupPaymentForms", " Формы оплат: ", {8, 84, 240, 52});
    b.button("Button23", "Формы оплат", {8, 20, 224, 25});
    b.end();

    b.beginGroup("GroupTaxpayerHeader", " Заголовок чека: ", {256, 4, 244, 134});
    b.label("Пароль программирования", 8, 18);
    b.label("         Налоговый номер - ПН\r\n(Идентификационный номер - ІД)", 8, 34);
    b.radioButton("RadioButton1", "ПН:", {8, 72, 50, 17}, true);
    b.radioButton("RadioButton2", " ІД:", {8, 92, 50, 17});
    b.label("Номер до 12 символов", 60, 64);
    b.edit("Edit26", {60, 78, 96, 21}, 12);
    b.glyphButton("BitBtn17", "Записать", {160, 76, 76, 25}, QStyle::SP_DialogSaveButton);
    b.button("Button53", "Заголовок чека", {60, 104, 176, 25});
    b.end();

    b.beginGroup("GroupMessageLines",
                 " Начальное и конечное сообщения в чеке: ", {8, 140, 492, 128});
    b.label("Начальное:", 8, 16);
    b.label("Конечное:", 250, 16);
    const struct {
        const char *edit;
        const char *button;
    } lines[] = {
        {"Edit12", "Button15"}, {"Edit42", "Button27"}, {"Edit43", "Button49"},
        {"Edit27", "Button26"}, {"Edit44", "Button50"}, {"Edit45", "Button51"},
    };
    int index = 0;
    for (const auto &line : lines) {
        const int x = index < 3 ? 8 : 250;
        const int y = 30 + (index % 3) * 25;
        b.edit(line.edit, {x, y, 206, 21}, 36);
        b.button(line.button, "W", {x + 208, y - 1, 24, 23});
        ++index;
    }
    b.checkBox("CheckBox10", "Двойная ширина", {8, 106, 130, 17});
    b.checkBox("CheckBox11", "Двойная высота", {150, 106, 130, 17});
    b.end();

    b.beginGroup("GroupTaxRates", " Налоговые ставки: ", {8, 272, 492, 146});
    b.label("Пароль программирования", 8, 18);
    b.grid("StringGrid1", {8, 36, 140, 100}, 2, 6, {64, 71}, 16);
    b.radioGroup("RadioGroup3", " Тип налога: ", {178, 16, 150, 66},
                 {"Наложенный налог", "Вложенный налог"}, 1);
    b.label("Пустые поля между \r\nзначениями ставок \r\n   не допускаются.", 178, 90);
    b.glyphButton("BitBtn5", "Прочитать", {336, 20, 148, 25}, QStyle::SP_ArrowDown);
    b.glyphButton("BitBtn6", "Установить", {336, 50, 148, 25}, QStyle::SP_ArrowUp);
    b.glyphButton("BitBtn14", "Составной налог", {336, 80, 148, 25},
                  QStyle::SP_FileDialogDetailedView);
    b.end();
}

void BuildArticlesTab(LayoutBuilder &b) {
    b.beginGroup("GroupArticleTable", " Работа с таблицей артикулов: ", {8, 4, 492, 196});
    b.label("Код:", 8, 18);
    b.spinEdit("SpinEdit2", {8, 32, 100, 21}, 1, 2147483647, 1, 9);
    b.label("Наименование:", 116, 18);
    b.edit("Edit30", {116, 32, 368, 21}, 70);
    b.label("Нал. группа:", 8, 72);
    b.comboBox("ComboBox11", {8, 86, 100, 21}, kTaxGroups, 0);
    b.label("  Число десятичных \r\nзнаков в количестве:", 116, 58);
    b.comboBox("ComboBox12", {116, 86, 110, 21}, {"0", "1", "2", "3"}, 0);
    b.label("Цена (грн.):", 254, 72);
    b.edit("Edit32", {254, 86, 90, 21}, 10);
    b.checkBox("CheckBox7", "Возврат товара", {352, 88, 132, 17});
    b.glyphButton("BitBtn7", " Запомнить", {8, 116, 110, 25}, QStyle::SP_DialogSaveButton);
    b.glyphButton("BitBtn8", " Прочитать", {124, 116, 110, 25}, QStyle::SP_DialogOpenButton);
    b.button("Button48", "Память артикулов", {240, 116, 130, 25});
    b.label("Для получения информации \r\n   о товаре нужно указать \r\n     только код артикула.",
            8, 148);
    b.end();

    b.beginGroup("GroupTests", " Тестовые функции: ", {8, 204, 492, 80});
    b.label("Пароль для стресс-теста:", 8, 22);
    b.passwordEdit("Edit23", {164, 18, 66, 21}, 5);
    b.button("Button41", "Программирование товаров", {8, 46, 222, 25});
    b.button("Button42", "Стресс-тест", {240, 16, 120, 25});
    b.button("Button57", "VENDOR ONLY!", {366, 16, 118, 25});
    b.button("Button47", "Снять блокировку КЛЭФ", {240, 46, 244, 25});
    b.end();
}

void BuildReportsTab(LayoutBuilder &b) {
    b.beginGroup("GroupPeriodicReports",
                 " Периодические отчеты из фискальной памяти: ", {8, 4, 492, 112});
    b.label("Пароль отчетов", 8, 16);
    b.label("С:", 8, 38);
    b.datePicker("DateTimePicker3", {28, 34, 100, 21});
    b.label("ДО:", 136, 38);
    b.datePicker("DateTimePicker4", {160, 34, 100, 21});
    b.button("Button28", "Отчет из ФП", {268, 20, 216, 25});
    b.button("Button29", "Отчет из ФП короткий", {268, 48, 216, 25});
    b.label("Начало:", 8, 84);
    b.edit("Edit15", {60, 80, 56, 21}, 5);
    b.label("-", 121, 84);
    b.label("Конец:", 132, 84);
    b.edit("Edit16", {180, 80, 56, 21}, 5);
    b.button("Button30", "Отчет по номерам", {268, 78, 216, 25});
    b.end();

    b.beginGroup("GroupFinancialReports", " Отчеты по финансовым операциям: ", {8, 120, 492, 120});
    b.label("Пароль отчетов", 8, 18);
    b.label("Начальный код артикула:", 8, 40);
    b.edit("Edit37", {170, 36, 94, 21}, 14, "0");
    b.label("Конечный код артикула:", 8, 66);
    b.edit("Edit38", {170, 62, 94, 21}, 14, "0");
    b.checkBox("CheckBox14", "Весь диапазон", {8, 92, 126, 17}, true);
    b.button("Button33", "X-отчет по товарам", {136, 88, 128, 25});
    b.glyphButton("BitBtn15", " X - Отчет", {272, 28, 212, 30}, QStyle::SP_FileIcon);
    b.glyphButton("BitBtn16", " Z - Отчет", {272, 70, 212, 30}, QStyle::SP_FileIcon);
    b.end();

    b.beginGroup("GroupServiceReport", " Служебный отчет: ", {8, 244, 492, 160});
    b.label("Текст служебного отчёта:", 8, 16);
    b.memo("Memo1", {8, 30, 280, 122});
    b.checkBox("CheckBox6", "Завершить отчет", {296, 30, 188, 17});
    b.checkBox("CheckBox16", "Только на чековая лента", {296, 52, 188, 17});
    b.checkBox("CheckBox12", "Только контрольная лента", {296, 74, 188, 17});
    b.glyphButton("BitBtn2", "Печать", {296, 124, 188, 28}, QStyle::SP_FileIcon);
    b.end();

    b.glyphButton("BitBtn4", "Данные текущего чека", {8, 410, 170, 28},
                  QStyle::SP_FileDialogInfoView);
    b.glyphButton("BitBtn3", "    Итоги за день          ", {182, 410, 160, 28},
                  QStyle::SP_FileDialogInfoView);
    b.glyphButton("BitBtn1", "Сведения  ", {346, 410, 154, 28}, QStyle::SP_FileDialogInfoView);
}

void BuildPasswordsTab(LayoutBuilder &b) {
    b.beginGroup("GroupCashierPasswords", " Установка паролей касиров: ", {8, 4, 244, 196});
    b.label("Оператор:", 8, 22);
    b.comboBox("ComboBox1", {118, 18, 118, 21}, kCashiers, 0);
    b.label("Старый пароль:", 8, 50);
    b.passwordEdit("Edit1", {118, 46, 118, 21}, 5);
    b.label("Новый пароль:", 8, 78);
    b.passwordEdit("Edit2", {118, 74, 118, 21}, 5);
    b.label("Подтверждение:", 8, 106);
    b.passwordEdit("Edit3", {118, 102, 118, 21}, 5);
    b.label("Имя кассира:", 8, 134);
    b.edit("Edit21", {118, 130, 118, 21}, 15);
    b.button("Button6", "Установить", {8, 162, 110, 25});
    b.glyphButton("BitBtn18", "Забыл пароль", {126, 162, 110, 25}, QStyle::SP_MessageBoxQuestion);
    b.end();

    b.beginGroup("GroupCashierRegistration", " Регистрация кассира: ", {256, 4, 244, 196});
    b.label("Номер кассира:", 8, 22);
    b.comboBox("ComboBox2", {118, 18, 118, 21}, kCashiers, 0);
    b.label("Пароль кассира:", 8, 50);
    b.passwordEdit("Edit4", {118, 46, 118, 21}, 5);
    b.label("Имя кассира:", 8, 78);
    b.edit("Edit5", {118, 74, 118, 21}, 15);
    b.checkBox("CheckBox3", "Запрограммированное имя", {8, 104, 228, 17}, true);
    b.button("Button7", "Регистрация", {8, 162, 110, 25});
    b.button("Button8", "Разрегистрация", {126, 162, 110, 25});
    b.end();

    b.beginGroup("GroupPasswordRegistration",
                 " Регистрация (программирование и  отчеты): ", {8, 206, 492, 88});
    b.radioGroup("RadioGroup4", "", {8, 20, 220, 60}, kPasswordKinds, 1);
    b.label("Пароль:", 240, 26);
    b.passwordEdit("Edit22", {350, 22, 134, 21}, 5);
    b.button("Button43", "Регистрация", {240, 52, 244, 25});
    b.end();

    b.beginGroup("GroupPasswordChange",
                 " Установка паролей отчетов и прогр.: ", {8, 298, 492, 128});
    b.radioGroup("RadioGroup1", "", {8, 20, 220, 60}, kPasswordKinds, 1);
    b.label("Старый пароль:", 240, 24);
    b.passwordEdit("Edit34", {350, 20, 134, 21}, 5);
    b.label("Новый пароль:", 240, 48);
    b.passwordEdit("Edit35", {350, 44, 134, 21}, 5);
    b.label("Подтверждение:", 240, 72);
    b.passwordEdit("Edit36", {350, 68, 134, 21}, 5);
    b.button("Button46", "Установить", {240, 96, 244, 25});
    b.end();
}

void BuildDumpTab(LayoutBuilder &b) {
    b.beginGroup("GroupMemoryDump", " Дамп памяти: ", {8, 4, 492, 236});
    b.label("Страница:", 8, 22);
    b.spinEdit("SpinEdit3", {72, 18, 52, 21}, 0, 255, 16, 3);
    b.label("Адрес (HEX):", 134, 22);
    b.edit("Edit33", {220, 18, 50, 21}, 4, "0000");
    b.glyphButton("BitBtn11", "Прочитать", {280, 16, 100, 25}, QStyle::SP_ArrowDown);
    b.glyphButton("BitBtn12", "Сохранить", {386, 16, 98, 25}, QStyle::SP_DialogSaveButton);
    auto *hexView = b.memo("Memo2", {8, 48, 476, 180});
    hexView->setReadOnly(true);
    hexView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    b.end();

    b.beginGroup("GroupMemoryRead", " Чтение памяти: ", {8, 244, 492, 110});
    b.label("Страница:", 8, 22);
    b.spinEdit("SpinEdit4", {72, 18, 52, 21}, 0, 255, 23, 3);
    b.label("Адрес начала (HEX):", 134, 22);
    b.edit("Edit17", {264, 18, 50, 21}, 4, "0000");
    b.label("Адрес конца (HEX):", 134, 50);
    b.edit("Edit24", {264, 46, 50, 21}, 4, "0000");
    b.button("Button55", "Прочитать", {330, 16, 154, 25});
    b.label("Вычитано блоков:", 8, 82);
    b.label("0", {124, 82, 60, 14}, "Label46");
    b.end();
}

// Before a printer is connected only the link controls and the modem button
// work; every other control of the tabs waits for the access mode.
void SetDisconnectedState(QTabWidget *pages) {
    static const QRegularExpression operationControl(
        QStringLiteral("^(Button|BitBtn|Edit|ComboBox|CheckBox|RadioButton|RadioGroup|SpinEdit|"
                       "DateTimePicker|StringGrid|Memo)\\d+$"));
    static const QStringList alwaysEnabled = {"ComboBox6", "ComboBox7", "CheckBox13", "Button31",
                                              "Button56"};
    for (auto *widget : pages->findChildren<QWidget *>()) {
        const QString name = widget->objectName();
        if (operationControl.match(name).hasMatch() && !alwaysEnabled.contains(name))
            widget->setEnabled(false);
    }
    pages->findChild<QPushButton *>("Button57")->setVisible(false);
    krv::console::SetGreyBackground(pages->findChild<QLineEdit *>("Edit14"));
    krv::console::SetGreyBackground(pages->findChild<QLineEdit *>("Edit23"));
}

constexpr int kLinkPanelWidth = 400;
constexpr int kProgressPanelWidth = 300;

// The width a panel needs to show its whole text: the text, with the frame
// and the indent a framed label keeps (counted on both sides) around it.
int PanelWidthFor(const QLabel &panel) {
    const QFontMetrics metrics(panel.font());
    const int indent = panel.indent() >= 0 ? panel.indent() : metrics.horizontalAdvance(u'x') / 2;
    return metrics.horizontalAdvance(panel.text()) +
           2 * (indent + panel.frameWidth() + panel.margin());
}

void BuildStatusBar(QMainWindow &form) {
    auto *bar = new QStatusBar(&form);
    bar->setObjectName("StatusBar1");
    bar->setSizeGripEnabled(false);
    QFont bold = bar->font();
    bold.setBold(true);
    for (int i = 0; i < 2; ++i) {
        auto *panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
        panel->setFont(bold);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        if (i == 0) {
            panel->setFixedWidth(kLinkPanelWidth);
            bar->addWidget(panel);
        } else {
            // The second panel is 300 wide but the window shows what fits.
            panel->setMaximumWidth(kProgressPanelWidth);
            panel->setMinimumWidth(0);
            bar->addWidget(panel, 1);
        }
    }
    form.setStatusBar(bar);
}

} // namespace

void BuildForm1Layout(QMainWindow &form) {
    form.setObjectName("Form1");
    krv::console::SetFixedWindow(form, "Telmar 2.3 для KRV-T100 (МВ-21) и KRV-T200 (МВ-22)",
                                 kClientWidth, kClientHeight, true);

    auto *client = new QWidget(&form);
    client->setObjectName("ClientArea");
    form.setCentralWidget(client);

    LayoutBuilder b(client);
    auto *header = b.label("", {7, 1, 499, 56}, "Image1");
    header->setAlignment(Qt::AlignCenter);

    auto *pages = new QTabWidget(client);
    pages->setObjectName("PageControl1");
    pages->setGeometry(0, 58, kClientWidth, 490);
    // Eight captions share the window's width; arrows appear only when a
    // wide system font leaves no room.
    pages->tabBar()->setExpanding(false);
    pages->setStyleSheet(QString::fromLatin1(kPageControlStyle));

    const struct {
        const char *name;
        const char *caption;
        void (*build)(LayoutBuilder &);
    } tabs[] = {
        {"TabSheet1", "Связь", BuildLinkTab},
        {"TabSheet2", "Операции", BuildOperationsTab},
        {"TabSheet3", "Доп. функции", BuildExtraTab},
        {"TabSheet4", "Программирование", BuildProgrammingTab},
        {"TabSheet5", "Артикулы", BuildArticlesTab},
        {"TabSheet6", "Отчеты", BuildReportsTab},
        {"TabSheet7", "Пароли", BuildPasswordsTab},
        {"TabSheet8", " Дамп ", BuildDumpTab},
    };
    for (const auto &tab : tabs) {
        b.enter(AddPage(pages, tab.name, QString::fromUtf8(tab.caption)));
        tab.build(b);
    }
    pages->setCurrentIndex(0);
    SetDisconnectedState(pages);

    BuildStatusBar(form);
}

namespace krv::console {

QLabel *StatusPanel(QMainWindow &form, int index) {
    if (index != 0 && index != 1)
        return nullptr;
    return form.findChild<QLabel *>(QStringLiteral("StatusBar1Panel%1").arg(index));
}

void FitStatusPanels(QMainWindow &form) {
    QLabel *link = StatusPanel(form, 0);
    QLabel *progress = StatusPanel(form, 1);
    if (!link || !progress)
        return;
    if (progress->text().isEmpty()) {
        link->setFixedWidth(kLinkPanelWidth);
        progress->setMinimumWidth(0);
        return;
    }
    link->setFixedWidth(std::min(kLinkPanelWidth, PanelWidthFor(*link)));
    progress->setMinimumWidth(std::min(kProgressPanelWidth, PanelWidthFor(*progress)));
}

} // namespace krv::console
