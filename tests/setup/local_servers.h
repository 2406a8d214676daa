// Servers on 127.0.0.1 for the download tests and the download benchmark:
// Python processes started on a port of their own choosing, ready once they
// have printed it, killed (with their process group) when the object goes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace krv::setup::test {

// Byte `position` of what the HTTP test server generates.
uint8_t PatternByte(uint64_t position);
// Bytes [offset, offset + length) of the generated content.
std::string PatternBytes(uint64_t offset, std::size_t length);

class ServerProcess {
  public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    // Runs the Python script of the test servers with the arguments and
    // waits (at most 15 s) for its "PORT <n>" line. False with the reason in
    // Error() when it did not come.
    bool Start(const std::string &script, const std::vector<std::string> &args);
    void Stop();
    uint16_t Port() const { return m_port; }
    const std::string &Error() const { return m_error; }

  private:
    pid_t m_pid = -1;
    uint16_t m_port = 0;
    std::string m_error;
};

// The HTTP server (http_server.py).
class LocalHttpServer : public ServerProcess {
  public:
    struct Options {
        std::string proxyRealm; // act as a proxy that asks for credentials
        std::string certFile;   // with keyFile: HTTPS
        std::string keyFile;
    };
    // The folder /files/<name> serves (set before Start).
    void SetFileRoot(std::string folder) { m_root = std::move(folder); }
    bool Start(const Options &options);
    // "http://127.0.0.1:<port><path>" (https with a certificate).
    std::string Url(const std::string &path) const;
    // The request log (one line per request, see http_server.py).
    std::vector<std::string> Log() const;

  private:
    bool m_tls = false;
    std::string m_root;
};

// The FTP server (ftp_server.py) on a folder.
class LocalFtpServer : public ServerProcess {
  public:
    // shortAfter > 0: every transfer ends after that many bytes.
    bool Start(const std::string &root, const std::string &user, const std::string &password,
               bool refuseRest, int shortAfter = 0);
    std::string Url(const std::string &file) const;
};

// Makes a self-signed certificate for 127.0.0.1 with openssl; false when it
// could not.
bool MakeTestCertificate(const std::string &folder, std::string &certFile, std::string &keyFile);

// The Python interpreter the servers run on ($KRV_PYTHON, else the system's
// python3, which has pyftpdlib from the distribution).
std::string PythonInterpreter();

} // namespace krv::setup::test
