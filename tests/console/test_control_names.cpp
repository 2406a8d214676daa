// Controls are looked up by their layout names; a name typed wrong must fail
// here, not read as an empty text or an unticked box when an operator
// presses the button.
#include "support_console.h"

#include "main_window.h"
#include "widgets.h"

#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSet>

#include <filesystem>
#include <stdexcept>

using krv::console::RequiredControl;

namespace {

// The control names written in the string literals of one source file.
QSet<QString> ControlNamesIn(const std::filesystem::path &file) {
    QFile source(QString::fromStdString(file.string()));
    if (!source.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(source.readAll());
    static const QRegularExpression literal(QStringLiteral(R"re("((?:[^"\\\n]|\\.)*)")re"));
    static const QRegularExpression name(
        QStringLiteral(R"(\b(?:Edit|Button|BitBtn|CheckBox|ComboBox|SpinEdit|DateTimePicker|)"
                       R"(RadioGroup|RadioButton|Memo|GroupBox|StringGrid|Image)\d+\b)"));
    QSet<QString> names;
    for (auto it = literal.globalMatch(text); it.hasNext();) {
        const QString content = it.next().captured(1);
        for (auto inner = name.globalMatch(content); inner.hasNext();)
            names.insert(inner.next().captured(0));
    }
    return names;
}

using ControlNames = krv::test::ConsoleTest;

} // namespace

TEST_F(ControlNames, EveryNameTheMainWindowsCodeUsesIsInItsLayout) {
    const std::filesystem::path console = KRV_CONSOLE_SOURCE_DIR;
    std::vector<std::filesystem::path> files = {console / "logic" / "access_modes.cpp"};
    for (const auto &entry : std::filesystem::directory_iterator(console / "main_window"))
        if (entry.path().extension() == ".cpp" &&
            entry.path().filename() != "main_window_layout.cpp")
            files.push_back(entry.path());
    ASSERT_GT(files.size(), 8u) << "the sources are not where the test looks";

    TForm1 form;
    int checked = 0;
    for (const auto &file : files) {
        for (const QString &name : ControlNamesIn(file)) {
            EXPECT_NE(form.findChild<QWidget *>(name), nullptr)
                << name.toStdString() << " in " << file.filename().string();
            ++checked;
        }
    }
    EXPECT_GT(checked, 150);
}

TEST_F(ControlNames, UnknownNameOrClassThrowsInsteadOfReadingEmpty) {
    TForm1 form;
    const struct {
        const char *what;
        std::function<void()> lookup;
    } lookups[] = {
        {"mistyped name", [&] { form.Control(QStringLiteral("Edit3x")); }},
        {"mistyped edit", [&] { form.Control<QLineEdit>(QStringLiteral("Edit3x")); }},
        {"another class", [&] { RequiredControl<QLineEdit>(form, QStringLiteral("Button31")); }},
    };
    for (const auto &lookup : lookups)
        EXPECT_THROW(lookup.lookup(), std::logic_error) << lookup.what;
    EXPECT_EQ(form.Control<QLineEdit>(QStringLiteral("Edit37"))->objectName(),
              QStringLiteral("Edit37"));
}
