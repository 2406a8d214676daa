// A QApplication on the "offscreen" platform for the length of one test:
// the Qt presenter, the dispatcher and the windows need an application, and
// no test may reach a real display.
#pragma once

#include <QApplication>

#include <optional>
#include <string>
#include <utility>

namespace krv::setup::test {

class OffscreenApplication {
  public:
    explicit OffscreenApplication(std::string name) : m_name(std::move(name)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        m_app.emplace(m_argc, m_argv);
    }
    OffscreenApplication(const OffscreenApplication &) = delete;
    OffscreenApplication &operator=(const OffscreenApplication &) = delete;

    QApplication &App() { return *m_app; }

  private:
    // QApplication keeps the argument count and vector it was given, so
    // they live as long as it does.
    std::string m_name;
    int m_argc = 1;
    char *m_argv[2] = {m_name.data(), nullptr};
    std::optional<QApplication> m_app;
};

} // namespace krv::setup::test
