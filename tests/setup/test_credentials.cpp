// The credential provider's rules and the credentials dialog, headless.
#include "credentials.h"
#include "credentials_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

using namespace krv::setup;

namespace {

class CountingPrompter : public CredentialsPrompter {
  public:
    explicit CountingPrompter(std::optional<CredentialsAnswer> answer) : m_answer(answer) {}
    std::optional<CredentialsAnswer> Ask(const std::string &host, const std::string &realm,
                                         QObject *) override {
        ++asked;
        lastHost = host;
        lastRealm = realm;
        return m_answer;
    }
    int asked = 0;
    std::string lastHost, lastRealm;

  private:
    std::optional<CredentialsAnswer> m_answer;
};

} // namespace

TEST(CredentialProvider, StoredPromptedRememberedAndSilent) {
    struct Row {
        const char *name;
        bool silent;
        std::optional<CredentialsAnswer> answer;
        bool obtained;
        int asked;
        bool storedAfter;
    };
    const Row rows[] = {
        {"remembered", false, CredentialsAnswer{"u", "p", true}, true, 1, true},
        {"not remembered", false, CredentialsAnswer{"u", "p", false}, true, 1, false},
        {"cancelled", false, std::nullopt, false, 1, false},
        {"silent", true, CredentialsAnswer{"u", "p", true}, false, 0, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CredentialProvider provider;
        auto prompter = std::make_shared<CountingPrompter>(row.answer);
        provider.SetPrompter(prompter);
        provider.SetSilent(row.silent);
        std::string user, password;
        EXPECT_FALSE(provider.GetStoredCredentials(user, password));
        EXPECT_EQ(provider.PromptCredentials("https://host.example:8443/a?b", "Files", nullptr,
                                             user, password),
                  row.obtained);
        EXPECT_EQ(prompter->asked, row.asked);
        if (row.asked) {
            EXPECT_EQ(prompter->lastHost, "host.example");
            EXPECT_EQ(prompter->lastRealm, "Files");
        }
        std::string storedUser, storedPassword;
        EXPECT_EQ(provider.GetStoredCredentials(storedUser, storedPassword), row.storedAfter);
        if (row.storedAfter) {
            EXPECT_EQ(storedUser + ":" + storedPassword, "u:p");
        }
    }
    // An empty user name counts as nothing stored.
    CredentialProvider provider;
    provider.SetStoredCredentials("", "p");
    std::string user, password;
    EXPECT_FALSE(provider.GetStoredCredentials(user, password));
}

TEST(CredentialsDialog, TypedAnswerAndNoPromptWithoutADisplay) {
    CredentialsDialog dialog("files.example", "Files", nullptr);
    EXPECT_NE(dialog.ExplanationLabel()->text().toStdString().find("files.example"),
              std::string::npos);
    EXPECT_NE(dialog.ExplanationLabel()->text().toStdString().find("Files"), std::string::npos);
    EXPECT_EQ(dialog.PasswordEdit()->echoMode(), QLineEdit::Password);
    dialog.UserEdit()->setText(QStringLiteral("агент"));
    dialog.PasswordEdit()->setText(QStringLiteral("s3cret"));
    dialog.RememberBox()->setChecked(true);
    const CredentialsAnswer answer = dialog.Answer();
    EXPECT_EQ(answer.user, "агент");
    EXPECT_EQ(answer.password, "s3cret");
    EXPECT_TRUE(answer.remember);
    // Offscreen nobody can answer: the prompt is cancelled, not left waiting.
    EXPECT_FALSE(QtCredentialsPrompter().Ask("h", "r", nullptr).has_value());
}

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
