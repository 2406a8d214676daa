# Read by ctest after the discovered tests of this folder. The tests with
# many times the work of the others (hundreds of installer runs killed and
# recovered, hundreds of mutated packages, the installed console started)
# get a limit of their own, well past what they take under the sanitizers
# on a machine busy with other builds, and two slots of the machine's share,
# so that a loaded machine slows them without failing them. Names that are
# not (or no longer) tests are passed over.
foreach(name
    InstallerTest.UpgradeStoppedAtEveryStepLeavesTheTreeWhole
    HostilePackage.MutatedFieldsBitFlipsAndCutsFailCleanly
    SetupEndToEnd.ProjectTreeInstallsAWorkingConsole)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 PROCESSORS 2)
endforeach()
