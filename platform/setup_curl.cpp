#include "setup_curl.h"

#include <mutex>

namespace krv::platform {

bool EnsureCurlInitialised() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

CurlEasy MakeCurlEasy() {
    if (!EnsureCurlInitialised())
        return CurlEasy();
    return CurlEasy(curl_easy_init());
}

CurlUrl MakeCurlUrl() {
    if (!EnsureCurlInitialised())
        return CurlUrl();
    return CurlUrl(curl_url());
}

bool GetCurlUrlPart(CURLU *url, CURLUPart part, std::string &out, unsigned flags) {
    char *text = nullptr;
    if (!url || curl_url_get(url, part, &text, flags) != CURLUE_OK || !text)
        return false;
    out = text;
    curl_free(text);
    return true;
}

CurlHeaderList &CurlHeaderList::operator=(CurlHeaderList &&other) noexcept {
    if (this != &other) {
        curl_slist_free_all(m_list);
        m_list = other.m_list;
        other.m_list = nullptr;
    }
    return *this;
}

bool CurlHeaderList::Append(const std::string &line) {
    curl_slist *grown = curl_slist_append(m_list, line.c_str());
    if (!grown)
        return false;
    m_list = grown;
    return true;
}

void CurlHeaderList::Clear() {
    curl_slist_free_all(m_list);
    m_list = nullptr;
}

} // namespace krv::platform
