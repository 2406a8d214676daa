// Start-up defaults, the message layer, the error box and the paper warning,
// the header picture and handler wiring.
#include "support_console.h"

#include "compound_tax_window.h"
#include "connection.h"
#include "console_state.h"
#include "driver_binding.h"
#include "driver_error_box.h"
#include "header_picture.h"
#include "main_window.h"
#include "message_layer.h"
#include "modem_diagnostics_window.h"
#include "password_dialog.h"
#include "receipt_header_window.h"
#include "stress_test_window.h"
#include "tape_lock_window.h"
#include "vendor_window.h"
#include "widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDeadlineTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>

using namespace krv::console;
using krv::test::RecordingDriver;
using krv::test::ScopedDriver;

namespace {

const QString kDriverText = QStringLiteral("Превышено время ожидания ответа от принтера!");

class FixedDriver final : public DriverApi {
  public:
    bool Init(int, uint32_t) override { return true; }
    bool Close() override { return true; }
    bool GetStatus(PrinterStatus &) override { return false; }
    bool ChangeBaudRate(int) override { return true; }
    bool GetPaperState(PaperState &state) override {
        ++paperCalls;
        state = paper;
        return paperOk;
    }
    QString ErrorMessage() override { return text; }
    void CodeError(uint8_t &r, uint8_t &s, uint8_t &e) override {
        r = result;
        s = status;
        e = 0x55;
    }
    QString text = kDriverText;
    uint8_t result = 0, status = 0;
    PaperState paper;
    bool paperOk = true;
    int paperCalls = 0;
};

class Framework : public krv::test::ConsoleTest {};

} // namespace

// ---- Error box ---------------------------------------------------------------

TEST_F(Framework, ErrorBoxShowsStatusAndResultBytesOnlyWhenNotZero) {
    FixedDriver driver;
    ScopedDriver scoped(driver);
    struct Case {
        uint8_t status, result;
        QString text;
    } cases[] = {
        {0, 0, kDriverText},
        {8, 0, kDriverText + QStringLiteral("\r\nБайт статуса: 8")},
        {0, 3, kDriverText + QStringLiteral("\r\nБайт результата: 3")},
        {8, 3, kDriverText + QStringLiteral("\r\nБайт статуса: 8\r\nБайт результата: 3")},
        {255, 200, kDriverText + QStringLiteral("\r\nБайт статуса: 255\r\nБайт результата: 200")},
    };
    QWidget owner;
    for (const Case &c : cases) {
        driver.status = c.status;
        driver.result = c.result;
        script->messages.clear();
        ShowDriverError(&owner);
        ASSERT_EQ(script->messages.size(), 1u);
        const MessageRecord &box = script->messages[0];
        EXPECT_EQ(box.text, c.text);
        EXPECT_EQ(box.caption, QStringLiteral("Ошибка!"));
        EXPECT_EQ(box.icon, Icon::Error);
        EXPECT_EQ(box.buttons, Buttons::Ok);
        EXPECT_EQ(box.parent, &owner);
    }
    driver.status = driver.result = 0;
    EXPECT_TRUE(DriverErrorDetail().isEmpty());
}

TEST_F(Framework, PaperWarningTexts) {
    FixedDriver driver;
    ScopedDriver scoped(driver);
    struct Case {
        std::array<int16_t, 5> flags;
        QString text;
    } cases[] = {
        {{0, -1, -1, 0, 0}, QStringLiteral("Заканчиваются контрольная и чековая ленты!")},
        {{0, -1, 0, 0, 0}, QStringLiteral("Заканчивается контрольная лента!")},
        {{0, 0, -1, -1, -1}, QStringLiteral("Заканчивается чековая лента!")},
        {{0, 0, 0, -1, -1}, QString()},
        {{-1, -1, -1, 0, 0}, QString()}, // the first sensor silences the others
    };
    for (const Case &c : cases) {
        script->messages.clear();
        driver.paper.flags = c.flags;
        PaperLowWarning();
        if (c.text.isEmpty()) {
            EXPECT_TRUE(script->messages.empty()) << c.flags[1] << c.flags[2];
            continue;
        }
        ASSERT_EQ(script->messages.size(), 1u);
        EXPECT_EQ(script->messages[0].text, c.text);
        EXPECT_EQ(script->messages[0].caption, QStringLiteral("Внимание!"));
        EXPECT_EQ(script->messages[0].icon, Icon::Warning);
        EXPECT_EQ(script->messages[0].parent, nullptr);
    }
    driver.paperOk = false;
    driver.paper.flags = {0, -1, -1, 0, 0};
    script->messages.clear();
    PaperLowWarning();
    EXPECT_TRUE(script->messages.empty()); // a failed query says nothing
}

