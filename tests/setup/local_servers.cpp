#include "local_servers.h"

#include <curl/curl.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef KRV_TEST_SERVERS_DIR
#error "KRV_TEST_SERVERS_DIR must name the folder of the test server scripts"
#endif

namespace krv::setup::test {

namespace {

constexpr auto kReadyLimit = std::chrono::seconds(15);
constexpr auto kExitLimit = std::chrono::seconds(5);
constexpr uint64_t kPeriod = 65521;

// In a forked child: becomes the program, or ends the child.
[[noreturn]] void ExecOrExit(const std::vector<std::string> &argv) {
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

// Runs a program to its end; its exit status, -1 when it could not run.
int RunQuietly(const std::vector<std::string> &argv) {
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        ExecOrExit(argv);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t Collect(char *data, size_t size, size_t count, void *context) {
    static_cast<std::string *>(context)->append(data, size * count);
    return size * count;
}

} // namespace

uint8_t PatternByte(uint64_t position) {
    const uint64_t j = position % kPeriod;
    return static_cast<uint8_t>((j * 7 + j / 256) & 0xFF);
}

std::string PatternBytes(uint64_t offset, std::size_t length) {
    std::string out(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        out[i] = static_cast<char>(PatternByte(offset + i));
    return out;
}

std::string PythonInterpreter() {
    if (const char *chosen = std::getenv("KRV_PYTHON"); chosen && *chosen)
        return chosen;
    if (::access("/usr/bin/python3", X_OK) == 0)
        return "/usr/bin/python3";
    return "python3";
}

ServerProcess::~ServerProcess() {
    Stop();
}

bool ServerProcess::Start(const std::string &script, const std::vector<std::string> &args) {
    Stop();
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        m_error = "pipe failed";
        return false;
    }
    std::vector<std::string> argv = {PythonInterpreter(),
                                     std::string(KRV_TEST_SERVERS_DIR) + "/" + script};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        ::close(out[0]);
        ::close(out[1]);
        m_error = "fork failed";
        return false;
    }
    if (pid == 0) {
        // The server dies with the test, even when the test is killed.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(1);
        dup2(out[1], STDOUT_FILENO);
        ExecOrExit(argv);
    }
    ::close(out[1]);
    m_pid = pid;
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + kReadyLimit;
    while (text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd waiting{out[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&waiting, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[256];
        const ssize_t got = ::read(out[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(out[0]);
    if (text.rfind("PORT ", 0) != 0) {
        m_error = "server did not start: " + text;
        Stop();
        return false;
    }
    m_port = static_cast<uint16_t>(std::atoi(text.c_str() + 5));
    return m_port != 0;
}

void ServerProcess::Stop() {
    if (m_pid <= 0)
        return;
    kill(-m_pid, SIGTERM);
    kill(m_pid, SIGTERM);
    // A process descriptor becomes readable when the process ends.
    const int exitFd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
    if (exitFd >= 0) {
        pollfd waiting{exitFd, POLLIN, 0};
        poll(&waiting, 1, static_cast<int>(kExitLimit.count() * 1000));
        ::close(exitFd);
    }
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == 0) {
        kill(-m_pid, SIGKILL);
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
    }
    m_pid = -1;
    m_port = 0;
}

bool LocalHttpServer::Start(const Options &options) {
    std::vector<std::string> args;
    if (!options.proxyRealm.empty())
        args.insert(args.end(), {"--proxy-realm", options.proxyRealm});
    if (!m_root.empty())
        args.insert(args.end(), {"--root", m_root});
    m_tls = !options.certFile.empty();
    if (m_tls)
        args.insert(args.end(), {"--cert", options.certFile, "--key", options.keyFile});
    return ServerProcess::Start("http_server.py", args);
}

std::string LocalHttpServer::Url(const std::string &path) const {
    return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(Port()) + path;
}

std::vector<std::string> LocalHttpServer::Log() const {
    std::string body;
    CURL *curl = curl_easy_init();
    const std::string url = "http://127.0.0.1:" + std::to_string(Port()) + "/__log";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    if (m_tls) {
        const std::string secure = "https" + url.substr(4);
        curl_easy_setopt(curl, CURLOPT_URL, secure.c_str());
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < body.size()) {
        const std::size_t end = body.find('\n', start);
        lines.push_back(body.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

bool LocalFtpServer::Start(const std::string &root, const std::string &user,
                           const std::string &password, bool refuseRest, int shortAfter) {
    std::vector<std::string> args = {root};
    if (!user.empty())
        args.insert(args.end(), {"--user", user, "--password", password});
    if (refuseRest)
        args.push_back("--no-rest");
    if (shortAfter > 0)
        args.insert(args.end(), {"--short", std::to_string(shortAfter)});
    return ServerProcess::Start("ftp_server.py", args);
}

std::string LocalFtpServer::Url(const std::string &file) const {
    return "ftp://127.0.0.1:" + std::to_string(Port()) + "/" + file;
}

bool MakeTestCertificate(const std::string &folder, std::string &certFile, std::string &keyFile) {
    certFile = folder + "/server.crt";
    keyFile = folder + "/server.key";
    return RunQuietly({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                       "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj",
                       "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                       keyFile, "-out", certFile}) == 0;
}

} // namespace krv::setup::test
