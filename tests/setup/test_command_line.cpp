#include "command_line.h"
#include "command_line_text.h"
#include "support_env.h"

#include <setup_process.h>
#include <setup_registry.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace krv::setup {
namespace {

using Pairs = std::vector<std::pair<int, std::string>>;

Pairs PairsOf(const CommandLineOptions &options) {
    Pairs pairs;
    for (const auto &pair : options.switches)
        pairs.emplace_back(pair.id, pair.value);
    return pairs;
}

TEST(SwitchTable, HasTwentyThreeRowsInOrderWithSharedIds) {
    const auto &table = CommandLineSwitchTable();
    ASSERT_EQ(table.size(), 23u);
    EXPECT_STREQ(table[0].name, "/?");
    EXPECT_STREQ(table[3].name, "/originalPath");
    EXPECT_STREQ(table[22].name, "/noprereqs");
    EXPECT_EQ(table[15].id, 16);
    EXPECT_EQ(table[17].id, 16);
    EXPECT_EQ(table[18].id, 17);
    for (const auto &row : table)
        EXPECT_NE(row.id, 15) << row.name;
    EXPECT_STREQ(LookupSwitchId(16)->name, "/username");
    EXPECT_STREQ(LookupSwitchId(17)->name, "/password");
    EXPECT_STREQ(LookupSwitchId(1)->name, "/?");
    EXPECT_EQ(LookupSwitchId(15), nullptr);
    EXPECT_STREQ(LookupSwitchName("/HELP")->name, "/help");
    EXPECT_STREQ(LookupSwitchName("/ORIGINALPATH")->name, "/originalPath");
    EXPECT_EQ(LookupSwitchName("/cmdloc"), nullptr);
    EXPECT_EQ(LookupSwitchName("/exelogx"), nullptr);
}

TEST(NextQuotedToken, SplitsAtBlanksAndSeparatorsAndKeepsDoubledQuotes) {
    std::string token;
    std::size_t cursor = 0;
    const std::string text = "  /exelog:C:\\x.log \"a \"\"b\"\" c\" \t last";
    ASSERT_TRUE(NextQuotedToken(text, cursor, token, ":"));
    EXPECT_EQ(token, "/exelog");
    ASSERT_TRUE(NextQuotedToken(text, cursor, token));
    EXPECT_EQ(token, "C:\\x.log");
    ASSERT_TRUE(NextQuotedToken(text, cursor, token));
    EXPECT_EQ(token, "a \"\"b\"\" c");
    ASSERT_TRUE(NextQuotedToken(text, cursor, token));
    EXPECT_EQ(token, "last");
    EXPECT_FALSE(NextQuotedToken(text, cursor, token));
    EXPECT_FALSE(NextQuotedToken(text, cursor, token));

    cursor = 0;
    ASSERT_TRUE(NextQuotedToken("a\tb c", cursor, token)); // a tab does not end a token
    EXPECT_EQ(token, "a\tb");

    cursor = 0;
    ASSERT_TRUE(NextQuotedToken("\"\" x", cursor, token)); // an empty quoted token counts
    EXPECT_EQ(token, "");
    ASSERT_TRUE(NextQuotedToken("\"\" x", cursor, token));
    EXPECT_EQ(token, "x");

    cursor = 0;
    ASSERT_TRUE(NextQuotedToken("\"a:b\"", cursor, token, ":")); // separators end quoted tokens too
    EXPECT_EQ(token, "a");

    cursor = 99;
    EXPECT_FALSE(NextQuotedToken("abc", cursor, token));
}

TEST(NextQuotedToken, TakesTokensThatBeginWithNonAsciiLettersWhole) {
    std::string token;
    std::size_t cursor = 0;
    ASSERT_TRUE(NextQuotedToken("Журнал.log next", cursor, token));
    EXPECT_EQ(token, "Журнал.log");
}

TEST(ParseCommandLine, ExelogValueForms) {
    EXPECT_EQ(PairsOf(ParseCommandLine("/exelog")), (Pairs{{11, ""}}));
    EXPECT_EQ(PairsOf(ParseCommandLine("/exelog /exenoui")), (Pairs{{11, ""}, {6, ""}}));
    const auto colon = ParseCommandLine("/exelog:C:\\x.log");
    const auto blank = ParseCommandLine("/exelog C:\\x.log");
    EXPECT_EQ(PairsOf(colon), (Pairs{{11, "C:\\x.log"}}));
    EXPECT_EQ(PairsOf(colon), PairsOf(blank));
    EXPECT_EQ(PairsOf(ParseCommandLine("/exelog \"/tmp/my dir/s.log\" /qn")),
              (Pairs{{11, "/tmp/my dir/s.log"}}));
    EXPECT_EQ(PairsOf(ParseCommandLine("/EXELOG:Журнал.log")), (Pairs{{11, "Журнал.log"}}));
    // A Linux absolute path is a value, a single-slash token the next switch.
    EXPECT_EQ(PairsOf(ParseCommandLine("/exelog /tmp/s.log /exenoui")),
              (Pairs{{11, "/tmp/s.log"}, {6, ""}}));
    const auto qn = ParseCommandLine("/exelog /qn");
    EXPECT_EQ(PairsOf(qn), (Pairs{{11, ""}}));
    EXPECT_EQ(qn.passThrough, "/qn");
    EXPECT_EQ(PairsOf(ParseCommandLine("/extract /tmp/out")), (Pairs{{2, "/tmp/out"}}));
}

TEST(ParseCommandLine, MissingRequiredValueLeavesTheSwitchToTheInstaller) {
    const auto options = ParseCommandLine("/exenoui /exelang");
    EXPECT_EQ(PairsOf(options), (Pairs{{6, ""}}));
    EXPECT_EQ(options.passThrough, "/exelang");
}

TEST(ParseCommandLine, FirstUnknownTokenStartsThePassThroughText) {
    const auto options = ParseCommandLine("  /exenoui /qn ALLUSERS=1 /exelog x  ");
    EXPECT_EQ(PairsOf(options), (Pairs{{6, ""}}));
    EXPECT_EQ(options.passThrough, "/qn ALLUSERS=1 /exelog x");

    const auto repeated = ParseCommandLine("/exelang 1049 /exelang:1033 /prereqs 0,2 TARGET=1");
    EXPECT_EQ(PairsOf(repeated), (Pairs{{9, "1049"}, {9, "1033"}, {20, "0,2"}}));
    EXPECT_EQ(repeated.passThrough, "TARGET=1");
    EXPECT_EQ(FindSwitch(repeated, 9)->value, "1049");
    EXPECT_EQ(FindSwitch(repeated, 6), nullptr);
}

TEST(ParseCommandLine, StopSwitchesEndTheSwitchList) {
    const auto extract = ParseCommandLine("/extract /tmp/out /exenoui /qn");
    EXPECT_EQ(PairsOf(extract), (Pairs{{2, "/tmp/out"}}));
    EXPECT_EQ(extract.passThrough, "/exenoui /qn");

    // An optional value that looks like a switch is not taken as the value.
    const auto optional = ParseCommandLine("/exelog /extract");
    EXPECT_EQ(PairsOf(optional), (Pairs{{11, ""}, {2, ""}}));
    EXPECT_EQ(optional.passThrough, "");

    const auto help = ParseCommandLine("/HELP /exelog");
    EXPECT_EQ(PairsOf(help), (Pairs{{1, ""}}));
    EXPECT_EQ(help.passThrough, "/exelog");

    EXPECT_TRUE(ParseCommandLine("").switches.empty());
}

TEST(ParseCommandLine, QuotedValueKeepsDoubledQuotes) {
    const auto options = ParseCommandLine("/password \"a\"\"b\"");
    EXPECT_EQ(PairsOf(options), (Pairs{{17, "a\"\"b"}}));
    EXPECT_EQ(BuildCommandLine(options, false), "/password \"a\"\"\"\"b\" ");
}

TEST(SwitchEditing, SetFindRemove) {
    CommandLineOptions options = ParseCommandLine("/exelang 1 /exelang 2");
    SetSwitchValue(options, 9, "3");
    EXPECT_EQ(PairsOf(options), (Pairs{{9, "3"}, {9, "2"}}));
    SetSwitchValue(options, 18, "");
    EXPECT_EQ(options.switches.back().id, 18);
    RemoveSwitch(options, 9);
    EXPECT_EQ(PairsOf(options), (Pairs{{9, "2"}, {18, ""}}));
    RemoveSwitch(options, 42);
    EXPECT_EQ(options.switches.size(), 2u);
}

TEST(BuildCommandLine, StrippingExampleKeepsTheBlankBeforeTheRemovedPair) {
    const auto options = ParseCommandLine("/exenoui /qn ALLUSERS=1");
    EXPECT_EQ(BuildCommandLine(options, true), "/exenoui  /qn ");
    EXPECT_EQ(BuildCommandLine(options, false), "/exenoui  /qn ALLUSERS=1");
}

TEST(BuildCommandLine, QuotesTextValuesButNotNumbers) {
    CommandLineOptions options;
    options.switches = {{9, "1049"}, {11, "/tmp/a b.log"}, {16, "user"}, {17, "p\"w"}, {6, ""}};
    options.passThrough = "TARGETDIR=x";
    EXPECT_EQ(BuildCommandLine(options, false),
              "/exelang 1049 /exelog \"/tmp/a b.log\" /username \"user\" /password \"p\"\"w\" "
              "/exenoui  TARGETDIR=x");
    // Rebuilt text parses back to the same switches (the resume command line).
    const auto again = ParseCommandLine(BuildCommandLine(options, false));
    EXPECT_EQ(PairsOf(again),
              (Pairs{{9, "1049"}, {11, "/tmp/a b.log"}, {16, "user"}, {17, "p\"\"w"}, {6, ""}}));
    EXPECT_EQ(again.passThrough, "TARGETDIR=x");

    EXPECT_EQ(QuoteSwitchValue("", true), "");
    EXPECT_EQ(QuoteSwitchValue("12\"", false), "\"12\"\"\"");
}

TEST(StripReservedProperties, RemovesOnlyExactNamesAtTokenStart) {
    auto strip = [](std::string text) {
        StripReservedProperties(text);
        return text;
    };
    EXPECT_EQ(strip("ALLUSERS=1"), "");
    EXPECT_EQ(strip("/qn ALLUSERS=1 REBOOT=R"), "/qn REBOOT=R");
    EXPECT_EQ(strip("allusers=1 /ALLUSERS XALLUSERS=2"), "allusers=1 /ALLUSERS XALLUSERS=2");
    EXPECT_EQ(strip("ADDLOCAL=\"a b\"  X=1"), "X=1");
    EXPECT_EQ(strip("A=\"x y\" REMOVE=ALL"), "A=\"x y\" ");
    EXPECT_EQ(strip("EXE_CMD_LINE=\"/exelog \"\"a b\"\" \" B=2"), "B=2");
    EXPECT_EQ(strip("PX_RESUME=1 SETUPEXEDIR=/x EXE_CMD_LINE=y"), "");
    EXPECT_EQ(strip("\"ALLUSERS=1\" ALLUSERS=2 end"), "\"ALLUSERS=1\" end");
    EXPECT_EQ(strip("no equals here"), "no equals here");
    EXPECT_EQ(strip(""), "");
}

TEST(SplitQuotedTokens, QuotesRemovedAndLeadingBlankGivesEmptyToken) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitQuotedTokens(""), V{});
    EXPECT_EQ(SplitQuotedTokens("/cmdloc HKCU\\a\\b"), (V{"/cmdloc", "HKCU\\a\\b"}));
    EXPECT_EQ(SplitQuotedTokens("\"a b\"   c "), (V{"a b", "c"}));
    EXPECT_EQ(SplitQuotedTokens(" a"), (V{"", "a"}));
    EXPECT_EQ(SplitQuotedTokens("\"open end"), (V{"open end"}));
}

