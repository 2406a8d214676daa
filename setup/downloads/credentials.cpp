#include "credentials.h"

#include <setup_curl.h>

namespace krv::setup {

bool CredentialProvider::GetStoredCredentials(std::string &user, std::string &password) {
    std::lock_guard guard(m_lock);
    if (m_user.empty())
        return false;
    user = m_user;
    password = m_password;
    return true;
}

bool CredentialProvider::PromptCredentials(const std::string &url, const std::string &realm,
                                           QObject *owner, std::string &user,
                                           std::string &password) {
    std::shared_ptr<CredentialsPrompter> prompter;
    {
        std::lock_guard guard(m_lock);
        if (m_silent)
            return false;
        prompter = m_prompter;
    }
    if (!prompter)
        return false; // nobody to ask
    std::optional<CredentialsAnswer> answer = prompter->Ask(HostOfUrl(url), realm, owner);
    if (!answer)
        return false;
    user = answer->user;
    password = answer->password;
    if (answer->remember)
        SetStoredCredentials(user, password);
    return true;
}

void CredentialProvider::SetStoredCredentials(const std::string &user,
                                              const std::string &password) {
    std::lock_guard guard(m_lock);
    m_user = user;
    m_password = password;
}

void CredentialProvider::SetSilent(bool silent) {
    std::lock_guard guard(m_lock);
    m_silent = silent;
}

bool CredentialProvider::IsSilent() const {
    std::lock_guard guard(m_lock);
    return m_silent;
}

void CredentialProvider::SetPrompter(std::shared_ptr<CredentialsPrompter> prompter) {
    std::lock_guard guard(m_lock);
    m_prompter = std::move(prompter);
}

std::string HostOfUrl(const std::string &url) {
    platform::CurlUrl parsed = platform::MakeCurlUrl();
    std::string host;
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(),
                                CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return host;
    platform::GetCurlUrlPart(parsed.get(), CURLUPART_HOST, host);
    return host;
}

} // namespace krv::setup
