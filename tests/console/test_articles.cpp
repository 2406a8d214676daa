// The tab "Артикулы" and the stress-test window: the turnover text, the
// stress receipt plan and log line, and on the emulated printer one article
// written and read back, the article-memory counters, and the two long
// loops stopped from inside themselves (by their stop button or by a close).
#include "support_console.h"

#include "article_logic.h"
#include "console_state.h"
#include "console_windows.h"
#include "stress_plan.h"
#include "stress_test_window.h"
#include "vendor_window.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

using namespace krv::console;
using krv::emu::Bytes;

namespace {

// Runs `action` once from the event processing of a running loop, as soon
// as `ready` holds.
void WhenInLoop(QObject *owner, std::function<bool()> ready, std::function<void()> action) {
    auto *timer = new QTimer(owner);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, owner, [timer, ready, action] {
        if (!ready())
            return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

// ---- Texts and plans ----------------------------------------------------------------

TEST(ArticleTexts, QuantityFollowsItsDecimals) {
    const struct {
        int32_t quantity;
        uint8_t flags;
        std::optional<QString> text;
    } cases[] = {
        {1234, 0, QStringLiteral("1234")},  {1234, 1, QStringLiteral("123,4")},
        {1234, 2, QStringLiteral("12,34")}, {5, 3, QStringLiteral("0,005")},
        {0, 2, QStringLiteral("0,00")},     {1234, 4, std::nullopt},
        {1234, 0x83, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(QuantityText(c.quantity, c.flags, u','), c.text) << c.quantity << " " << +c.flags;
}

TEST(ArticleTexts, TurnoverTextForEachQuantityForm) {
    ArticleInfo info;
    info.salesQty = 1234;
    info.salesQtyFlags = 2;
    info.salesSum = 12345;
    info.returnsQty = 7;
    info.returnsQtyFlags = 3;
    info.returnsSum = 5;
    EXPECT_EQ(TurnoverText(info, u','),
              QStringLiteral("Обороты:\r\n"
                             "Количество (продажи):        \t12,34\r\n"
                             "Количество (возвраты):       \t0,007\r\r\n"
                             "Сумма оборотов (продажи):  \t123,45 грн.\r\n"
                             "Сумма оборотов (возвраты): \t0,05 грн."));
    info.salesQtyFlags = 9; // no form: no line
    info.returnsQtyFlags = 0;
    EXPECT_EQ(TurnoverText(info, u'.').section(QStringLiteral("\r\n"), 1, 1),
              QStringLiteral("Количество (возвраты):       \t7"));
    EXPECT_EQ(TurnoverCaption(QStringLiteral("Чай")), QStringLiteral("Обороты по товару \"Чай\""));
}

TEST(ArticleTexts, BulkAndGateTexts) {
    const ArticleRequest article = BulkArticleRequest(37);
    EXPECT_EQ(article.qtyFlags, 3);
    EXPECT_EQ(article.price, 37);
    EXPECT_EQ(article.taxGroup, 0);
    EXPECT_EQ(article.code, 37);
    EXPECT_EQ(FromDriverText(article.name.c_str()), QStringLiteral("Товар 37"));
    EXPECT_EQ(BulkProgressText(37), QStringLiteral("Товар 37 из 10000"));
    EXPECT_EQ(BulkDoneText(10000), QStringLiteral("Запись товаров произведена успешно!10000"));
    for (const char *text : {"PLOVR", "PLOV", "PLOVRX", "plovr", ""})
        EXPECT_EQ(IsStressAccessCode(QString::fromLatin1(text)), QByteArray(text) == "PLOVR")
            << text;
}

TEST(ArticleTexts, WrittenPriceIsNegatedForAReturnAndCheckedAsMoney) {
    ArticleFields fields;
    fields.price = QStringLiteral("12,50");
    fields.isReturn = true;
    fields.decimals = 2;
    fields.taxGroup = 5;
    const ArticleBuild build = BuildArticleRequest(fields, u',');
    ASSERT_TRUE(build.ok);
    EXPECT_EQ(build.request.price, -1250);
    EXPECT_EQ(build.request.qtyFlags, 2);
    EXPECT_EQ(build.request.taxGroup, 5);
    fields.price = QStringLiteral("12.50"); // the wrong separator
    EXPECT_EQ(BuildArticleRequest(fields, u',').error, QStringLiteral("Введите цену в гривнах!"));
}

TEST(StressPlan, EightPositionsRunThroughTheGroupsAndKeepCounting) {
    const StressReceipt receipt = PlanStressReceipt(500, 8);
    ASSERT_EQ(receipt.sales.size(), 8u);
    const uint8_t groups[] = {0, 1, 2, 3, 4, 5, 0, 1};
    for (size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(receipt.sales[k].price, static_cast<int32_t>(100 * (k + 1)));
        EXPECT_EQ(receipt.sales[k].taxGroup, groups[k]);
        EXPECT_EQ(receipt.sales[k].code, static_cast<int64_t>(500 + k));
    }
    EXPECT_EQ(receipt.total, 3600);
    EXPECT_EQ(FromDriverText(receipt.sales[0].name.c_str()),
              QStringLiteral("Товар 500") + QString(39, QLatin1Char('#')));
    const int64_t top = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(PlanStressReceipt(top, 2).sales[1].code, std::numeric_limits<int64_t>::min());
}

TEST(StressPlan, StartCodeMaxTimeAndLogLine) {
    const struct {
        const char *text;
        bool ok;
        int64_t code;
    } starts[] = {{"", true, 1}, {"500", true, 500}, {"abc", false, 0}, {"12x", false, 0}};
    for (const auto &s : starts) {
        const StartCodeParse parse = ParseStressStartCode(QString::fromLatin1(s.text));
        EXPECT_EQ(parse.ok, s.ok) << s.text;
        if (s.ok)
            EXPECT_EQ(parse.code, s.code);
        else
            EXPECT_EQ(parse.error, QStringLiteral("Код товара задан неверно!"));
    }
    const struct {
        const char *shown;
        int64_t last;
        const char *after;
    } maxima[] = {{"", 40, "40"}, {"0", 40, "40"}, {"90", 40, "90"}, {"x", 5, "5"}};
    for (const auto &m : maxima)
        EXPECT_EQ(StressMaxText(QString::fromLatin1(m.shown), m.last),
                  QString::fromLatin1(m.after));
    EXPECT_EQ(StressLogLine(3, 120, 450, QStringLiteral("130")),
              QStringLiteral("Чек №3   Время печати чека: 120мс  Время формирования и печати: "
                             "450мс  MAX t печати: 130мс"));
    EXPECT_FALSE(StressPositionsValid(0));
    EXPECT_TRUE(StressPositionsValid(255));
    EXPECT_FALSE(StressPositionsValid(256));
}

// ---- On the printer --------------------------------------------------------------------

class ArticlesTab : public krv::test::ConnectedConsoleTest {
  protected:
    QPushButton *BulkButton() { return form->Control<QPushButton>(QStringLiteral("Button41")); }
};

TEST_F(ArticlesTab, WrittenArticleReadsBackWithItsTurnover) {
    form->Control<QSpinBox>(QStringLiteral("SpinEdit2"))->setValue(77);
    SetText("Edit30", QStringLiteral("Чай"));
    SetText("Edit32", QStringLiteral("3,50"));
    SetIndex("ComboBox11", 2);
    SetIndex("ComboBox12", 2);
    form->BitBtn7Click();
    EXPECT_EQ(script->Texts(),
              QStringList{QStringLiteral("Операция записи описания товара успешно завершена!")});
    {
        auto lock = Emu().Lock();
        auto &article = Emu().State().ext.articles.at(77);
        article.salesQty = 1234;
        article.salesFlags = 2;
        article.salesSum = 4319;
    }
    SetText("Edit30", QString());
    SetText("Edit32", QString());
    SetIndex("ComboBox11", 0);
    script->messages.clear();
    form->BitBtn8Click();
    EXPECT_EQ(Text("Edit30"), QStringLiteral("Чай"));
    EXPECT_EQ(Text("Edit32"), QStringLiteral("3,50"));
    EXPECT_EQ(form->Control<QComboBox>(QStringLiteral("ComboBox11"))->currentIndex(), 2);
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Обороты по товару \"Чай\""));
    EXPECT_TRUE(script->messages[0].text.contains(QStringLiteral("\t12,34\r\n")));
    EXPECT_TRUE(script->messages[0].text.contains(QStringLiteral("\t43,19 грн.\r\n")));
}

TEST_F(ArticlesTab, MemoryCountersTellProgrammedFromSold) {
    for (int code : {1, 2}) {
        form->Control<QSpinBox>(QStringLiteral("SpinEdit2"))->setValue(code);
        form->BitBtn7Click();
    }
    SetText("Edit6", QStringLiteral("Хліб"));
    SetText("Edit39", QStringLiteral("900")); // a code nobody programmed
    form->Button9Click();
    Clear();
    form->Button48Click();
    ASSERT_EQ(Emu().Requests().size(), 1u);
    EXPECT_EQ(Emu().Requests()[0], (Bytes{0x1C, 0x65, 0x00, 0x10, 0x04}));
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Память артикулов!"));
    EXPECT_EQ(script->messages[0].text,
              QStringLiteral("Количество предварительно запрограммированных описаний товаров:\t2"
                             "\r\nКоличество запрограммированных описаний товаров по ходу "
                             "продаж:\t1"));
}

TEST_F(ArticlesTab, BulkProgrammingStoppedFromInsideItsLoopReportsOnce) {
    WhenInLoop(
        form.get(), [this] { return Emu().Requests().size() >= 37; },
        [this] { BulkButton()->click(); });
    BulkButton()->click();
    EXPECT_EQ(script->Texts(),
              QStringList{QStringLiteral("Запись прервана пользователем на товаре 37")});
    EXPECT_EQ(BulkButton()->text(), QStringLiteral("Программирование товаров"));
    EXPECT_TRUE(form->StatusPanelText(1).isEmpty());
    EXPECT_EQ(Requests(0x22).size(), 37u);
}

TEST_F(ArticlesTab, BulkProgrammingStopsAtTheFirstRefusedArticle) {
    krv::emu::PrinterEmulator &emu = Emu();
    emu.SetHandler(0x22, [](krv::emu::PrinterEmulator &, std::span<const uint8_t> p) {
        // Refuses article 5 (its code is the last six bytes).
        return p.size() > 6 && p[p.size() - 6] == 5 ? krv::emu::Reply::Error(0x1C)
                                                    : krv::emu::Reply::Ok();
    });
    BulkButton()->click();
    EXPECT_EQ(Requests(0x22).size(), 5u);
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Ошибка!"));
    EXPECT_EQ(BulkButton()->text(), QStringLiteral("Программирование товаров"));
    EXPECT_TRUE(form->StatusPanelText(1).isEmpty());
}

TEST_F(ArticlesTab, ClosingTheMainWindowDuringBulkProgrammingStopsItAndStaysOpen) {
    form->show();
    WhenInLoop(
        form.get(), [this] { return Emu().Requests().size() >= 3; }, [this] { form->close(); });
    BulkButton()->click();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(State().Connected);
    EXPECT_EQ(script->Texts(),
              QStringList{QStringLiteral("Запись прервана пользователем на товаре 3")});
    form->hide();
}

TEST_F(ArticlesTab, AccessCodeOpensTheStressTestUntilItsExit) {
    auto *stressButton = form->Control<QPushButton>(QStringLiteral("Button42"));
    SetText("Edit23", QStringLiteral("PLOV"));
    EXPECT_FALSE(stressButton->isEnabled());
    SetText("Edit23", QStringLiteral("PLOVR"));
    EXPECT_TRUE(stressButton->isEnabled());
    TForm2 stress;
    Windows().Form2 = &stress;
    script->modalActions.push_back([](QWidget &window) {
        static_cast<TForm2 &>(window).Button3Click(); // "Выход"
    });
    form->Button42Click();
    EXPECT_EQ(script->modals.size(), 1u);
    EXPECT_FALSE(stressButton->isEnabled());
    EXPECT_TRUE(Text("Edit23").isEmpty());
}

// The supervisor's "VENDOR ONLY!" opens the vendor window, modal and centred
// on the main window, through the button's own click.
TEST_F(ArticlesTab, VendorButtonOpensTheVendorWindow) {
    TForm9 vendor;
    Windows().Form9 = &vendor;
    QWidget *shown = nullptr;
    script->modalActions.push_back([&shown](QWidget &window) { shown = &window; });
    auto *button = form->Control<QPushButton>(QStringLiteral("Button57"));
    State().AccessMode = 2; // supervisor
    form->ApplyControlsForMode();
    ASSERT_TRUE(button->isEnabled());
    ASSERT_FALSE(button->isHidden());
    button->click();
    ASSERT_EQ(script->modals.size(), 1u);
    EXPECT_EQ(script->modals[0].window, &vendor);
    EXPECT_EQ(script->modals[0].centreOn, form.get());
    EXPECT_EQ(shown, &vendor);
    EXPECT_TRUE(vendor.isHidden());
    EXPECT_TRUE(script->messages.empty());
}

class StressTest : public krv::test::ConnectedConsoleTest {
  protected:
    void SetUp() override {
        ConnectedConsoleTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(dir.isValid());
        stress = std::make_unique<TForm2>();
        Windows().Form2 = stress.get();
        stress->SetLogPath(LogPath());
        stress->SetReceiptPause(0);
    }
    void TearDown() override {
        stress.reset();
        ConnectedConsoleTest::TearDown();
    }
    QString LogPath() const { return dir.filePath(QStringLiteral("Logo.txt")); }
    QStringList LogLines() {
        QFile file(LogPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QString text = FromDriverText(file.readAll().constData());
        return text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }
    bool Paid() { return !Requests(0x14).empty(); }
    void ExpectStoppedButtons() {
        EXPECT_TRUE(stress->Button1->isEnabled());
        EXPECT_TRUE(stress->Button3->isEnabled());
        EXPECT_FALSE(stress->Button2->isEnabled());
        EXPECT_FALSE(stress->Running());
    }

    QTemporaryDir dir;
    std::unique_ptr<TForm2> stress;
};

TEST_F(StressTest, StopClickedDuringTheRunEndsItAfterTheReceipt) {
    stress->Edit1->setText(QStringLiteral("500"));
    stress->SpinEdit1->setValue(8);
    WhenInLoop(
        stress.get(), [this] { return Paid(); }, [this] { stress->Button2->click(); });
    stress->Button1Click();

    ExpectStoppedButtons();
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    const std::vector<Bytes> requests = Emu().Requests();
    ASSERT_EQ(requests.size(), 9u) << "one receipt: eight sales and the payment";
    const uint8_t groups[] = {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x80, 0x81};
    for (size_t k = 0; k < 8; ++k) {
        SCOPED_TRACE(k);
        ASSERT_EQ(requests[k][0], 0x12);
        EXPECT_EQ(requests[k][9], groups[k]);
        EXPECT_EQ(requests[k][5], static_cast<uint8_t>(100 * (k + 1)));
        EXPECT_EQ(requests[k][6], static_cast<uint8_t>((100 * (k + 1)) >> 8));
        EXPECT_EQ(requests[k][requests[k].size() - 6], static_cast<uint8_t>(500 + k));
    }
    EXPECT_EQ(requests[8], (Bytes{0x14, 0x43, 0x10, 0x0E, 0x00, 0x80}))
        << "36,00 грн. in cash, the rest flag, a non-fiscal receipt";
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Чек №1   Время печати чека: ")));
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("MAX t печати: ") + stress->Label5->text() +
                                  QStringLiteral("мс")));
    EXPECT_EQ(stress->Label9->text(), QStringLiteral("8"));
}

TEST_F(StressTest, NonNumericStartCodeIsAnInputErrorAndRestoresTheButtons) {
    stress->Edit1->setText(QStringLiteral("abc"));
    stress->Button1Click();
    EXPECT_EQ(script->Texts(), QStringList{QStringLiteral("Код товара задан неверно!")});
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Ошибка!"));
    EXPECT_TRUE(Emu().Requests().empty());
    ExpectStoppedButtons();
}

TEST_F(StressTest, ClosingTheWindowDuringARunStopsItAndKeepsTheWindow) {
    stress->show();
    WhenInLoop(
        stress.get(), [this] { return Paid(); },
        [this] {
            stress->reject(); // Escape
            stress->close();
        });
    stress->Button1Click();
    ExpectStoppedButtons();
    EXPECT_TRUE(stress->isVisible()) << "the close was refused";
    EXPECT_EQ(LogLines().size(), 1);
    stress->close();
    EXPECT_FALSE(stress->isVisible());
}

TEST_F(StressTest, ClosingTheMainWindowDuringARunStopsItAndKeepsTheLink) {
    form->show();
    WhenInLoop(
        stress.get(), [this] { return Paid(); }, [this] { form->close(); });
    stress->Button1Click();
    ExpectStoppedButtons();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(State().Connected);
    EXPECT_EQ(LogLines().size(), 1);
    form->hide();
}

TEST_F(StressTest, AFailedSaleStopsTheRunWithTheDriversError) {
    Emu().SetHeaderOverride({std::nullopt, uint8_t{0x17}, std::nullopt});
    stress->Button1Click();
    Emu().ClearHeaderOverride();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].parent, stress.get());
    EXPECT_EQ(Emu().Requests().size(), 1u);
    ExpectStoppedButtons();
    EXPECT_TRUE(LogLines().isEmpty());
}

} // namespace
