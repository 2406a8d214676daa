#include "credentials_dialog.h"

#include "messages.h"
#include "program_icon.h"
#include "qt_message_boxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace krv::setup {

namespace {

std::optional<CredentialsAnswer> RunDialog(const std::string &host, const std::string &realm,
                                           QObject *ownerObject) {
    QWidget *owner = qobject_cast<QWidget *>(ownerObject);
    if (!owner)
        owner = QApplication::activeWindow();
    CredentialsDialog dialog(host, realm, owner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Answer();
}

} // namespace

std::string CredentialsExplanation(const std::string &host, const std::string &realm) {
    std::string text = "The server " + host + " requires a user name and password.";
    if (!realm.empty())
        text += " The server says: " + realm;
    return text;
}

CredentialsDialog::CredentialsDialog(const std::string &host, const std::string &realm,
                                     QWidget *owner)
    : QDialog(owner), m_user(new QLineEdit(this)), m_password(new QLineEdit(this)),
      m_remember(new QCheckBox(QStringLiteral("Remember my credentials"), this)),
      m_explanation(new QLabel(QString::fromStdString(CredentialsExplanation(host, realm)), this)) {
    setWindowTitle(QString::fromStdString(host));
    SetProgramIcon(*this);
    setModal(true);
    m_explanation->setWordWrap(true);
    m_password->setEchoMode(QLineEdit::Password);

    auto *fields = new QFormLayout;
    fields->addRow(QStringLiteral("User name:"), m_user);
    fields->addRow(QStringLiteral("Password:"), m_password);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_explanation);
    layout->addLayout(fields);
    layout->addWidget(m_remember);
    layout->addWidget(buttons);
}

CredentialsAnswer CredentialsDialog::Answer() const {
    CredentialsAnswer answer;
    answer.user = m_user->text().toStdString();
    answer.password = m_password->text().toStdString();
    answer.remember = m_remember->isChecked();
    return answer;
}

std::optional<CredentialsAnswer>
QtCredentialsPrompter::Ask(const std::string &host, const std::string &realm, QObject *owner) {
    if (!QtDisplayAvailable())
        return std::nullopt;
    QCoreApplication *app = QCoreApplication::instance();
    if (QThread::currentThread() == app->thread())
        return RunDialog(host, realm, owner);
    std::optional<CredentialsAnswer> answer;
    QMetaObject::invokeMethod(
        app, [&] { answer = RunDialog(host, realm, owner); }, Qt::BlockingQueuedConnection);
    return answer;
}

} // namespace krv::setup
