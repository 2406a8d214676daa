// Language modules: the texts of one user-interface language, carried in the
// package as entries of type 12 named "<LANGID>.dll" and loaded in place of
// the program's own texts.
//
// The file is UTF-8 text, one record a line (LF or CR LF):
//   KRV-LANGUAGE-MODULE 1                  first line, required
//   S <TAB> id <TAB> text                  a string-table text
//   D <TAB> dialog <TAB> control <TAB> text  a dialog text (control 0: title)
//   B <TAB> kind <TAB> id <TAB> size       a resource block: the line end is
//                                          followed by exactly `size` bytes
//                                          as they are, then the next line
// Blocks carry the wizard's texts and pictures (kind RTF_FILE ids 210 and
// 219: rich text, HTML or plain; kind IMAGE_FILE ids 221 and 222: a picture
// in any format Qt reads). A block above kResourceBlockMaxSize or one that
// runs past the end of the file makes the whole module refused: what follows
// it cannot be trusted. Such a module is put into the package as it is
// (krv-package-builder --stored 12 SET <LANGID>.dll FILE).
// In texts "\n", "\r", "\t" and "\\" stand for a line feed, a carriage
// return, a tab and a backslash. Ids are decimal numbers below 2^32; lines
// that are not records are skipped. A module of more than 4 MiB is refused.
#pragma once

#include "ui_strings.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace krv::setup {

inline constexpr std::string_view kLanguageModuleHeader = "KRV-LANGUAGE-MODULE 1";
inline constexpr std::size_t kLanguageModuleMaxSize = 4u << 20;
inline constexpr std::size_t kResourceBlockMaxSize = 1u << 20;

// False when the header is missing or a block is oversize or cut short.
bool ParseLanguageModule(std::string_view text, ResourceModule &module);

// Reads the file as the module of the language; null when it cannot be read
// or is not a language module.
std::shared_ptr<const ResourceModule> LoadLanguageModuleFile(const std::string &path,
                                                             uint16_t language);

} // namespace krv::setup