// ---- Message layer -------------------------------------------------------------

TEST(MessageLayer, ClassicFiltersBecomeQtFilters) {
    EXPECT_EQ(QtFileFilter(QStringLiteral("Text files (*.txt)|*.txt")),
              QStringLiteral("Text files (*.txt)"));
    EXPECT_EQ(QtFileFilter(QStringLiteral("All (*.bmp)|*.bmp|Bitmaps (*.bmp)|*.bmp")),
              QStringLiteral("All (*.bmp);;Bitmaps (*.bmp)"));
    EXPECT_EQ(QtFileFilter(QStringLiteral("Pictures|*.bmp;*.jpg")),
              QStringLiteral("Pictures (*.bmp *.jpg)"));
    EXPECT_TRUE(QtFileFilter(QString()).isEmpty());
}

// ---- Header picture -------------------------------------------------------------

// On screen, Enter answers a question with its default button: No where a
// Yes cannot be undone.
TEST(MessageLayer, EnterAnswersWithTheDefaultButton) {
    const struct {
        Buttons buttons;
        int answer;
    } cases[] = {{Buttons::YesNoDefaultNo, kResultNo}, {Buttons::YesNo, kResultYes}};
    for (const auto &c : cases) {
        QMessageBox *seen = nullptr;
        QTimer poll;
        QDeadlineTimer deadline(5000);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            seen = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (seen && seen->isVisible()) {
                poll.stop();
                QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                QApplication::sendEvent(seen, &enter);
            } else if (deadline.hasExpired()) {
                if (QWidget *modal = QApplication::activeModalWidget())
                    modal->close();
            }
        });
        poll.start(10);
        EXPECT_EQ(ShowMessage(nullptr, QStringLiteral("Q"), QStringLiteral("?"), Icon::Warning,
                              c.buttons),
                  c.answer);
        EXPECT_NE(seen, nullptr);
    }
}

TEST(HeaderPictureTest, StoredPictureDecodesAtItsSize) {
    const QImage image = HeaderPicture();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(499, 56));
}