TEST(SplitString, KeepsInnerEmptyPiecesAndDropsEmptyRemainder) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitString("", ","), V{});
    EXPECT_EQ(SplitString("abc", ","), V{"abc"});
    EXPECT_EQ(SplitString(",a,,b,", ","), (V{"", "a", "", "b"}));
    EXPECT_EQ(SplitString("a\r\nb\r\n", "\r\n"), (V{"a", "b"}));
}

TEST(NumberRoutines, DecimalRadixAndGuid) {
    EXPECT_EQ(ParseDecimal("  42abc"), 42);
    EXPECT_EQ(ParseDecimal("-+7"), -7);
    EXPECT_EQ(ParseDecimal("+5"), 5);
    EXPECT_EQ(ParseDecimal("\t5"), 0); // only spaces are skipped
    EXPECT_EQ(ParseDecimal("x"), 0);
    EXPECT_EQ(ParseDecimal("99999999999999"), INT32_MAX);
    EXPECT_EQ(ParseDecimal("-99999999999999"), INT32_MIN);

    std::size_t end = 0;
    EXPECT_EQ(ParseIntInRadix("1aZ!", 36, &end), 1 * 36 * 36 + 10 * 36 + 35);
    EXPECT_EQ(end, 3u);
    end = 2;
    EXPECT_EQ(ParseIntInRadix("1234", 10, &end), 12);
    EXPECT_EQ(end, 2u);
    EXPECT_EQ(ParseIntInRadix("-ff", 16), -255);
    EXPECT_EQ(ParseIntInRadix("FFFFFFFF", 16), -1);
    EXPECT_EQ(ParseIntInRadix("19", 8), 1);
    EXPECT_EQ(ParseIntInRadix("5", 1), 0);

    const GuidBytes guid = ParseGuidText("{374DE290-123F-4565-9164-39C4925E467B}");
    const GuidBytes expected = {0x90, 0xE2, 0x4D, 0x37, 0x3F, 0x12, 0x65, 0x45,
                                0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B};
    EXPECT_EQ(guid, expected);
    EXPECT_EQ(ParseGuidText("374DE290-123F-4565-9164-39C4925E467B"), expected);
    EXPECT_EQ(ParseGuidText(""), GuidBytes{});
}

