#include "shell/settings/settings.h"

#include <gtest/gtest.h>

#include "platform/codepage/codepage.h"
#include "shell/settings/registry_key.h"
#include "tests/settings/temp_folder.h"

namespace {

namespace reg = platform::registry;
namespace fs = std::filesystem;

constexpr std::string_view kProgram = "/opt/tolvane/bin/tolvane";

class Settings : public ::testing::Test {
  protected:
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

    TempConfigHome home;
    reg::Hive hive{home.config()};
};

TEST_F(Settings, FirstStartCreatesTheKeyAndReadsDefaults) {
    const SettingsMap settings = Load();
    EXPECT_TRUE(hive.KeyExists(kOptionsKey.substr(1)));
    // Every id has an entry; absent values are number 0.
    ASSERT_EQ(settings.size(), 7u);
    for (const auto& [id, value] : settings) {
        EXPECT_TRUE(value.IsNumber()) << id;
        EXPECT_EQ(value.AsInt32(), 0) << id;
    }
    EXPECT_EQ(SettingText(settings, kSettingSoundBroadcast), "");
    EXPECT_EQ(SettingText(settings, kSettingLanguageFile), "");
    // Nothing is written for autostart by loading.
    EXPECT_FALSE(fs::exists(hive.AutostartFile()));
    // An autostart entry made earlier is found.
    ASSERT_TRUE(hive.SetValue(reg::kRunKey, "Tolvane Corvessan", reg::RegValue::Text("/x")));
    EXPECT_EQ(SettingNumber(Load(), kSettingAutostart), 1);
}

TEST_F(Settings, ValuesAreReadByTheirStoredType) {
    Store("RecvMsgPopWndAutoclose", reg::RegValue::Dword(2));
    Store("RecvMsgPopWndDeadline", reg::RegValue::Dword(0xFFFFFFFF));
    Store("SoundEnabled", reg::RegValue::Text("1"));          // text where a number belongs
    Store("SoundEventIncMsgBcast", reg::RegValue::Dword(7));  // a number where text belongs
    Store("SoundEventIncMsgPriv", reg::RegValue::Text("/usr/share/sounds/ding.wav"));
    Store("SysLanguageFile", reg::RegValue{reg::kRegSz, "deutsch.lng"});  // no closing zero
    const SettingsMap s = Load();
    EXPECT_EQ(SettingNumber(s, kSettingPopupAutoclose), 2);  // not 1: the user closes the popup
    EXPECT_EQ(SettingNumber(s, kSettingPopupDeadline), -1);
    EXPECT_TRUE(s.at(kSettingSoundEnabled).IsText());
    EXPECT_EQ(SettingNumber(s, kSettingSoundEnabled), 0);  // so sound is off
    EXPECT_EQ(SettingText(s, kSettingSoundBroadcast), "");
    EXPECT_EQ(SettingNumber(s, kSettingSoundBroadcast), 7);
    EXPECT_EQ(SettingText(s, kSettingSoundPersonal), "/usr/share/sounds/ding.wav");
    EXPECT_EQ(SettingText(s, kSettingLanguageFile), "deutsch.lng");
}

TEST_F(Settings, SavingWritesEveryValueAndIsRepeatable) {
    SettingsMap s = Load();
    s[kSettingPopupAutoclose] = TlVariant(1);
    s[kSettingPopupDeadline] = TlVariant(15);
    s[kSettingSoundPersonal] = TlVariant("/snd/personal.wav");
    s.erase(kSettingSoundEnabled);  // a missing id is written as number 0
    SaveSettings(s, hive, kProgram);
    const std::string first = ReadFile(hive.RegistryFile());
    SaveSettings(s, hive, kProgram);
    EXPECT_EQ(ReadFile(hive.RegistryFile()), first);
    EXPECT_EQ(first,
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brannock\\Tolvane Corvessan\\Options]\n"
              "\"RecvMsgPopWndAutoclose\"=dword:00000001\n"
              "\"RecvMsgPopWndDeadline\"=dword:0000000f\n"
              "\"SoundEnabled\"=dword:00000000\n"
              "\"SoundEventIncMsgBcast\"=dword:00000000\n"
              "\"SoundEventIncMsgPriv\"=\"/snd/personal.wav\"\n"
              "\"SysLanguageFile\"=dword:00000000\n");