TEST(HeaderPictureTest, DamagedDataGivesNoPictureAndNoCrash) {
    QFile file(QStringLiteral(":/console/header.jpg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "resource missing";
    const QByteArray good = file.readAll();
    EXPECT_TRUE(DecodeJpeg(QByteArray()).isNull());
    EXPECT_TRUE(DecodeJpeg(QByteArray("not a picture at all")).isNull());
    EXPECT_TRUE(DecodeJpeg(good.left(good.size() / 2)).isNull());
    EXPECT_TRUE(DecodeJpeg(good.left(20)).isNull());
    QByteArray damaged = good;
    for (qsizetype i = damaged.size() / 3; i < damaged.size() / 3 + 64; ++i)
        damaged[i] = static_cast<char>(0xFF);
    (void)DecodeJpeg(damaged); // whatever it gives, it must not crash or overrun
}

// ---- Start-up defaults ------------------------------------------------------------

TEST(StartupArgument, FirstArgumentCutTo255) {
    EXPECT_TRUE(StartupArgumentFrom({QStringLiteral("Telmar23")}).isEmpty());
    EXPECT_EQ(StartupArgumentFrom({"Telmar23", "-free", "x"}), QStringLiteral("-free"));
    const QString longArgument(300, QLatin1Char('a'));
    EXPECT_EQ(StartupArgumentFrom({"Telmar23", longArgument}), QString(255, QLatin1Char('a')));
    EXPECT_TRUE(IsFreeArgument(QStringLiteral("-FREE")));
    EXPECT_TRUE(IsFreeArgument(QStringLiteral("-Free")));
    EXPECT_FALSE(IsFreeArgument(QStringLiteral("-free ")));
    EXPECT_FALSE(IsFreeArgument(QStringLiteral("free")));
}

TEST_F(Framework, MainWindowFrame) {
    TForm1 form;
    EXPECT_EQ(form.windowTitle(),
              QStringLiteral("Telmar 2.3 для KRV-T100 (МВ-21) и KRV-T200 (МВ-22)"));
    EXPECT_EQ(form.size(), QSize(514, 569));
    auto *image = form.Control<QLabel>(QStringLiteral("Image1"));
    ASSERT_NE(image, nullptr);
    EXPECT_FALSE(image->pixmap().isNull());
    ASSERT_NE(form.StatusPanel(0), nullptr);
    ASSERT_NE(form.StatusPanel(1), nullptr);
    EXPECT_TRUE(form.StatusPanel(0)->font().bold());
    form.SetStatusPanel(1, QStringLiteral("x"));
    EXPECT_EQ(form.StatusPanelText(1), QStringLiteral("x"));
    form.FormClose();
}

TEST_F(Framework, PortListAndDefaultsWithEitherDecimalSeparator) {
    for (const QLocale &locale : {QLocale(QLocale::Russian, QLocale::Russia),
                                  QLocale(QLocale::English, QLocale::UnitedStates)}) {
        QLocale::setDefault(locale);
        const QString sep = locale.decimalPoint();
        TForm1 form;
        auto *ports = form.Control<QComboBox>(QStringLiteral("ComboBox6"));
        ASSERT_NE(ports, nullptr);
        EXPECT_EQ(ports->count(), 256);
        EXPECT_EQ(ports->itemText(0), QStringLiteral("COM1"));
        EXPECT_EQ(ports->itemText(255), QStringLiteral("COM256"));
        EXPECT_EQ(ports->currentIndex(), 0);

        const auto text = [&](const char *name) {
            auto *edit = form.Control<QLineEdit>(QString::fromLatin1(name));
            return edit ? edit->text() : QStringLiteral("<missing>");
        };
        EXPECT_EQ(text("Edit7"), QStringLiteral("1") + sep + QStringLiteral("000"));
        for (const char *name : {"Edit8", "Edit10", "Edit11", "Edit19", "Edit29", "Edit32"})
            EXPECT_EQ(text(name), QStringLiteral("0") + sep + QStringLiteral("00")) << name;
        EXPECT_EQ(text("Edit6"), QStringLiteral("Товар №1"));
        EXPECT_EQ(text("Edit30"), QStringLiteral("Товар №1"));

        auto *grid = form.Control<QTableWidget>(QStringLiteral("StringGrid1"));
        ASSERT_NE(grid, nullptr);
        const auto cell = [grid](int row, int column) {
            const QTableWidgetItem *item = grid->item(row, column);
            return item ? item->text() : QString();
        };
        EXPECT_EQ(cell(0, 0), QStringLiteral("Группа"));
        EXPECT_EQ(cell(1, 0), QStringLiteral("Группа А"));
        EXPECT_EQ(cell(5, 0), QStringLiteral("Группа Д"));
        EXPECT_EQ(cell(0, 1), QStringLiteral("Ставка (%)"));
        EXPECT_EQ(cell(1, 1), QStringLiteral("20") + sep + QStringLiteral("00"));
        EXPECT_EQ(cell(2, 1), QStringLiteral("0") + sep + QStringLiteral("00"));
        EXPECT_TRUE(cell(3, 1).isEmpty());

        for (const char *name : {"Button22", "Edit11"}) {
            QWidget *widget = form.Control(QString::fromLatin1(name));
            ASSERT_NE(widget, nullptr) << name;
            EXPECT_FALSE(widget->isEnabled()) << name;
        }
        for (const char *name : {"DateTimePicker1", "DateTimePicker3", "DateTimePicker4"}) {
            auto *picker = form.Control<QDateTimeEdit>(QString::fromLatin1(name));
            ASSERT_NE(picker, nullptr) << name;
            EXPECT_EQ(picker->date(), QDate::currentDate()) << name;
        }
        form.FormClose();
    }
    QLocale::setDefault(QLocale::system());
}

TEST_F(Framework, ClosingWithoutAConnectionMakesNoDriverCall) {
    RecordingDriver driver(RealDriver());
    ScopedDriver scoped(driver);
    {
        TForm1 form;
        form.close();
    }
    EXPECT_TRUE(driver.calls.isEmpty()) << driver.calls.join(", ").toStdString();
    EXPECT_EQ(State().DriverLibraryHandle, nullptr);
}

// ---- Handler wiring ---------------------------------------------------------------

namespace {

class WiredForm : public QWidget {
    Q_OBJECT
  public:
    int clicks = 0, changes = 0, toggles = 0, choices = 0;
  public slots:
    void Button1Click() { ++clicks; }
    void RadioGroup1Click() { ++choices; }
    void Edit1Change() { ++changes; }
    void CheckBox1Click() { ++toggles; }
    void Missing1Click() {}
};

} // namespace

TEST(HandlerWiring, SlotsReachTheirControlsByName) {
    WiredForm form;
    auto *button = new QPushButton(&form);
    button->setObjectName(QStringLiteral("Button1"));
    auto *edit = new QLineEdit(&form);
    edit->setObjectName(QStringLiteral("Edit1"));
    auto *check = new QCheckBox(&form);
    check->setObjectName(QStringLiteral("CheckBox1"));
    auto *group =
        new RadioGroup(QStringLiteral("g"), {QStringLiteral("a"), QStringLiteral("b")}, &form);
    group->setObjectName(QStringLiteral("RadioGroup1"));
    EXPECT_EQ(ConnectHandlersByName(form, form),
              QStringList{QStringLiteral("Missing1Click: no control Missing1")})
        << "a handler without its control is reported, never silently skipped";
    group->setItemIndex(1);
    EXPECT_EQ(form.choices, 1);
    button->click();
    edit->setText(QStringLiteral("abc"));
    check->setChecked(true); // a check box reports a change made by code too
    EXPECT_EQ(form.clicks, 1);
    EXPECT_EQ(form.changes, 1);
    EXPECT_EQ(form.toggles, 1);
}

// Every window's handlers reach their controls: a control or slot name typed
// wrong fails here instead of leaving a button dead.
TEST(HandlerWiring, EveryWindowWiresEveryHandler) {
    const std::vector<std::pair<const char *, std::unique_ptr<QWidget>>> windows = [] {
        std::vector<std::pair<const char *, std::unique_ptr<QWidget>>> list;
        list.emplace_back("TForm1", std::make_unique<TForm1>());
        list.emplace_back("TForm2", std::make_unique<TForm2>());
        list.emplace_back("TForm3", std::make_unique<TForm3>());
        list.emplace_back("TForm4", std::make_unique<TForm4>());
        list.emplace_back("TForm5", std::make_unique<TForm5>());
        list.emplace_back("TForm6", std::make_unique<TForm6>());
        list.emplace_back("TForm7", std::make_unique<TForm7>());
        list.emplace_back("TForm8", std::make_unique<TForm8>());
        list.emplace_back("TForm9", std::make_unique<TForm9>());
        return list;
    }();
    for (const auto &[name, window] : windows)
        EXPECT_EQ(UnwiredHandlers(*window, *window), QStringList()) << name;
}

#include "test_framework.moc"