TEST(WindowsCommandLine, QuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(QuoteWindowsArgument("plain"), "plain");
    EXPECT_EQ(QuoteWindowsArgument(""), "\"\"");
    EXPECT_EQ(QuoteWindowsArgument("a b"), "\"a b\"");
    EXPECT_EQ(QuoteWindowsArgument("a\tb"), "\"a\tb\"");
    EXPECT_EQ(QuoteWindowsArgument("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(QuoteWindowsArgument("C:\\my dir\\"), "\"C:\\my dir\\\\\"");
    EXPECT_EQ(QuoteWindowsArgument("C:\\dir\\"), "C:\\dir\\");
    EXPECT_EQ(JoinWindowsCommandLine({"/exelog", "/tmp/my dir/s.log", "TARGETDIR=/opt/x y"}),
              "/exelog \"/tmp/my dir/s.log\" TARGETDIR=\"/opt/x y\"");
    // Only a property name keeps the "=" outside the quotes.
    EXPECT_EQ(JoinWindowsCommandLine({"a b=c", "=x y", "P=", "1X=a b"}),
              "\"a b=c\" \"=x y\" P=\"\" \"1X=a b\"");
    EXPECT_EQ(JoinWindowsCommandLine({}), "");
}

TEST(WindowsCommandLine, ArgumentsSurviveTheParser) {
    const std::string colonForm = JoinWindowsCommandLine({"/exelog:/tmp/log file.txt", "/qn"});
    EXPECT_EQ(colonForm, "/exelog:\"/tmp/log file.txt\" /qn");
    const auto options = ParseCommandLine(colonForm);
    EXPECT_EQ(PairsOf(options), (Pairs{{11, "/tmp/log file.txt"}}));
    EXPECT_EQ(options.passThrough, "/qn");
    EXPECT_EQ(JoinWindowsCommandLine({"/nosuch:a b"}), "\"/nosuch:a b\"");
    const auto separate = ParseCommandLine(JoinWindowsCommandLine(
        {"/exelog", "/tmp/log file.txt", "/exelang", "1049", "/qn", "PROP=a b"}));
    EXPECT_EQ(PairsOf(separate), (Pairs{{11, "/tmp/log file.txt"}, {9, "1049"}}));
    EXPECT_EQ(separate.passThrough, "/qn PROP=\"a b\"");
}

TEST(WindowsCommandLine, PassThroughArgumentsReachTheInstallerUnchanged) {
    const std::vector<std::string> handedOn = {"/qn",    "TARGETDIR=/opt/my app", "NOTE=say \"hi\"",
                                               "EMPTY=", "C:\\my dir\\",          "a\\\"b c"};
    std::vector<std::string> arguments = {"/exenoui"};
    arguments.insert(arguments.end(), handedOn.begin(), handedOn.end());
    const auto options = ParseCommandLine(JoinWindowsCommandLine(arguments));
    EXPECT_EQ(PairsOf(options), (Pairs{{6, ""}}));
    EXPECT_EQ(platform::SplitCommandLine(options.passThrough), handedOn);
}

TEST(WindowsCommandLine, ReservedPropertiesWithBlankValuesAreStillStripped) {
    const auto options = ParseCommandLine(JoinWindowsCommandLine(
        {"/exenoui", "/qn", "EXE_CMD_LINE=/exelog /tmp/x.log", "ADDLOCAL=a b", "KEEP=c d"}));
    EXPECT_EQ(BuildCommandLine(options, true), "/exenoui  /qn KEEP=\"c d\"");

    // A switch value that looks like a property is still read whole.
    const auto secret =
        ParseCommandLine(JoinWindowsCommandLine({"/password", "K=a b", "/exelang", "1", "P=x y"}));
    EXPECT_EQ(PairsOf(secret), (Pairs{{17, "K=a b"}, {9, "1"}}));
    EXPECT_EQ(secret.passThrough, "P=\"x y\"");
}

TEST(MaskPasswords, HidesValuesOfTheThreeSecretSwitches) {
    EXPECT_EQ(MaskPasswordsInText("/username bob /password s3cret /exenoui"),
              "/username bob /password ***** /exenoui");
    EXPECT_EQ(MaskPasswordsInText("/PROXYPASSWORD:\"a b\" x"), "/PROXYPASSWORD:\"*****\" x");
    EXPECT_EQ(MaskPasswordsInText("/aespassword \"q\"\"uote\" /x"), "/aespassword \"*****\" /x");
    EXPECT_EQ(MaskPasswordsInText("EXE_CMD_LINE=\"/exelog  /password \"\"p w\"\" \" X=1"),
              "EXE_CMD_LINE=\"/exelog  /password \"\"*****\"\" \" X=1");
    EXPECT_EQ(MaskPasswordsInText("/password \"\" /x"), "/password \"\" /x");
    EXPECT_EQ(MaskPasswordsInText("/passwords x a/password y"), "/passwords x a/password y");
    EXPECT_EQ(MaskPasswordsInText("Command line to pass to MSI:/password x"),
              "Command line to pass to MSI:/password *****");
    EXPECT_EQ(MaskPasswordsInText("x /password"), "x /password");
    EXPECT_EQ(MaskPasswordsInText("/password \"open"), "/password \"*****");
}

class CmdLocTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_REGISTRY_ROOT", m_root.string());
    }
    krv::setup::test::TempDir m_tmp{"cmdloc"};
    const std::filesystem::path m_root = m_tmp.path();
    krv::setup::test::ScopedEnv m_env;
};

