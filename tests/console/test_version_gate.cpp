// The driver library's version gate and the handle held until close.
#include "support_console.h"

#include "console_state.h"
#include "driver_binding.h"
#include "main_window.h"

#include <QCoreApplication>

#include <dlfcn.h>

using namespace krv::console;
using krv::platform::FileVersion;
using krv::test::BinPath;

namespace {

QString TestLibrary(const char *version) {
    return QString::fromStdString(BinPath(std::string("libkrv_testver_") + version + ".so"));
}

const QString kNoVersionText = QStringLiteral(
    "Библиотека KRV_T100DRV.DLL не содержит информации о версии!\r\nДальнейшая работа невозможна!");
const QString kTooOldText = QStringLiteral(
    "Версия библиотеки KRV_T100DRV.DLL должна быть не ниже 2.0.2\r\nДальнейшая работа невозможна!");

} // namespace

TEST(VersionJudgement, ComparesMajorMinorReleaseAndIgnoresBuild) {
    struct Case {
        FileVersion version;
        VersionVerdict verdict;
    } cases[] = {
        {{2, 0, 2, 0}, VersionVerdict::Accepted},   {{2, 0, 2, 65535}, VersionVerdict::Accepted},
        {{2, 0, 5, 0}, VersionVerdict::Accepted},   {{2, 1, 0, 0}, VersionVerdict::Accepted},
        {{3, 0, 0, 0}, VersionVerdict::Accepted},   {{2, 0, 1, 9}, VersionVerdict::TooOld},
        {{2, 0, 1, 65535}, VersionVerdict::TooOld}, {{1, 9, 9, 0}, VersionVerdict::TooOld},
        {{1, 99, 99, 99}, VersionVerdict::TooOld},  {{0, 0, 0, 0}, VersionVerdict::TooOld},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(JudgeDriverVersion(c.version), c.verdict)
            << c.version.major << '.' << c.version.minor << '.' << c.version.release << '.'
            << c.version.build;
    }
    EXPECT_EQ(JudgeDriverVersion(std::nullopt), VersionVerdict::NoVersion);
}

TEST(VersionGate, ReadsTheVersionOfTheLoadedFile) {
    struct Case {
        const char *library;
        VersionVerdict verdict;
    } cases[] = {
        {"2_0_2_0", VersionVerdict::Accepted}, {"2_1_0_0", VersionVerdict::Accepted},
        {"3_0_0_0", VersionVerdict::Accepted}, {"2_0_1_9", VersionVerdict::TooOld},
        {"1_9_0_0", VersionVerdict::TooOld},   {"none", VersionVerdict::NoVersion},
    };
    for (const Case &c : cases) {
        void *handle = LoadDriverLibrary(TestLibrary(c.library));
        ASSERT_NE(handle, nullptr) << c.library << ": " << dlerror();
        EXPECT_TRUE(LoadedLibraryPath(handle).endsWith(TestLibrary(c.library).section('/', -1)))
            << c.library;
        EXPECT_EQ(CheckDriverVersion(handle), c.verdict) << c.library;
        ReleaseDriverLibrary(handle);
    }
}

TEST(VersionGate, MissingLibraryCountsAsWithoutVersion) {
    void *handle = LoadDriverLibrary(QStringLiteral("libkrv_no_such_library_here.so"));
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(CheckDriverVersion(handle), VersionVerdict::NoVersion);
    ReleaseDriverLibrary(nullptr); // a handle never obtained is not released
}

TEST(VersionGate, FindsTheRealDriverByNameAndAcceptsIt) {
    void *handle = LoadDriverLibrary(QString::fromLatin1(kDriverLibraryName));
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(LoadedLibraryPath(handle).contains(QStringLiteral("libKRV_T100DRV.so")));
    EXPECT_EQ(CheckDriverVersion(handle), VersionVerdict::Accepted);
    ReleaseDriverLibrary(handle);
}

class StartUpGate : public krv::test::ConsoleTest {};

TEST_F(StartUpGate, AcceptedLibraryStartsWithoutABoxAndHoldsItsHandle) {
    TForm1 form(nullptr, TestLibrary("2_0_2_0"));
    EXPECT_TRUE(script->messages.empty());
    EXPECT_FALSE(State().TerminationRequested);
    EXPECT_NE(State().DriverLibraryHandle, nullptr);
    form.FormClose();
    EXPECT_EQ(State().DriverLibraryHandle, nullptr);
    form.FormClose(); // a second close releases nothing twice
}

TEST_F(StartUpGate, RefusedLibrariesShowTheirBoxAndEndTheProgram) {
    struct Case {
        const char *library;
        QString text;
    } cases[] = {
        {"2_0_1_9", kTooOldText},
        {"1_9_0_0", kTooOldText},
        {"none", kNoVersionText},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.library);
        script->messages.clear();
        State().TerminationRequested = false;
        TForm1 form(nullptr, TestLibrary(c.library));
        ASSERT_EQ(script->messages.size(), 1u);
        const MessageRecord &box = script->messages[0];
        EXPECT_EQ(box.caption, QStringLiteral("Ошибка!"));
        EXPECT_EQ(box.text, c.text);
        EXPECT_EQ(box.icon, Icon::Error);
        EXPECT_EQ(box.parent, &form);
        EXPECT_TRUE(State().TerminationRequested);
        form.FormClose();
    }
}

TEST_F(StartUpGate, UnloadableLibraryIsRefusedAndClosesWithoutCrashing) {
    TForm1 form(nullptr, QStringLiteral("libkrv_no_such_library_here.so"));
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].text, kNoVersionText);
    EXPECT_EQ(State().DriverLibraryHandle, nullptr);
    form.FormClose();
}

TEST_F(StartUpGate, RefusalStillFillsTheRestOfStartUp) {
    State().ReportPassword = 7;
    TForm1 form(nullptr, TestLibrary("1_9_0_0"));
    EXPECT_TRUE(State().TerminationRequested);
    EXPECT_EQ(State().ReportPassword, 0);
    form.FormClose();
}
