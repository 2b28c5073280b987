// LanguageTable: every user-visible text by key, with its built-in English.
#pragma once
#include <cstddef>

namespace kelm::win {

// Where a deliverable's language file lives.
enum class LanguageFileKind {
  ProgramDir,   // KelmCfg, kelmuinst: <program dir>\KelmCfg.lg
  SetupDir,     // setup: <program dir>\kelmcfg.lg
  SystemKelm,   // kelmsh: <system dir>\kelm\KelmCfg.lg
};

// Once at start-up: fixes the file and reads the system default language id.
void LanguageInit(LanguageFileKind kind);

// Looks key up (system language section, then "0409"); dst (capacity cap,
// at least 1) always receives a zero-terminated text: the file's value cut
// to 255 characters, or builtin when the key is missing or empty.
void LanguageLookup(const char* key, const char* builtin, char* dst, std::size_t cap);

// The language id in use (0 before LanguageInit).
unsigned LanguageId();

// Tests only: replaces the system default language id read at LanguageInit.
void LanguageSetIdForTest(unsigned langId);

}  // namespace kelm::win