TEST_F(CmdLocTest, ReadsTheStoredLineOnceAndRemovesIt) {
    using namespace krv::platform;
    const auto key = RegistryCreateKey(RegistryHive::CurrentUser, "Software\\Telmar\\Resume");
    ASSERT_TRUE(key);
    ASSERT_TRUE(RegistrySetValue(*key, "Cmd", RegistryValue::MakeText("/exenoui /qn")));
    std::string line;
    ASSERT_TRUE(ReadCommandLineFromRegistry("/cmdloc HKCU\\Software\\Telmar\\Resume\\Cmd", line));
    EXPECT_EQ(line, "/exenoui /qn");
    EXPECT_FALSE(RegistryGetValue(*key, "Cmd"));
    EXPECT_FALSE(RegistryOpenKey(RegistryHive::CurrentUser, "Software\\Telmar\\Resume"));
    EXPECT_TRUE(RegistryOpenKey(RegistryHive::CurrentUser, "Software\\Telmar"));

    // The key exists but the value is gone: still true, with empty text.
    ASSERT_TRUE(RegistryCreateKey(RegistryHive::CurrentUser, "Software\\Telmar\\Resume"));
    line = "old";
    EXPECT_TRUE(ReadCommandLineFromRegistry("/cmdloc HKCU\\Software\\Telmar\\Resume\\Cmd", line));
    EXPECT_EQ(line, "");
}