    // A text setting loaded as absent went out as a number and reads back as empty text.
    const SettingsMap again = Load();
    EXPECT_TRUE(again.at(kSettingLanguageFile).IsNumber());
    EXPECT_EQ(SettingText(again, kSettingLanguageFile), "");
    EXPECT_EQ(SettingText(again, kSettingSoundPersonal), "/snd/personal.wav");
    EXPECT_EQ(SettingNumber(again, kSettingPopupDeadline), 15);
}

TEST_F(Settings, SavingKeepsWhatIsNotTheProgramsOwn) {
    const std::string before =
        "REGEDIT4\n"
        "; my notes\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Brannock\\Tolvane Corvessan\\Options]\n"
        "\"OemCodePage\"=\"CP437\"\n"
        "\"SoundEnabled\"=dword:00000001\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Someone Else]\n"
        "\"Keep\"=hex:de,ad\n";
    WriteFile(hive.RegistryFile(), before);
    SettingsMap s = Load();
    EXPECT_EQ(platform::codepage::OemCodePage(), "CP437");
    EXPECT_EQ(SettingNumber(s, kSettingSoundEnabled), 1);
    SaveSettings(s, hive, kProgram);
    const std::string after = ReadFile(hive.RegistryFile());
    EXPECT_NE(after.find("; my notes\n"), std::string::npos);
    EXPECT_NE(after.find("\"OemCodePage\"=\"CP437\"\n\"SoundEnabled\"=dword:00000001\n"),
              std::string::npos)
        << after;
    EXPECT_NE(after.find("[HKEY_CURRENT_USER\\Software\\Someone Else]\n\"Keep\"=hex:de,ad\n"),
              std::string::npos);
}

TEST_F(Settings, UnknownOrMissingCodePageFallsBackToTheDefault) {
    Store("OemCodePage", reg::RegValue::Text("NO-SUCH-CHARSET"));
    platform::codepage::SetOemCodePage("CP437");
    Load();
    EXPECT_EQ(platform::codepage::OemCodePage(), platform::codepage::kDefaultOemCodePage);
    Store("OemCodePage", reg::RegValue::Dword(437));  // wrong type: ignored
    platform::codepage::SetOemCodePage("CP437");
    Load();
    EXPECT_EQ(platform::codepage::OemCodePage(), platform::codepage::kDefaultOemCodePage);
    // The code page alone, as a program without windows reads it.
    Store("OemCodePage", reg::RegValue::Text("CP437"));
    LoadOemCodePage(hive);
    EXPECT_EQ(platform::codepage::OemCodePage(), "CP437");
}

TEST_F(Settings, AutostartFollowsIdZero) {
    SettingsMap s = Load();
    // Off when there is no entry: nothing happens, nothing fails.
    SaveSettings(s, hive, kProgram);
    EXPECT_FALSE(fs::exists(hive.AutostartFile()));

    s[kSettingAutostart] = TlVariant(1);
    SaveSettings(s, hive, kProgram);
    ASSERT_TRUE(fs::exists(hive.AutostartFile()));
    EXPECT_NE(ReadFile(hive.AutostartFile()).find("\nExec=/opt/tolvane/bin/tolvane\n"),
              std::string::npos);
    EXPECT_EQ(SettingNumber(Load(), kSettingAutostart), 1);

    // Without a known program path the entry is left as it is rather than broken.
    SaveSettings(s, hive, "");
    EXPECT_NE(ReadFile(hive.AutostartFile()).find("\nExec=/opt/tolvane/bin/tolvane\n"),
              std::string::npos);

    s[kSettingAutostart] = TlVariant(0);
    SaveSettings(s, hive, kProgram);
    EXPECT_FALSE(fs::exists(hive.AutostartFile()));
    EXPECT_EQ(SettingNumber(Load(), kSettingAutostart), 0);
}

TEST_F(Settings, TheCurrentUsersRegistryIsTheConfigFolders) {
    SettingsMap s;
    s[kSettingSoundEnabled] = TlVariant(1);
    SaveSettings(s);
    EXPECT_TRUE(fs::exists(home.config() / "Brannock" / "Tolvane Corvessan" / "user.reg"));
    SettingsMap loaded;
    LoadSettings(loaded);
    EXPECT_EQ(SettingNumber(loaded, kSettingSoundEnabled), 1);
}

