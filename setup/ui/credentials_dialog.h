// The credentials dialog: user name, password and "Remember my credentials"
// for a host and realm, and the prompter that shows it on the
// user-interface thread for a download worker.
#pragma once

#include "credentials.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace krv::setup {

class CredentialsDialog : public QDialog {
  public:
    CredentialsDialog(const std::string &host, const std::string &realm, QWidget *owner);

    // The typed answer (meaningful after "Ok").
    CredentialsAnswer Answer() const;

    // Controls, for tests that type into the dialog.
    QLineEdit *UserEdit() const { return m_user; }
    QLineEdit *PasswordEdit() const { return m_password; }
    QCheckBox *RememberBox() const { return m_remember; }
    QLabel *ExplanationLabel() const { return m_explanation; }

  private:
    QLineEdit *m_user;
    QLineEdit *m_password;
    QCheckBox *m_remember;
    QLabel *m_explanation;
};

// The explanation line of the dialog for a host and realm.
std::string CredentialsExplanation(const std::string &host, const std::string &realm);

// Shows CredentialsDialog modally, on the user-interface thread even when
// asked from a worker (that thread must be processing events). Owner: the
// given window, else the active window. Without a display nobody can answer:
// nothing is shown and the answer is "cancelled".
class QtCredentialsPrompter : public CredentialsPrompter {
  public:
    std::optional<CredentialsAnswer> Ask(const std::string &host, const std::string &realm,
                                         QObject *owner) override;
};

} // namespace krv::setup