TEST_F(CmdLocTest, KeepsAKeyThatHoldsOtherValuesAndReadsNumbers) {
    using namespace krv::platform;
    const auto key = RegistryCreateKey(RegistryHive::LocalMachine, "Software\\T");
    ASSERT_TRUE(key);
    ASSERT_TRUE(RegistrySetValue(*key, "N", RegistryValue::MakeNumber(77)));
    ASSERT_TRUE(RegistrySetValue(*key, "Other", RegistryValue::MakeText("x")));
    std::string line;
    ASSERT_TRUE(ReadCommandLineFromRegistry("/cmdloc \"HKLM\\Software\\T\\N\"", line));
    EXPECT_EQ(line, "77");
    EXPECT_TRUE(RegistryGetValue(*key, "Other"));
}

TEST_F(CmdLocTest, RefusesEverythingButExactlyTwoTokens) {
    using namespace krv::platform;
    ASSERT_TRUE(RegistrySetValue(*RegistryCreateKey(RegistryHive::CurrentUser, "K"), "V",
                                 RegistryValue::MakeText("x")));
    std::string line;
    EXPECT_FALSE(ReadCommandLineFromRegistry("/CMDLOC HKCU\\K\\V", line));
    EXPECT_FALSE(ReadCommandLineFromRegistry("/cmdloc HKCU\\K\\V extra", line));
    EXPECT_FALSE(ReadCommandLineFromRegistry("/cmdloc", line));
    EXPECT_FALSE(ReadCommandLineFromRegistry("/cmdloc HKCU", line));
    EXPECT_FALSE(ReadCommandLineFromRegistry("/cmdloc HKCU\\Missing\\V", line));
    EXPECT_FALSE(ReadCommandLineFromRegistry("", line));
    EXPECT_TRUE(RegistryGetValue(*RegistryOpenKey(RegistryHive::CurrentUser, "K"), "V"));
}

