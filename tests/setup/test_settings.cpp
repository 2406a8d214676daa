#include "settings.h"

#include "paths.h"

#include <gtest/gtest.h>

namespace krv::setup {
namespace {

IniDocument Doc(std::string_view text) {
    IniDocument doc;
    ParseIniText(doc, text);
    return doc;
}

TEST(GeneralOptions, DefaultsWithoutTheSection) {
    GeneralOptions options;
    LoadGeneralOptions(options, Doc("[generaloptions]\r\nOptions=q\r\nKeepFiles=complete"));
    EXPECT_EQ(options.flagLetters, "");
    EXPECT_EQ(options.keepMode, keep_mode::kNone);
    EXPECT_FALSE(options.packJars);
    EXPECT_FALSE(options.extUiStub);
    EXPECT_EQ(options.extractionFolder, "");
}

TEST(GeneralOptions, ReadsEveryKey) {
    GeneralOptions o;
    LoadGeneralOptions(
        o, Doc("[GeneralOptions]\r\n"
               "MainAppCmdLine=/qb TARGET=1\r\nOptions=qbh\r\nUpdatesUrl=http://u/\r\n"
               "ProductVersion=2.3.0\r\nMinWIVer=3.1\r\nDownloadFolder=[TempFolder]dl\r\n"
               "MainAppURL=http://m/p.msi\r\nLanguageList=1049;1033\r\n"
               "ExtractionFolder=[TempFolder]sub. \\file \r\nKeepFiles=minimum\r\n"
               "PackJars=TRUE\r\nAllPlatforms=True\r\nIs64PlatformTransf=true\r\n"
               "Langs=1049,1033\r\nPackageCode={P}\r\nDefaultProdCode={D}\r\n"
               "ProductCode=1049:{A} 1033:{B}\r\nUpgradeCode={U}\r\n"
               "ExtUIStub=stub.dll\r\nSaveExtUIStub=s.dll\r\n"));
    EXPECT_EQ(o.mainAppCmdLine, "/qb TARGET=1");
    EXPECT_EQ(o.flagLetters, "qbh");
    EXPECT_EQ(o.updatesUrl, "http://u/");
    EXPECT_EQ(o.productVersion, "2.3.0");
    EXPECT_EQ(o.minWiVersion, "3.1");
    EXPECT_EQ(o.downloadFolder, "[TempFolder]dl");
    EXPECT_EQ(o.mainAppUrl, "http://m/p.msi");
    EXPECT_EQ(o.languageList, "1049;1033");
    // Components trimmed of trailing blanks and dots, a separator at the end.
    EXPECT_EQ(o.extractionFolder, "[TempFolder]sub/file/");
    EXPECT_EQ(o.keepMode, keep_mode::kMinimum);
    EXPECT_TRUE(o.packJars);
    EXPECT_TRUE(o.allPlatforms);
    EXPECT_TRUE(o.is64PlatformTransform);
    EXPECT_EQ(o.langs, "1049,1033");
    EXPECT_EQ(o.packageCode, "{P}");
    EXPECT_EQ(o.defaultProdCode, "{D}");
    EXPECT_EQ(o.productCode, "1049:{A} 1033:{B}");
    EXPECT_EQ(o.upgradeCode, "{U}");
    EXPECT_TRUE(o.extUiStub);
    EXPECT_EQ(o.saveExtUiStub, "s.dll");
}

TEST(GeneralOptions, KeepModesAndFlagsAreExact) {
    auto keep = [](std::string_view value) {
        GeneralOptions o;
        LoadGeneralOptions(o, Doc("[GeneralOptions]\r\nKeepFiles=" + std::string(value)));
        return o.keepMode;
    };
    EXPECT_EQ(keep("complete"), 2);
    EXPECT_EQ(keep("minimum"), 1);
    EXPECT_EQ(keep("prereqs"), 5);
    EXPECT_EQ(keep("Complete"), 0);
    EXPECT_EQ(keep("3"), 0);

    GeneralOptions o;
    LoadGeneralOptions(o,
                       Doc("[GeneralOptions]\r\nPackJars=1\r\nAllPlatforms=yes\r\nExtUIStub=\r\n"));
    EXPECT_FALSE(o.packJars);
    EXPECT_FALSE(o.allPlatforms);
    EXPECT_FALSE(o.extUiStub); // present but empty
}

TEST(GeneralOptions, NameStemAndExtractionFolderForThePackage) {
    struct Row {
        const char *productCode, *defaultProdCode, *stem;
    };
    const Row rows[] = {
        {"{12345678-1234-1234-1234-123456789ABC}", "{D0000000-0000-0000-0000-00000000000D}",
         "6789ABC"},
        {"", "{D0000000-0000-0000-0000-00000000000D}", "000000D"},
        {"", "", ""},
    };
    for (const Row &row : rows) {
        GeneralOptions o;
        o.productCode = row.productCode;
        o.defaultProdCode = row.defaultProdCode;
        EXPECT_EQ(SettingsNameStem(o), row.stem) << row.productCode << row.defaultProdCode;
    }
    GeneralOptions o;
    o.defaultProdCode = "{D}";
    const std::string folder = SettingsExtractionFolder(o);
    EXPECT_EQ(folder.rfind(GetTempFolder(), 0), 0u) << folder;
    EXPECT_EQ(folder.substr(GetTempFolder().size()), "{D}/");
}

TEST(LaunchConditions, PresenceFlagsNameDependenciesAndOffice) {
    LaunchConditionSettings c;
    LoadLaunchConditionSettings(
        c,
        Doc("[GlobalLaunchConds]\r\nWin9xName=ignored\r\nWinNTVersions=Windows 7 x86\r\n"
            "WinNTName=Seven\r\nMinIEVerName=ignored\r\nMinPhisicalMem=512\r\nAdminPrivileges=\r\n"
            "Office2010App=14\r\nOffice2003App=11\r\nSharePoint_Services=0\r\n"
            "SharePoint_Deployment=farm\r\nMinJREVer=1.6\r\nMinDotNETVer=3.5\r\n"));
    EXPECT_EQ(c.win9xVersions, "");
    EXPECT_EQ(c.win9xName, "");
    EXPECT_EQ(c.winNtVersions, "Windows 7 x86");
    EXPECT_EQ(c.winNtName, "Seven");
    EXPECT_EQ(c.minIeVerName, "");
    EXPECT_EQ(c.minPhysicalMem, "512");
    EXPECT_TRUE(c.adminPrivileges);
    EXPECT_FALSE(c.activeInternetConnection);
    EXPECT_EQ(c.officeAppKey, "Office2010App");
    EXPECT_EQ(c.officeAppValue, "14");
    EXPECT_EQ(c.officeAppMessageId, 244);
    EXPECT_TRUE(c.sharePointServices);
    EXPECT_FALSE(c.sharePointPermissions);
    EXPECT_EQ(c.sharePointDeployment, "farm");
    EXPECT_EQ(c.minJreVer, "1.6");
    EXPECT_EQ(c.minDotNetVer, "3.5");

    LaunchConditionSettings office2007;
    LoadLaunchConditionSettings(
        office2007, Doc("[GlobalLaunchConds]\r\nOffice2003App=a\r\nOffice2007App=b\r\n"));
    EXPECT_EQ(office2007.officeAppKey, "Office2007App");
    EXPECT_EQ(office2007.officeAppMessageId, 228);
}

constexpr std::string_view kPrereqDoc =
    "[PREREQUISITES]\r\nApp1=Runtime\r\nApp2=Viewer\r\nApp3=Broken\r\nApp4=Later\r\n"
    "[Runtime]\r\nVerMin=1.0\r\nVerMax=2.0\r\nUrl=http://x/r.exe\r\nSetupFile=r.exe\r\n"
    "CommandLine=/q\r\nBasicUiCommandLine=/b\r\nNoUiCommandLine=/s\r\nOptions=mr\r\n"
    "MD5=0123456789abcdef0123456789ABCDEF\r\nExactSize=1024\r\nFolder=rt?r.exe\r\n"
    "RetValPropName=RT_RESULT\r\nParentPrereq=\r\nOperator=1\r\n"
    "SearchType1=3\r\nSearchString1={GUID}\r\nVerMin1=1.0\r\nRefContent1=x\r\n"
    "SearchType2=0\r\nSearchString2=[SystemFolder]msi.dll\r\nSearchCmdLine2=-v\r\n"
    "SearchType4=9\r\n"
    "Win9xVersions=none\r\nWinNTVersions=Windows 7 x86\r\nWinNT64Versions=\r\nLanguageList=1049\r\n"
    "[Viewer]\r\nOpenSite=http://site/\r\nUrl=http://x/v.exe\r\n"
    "[Broken]\r\nSetupFile=b.exe\r\nSearchType1=1\r\n"
    "[Later]\r\nSetupFile=l.exe\r\n";

TEST(Prerequisites, LoadsFieldsAndSearches) {
    const IniDocument doc = Doc(kPrereqDoc);
    PrerequisiteRecord r;
    ASSERT_TRUE(LoadPrerequisites(doc, 1, r));
    EXPECT_EQ(r.name, "Runtime");
    EXPECT_EQ(r.verMin, "1.0");
    EXPECT_EQ(r.verMax, "2.0");
    EXPECT_EQ(r.source, "r.exe"); // SetupFile wins over Url
    EXPECT_EQ(r.sourceKind, source_kind::kSetupFile);
    EXPECT_EQ(r.commandLine, "/q");
    EXPECT_EQ(r.basicUiCommandLine, "/b");
    EXPECT_EQ(r.noUiCommandLine, "/s");
    EXPECT_EQ(r.options, "mr");
    EXPECT_EQ(r.md5, "0123456789abcdef0123456789ABCDEF");
    EXPECT_EQ(r.exactSize, 1024);
    EXPECT_EQ(r.folder, "rt?r.exe");
    EXPECT_EQ(r.retValPropName, "RT_RESULT");
    EXPECT_EQ(r.op, 1);
    ASSERT_EQ(r.searches.size(), 2u); // SearchType3 missing ends the list
    EXPECT_EQ(r.searches[0].type, 3);
    EXPECT_EQ(r.searches[0].searchString, "{GUID}");
    EXPECT_EQ(r.searches[0].verMin, "1.0");
    EXPECT_EQ(r.searches[0].refContent, "x");
    EXPECT_EQ(r.searches[1].type, 0);
    EXPECT_EQ(r.searches[1].searchCmdLine, "-v");
    EXPECT_EQ(r.win9xVersions, "none");
    EXPECT_EQ(r.winNtVersions, "Windows 7 x86");
    EXPECT_EQ(r.languageList, "1049;"); // loading closes the list
    EXPECT_EQ(r.state, kPrerequisiteUndetected);
    EXPECT_FALSE(r.selected);
}

TEST(Prerequisites, SourceKindsAndWhereTheListEnds) {
    const IniDocument doc = Doc(kPrereqDoc);
    PrerequisiteRecord viewer;
    ASSERT_TRUE(LoadPrerequisites(doc, 2, viewer));
    EXPECT_EQ(viewer.sourceKind, source_kind::kOpenSite); // OpenSite over Url
    EXPECT_EQ(viewer.source, "http://site/");
    EXPECT_EQ(viewer.exactSize, 0);

    PrerequisiteRecord broken; // SearchType1 without SearchString1
    EXPECT_FALSE(LoadPrerequisites(doc, 3, broken));
    PrerequisiteRecord missing;
    EXPECT_FALSE(LoadPrerequisites(doc, 5, missing));

    PrerequisiteRecord url;
    ASSERT_TRUE(
        LoadPrerequisites(Doc("[PREREQUISITES]\r\nApp1=U\r\n[U]\r\nUrl=http://d\r\n"), 1, url));
    EXPECT_EQ(url.sourceKind, source_kind::kUrl);

    PrerequisiteRecord noSource;
    EXPECT_FALSE(
        LoadPrerequisites(Doc("[PREREQUISITES]\r\nApp1=N\r\n[N]\r\nVerMin=1\r\n"), 1, noSource));
    PrerequisiteRecord noSection;
    EXPECT_FALSE(LoadPrerequisites(Doc("[PREREQUISITES]\r\nApp1=Gone\r\n"), 1, noSection));
    PrerequisiteRecord noList;
    EXPECT_FALSE(LoadPrerequisites(Doc("[Runtime]\r\nSetupFile=x\r\n"), 1, noList));
}

TEST(Instances, InstanceAndStartupRecords) {
    const IniDocument doc =
        Doc("[INSTANCES]\r\ninst1=First\r\ninst2=NoCode\r\ninst3=Gone\r\n"
            "[First]\r\nProductCode={F}\r\n[NoCode]\r\nName=x\r\n"
            "[STARTUP]\r\nProductCode={S}\r\nUpgradeCode={U}\r\nProductVersion=2.3.1\r\n");
    ProductInstanceRecord first;
    ASSERT_TRUE(LoadInstances(doc, 1, first));
    EXPECT_EQ(first.instanceName, "First");
    EXPECT_EQ(first.productCode, "{F}");
    ProductInstanceRecord other;
    EXPECT_FALSE(LoadInstances(doc, 2, other));
    EXPECT_FALSE(LoadInstances(doc, 3, other));
    EXPECT_FALSE(LoadInstances(doc, 4, other));

    ProductInstanceRecord startup;
    startup.instanceName = "stale";
    ASSERT_TRUE(LoadStartup(startup, doc));
    EXPECT_EQ(startup.instanceName, "");
    EXPECT_EQ(startup.productCode, "{S}");
    EXPECT_EQ(startup.upgradeCode, "{U}");
    EXPECT_EQ(FormatVersion(startup.productVersion), "2.3.1");
    EXPECT_FALSE(startup.installed);

    ProductInstanceRecord partial;
    EXPECT_FALSE(LoadStartup(partial, Doc("[STARTUP]\r\nProductCode={S}\r\nUpgradeCode={U}\r\n")));
    EXPECT_FALSE(LoadStartup(partial, Doc("")));
}

} // namespace
} // namespace krv::setup
