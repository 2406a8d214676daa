// Owners of libcurl's C handles, the one place the setup reaches libcurl's
// set-up and tear-down. Every holder deletes copying; a move leaves the source
// empty.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

namespace krv::platform {

// libcurl's process-wide initialisation, done once before the first handle.
// False when libcurl could not initialise (no handle may be made then).
bool EnsureCurlInitialised();

struct CurlEasyDeleter {
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct CurlUrlDeleter {
    void operator()(CURLU *handle) const { curl_url_cleanup(handle); }
};

// A transfer handle; null when libcurl could not make one.
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
CurlEasy MakeCurlEasy();

// A parsed URL; null when libcurl could not make the handle.
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;
CurlUrl MakeCurlUrl();

// One part of a parsed URL (CURLUPART_HOST, ...) with the given flags; false
// when the URL has no such part.
bool GetCurlUrlPart(CURLU *url, CURLUPart part, std::string &out, unsigned flags = 0);

// A list of request header lines.
class CurlHeaderList {
  public:
    CurlHeaderList() = default;
    ~CurlHeaderList() { curl_slist_free_all(m_list); }
    CurlHeaderList(const CurlHeaderList &) = delete;
    CurlHeaderList &operator=(const CurlHeaderList &) = delete;
    CurlHeaderList(CurlHeaderList &&other) noexcept : m_list(other.m_list) {
        other.m_list = nullptr;
    }
    CurlHeaderList &operator=(CurlHeaderList &&other) noexcept;

    // False when the line could not be added (out of memory); the list keeps
    // what it held.
    bool Append(const std::string &line);
    void Clear();
    curl_slist *get() const { return m_list; }

  private:
    curl_slist *m_list = nullptr;
};

} // namespace krv::platform
