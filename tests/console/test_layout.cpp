// The windows' controls: every control the handlers look up by name exists
// on the right tab or window, with its class, caption, limits, items and
// the state it has before a printer is connected.
#include "compound_tax_window.h"
#include "main_window_layout.h"
#include "modem_diagnostics_window.h"
#include "password_dialog.h"
#include "payment_forms_window.h"
#include "receipt_header_window.h"
#include "stress_test_window.h"
#include "tape_lock_window.h"
#include "vendor_window.h"
#include "widgets.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSet>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QTimeEdit>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Layout names of the classic toolkit: a kind and a number.
const QRegularExpression kLayoutName(
    QStringLiteral("^(Button|BitBtn|Edit|ComboBox|CheckBox|RadioButton|RadioGroup|SpinEdit|"
                   "DateTimePicker|StringGrid|Memo|MaskEdit|RichEdit|Label|GroupBox|Panel)\\d+$"));

QStringList Names(const char *spaceSeparated) {
    return QString::fromUtf8(spaceSeparated).split(' ', Qt::SkipEmptyParts);
}

QString Caption(const QWidget *widget) {
    if (auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (auto *group = qobject_cast<const QGroupBox *>(widget))
        return group->title();
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto *edit = qobject_cast<const QLineEdit *>(widget))
        return edit->text();
    return {};
}

// The layout-named controls under `root`, with how often each name occurs.
QMap<QString, int> LayoutNamesUnder(const QWidget &root) {
    QMap<QString, int> names;
    for (const QWidget *widget : root.findChildren<QWidget *>())
        if (kLayoutName.match(widget->objectName()).hasMatch())
            ++names[widget->objectName()];
    return names;
}

