#include "shell/settings/settings.h"

#include <gtest/gtest.h>

#include "platform/codepage/codepage.h"
#include "platform/registry/desktop_entry.h"
#include "shell/settings/registry_key.h"
#include "tests/settings/temp_folder.h"

namespace {

namespace reg = platform::registry;
namespace fs = std::filesystem;

class Settings : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(program, "#!/bin/sh\n");
        fs::permissions(program, fs::perms::owner_all);
    }
    void TearDown() override {
        platform::codepage::SetOemCodePage(platform::codepage::kDefaultOemCodePage);
    }
    // Writes values into the Options key as another program would.
    void Store(std::string_view name, const reg::RegValue& value) {
        ASSERT_TRUE(hive.SetValue(kOptionsKey.substr(1), name, value));
    }
    SettingsMap Load() {
        SettingsMap settings;
        LoadSettings(settings, hive);
        return settings;
    }
    void Save(const SettingsMap& s, AutostartSave autostart = AutostartSave::Keep) {
        SaveSettings(s, hive, program.string(), autostart);
    }
    std::string Entry() { return ReadFile(hive.AutostartFile()); }

    TempConfigHome home;
    reg::Hive hive{home.config()};
    fs::path program = home.root() / "bin" / "tolvane";
};

TEST_F(Settings, FirstStartAndValuesReadByTheirStoredType) {
    SettingsMap s = Load();
    EXPECT_TRUE(hive.KeyExists(kOptionsKey.substr(1)));
    ASSERT_EQ(s.size(), 8u);  // every id, absent values as number 0
    for (const auto& [id, value] : s) {
        EXPECT_EQ(value, TlVariant(0)) << id;
    }
    EXPECT_FALSE(fs::exists(hive.AutostartFile()));

    Store("RecvMsgPopWndAutoclose", reg::RegValue::Dword(2));
    Store("RecvMsgPopWndDeadline", reg::RegValue::Dword(0xFFFFFFFF));
    Store("SoundEnabled", reg::RegValue::Text("1"));          // text where a number belongs
    Store("SoundEventIncMsgBcast", reg::RegValue::Dword(7));  // a number where text belongs
    Store("SysLanguageFile", reg::RegValue{reg::kRegSz, "german.lng"});  // no closing zero
    s = Load();
    EXPECT_EQ(SettingNumber(s, kSettingPopupAutoclose), 2);  // not 1: the user closes the popup
    EXPECT_EQ(SettingNumber(s, kSettingPopupDeadline), -1);
    EXPECT_EQ(SettingNumber(s, kSettingSoundEnabled), 0);  // so sound is off
    EXPECT_EQ(SettingText(s, kSettingSoundBroadcast), "");
    EXPECT_EQ(SettingText(s, kSettingLanguageFile), "german.lng");
}

TEST_F(Settings, SavingWritesEveryValueAndKeepsTheRest) {
    WriteFile(hive.RegistryFile(),
              "REGEDIT4\n; my notes\n\n"
              "[HKEY_CURRENT_USER\\Software\\Brannock\\Tolvane Corvessan\\Options]\n"
              "\"OemCodePage\"=\"CP437\"\n\n[HKEY_CURRENT_USER\\Software\\Someone Else]\n"
              "\"Keep\"=hex:de,ad\n");
    SettingsMap s = Load();
    EXPECT_EQ(platform::codepage::OemCodePage(), "CP437");
    s[kSettingPopupDeadline] = TlVariant(15);
    s[kSettingSoundPersonal] = TlVariant("/snd/personal.wav");
    s.erase(kSettingSoundEnabled);  // a missing id is written as number 0
    Save(s);
    const std::string first = ReadFile(hive.RegistryFile());
    Save(s);
    EXPECT_EQ(ReadFile(hive.RegistryFile()), first);
    EXPECT_EQ(first,
              "REGEDIT4\n; my notes\n\n"
              "[HKEY_CURRENT_USER\\Software\\Brannock\\Tolvane Corvessan\\Options]\n"
              "\"OemCodePage\"=\"CP437\"\n"
              "\"RecvMsgPopWndAutoclose\"=dword:00000000\n"
              "\"RecvMsgPopWndDeadline\"=dword:0000000f\n"
              "\"SoundEnabled\"=dword:00000000\n"
              "\"SoundEventIncMsgBcast\"=dword:00000000\n"
              "\"SoundEventIncMsgPriv\"=\"/snd/personal.wav\"\n"
              "\"SysLanguageFile\"=dword:00000000\n"
              "\"RecvMsgPopWndDuringDoNotDisturb\"=dword:00000000\n\n"
              "[HKEY_CURRENT_USER\\Software\\Someone Else]\n\"Keep\"=hex:de,ad\n");
    // A text setting loaded as absent went out as a number and reads back as empty text.
    EXPECT_EQ(SettingText(Load(), kSettingLanguageFile), "");
}

