// The built library exports exactly the 84 functions of its interface, each
// reachable by name, and nothing else.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <elf.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

const std::set<std::string> kExports = {
    // link and errors
    "FPInit",
    "FPClose",
    "FPErrorMessage",
    "FPCodeError",
    // receipts
    "FPSale",
    "FPPayMoney",
    "FPPayment",
    "FPDiscount",
    "FPComment",
    "FPNullCheck",
    "FPLineFeed",
    "FPResetOrder",
    "FPInToCash",
    "FPOutOfCash",
    // status, clock and device control
    "FPGetStatus",
    "FPGetDate",
    "FPSetDate",
    "FPGetTime",
    "FPSetTime",
    "FPSendCustomer",
    "FPOpenBox",
    "FPCopyLastCheck",
    "FPPrintVersion",
    "FPCplOnline",
    "FPCplInd",
    "FPCplCutter",
    "FPGetMoneyInBox",
    "FPChangeBaudRate",
    "FPLineSP",
    "FPSetContrast",
    "FPCutterStatus",
    "FPGetPaperState",
    // programming
    "FPSetPassword",
    "FPSetCashier",
    "FPSetInitialFirstLine",
    "FPSetFinalFirstLine",
    "FPSetInitialSecondLine",
    "FPSetInitialEndLine",
    "FPSetFinalSecondLine",
    "FPSetFinalEndLine",
    "FPSetHeaderLineAdd1",
    "FPSetHeaderLineAdd2",
    "FPFiscalization",
    "FPSetHeadLine",
    "FPSetTaxRate",
    "FPProgArt",
    "FPSetPayName",
    "FPGetPayName",
    "FPPersonalize",
    "FPSetTotalNumb",
    // reports
    "FPDayReport",
    "FPDayClrReport",
    "FPXArtReport",
    "FPPeriodicReport",
    "FPPeriodicReportShort",
    "FPPeriodicNumberReport",
    // information queries
    "FPGetMemoryData",
    "FPGetSaleCheckNumber",
    "FPGetPayCheckNumber",
    "FPGetSaleDaySum",
    "FPGetPayDaySum",
    "FPGetNumZReport",
    "FPGetValueFor_F",
    "FPGetResetOrders",
    "FPGetCancels",
    "FPGetPasswords",
    "FPGetTaxRate",
    "FPGetArticleInfo",
    "FPGetDayReport",
    "FPGetCheckSums",
    "FPFullGetTaxRate",
    // non-fiscal text, logo, barcodes
    "FPTransPrint",
    "FPTransPrintNew",
    "FPLoadBMP",
    "FPEnableBMP",
    "FPDisableBMP",
    "FPSetBarCode",
    "FPPrintEAN13",
    // control tape, lock, modem
    "FPGetStatusKLEF",
    "FPClrKLEF",
    "FPAckKLEF",
    "FPSet72Lock",
    "L5GetStateText",
    "L5GetStateStruct",
};

std::filesystem::path LibraryPath() {
    std::filesystem::path dir;
    if (const char *bin = std::getenv("KRV_TEST_BIN"); bin && *bin) {
        dir = bin;
    } else {
        // Tests and the library land in one output folder.
        dir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    }
    return dir / "libKRV_T100DRV.so";
}

// Names of the symbols the file's dynamic symbol table defines for others:
// global, weak or unique binding, default or protected visibility.
std::set<std::string> DefinedDynamicSymbols(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> file{std::istreambuf_iterator<char>(in),
                                 std::istreambuf_iterator<char>()};
    std::set<std::string> names;
    if (file.size() < sizeof(Elf64_Ehdr))
        return names;
    Elf64_Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
        return names;
    auto section = [&](size_t index) {
        Elf64_Shdr s{};
        const size_t at = header.e_shoff + index * sizeof(Elf64_Shdr);
        if (index < header.e_shnum && at + sizeof s <= file.size())
            std::memcpy(&s, file.data() + at, sizeof s);
        return s;
    };
    for (size_t i = 0; i < header.e_shnum; ++i) {
        const Elf64_Shdr symbols = section(i);
        if (symbols.sh_type != SHT_DYNSYM || symbols.sh_entsize != sizeof(Elf64_Sym))
            continue;
        const Elf64_Shdr strings = section(symbols.sh_link);
        for (size_t at = symbols.sh_offset;
             at + sizeof(Elf64_Sym) <= symbols.sh_offset + symbols.sh_size &&
             at + sizeof(Elf64_Sym) <= file.size();
             at += sizeof(Elf64_Sym)) {
            Elf64_Sym sym;
            std::memcpy(&sym, file.data() + at, sizeof sym);
            const int binding = ELF64_ST_BIND(sym.st_info);
            const int visibility = ELF64_ST_VISIBILITY(sym.st_other);
            if (sym.st_shndx == SHN_UNDEF || sym.st_name == 0)
                continue;
            if (binding != STB_GLOBAL && binding != STB_WEAK && binding != STB_GNU_UNIQUE)
                continue;
            if (visibility != STV_DEFAULT && visibility != STV_PROTECTED)
                continue;
            const size_t nameAt = strings.sh_offset + sym.st_name;
            if (nameAt >= file.size())
                continue;
            names.insert(std::string(file.data() + nameAt,
                                     strnlen(file.data() + nameAt, file.size() - nameAt)));
        }
    }
    return names;
}

TEST(Exports, NothingElseIsExported) {
    const auto path = LibraryPath();
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    const std::set<std::string> defined = DefinedDynamicSymbols(path);
    ASSERT_FALSE(defined.empty()) << "no dynamic symbol table read from " << path;
    std::vector<std::string> extra, missing;
    for (const std::string &name : defined)
        if (!kExports.count(name))
            extra.push_back(name);
    for (const std::string &name : kExports)
        if (!defined.count(name))
            missing.push_back(name);
    EXPECT_TRUE(missing.empty()) << "missing: " << ::testing::PrintToString(missing);
    EXPECT_TRUE(extra.empty()) << "exported beyond the interface: "
                               << ::testing::PrintToString(extra);
}

} // namespace