QStringList Items(const QComboBox *combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

class MainWindowLayout : public ::testing::Test {
  protected:
    void SetUp() override { BuildForm1Layout(m_form); }

    template <class T = QWidget> T *Find(const QString &name) {
        return m_form.findChild<T *>(name);
    }
    QTabWidget *Pages() { return Find<QTabWidget>(QStringLiteral("PageControl1")); }

    QMainWindow m_form;
};

TEST_F(MainWindowLayout, WindowHasItsCaptionSizeHeaderAndEightTabsInOrder) {
    EXPECT_EQ(m_form.windowTitle(),
              QStringLiteral("Telmar 2.3 для KRV-T100 (МВ-21) и KRV-T200 (МВ-22)"));
    EXPECT_EQ(m_form.minimumSize(), QSize(514, 569));
    EXPECT_EQ(m_form.maximumSize(), QSize(514, 569));
    auto *image = Find<QLabel>(QStringLiteral("Image1"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size(), QSize(499, 56));

    QTabWidget *pages = Pages();
    ASSERT_NE(pages, nullptr);
    const QStringList captions = {"Связь",    "Операции", "Доп. функции", "Программирование",
                                  "Артикулы", "Отчеты",   "Пароли",       " Дамп "};
    ASSERT_EQ(pages->count(), captions.size());
    for (int i = 0; i < pages->count(); ++i) {
        EXPECT_EQ(pages->tabText(i), captions[i]) << i;
        EXPECT_EQ(pages->widget(i)->objectName(), QStringLiteral("TabSheet%1").arg(i + 1));
    }
    EXPECT_EQ(pages->currentIndex(), 0);
}

TEST_F(MainWindowLayout, EachTabHoldsExactlyItsNamedControls) {
    const QStringList expected[] = {
        Names("ComboBox6 ComboBox7 CheckBox13 Button31 Button40 ComboBox8 Button34 Button56 "
              "Panel1"),
        Names("Edit6 Edit7 Edit8 ComboBox3 ComboBox9 Edit18 ComboBox10 Edit20 Edit19 Button38 "
              "CheckBox2 CheckBox4 CheckBox1 CheckBox5 CheckBox15 Button32 Button9 Button10 "
              "Button39 Edit11 ComboBox4 Button37 Button44 Button13 Edit39 Edit9 Button11 Edit40 "
              "BitBtn19 Edit41 BitBtn20 Edit10 Button14 Button16 Edit29 Label51 Label52 Label11 "
              "Label54"),
        Names("BitBtn21 SpinEdit1 Edit13 Button17 Edit28 Button3 DateTimePicker1 Button2 "
              "DateTimePicker2 Button5 Button4 Button12 Button18 Button19 Button20 Button35 "
              "Button36 Button21 Button1 Button54 Button24 Button45 BitBtn9 BitBtn10 Edit31 "
              "CheckBox8 CheckBox9 BitBtn13 Button52 GroupBox29 GroupBox30"),
        Names("Edit14 Button22 Edit12 Button15 Edit27 CheckBox10 CheckBox11 Button26 Edit42 "
              "Edit43 Edit44 Edit45 Button27 Button49 Button50 Button51 RadioGroup3 StringGrid1 "
              "BitBtn5 BitBtn6 BitBtn14 Edit26 RadioButton1 RadioButton2 BitBtn17 Button53 "
              "Button23"),
        Names("SpinEdit2 Edit30 ComboBox11 Edit32 BitBtn7 BitBtn8 ComboBox12 CheckBox7 Button48 "
              "Button41 Button42 Edit23 Button47 Button57"),
        Names("DateTimePicker3 DateTimePicker4 Button28 Button29 Edit15 Edit16 Button30 Button33 "
              "Edit37 Edit38 CheckBox14 BitBtn15 BitBtn16 Memo1 BitBtn2 CheckBox6 CheckBox16 "
              "CheckBox12 BitBtn4 BitBtn3 BitBtn1"),
        Names("Edit1 Edit2 Edit3 ComboBox1 Button6 Edit21 BitBtn18 Button7 Edit4 ComboBox2 Edit5 "
              "Button8 CheckBox3 RadioGroup4 Edit22 Button43 RadioGroup1 Edit34 Edit35 Edit36 "
              "Button46"),
        Names("Memo2 SpinEdit3 Edit33 BitBtn11 BitBtn12 SpinEdit4 Edit17 Edit24 Button55 "
              "Label46"),
    };
    QTabWidget *pages = Pages();
    ASSERT_EQ(pages->count(), 8);
    for (int tab = 0; tab < 8; ++tab) {
        const QMap<QString, int> actual = LayoutNamesUnder(*pages->widget(tab));
        const QSet<QString> want(expected[tab].begin(), expected[tab].end());
        ASSERT_EQ(want.size(), expected[tab].size()) << "expectation lists a name twice";
        EXPECT_EQ(QSet<QString>(actual.keyBegin(), actual.keyEnd()), want)
            << pages->tabText(tab).toStdString();
        EXPECT_EQ(actual.size(), expected[tab].size()) << pages->tabText(tab).toStdString();
    }
    // A name lives on one tab only, once.
    for (auto [name, count] : LayoutNamesUnder(m_form).asKeyValueRange())
        EXPECT_EQ(count, 1) << name.toStdString();
}

struct ControlSample {
    const char *name;
    const char *className;
    const char *caption;
};

TEST_F(MainWindowLayout, ControlsHaveTheirClassAndCaption) {
    const ControlSample samples[] = {
        // Связь
        {"ComboBox6", "QComboBox", ""},
        {"CheckBox13", "QCheckBox", "Определить скорость"},
        {"Button31", "QPushButton", "Установить связь"},
        {"Button40", "QPushButton", "Завершить связь"},
        {"Button34", "QPushButton", "Изменить"},
        {"Button56", "QPushButton", "Диагностика модема"},
        {"Panel1", "QFrame", ""},
        // Операции
        {"Edit39", "QLineEdit", "1"},
        {"Button38", "QPushButton", "Скидка/Наценка"},
        {"CheckBox2", "QCheckBox", "Брать единичное количество"},
        {"CheckBox4", "QCheckBox", "Наименование брать из ЭККР"},
        {"CheckBox1", "QCheckBox", "Автоматически закрыть чек"},
        {"CheckBox5", "QCheckBox", "Печатать не фискальный чек"},
        {"CheckBox15", "QCheckBox", "Печатать штрих-код товара"},
        {"Button44", "QPushButton", "Отмена поз."},
        {"Button32", "QPushButton", "Нулевой чек"},
        {"BitBtn19", "QPushButton", "CODE 128"},
        {"BitBtn20", "QPushButton", "EAN 13"},
        {"Button16", "QPushButton", "Изъятие"},
        {"Label54", "QLabel", ""},
        // Доп. функции
        {"DateTimePicker1", "QDateEdit", ""},
        {"DateTimePicker2", "QTimeEdit", ""},
        {"SpinEdit1", "QSpinBox", ""},
        {"Button21", "QPushButton", "Сумма в кассе (наличные) "},
        {"Button35", "QPushButton", "Режим печати Online/Offline"},
        {"Button54", "QPushButton", "Чтение статуса КЛЭФ"},
        {"BitBtn9", "QPushButton", "Открыть "},
        {"BitBtn10", "QPushButton", "Записать  "},
        {"BitBtn13", "QPushButton", "Режим обрезки  "},
        {"GroupBox29", "QGroupBox", " Контрастность печати: "},
        {"GroupBox30", "QGroupBox", " Обрезчик чековой ленты: "},
        // Программирование
        {"Button22", "QPushButton", "Фискализировать"},
        {"Button15", "QPushButton", "W"},
        {"Button51", "QPushButton", "W"},
        {"CheckBox10", "QCheckBox", "Двойная ширина"},
        {"RadioButton1", "QRadioButton", "ПН:"},
        {"RadioButton2", "QRadioButton", " ІД:"},
        {"RadioGroup3", "RadioGroup", " Тип налога: "},
        {"StringGrid1", "QTableWidget", ""},
        {"BitBtn14", "QPushButton", "Составной налог"},
        {"Button53", "QPushButton", "Заголовок чека"},
        {"Button23", "QPushButton", "Формы оплат"},
        // Артикулы
        {"SpinEdit2", "QSpinBox", ""},
        {"BitBtn7", "QPushButton", " Запомнить"},
        {"BitBtn8", "QPushButton", " Прочитать"},
        {"CheckBox7", "QCheckBox", "Возврат товара"},
        {"Button41", "QPushButton", "Программирование товаров"},
        {"Button42", "QPushButton", "Стресс-тест"},
        {"Button47", "QPushButton", "Снять блокировку КЛЭФ"},
        {"Button57", "QPushButton", "VENDOR ONLY!"},
        // Отчеты
        {"DateTimePicker4", "QDateEdit", ""},
        {"Button29", "QPushButton", "Отчет из ФП короткий"},
        {"Edit37", "QLineEdit", "0"},
        {"CheckBox16", "QCheckBox", "Только на чековая лента"},
        {"BitBtn15", "QPushButton", " X - Отчет"},
        {"BitBtn16", "QPushButton", " Z - Отчет"},
        {"BitBtn3", "QPushButton", "    Итоги за день          "},
        {"BitBtn1", "QPushButton", "Сведения  "},
        {"Memo1", "QPlainTextEdit", ""},
        // Пароли
        {"BitBtn18", "QPushButton", "Забыл пароль"},
        {"Button8", "QPushButton", "Разрегистрация"},
        {"CheckBox3", "QCheckBox", "Запрограммированное имя"},
        {"RadioGroup4", "RadioGroup", ""},
        {"Button46", "QPushButton", "Установить"},
        // Дамп
        {"Edit33", "QLineEdit", "0000"},
        {"Edit17", "QLineEdit", "0000"},
        {"Edit24", "QLineEdit", "0000"},
        {"Button55", "QPushButton", "Прочитать"},
        {"Label46", "QLabel", "0"},
    };
    for (const auto &sample : samples) {
        auto *widget = Find(QString::fromLatin1(sample.name));
        ASSERT_NE(widget, nullptr) << sample.name;
        EXPECT_STREQ(widget->metaObject()->className(), sample.className) << sample.name;
        EXPECT_EQ(Caption(widget), QString::fromUtf8(sample.caption)) << sample.name;
    }
    // The logo path starts in the user's home folder (there is no "C:\").
    auto *logoPath = Find(QStringLiteral("Edit31"));
    ASSERT_NE(logoPath, nullptr);
    EXPECT_STREQ(logoPath->metaObject()->className(), "QLineEdit");
    EXPECT_EQ(Caption(logoPath), QDir::homePath() + QLatin1Char('/'));
}

TEST_F(MainWindowLayout, EditsHaveTheirLengthLimitsAndPasswordsAreMasked) {
    const struct {
        const char *name;
        int maxLength;
        bool password;
    } edits[] = {
        {"Edit39", 15, false}, {"Edit6", 70, false},  {"Edit7", 10, false},  {"Edit8", 10, false},
        {"Edit20", 25, false}, {"Edit11", 11, false}, {"Edit9", 27, false},  {"Edit40", 16, false},
        {"Edit41", 13, false}, {"Edit10", 11, false}, {"Edit29", 11, false}, {"Edit13", 20, false},
        {"Edit28", 20, false}, {"Edit14", 10, false}, {"Edit12", 36, false}, {"Edit42", 36, false},
        {"Edit43", 36, false}, {"Edit27", 36, false}, {"Edit44", 36, false}, {"Edit45", 36, false},
        {"Edit26", 12, false}, {"Edit30", 70, false}, {"Edit32", 10, false}, {"Edit23", 5, true},
        {"Edit15", 5, false},  {"Edit16", 5, false},  {"Edit37", 14, false}, {"Edit38", 14, false},
        {"Edit1", 5, true},    {"Edit2", 5, true},    {"Edit3", 5, true},    {"Edit21", 15, false},
        {"Edit4", 5, true},    {"Edit5", 15, false},  {"Edit22", 5, true},   {"Edit34", 5, true},
        {"Edit35", 5, true},   {"Edit36", 5, true},   {"Edit33", 4, false},  {"Edit17", 4, false},
        {"Edit24", 4, false},
    };
    for (const auto &sample : edits) {
        auto *edit = Find<QLineEdit>(QString::fromLatin1(sample.name));
        ASSERT_NE(edit, nullptr) << sample.name;
        EXPECT_EQ(edit->maxLength(), sample.maxLength) << sample.name;
        EXPECT_EQ(edit->echoMode() == QLineEdit::Password, sample.password) << sample.name;
    }
    auto *hexView = Find<QPlainTextEdit>(QStringLiteral("Memo2"));
    EXPECT_TRUE(hexView->isReadOnly());
    EXPECT_FALSE(Find<QPlainTextEdit>(QStringLiteral("Memo1"))->isReadOnly());
}

TEST_F(MainWindowLayout, ListsHaveTheirItemsAndChoice) {
    const QStringList taxGroups = {"А", "Б", "В", "Г", "Д", "Е"};
    const QStringList rates = {"9600", "19200", "38400"};
    const QStringList cashiers = {"Кассир №1", "Кассир №2", "Кассир №3", "Кассир №4",
                                  "Кассир №5", "Кассир №6", "Кассир №7", "Кассир №8"};
    const struct {
        const char *name;
        QStringList items;
        int index;
    } lists[] = {
        {"ComboBox6", {}, -1}, // filled with the ports at start-up
        {"ComboBox7", rates, 0},
        {"ComboBox8", rates, 0},
        {"ComboBox3", taxGroups, 0},
        {"ComboBox11", taxGroups, 0},
        {"ComboBox12", {"0", "1", "2", "3"}, 0},
        {"ComboBox9",
         {"% на последний товар", "абс. на последний товар", "% на пром. сумму",
          "абс на пром. сумму"},
         0},
        {"ComboBox10", {"Скидка", "Наценка"}, 0},
        {"ComboBox4",
         {"карточка", "кредит", "чек", "наличные", "сплата", "сплата", "сплата", "сплата", "сплата",
          "сплата"},
         3},
        {"ComboBox1", cashiers, 0},
        {"ComboBox2", cashiers, 0},
    };
    for (const auto &list : lists) {
        auto *combo = Find<QComboBox>(QString::fromLatin1(list.name));
        ASSERT_NE(combo, nullptr) << list.name;
        EXPECT_EQ(Items(combo), list.items) << list.name;
        EXPECT_EQ(combo->currentIndex(), list.index) << list.name;
    }

    const struct {
        const char *name;
        QStringList items;
        int index;
    } groups[] = {
        {"RadioGroup3", {"Наложенный налог", "Вложенный налог"}, 1},
        {"RadioGroup4", {"Пароль программирования", "Пароль отчетов"}, 1},
        {"RadioGroup1", {"Пароль программирования", "Пароль отчетов"}, 1},
    };
    for (const auto &group : groups) {
        auto *radio = Find<RadioGroup>(QString::fromLatin1(group.name));
        ASSERT_NE(radio, nullptr) << group.name;
        QStringList items;
        for (int i = 0; i < radio->count(); ++i)
            items << radio->itemText(i);
        EXPECT_EQ(items, group.items) << group.name;
        EXPECT_EQ(radio->itemIndex(), group.index) << group.name;
    }
}

TEST_F(MainWindowLayout, OnlyTheLinkControlsWorkBeforeConnecting) {
    const QStringList enabled = {"ComboBox6", "ComboBox7", "CheckBox13", "Button31", "Button56"};
    for (auto [name, count] : LayoutNamesUnder(*Pages()).asKeyValueRange()) {
        auto *widget = Find(name);
        // Labels, panels and plain group boxes are not operated.
        const bool plainGroup =
            qobject_cast<QGroupBox *>(widget) && !qobject_cast<RadioGroup *>(widget);
        if (qobject_cast<QLabel *>(widget) || plainGroup || name.startsWith(QLatin1String("Panel")))
            continue;
        EXPECT_EQ(widget->isEnabled(), enabled.contains(name)) << name.toStdString();
    }
    EXPECT_TRUE(Find(QStringLiteral("Button57"))->isHidden());
    EXPECT_FALSE(Find<QCheckBox>(QStringLiteral("CheckBox13"))->isChecked());
    // The fiscal-number and stress-test code fields sit on grey.
    for (const char *name : {"Edit14", "Edit23"}) {
        auto *edit = Find<QLineEdit>(QString::fromLatin1(name));
        EXPECT_NE(edit->palette().color(QPalette::Active, QPalette::Base),
                  Find<QLineEdit>(QStringLiteral("Edit13"))
                      ->palette()
                      .color(QPalette::Active, QPalette::Base))
            << name;
    }
}

TEST_F(MainWindowLayout, ChoicesAndNumberFieldsStartAsLaidOut) {
    EXPECT_TRUE(Find<QCheckBox>(QStringLiteral("CheckBox14"))->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(QStringLiteral("CheckBox3"))->isChecked());
    EXPECT_TRUE(Find<QRadioButton>(QStringLiteral("RadioButton1"))->isChecked());
    EXPECT_FALSE(Find<QRadioButton>(QStringLiteral("RadioButton2"))->isChecked());
    for (const char *name : {"CheckBox1", "CheckBox2", "CheckBox6", "CheckBox8", "CheckBox9",
                             "CheckBox10", "CheckBox11", "CheckBox12", "CheckBox16"})
        EXPECT_FALSE(Find<QCheckBox>(QString::fromLatin1(name))->isChecked()) << name;

    const struct {
        const char *name;
        int minimum, maximum, value;
    } spins[] = {
        {"SpinEdit1", 50, 200, 50},
        {"SpinEdit2", 1, 2147483647, 1},
        {"SpinEdit3", 0, 255, 16},
        {"SpinEdit4", 0, 255, 23},
    };
    for (const auto &spin : spins) {
        auto *box = Find<QSpinBox>(QString::fromLatin1(spin.name));
        ASSERT_NE(box, nullptr) << spin.name;
        EXPECT_EQ(box->minimum(), spin.minimum) << spin.name;
        EXPECT_EQ(box->maximum(), spin.maximum) << spin.name;
        EXPECT_EQ(box->value(), spin.value) << spin.name;
    }
}

TEST_F(MainWindowLayout, TaxGridHasFixedHeadingsAndEditableRates) {
    auto *grid = Find<QTableWidget>(QStringLiteral("StringGrid1"));
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->columnCount(), 2);
    EXPECT_EQ(grid->rowCount(), 6);
    EXPECT_EQ(grid->columnWidth(0), 64);
    EXPECT_EQ(grid->columnWidth(1), 71);
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(grid->rowHeight(row), 16);
        for (int column = 0; column < 2; ++column) {
            QTableWidgetItem *cell = grid->item(row, column);
            ASSERT_NE(cell, nullptr) << row << "," << column;
            const bool fixed = row == 0 || column == 0;
            EXPECT_EQ((cell->flags() & Qt::ItemIsEditable) != 0, !fixed) << row << "," << column;
        }
    }
}