TEST_F(Settings, UnknownOrMistypedCodePageFallsBackToTheDefault) {
    for (const reg::RegValue& value :
         {reg::RegValue::Text("NO-SUCH-CHARSET"), reg::RegValue::Dword(437)}) {
        Store("OemCodePage", value);
        platform::codepage::SetOemCodePage("CP437");
        Load();
        EXPECT_EQ(platform::codepage::OemCodePage(), platform::codepage::kDefaultOemCodePage);
    }
    // The code page alone, as a program without windows reads it.
    Store("OemCodePage", reg::RegValue::Text("CP437"));
    LoadOemCodePage(hive);
    EXPECT_EQ(platform::codepage::OemCodePage(), "CP437");
}

// The autostart entry is switched only when the user chooses so: the session settings may switch it
// off (Hidden=true) while the program runs, and a save must not switch it back on.
TEST_F(Settings, AutostartChangesOnlyByTheUsersChoice) {
    SettingsMap s = Load();
    Save(s, AutostartSave::Follow);  // off without an entry: nothing happens, nothing fails
    EXPECT_FALSE(fs::exists(hive.AutostartFile()));
    s[kSettingAutostart] = TlVariant(1);
    Save(s);
    EXPECT_FALSE(fs::exists(hive.AutostartFile()));
    Save(s, AutostartSave::Follow);
    EXPECT_EQ(reg::ProgramFromEntry(Entry()), program.string());
    EXPECT_EQ(SettingNumber(Load(), kSettingAutostart), 1);

    // Switched off by the session settings while the program runs: reads as off, and saving
    // with the setting untouched leaves it off, whatever the settings in memory say.
    WriteFile(hive.AutostartFile(), Entry() + "Hidden=true\n");
    const std::string hidden = Entry();
    SettingsMap fresh;
    LoadAutostart(fresh, hive);
    EXPECT_EQ(SettingNumber(fresh, kSettingAutostart), 0);
    Save(s);
    Save(fresh, AutostartSave::Follow);
    EXPECT_EQ(Entry(), hidden);
    // The user ticks the box: on again.
    Save(s, AutostartSave::Follow);
    EXPECT_EQ(SettingNumber(Load(), kSettingAutostart), 1);

    // An entry that starts a program no longer there (an old build) starts this one after any
    // save; one that starts another program that is there stays as the user left it.
    WriteFile(hive.AutostartFile(), "[Desktop Entry]\nType=Application\nExec=/old/build/tolvane\n");
    Save(s);
    EXPECT_EQ(reg::ProgramFromEntry(Entry()), program.string());
    WriteFile(hive.AutostartFile(), "[Desktop Entry]\nType=Application\nExec=/bin/sh\n");
    Save(s);
    EXPECT_EQ(reg::ProgramFromEntry(Entry()), "/bin/sh");

    s[kSettingAutostart] = TlVariant(0);
    Save(s, AutostartSave::Follow);
    EXPECT_FALSE(fs::exists(hive.AutostartFile()));
}

TEST_F(Settings, AnUnreadableRegistryLeavesTheSettingsUnread) {
    fs::create_directories(hive.RegistryFile());  // a folder where the file belongs
    const SettingsMap s = Load();
    EXPECT_EQ(s.count(kSettingSoundEnabled), 0u);
    EXPECT_EQ(s.count(kSettingAutostart), 1u);  // the Run key does not live in the file
    Save(s);                                    // skipped, not forced
    EXPECT_TRUE(fs::is_directory(hive.RegistryFile()));
}

TEST(RegistryKeyRules, RelativePathsAndReadingRules) {
    TempConfigHome home;
    const reg::Hive hive(home.config());
    TlRegistryKey key(hive);
    EXPECT_FALSE(key.WriteNumber("x", 1));  // nothing open
    EXPECT_FALSE(key.Open("Software\\Nope", false));
    ASSERT_TRUE(key.Open("Software", true));
    ASSERT_TRUE(key.Open("Brannock", true));  // relative to the open key
    ASSERT_TRUE(key.WriteText("Where", "here"));
    EXPECT_FALSE(key.Open("Missing", false));  // a failed open keeps the open key
    EXPECT_EQ(key.ReadText("Where"), "here");
    ASSERT_TRUE(key.Open("\\Software", false));  // from the root
    EXPECT_EQ(key.ReadText("Where"), "");

    ASSERT_TRUE(key.Open("\\Software\\Brannock", false));
    const std::pair<reg::RegValue, std::uint32_t> numbers[] = {
        {{reg::kRegBinary, std::string("\x01\x02", 2)}, 0x0201u},
        {{reg::kRegBinary, std::string(5, '\x01')}, 0u},
        {reg::RegValue::Dword(0x12345678), 0x12345678u},
        {reg::RegValue::Text("7"), 0u}};
    for (const auto& [value, number] : numbers) {
        hive.SetValue("Software\\Brannock", "N", value);
        EXPECT_EQ(key.ReadNumber("N"), number);
    }
    EXPECT_EQ(key.ReadText("N"), "7");
    hive.SetValue("Software\\Brannock", "N", reg::RegValue::Text(std::string("a\0b", 3)));
    EXPECT_EQ(key.ReadText("n"), "a");  // text ends at the first zero
    EXPECT_TRUE(key.DeleteValue("N"));
    EXPECT_FALSE(key.DeleteValue("N"));
}

}  // namespace
