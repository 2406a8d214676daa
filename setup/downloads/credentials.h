// Credentials for servers and proxies that ask for them: the remembered pair
// and the prompt. One provider serves a whole setup run; the runner fills it
// from /username and /password (or their proxy synonyms) and makes it silent
// in a silent run, where nobody can answer a prompt.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QObject;

namespace krv::setup {

// What a credentials prompt gives back.
struct CredentialsAnswer {
    std::string user;
    std::string password;
    bool remember = false; // "Remember my credentials" was checked
};

// Shows the credentials question for a host and realm; nothing when the user
// cancelled or nobody can answer. Tests script it; the program uses the Qt
// dialog (credentials_dialog.h).
class CredentialsPrompter {
  public:
    virtual ~CredentialsPrompter() = default;
    virtual std::optional<CredentialsAnswer> Ask(const std::string &host, const std::string &realm,
                                                 QObject *owner) = 0;
};

// Called from download workers and the user-interface thread alike: the
// stored pair is guarded by a lock.
class CredentialProvider {
  public:
    CredentialProvider() = default;
    virtual ~CredentialProvider() = default;
    CredentialProvider(const CredentialProvider &) = delete;
    CredentialProvider &operator=(const CredentialProvider &) = delete;

    // Called before each request; nothing to do here.
    virtual void Reset() {}
    // False when no user name is stored; else copies the pair out.
    virtual bool GetStoredCredentials(std::string &user, std::string &password);
    // Called after credentials were set on a request; nothing to do here.
    virtual void CredentialsApplied() {}
    // Asks for credentials for the URL's host and the realm. False at once
    // when silent; false when the prompt was cancelled. With "remember" the
    // answer also becomes the stored pair.
    virtual bool PromptCredentials(const std::string &url, const std::string &realm, QObject *owner,
                                   std::string &user, std::string &password);

    void SetStoredCredentials(const std::string &user, const std::string &password);
    void SetSilent(bool silent);
    bool IsSilent() const;
    // The prompt used; null restores the Qt dialog.
    void SetPrompter(std::shared_ptr<CredentialsPrompter> prompter);

  private:
    mutable std::mutex m_lock;
    bool m_silent = false;
    std::string m_user;
    std::string m_password;
    std::shared_ptr<CredentialsPrompter> m_prompter;
};

// The host name of a URL; empty when the URL cannot be parsed.
std::string HostOfUrl(const std::string &url);

} // namespace krv::setup
