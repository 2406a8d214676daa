// The console on the emulator program started as scripts/run-console.sh
// starts it: a printer in service, on which every query of the tabs answers
// on a first try; and the bare printer the program gives when asked.
#include "support_console.h"

#include "console_windows.h"
#include "modem_diagnostics_window.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace krv::console;

namespace {

// The console connected to the built krv-emulator program on a link of its
// own, the program started with `--link LINK` and Arguments().
class EmulatorProgram : public krv::test::ConnectedConsoleTest {
  protected:
    virtual std::vector<std::string> Arguments() { return {}; }

    std::string Port() override {
        char pattern[] = "/tmp/krv-emulator-program-XXXXXX";
        if (!::mkdtemp(pattern))
            return {};
        m_folder = pattern;
        const std::string program = krv::test::BinPath("krv-emulator");
        const std::string link = m_folder + "/com1";
        std::vector<std::string> words{program, "--link", link};
        for (const std::string &argument : Arguments())
            words.push_back(argument);
        std::vector<char *> argv;
        for (std::string &word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            return {};
        // The link is made once the program serves; a program that ends
        // first has failed.
        for (int tries = 0; tries < 1000; ++tries) {
            if (std::filesystem::exists(link))
                return link;
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return {};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {};
    }

    void TearDown() override {
        ConnectedConsoleTest::TearDown();
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        if (!m_folder.empty())
            std::filesystem::remove_all(m_folder);
    }

    // Every box shown so far that reports a failure.
    QStringList Failures() const {
        static const QRegularExpression failed(QStringLiteral("не удалось|ошибка"),
                                               QRegularExpression::CaseInsensitiveOption);
        QStringList found;
        for (const auto &message : script->messages)
            if (message.caption.contains(failed) || message.text.contains(failed))
                found << message.caption + QStringLiteral(": ") + message.text;
        return found;
    }

  private:
    pid_t m_pid = -1;
    std::string m_folder;
};

class BareEmulatorProgram : public EmulatorProgram {
  protected:
    std::vector<std::string> Arguments() override { return {"--fresh"}; }
};

TEST_F(EmulatorProgram, EveryQueryOfTheTabsAnswersOnAFirstTry) {
    TForm8 modem;
    Windows().Form8 = &modem;
    struct Query {
        const char *name;
        std::function<void()> ask;
    } queries[] = {
        {"Получить дату", [&] { form->Button2Click(); }},
        {"Получить время", [&] { form->Button4Click(); }},
        {"Чтение статуса", [&] { form->Button1Click(); }},
        {"Сумма в кассе", [&] { form->Button21Click(); }},
        {"Статус обрезчика", [&] { form->Button52Click(); }},
        {"Ставки: Прочитать", [&] { form->BitBtn5Click(); }},
        {"Формы оплат: Прочитать", [&] { forms->Button1Click(); }},
        {"Артикул: Прочитать", [&] { form->BitBtn8Click(); }},
        {"Память артикулов", [&] { form->Button48Click(); }},
        {"Сведения", [&] { form->BitBtn1Click(); }},
        {"Итоги за день", [&] { form->BitBtn3Click(); }},
        {"Данные текущего чека", [&] { form->BitBtn4Click(); }},
        {"Дамп: Прочитать", [&] { form->BitBtn11Click(); }},
        {"Чтение статуса КЛЭФ", [&] { form->Button54Click(); }},
        {"Опросить модем", [&] { modem.Button2Click(); }},
        {"Подробно", [&] { modem.Button3Click(); }},
    };
    for (const Query &query : queries) {
        SCOPED_TRACE(query.name);
        Clear();
        query.ask();
        EXPECT_TRUE(Failures().isEmpty()) << Failures().join(" | ").toStdString();
    }
    Windows().Form8 = nullptr;

    // The information box ends with the programmed rates.
    Clear();
    form->BitBtn1Click();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_TRUE(script->messages[0].text.contains(QStringLiteral("Группа А: \t20,00%")))
        << script->messages[0].text.toStdString();
}

TEST_F(BareEmulatorProgram, AFreshPrinterHasNoTaxRatesNorArticlesYet) {
    form->BitBtn1Click();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_TRUE(script->messages[0].text.contains(
        QStringLiteral("Не удалось получить ставки налоговых групп!")))
        << script->messages[0].text.toStdString();
    Clear();
    form->BitBtn8Click();
    EXPECT_EQ(Failures().size(), 1) << script->Texts().join(" | ").toStdString();
}

} // namespace
