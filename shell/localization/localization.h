#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "shell/settings/settings.h"

// The process-wide table of the texts the windows show, by id. It holds the built-in English texts
// until LoadLocalization overlays them from a language file: an INI file in the folder "language"
// beside the program or else in the installed one (LanguageFolders), whose sections are named as
// the texts' sections and whose keys are the ids in decimal. A missing file, section or key keeps
// the built-in text; a key with an empty value makes the text empty.

// One entry of the table: the text shown and the section where its translation is looked up.
struct LocStrInfo {
    std::string text;
    std::string section;
};

// Resets the table to the built-in texts, then overlays the language file named language_file
// (a plain file name: one with a folder part is not looked up) in program_folder/language, or
// else in the installed language folder.
void LoadLocalization(std::string_view language_file, const std::filesystem::path& program_folder);
// The same with the folder of the running program.
void LoadLocalization(std::string_view language_file);
// The same with the language file of the settings (SysLanguageFile).
void LoadLocalization(const SettingsMap& settings);

// The current text of id; empty when the table has no such id. Safe to call from any thread.
std::string LoadLocString(int id);