TEST_F(MainWindowLayout, ControlsLieInsideTheirTabsAndGroups) {
    m_form.show();
    QTabWidget *pages = Pages();
    for (int tab = 0; tab < pages->count(); ++tab) {
        QWidget *page = pages->widget(tab);
        pages->setCurrentIndex(tab);
        QList<QWidget *> containers = {page};
        for (QGroupBox *group : page->findChildren<QGroupBox *>())
            containers.append(group);
        for (QWidget *container : std::as_const(containers)) {
            if (qobject_cast<RadioGroup *>(container))
                continue;
            for (QWidget *child : container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                EXPECT_TRUE(container->rect().contains(child->geometry()))
                    << pages->tabText(tab).toStdString() << ": "
                    << child->objectName().toStdString() << " " << Caption(child).toStdString()
                    << " in " << container->objectName().toStdString();
        }
    }
}

TEST_F(MainWindowLayout, OperatedControlsDoNotOverlap) {
    m_form.show();
    QList<QWidget *> containers;
    for (int tab = 0; tab < Pages()->count(); ++tab) {
        containers.append(Pages()->widget(tab));
        for (QGroupBox *group : Pages()->widget(tab)->findChildren<QGroupBox *>())
            if (!qobject_cast<RadioGroup *>(group))
                containers.append(group);
    }
    for (QWidget *container : std::as_const(containers)) {
        QList<QWidget *> operated;
        for (QWidget *child : container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            if (kLayoutName.match(child->objectName()).hasMatch() && !qobject_cast<QLabel *>(child))
                operated.append(child);
        for (int i = 0; i < operated.size(); ++i)
            for (int j = i + 1; j < operated.size(); ++j)
                EXPECT_FALSE(operated[i]->geometry().intersects(operated[j]->geometry()))
                    << operated[i]->objectName().toStdString() << " and "
                    << operated[j]->objectName().toStdString();
    }
}

TEST_F(MainWindowLayout, StatusBarHasTwoBoldPanels) {
    QStatusBar *bar = m_form.statusBar();
    EXPECT_EQ(bar->objectName(), QStringLiteral("StatusBar1"));
    QLabel *link = krv::console::StatusPanel(m_form, 0);
    QLabel *progress = krv::console::StatusPanel(m_form, 1);
    ASSERT_NE(link, nullptr);
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(krv::console::StatusPanel(m_form, 2), nullptr);
    EXPECT_EQ(link->width(), 400);
    EXPECT_TRUE(link->font().bold());
    EXPECT_TRUE(progress->font().bold());
    EXPECT_EQ(progress->maximumWidth(), 300);
    EXPECT_TRUE(link->text().isEmpty());
    // The window's own code takes the bar's direct label children as its panels.
    EXPECT_EQ(link->parentWidget(), bar);
    EXPECT_EQ(progress->parentWidget(), bar);

    // While the bulk programming shows its progress, the link panel keeps
    // only what its text needs; then it is 400 wide again.
    link->setText(QStringLiteral("Порт открыт (38400 бит/с) Режим - СЕРВИС"));
    progress->setText(QStringLiteral("Товар 10000 из 10000"));
    krv::console::FitStatusPanels(m_form);
    EXPECT_LT(link->maximumWidth(), 400);
    EXPECT_GE(link->maximumWidth(), link->fontMetrics().horizontalAdvance(link->text()));
    progress->clear();
    krv::console::FitStatusPanels(m_form);
    EXPECT_EQ(link->maximumWidth(), 400);
    EXPECT_EQ(link->minimumWidth(), 400);
}

// ---------------------------------------------------------------- RadioGroup

TEST(RadioGroupHelper, ItemIndexFollowsClicksAndAssignments) {
    RadioGroup group(QStringLiteral(" Тип: "), {QStringLiteral("a"), QStringLiteral("b")});
    group.resize(150, 60);
    std::vector<int> changes;
    QObject::connect(&group, &RadioGroup::itemIndexChanged,
                     [&changes](int index) { changes.push_back(index); });
    EXPECT_EQ(group.itemIndex(), -1);
    EXPECT_EQ(group.itemText(5), QString());
    EXPECT_EQ(group.button(-1), nullptr);

    group.setItemIndex(1);
    EXPECT_EQ(group.itemIndex(), 1);
    EXPECT_EQ(changes, std::vector<int>{1});

    changes.clear();
    group.setItemIndex(1); // no change, no announcement
    EXPECT_TRUE(changes.empty());

    group.button(0)->click();
    EXPECT_EQ(group.itemIndex(), 0);
    EXPECT_EQ(changes, std::vector<int>{0});
    EXPECT_FALSE(group.button(1)->isChecked());

    changes.clear();
    group.setItemIndex(7); // out of range clears the choice
    EXPECT_EQ(group.itemIndex(), -1);
    EXPECT_FALSE(group.button(0)->isChecked());
    EXPECT_EQ(changes, std::vector<int>{-1});
}

TEST(RadioGroupHelper, ItemsShareTheGroupInOneColumn) {
    RadioGroup group(QString(), {QStringLiteral("a"), QStringLiteral("b")});
    group.resize(150, 60);
    group.show();
    EXPECT_LT(group.button(0)->geometry().bottom(), group.button(1)->geometry().top());
    EXPECT_EQ(group.button(0)->x(), group.button(1)->x());
    EXPECT_LE(group.button(1)->geometry().bottom(), group.height());
}

// --------------------------------------------------------- secondary windows

template <class T = QWidget> T *FindIn(QWidget &window, const char *name) {
    return window.findChild<T *>(QString::fromLatin1(name));
}

void ExpectNoDuplicateNames(QWidget &window) {
    for (auto [name, count] : LayoutNamesUnder(window).asKeyValueRange())
        EXPECT_EQ(count, 1) << window.objectName().toStdString() << " " << name.toStdString();
}

void ExpectSamples(QWidget &window, std::initializer_list<ControlSample> samples) {
    for (const auto &sample : samples) {
        auto *widget = FindIn(window, sample.name);
        ASSERT_NE(widget, nullptr) << window.objectName().toStdString() << " " << sample.name;
        EXPECT_STREQ(widget->metaObject()->className(), sample.className) << sample.name;
        EXPECT_EQ(Caption(widget), QString::fromUtf8(sample.caption)) << sample.name;
    }
}

TEST(SecondaryWindows, CaptionsAndNamedControlCounts) {
    const struct {
        std::unique_ptr<QWidget> window;
        const char *caption;
        int namedControls;
    } windows[] = {
        {std::make_unique<TForm2>(), "Стресс-тест", 10},
        {std::make_unique<TForm4>(), "Настройка схемы составного налога", 7},
        {std::make_unique<TForm5>(), "Формы оплат", 13},
        {std::make_unique<TForm6>(), "Заголовок чека", 15},
        {std::make_unique<TForm7>(), "Блокировка", 3},
        {std::make_unique<TForm8>(), "Диагностика модема KRV-L5 Vertal", 6},
        {std::make_unique<TForm9>(), "for vendor only!", 13},
    };
    for (const auto &entry : windows) {
        EXPECT_EQ(entry.window->windowTitle(), QString::fromUtf8(entry.caption));
        EXPECT_EQ(LayoutNamesUnder(*entry.window).size(), entry.namedControls) << entry.caption;
        ExpectNoDuplicateNames(*entry.window);
        EXPECT_EQ(entry.window->minimumSize(), entry.window->maximumSize()) << entry.caption;
    }
}

TEST(SecondaryWindows, StressTestWindow) {
    TForm2 form;
    ExpectSamples(form, {{"Edit1", "QLineEdit", ""},
                         {"Label4", "QLabel", "0"},
                         {"Label5", "QLabel", "0"},
                         {"Label7", "QLabel", "0"},
                         {"Label9", "QLabel", "0"},
                         {"Button1", "QPushButton", "Запустить"},
                         {"Button2", "QPushButton", "Остановить"},
                         {"Button3", "QPushButton", "Выход"}});
    EXPECT_EQ(form.SpinEdit1->minimum(), 1);
    EXPECT_EQ(form.SpinEdit1->maximum(), 255);
    EXPECT_EQ(form.SpinEdit1->value(), 1);
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_FALSE(form.Button2->isEnabled());
    EXPECT_TRUE(form.Label11->text().startsWith(QStringLiteral("Для корректной работы")));
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST(SecondaryWindows, CompoundTaxWindow) {
    TForm4 form;
    ExpectSamples(form, {{"CheckBox1", "QCheckBox", "Использовать схему составного налога"},
                         {"CheckBox2", "QCheckBox", "Налог на сбор"},
                         {"BitBtn1", "QPushButton", "Применить"},
                         {"BitBtn2", "QPushButton", "Отмена"}});
    EXPECT_EQ(Items(form.ComboBox1), QStringList({"А", "Б", "В", "Г", "Д", "Е"}));
    EXPECT_EQ(form.ComboBox1->currentIndex(), 2);
    EXPECT_EQ(form.MaskEdit1->displayText(), QStringLiteral("20,00%"));
    EXPECT_EQ(form.MaskEdit2->displayText(), QStringLiteral(" 5,00%"));
    EXPECT_FALSE(form.CheckBox1->isChecked());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);

    // The two pictures come from the program's resources, whole, inside the
    // window and clear of every other named control.
    for (const QLabel *image : {form.Image1, form.Image2}) {
        ASSERT_NE(image, nullptr);
        SCOPED_TRACE(image->objectName().toStdString());
        EXPECT_FALSE(image->pixmap().isNull());
        EXPECT_EQ(image->pixmap().size(), image->size());
        EXPECT_TRUE(form.rect().contains(image->geometry()));
        for (const QWidget *other : form.findChildren<QWidget *>()) {
            if (other != image && !other->objectName().isEmpty() && other->parent() == &form) {
                EXPECT_FALSE(image->geometry().intersects(other->geometry()))
                    << other->objectName().toStdString();
            }
        }
    }

    // The rate edits take digits only around their fixed comma and percent.
    form.MaskEdit1->clear();
    form.MaskEdit1->setCursorPosition(0);
    form.MaskEdit1->insert(QStringLiteral("1x2,5"));
    EXPECT_EQ(form.MaskEdit1->displayText().right(1), QStringLiteral("%"));
    EXPECT_FALSE(form.MaskEdit1->displayText().contains(QLatin1Char('x')));
}

TEST(SecondaryWindows, CompoundTaxWindowClosesWithItsResult) {
    TForm4 form;
    form.show();
    form.BitBtn1->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_FALSE(form.isVisible());
    form.show();
    form.BitBtn2->click();
    EXPECT_EQ(form.result(), QDialog::Rejected);
}

TEST(SecondaryWindows, PaymentFormNamesWindow) {
    TForm5 form;
    for (int f = 0; f < 10; ++f) {
        QLineEdit *edit = form.NameEdit(f);
        ASSERT_NE(edit, nullptr) << f;
        EXPECT_EQ(edit->objectName(), QStringLiteral("Edit%1").arg(f + 1));
        EXPECT_EQ(edit->maxLength(), 15);
        EXPECT_EQ(edit->isEnabled(), f != 3) << f;
    }
    EXPECT_EQ(form.NameEdit(10), nullptr);
    EXPECT_EQ(form.NameEdit(-1), nullptr);
    EXPECT_EQ(form.Edit4->text(), QStringLiteral("ГОТІВКОЮ"));
    ExpectSamples(form, {{"Button1", "QPushButton", "Прочитать"},
                         {"Button2", "QPushButton", "Записать"},
                         {"Button3", "QPushButton", "Выход"}});
}

TEST(SecondaryWindows, ReceiptHeaderWindow) {
    TForm6 form;
    const struct {
        QLineEdit *edit;
        QLabel *label;
        int maxLength;
        const char *caption;
    } lines[] = {
        {form.Edit1, form.Label2, 30, "Строка №1 (0..30 символов)"},
        {form.Edit2, form.Label3, 30, "Строка №2 (0..30 символов)"},
        {form.Edit3, form.Label4, 30, "Строка №3 (0..30 символов)"},
        {form.Edit4, form.Label5, 36, "Дополнительная строка №1 (0..36 символов)"},
        {form.Edit5, form.Label6, 36, "Дополнительная строка №2 (0..36 символов)"},
    };
    for (const auto &line : lines) {
        EXPECT_EQ(line.edit->maxLength(), line.maxLength) << line.caption;
        EXPECT_EQ(line.label->text(), QString::fromUtf8(line.caption));
        EXPECT_TRUE(line.edit->text().isEmpty());
    }
    EXPECT_EQ(Items(form.ComboBox1), QStringList({"1", "2", "3", "доп.1", "доп.2"}));
    EXPECT_EQ(form.ComboBox1->currentIndex(), 0);
    EXPECT_FALSE(form.ComboBox1->isEditable());
    ExpectSamples(form, {{"CheckBox1", "QCheckBox", "Двойная ширина"},
                         {"CheckBox2", "QCheckBox", "Двойная высота"},
                         {"Button1", "QPushButton", "Установить"},
                         {"Button2", "QPushButton", "Закрыть"}});
}

TEST(SecondaryWindows, LockAndModemWindows) {
    TForm7 lock;
    ExpectSamples(lock, {{"Button3", "QPushButton", "Продлить на 72 часа"},
                         {"Button1", "QPushButton", "Снять блокировку"},
                         {"Button2", "QPushButton", "Выход"}});

    TForm8 modem;
    EXPECT_EQ(modem.size(), QSize(456, 526));
    ExpectSamples(modem, {{"Button2", "QPushButton", "Опросить модем"},
                          {"Button3", "QPushButton", "Подробно"},
                          {"Button4", "QPushButton", "Сохранить"},
                          {"Button5", "QPushButton", "Распечатать"},
                          {"Button1", "QPushButton", "Выход"}});
    EXPECT_TRUE(modem.RichEdit1->isReadOnly());
    EXPECT_FALSE(modem.Button4->isEnabled());
    EXPECT_FALSE(modem.Button5->isEnabled());
    EXPECT_TRUE(modem.Button2->isEnabled());
    EXPECT_TRUE(modem.Button3->isEnabled());
}

TEST(SecondaryWindows, VendorWindow) {
    TForm9 form;
    EXPECT_EQ(form.size(), QSize(352, 569));
    EXPECT_EQ(form.PersonalizText->objectName(), QStringLiteral("PersonalizText"));
    EXPECT_EQ(form.PersonalizText->maxLength(), 180);
    for (QLineEdit *edit : {form.Edit1, form.Edit2, form.Edit3, form.Edit4}) {
        EXPECT_EQ(edit->maxLength(), 9) << edit->objectName().toStdString();
        EXPECT_EQ(edit->text(), QStringLiteral("0")) << edit->objectName().toStdString();
    }
    ExpectSamples(form, {{"CheckBox1", "QCheckBox", "Флаг персонализации"},
                         {"Button2", "QPushButton", "Персонализация"},
                         {"Button3", "QPushButton", "Установить номер пакета"},
                         {"Button5", "QPushButton", "Очистить данные в КЛЭФ"},
                         {"Button4", "QPushButton", "Подтвердить передачу данных"},
                         {"Button7", "QPushButton", "Продлить на 72 часа"},
                         {"Button8", "QPushButton", "Снять блокировку"},
                         {"Button1", "QPushButton", "Статус КЛЭФ"},
                         {"Button6", "QPushButton", "Закрыть"}});
}

// The inside of the frame a group box draws: the group is painted without
// its controls, each side's line is met walking in from the middle of that
// side (from a column near the right side for the top and bottom lines,
// clear of the caption), and the line, at most two pixels wide, is left
// out. A side without a line is the group's edge.
QRect DrawnFrameInside(QGroupBox &group) {
    QImage image(group.size(), QImage::Format_RGB32);
    const QRgb background = group.palette().color(QPalette::Window).rgb();
    image.fill(background);
    group.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    const int column = group.width() - 12, row = group.height() / 2;
    constexpr int kLineWidth = 2;
    // The first pixel past the line met walking from `from` by `step`, at
    // most `limit` steps; `from` when there is none.
    auto pastLine = [&](QPoint from, QPoint step, int limit) {
        QPoint at = from;
        for (int steps = 0; steps < limit; ++steps, at += step)
            if (image.pixel(at) != background)
                return at + step * kLineWidth;
        return from;
    };
    const int top = pastLine({column, 0}, {0, 1}, row).y();
    const int bottom = pastLine({column, group.height() - 1}, {0, -1}, row).y();
    const int left = pastLine({0, row}, {1, 0}, group.width() / 2).x();
    const int right = pastLine({group.width() - 1, row}, {-1, 0}, group.width() / 2).x();
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

// Every group box of every window: its controls (hidden ones too: they show
// in other modes) lie inside the frame it draws, none across its line.
TEST(AllWindows, ControlsStayInsideTheFramesTheirGroupsDraw) {
    auto main = std::make_unique<QMainWindow>();
    BuildForm1Layout(*main);
    std::unique_ptr<QWidget> windows[] = {
        std::move(main),
        std::make_unique<TForm2>(),
        std::make_unique<TForm3>(),
        std::make_unique<TForm4>(),
        std::make_unique<TForm5>(),
        std::make_unique<TForm6>(),
        std::make_unique<TForm7>(),
        std::make_unique<TForm8>(),
        std::make_unique<TForm9>(),
    };
    int groups = 0;
    for (const auto &window : windows) {
        window->show();
        for (QGroupBox *group : window->findChildren<QGroupBox *>()) {
            ++groups;
            const QRect inside = DrawnFrameInside(*group);
            EXPECT_GT(inside.top(), 0) << group->objectName().toStdString() << ": no frame line";
            for (QWidget *child : group->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                EXPECT_TRUE(inside.contains(child->geometry()))
                    << window->windowTitle().toStdString() << ": " << group->title().toStdString()
                    << " " << child->objectName().toStdString() << " "
                    << Caption(child).toStdString() << " at y " << child->y()
                    << ", frame inside from y " << inside.top();
        }
    }
    EXPECT_GE(groups, 40);
}

TEST(SecondaryWindows, ControlsLieInsideTheirWindows) {
    std::unique_ptr<QWidget> windows[] = {
        std::make_unique<TForm2>(), std::make_unique<TForm4>(), std::make_unique<TForm5>(),
        std::make_unique<TForm6>(), std::make_unique<TForm7>(), std::make_unique<TForm8>(),
        std::make_unique<TForm9>(),
    };
    for (const auto &window : windows)
        for (QWidget *child : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(window->rect().contains(child->geometry()))
                << window->objectName().toStdString() << " " << child->objectName().toStdString();
}

} // namespace