TEST_F(Settings, AnUnreadableRegistryLeavesTheSettingsUnread) {
    fs::create_directories(hive.RegistryFile());  // a folder where the file belongs
    const SettingsMap s = Load();
    EXPECT_EQ(s.count(kSettingSoundEnabled), 0u);
    EXPECT_EQ(s.count(kSettingAutostart), 1u);  // the Run key does not live in the file
    SaveSettings(s, hive, kProgram);            // skipped, not forced
    EXPECT_TRUE(fs::is_directory(hive.RegistryFile()));
}

TEST(PendingSettings, PagesReadPendingThenCurrentThenZero) {
    SettingsMap settings{{kSettingPopupDeadline, TlVariant(10)},
                         {kSettingSoundPersonal, TlVariant("a")}};
    SettingsMap pending{{kSettingPopupDeadline, TlVariant(45)}};
    EXPECT_EQ(PendingOrCurrent(pending, settings, kSettingPopupDeadline).AsInt32(), 45);
    EXPECT_EQ(PendingOrCurrent(pending, settings, kSettingSoundPersonal).AsText(), "a");
    EXPECT_EQ(PendingOrCurrent(pending, settings, kSettingSoundEnabled), TlVariant(0));
    ApplyPending(pending, settings);
    EXPECT_EQ(SettingNumber(settings, kSettingPopupDeadline), 45);
    EXPECT_EQ(SettingText(settings, kSettingSoundPersonal), "a");
}

TEST(RegistryKeyRules, RelativePathsAndReadingRules) {
    TempConfigHome home;
    const reg::Hive hive(home.config());
    TlRegistryKey key(hive);
    EXPECT_EQ(key.ValueType("x"), reg::kRegNone);  // nothing open
    EXPECT_FALSE(key.WriteNumber("x", 1));
    EXPECT_FALSE(key.Open("Software\\Nope", false));
    EXPECT_FALSE(key.IsOpen());
    ASSERT_TRUE(key.Open("Software", true));
    ASSERT_TRUE(key.Open("Brannock", true));  // relative to the open key
    ASSERT_TRUE(key.WriteText("Where", "here"));
    EXPECT_EQ(hive.QueryValue("Software\\Brannock", "Where"), reg::RegValue::Text("here"));
    EXPECT_FALSE(key.Open("Missing", false));  // a failed open keeps the open key
    EXPECT_EQ(key.ReadText("Where"), "here");
    ASSERT_TRUE(key.Open("\\Software", false));  // from the root
    EXPECT_EQ(key.ReadText("Where"), "");

    ASSERT_TRUE(key.Open("\\Software\\Brannock", false));
    hive.SetValue("Software\\Brannock", "Bin2",
                  reg::RegValue{reg::kRegBinary, std::string("\x01\x02", 2)});
    hive.SetValue("Software\\Brannock", "Bin5",
                  reg::RegValue{reg::kRegBinary, std::string(5, '\x01')});
    hive.SetValue("Software\\Brannock", "Dword", reg::RegValue::Dword(0x12345678));
    hive.SetValue("Software\\Brannock", "Zero", reg::RegValue::Text(std::string("a\0b", 3)));
    EXPECT_EQ(key.ReadNumber("Bin2"), 0x0201u);
    EXPECT_EQ(key.ReadNumber("Bin5"), 0u);
    EXPECT_EQ(key.ReadNumber("Dword"), 0x12345678u);
    EXPECT_EQ(key.ReadNumber("Where"), 0u);  // text is not a number
    EXPECT_EQ(key.ReadText("Dword"), "");    // nor a number text
    EXPECT_EQ(key.ReadText("Zero"), "a");    // text ends at the first zero
    EXPECT_TRUE(key.HasValue("zero"));
    EXPECT_TRUE(key.DeleteValue("Zero"));
    EXPECT_FALSE(key.DeleteValue("Zero"));
    key.Close();
    EXPECT_FALSE(key.HasValue("Where"));
}

}  // namespace