// The stored line is read once, but a key whose other values this store
// cannot read (a newer writer's types, a damaged file) is never removed.
TEST_F(CmdLocTest, NeverRemovesAKeyWithValuesItCannotRead) {
    using namespace krv::platform;
    const struct {
        const char *content;
        const char *lineRead;
        const char *left;
    } cases[] = {
        {"KRVREG 1\nsz\tCmd\t/qn\nqword\tBig\t1\n", "/qn", "KRVREG 1\nqword\tBig\t1\n"},
        {"KRVREG 1\r\nsz\tCmd\t/qn\r\n", "", "KRVREG 1\r\nsz\tCmd\t/qn\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.content);
        ASSERT_TRUE(RegistryCreateKey(RegistryHive::CurrentUser, "Software\\Telmar\\Resume"));
        const std::string values = (m_root / "HKCU/Software/Telmar/Resume/.values").string();
        krv::setup::test::WriteFile(values, c.content);
        std::string line = "old";
        ReadCommandLineFromRegistry("/cmdloc HKCU\\Software\\Telmar\\Resume\\Cmd", line);
        EXPECT_EQ(line, c.lineRead);
        EXPECT_EQ(krv::setup::test::ReadFile(values), c.left);
        ASSERT_TRUE(RegistryOpenKey(RegistryHive::CurrentUser, "Software\\Telmar\\Resume"));
        std::filesystem::remove_all(m_root / "HKCU/Software/Telmar/Resume");
    }
}

} // namespace
} // namespace krv::setup
