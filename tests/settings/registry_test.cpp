#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/registry/desktop_entry.h"
#include "platform/registry/file_io.h"
#include "tests/settings/temp_folder.h"

namespace {

namespace reg = platform::registry;
namespace fs = std::filesystem;

constexpr std::string_view kOptions = "Software\\Brannock\\Tolvane Corvessan\\Options";

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder)) {
        files.push_back(e.path().filename());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(Hive, PathsFollowTheConfigFolder) {
    TempConfigHome home;
    const reg::Hive hive = reg::Hive::CurrentUser();
    EXPECT_EQ(hive.RegistryFile(), home.config() / "Brannock" / "Tolvane Corvessan" / "user.reg");
    EXPECT_EQ(hive.AutostartFile(), home.config() / "autostart" / "tolvane-corvessan.desktop");
    // A relative XDG_CONFIG_HOME is not to be used: HOME/.config is.
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(reg::Hive::CurrentUser().AutostartFile(),
              home.root() / "home" / ".config" / "autostart" / "tolvane-corvessan.desktop");
}

TEST(Hive, KeysAndValuesLiveInTheFile) {
    TempConfigHome home;
    const reg::Hive hive(home.config());
    EXPECT_TRUE(hive.KeyExists(""));  // the root always exists
    EXPECT_FALSE(hive.KeyExists(kOptions));
    EXPECT_FALSE(reg::RegistryKey::Open(hive, kOptions, false));
    EXPECT_FALSE(fs::exists(hive.RegistryFile()));  // looking creates nothing

    auto key = reg::RegistryKey::Open(hive, kOptions, true);
    ASSERT_TRUE(key);
    EXPECT_EQ(ReadFile(hive.RegistryFile()),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brannock\\Tolvane Corvessan\\Options]\n");
    EXPECT_TRUE(key->SetValue("Number", reg::RegValue::Dword(42)));
    EXPECT_TRUE(key->SetValue("Text", reg::RegValue::Text("x")));
    EXPECT_EQ(key->ValueType("number"), reg::kRegDword);
    EXPECT_EQ(key->ValueType("Absent"), reg::kRegNone);

    // Another handle (or another process) sees the same.
    const reg::Hive other(home.config());
    EXPECT_TRUE(other.KeyExists("software\\brannock"));
    EXPECT_EQ(other.QueryValue(kOptions, "TEXT"), reg::RegValue::Text("x"));
    EXPECT_TRUE(other.DeleteValue(kOptions, "Text"));
    EXPECT_FALSE(key->QueryValue("Text"));
    EXPECT_FALSE(key->DeleteValue("Text"));
    // Only the file itself is left in its folder: no temporary files.
    EXPECT_EQ(FilesIn(hive.RegistryFile().parent_path()), std::vector<fs::path>{"user.reg"});
}

TEST(Hive, AFileThatCannotBeParsedIsKeptAside) {
    TempConfigHome home;
    const reg::Hive hive(home.config());
    const std::string garbage = "this is not a registry file\n\"x\"=dword:1\n";
    WriteFile(hive.RegistryFile(), garbage);
    // Reading finds nothing and moves the file out of the way.
    EXPECT_FALSE(hive.QueryValue(kOptions, "x"));
    const auto files = FilesIn(hive.RegistryFile().parent_path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].string().rfind("user.reg.broken-", 0), 0u) << files[0];
    EXPECT_EQ(ReadFile(hive.RegistryFile().parent_path() / files[0]), garbage);
    // The next change starts a fresh file; a second broken file gets a name of its own.
    EXPECT_TRUE(hive.SetValue(kOptions, "x", reg::RegValue::Dword(1)));
    EXPECT_EQ(hive.QueryValue(kOptions, "x"), reg::RegValue::Dword(1));
    WriteFile(hive.RegistryFile(), garbage);
    EXPECT_FALSE(hive.KeyExists(kOptions));
    EXPECT_EQ(FilesIn(hive.RegistryFile().parent_path()).size(), 2u);
}

TEST(Hive, AFileThatCannotBeReadIsLeftAlone) {
    TempConfigHome home;
    const reg::Hive hive(home.config());
    fs::create_directories(hive.RegistryFile().parent_path());
    // A FIFO in the file's place: reading must neither block nor replace it.
    ASSERT_EQ(::mkfifo(hive.RegistryFile().c_str(), 0600), 0);
    EXPECT_FALSE(hive.KeyExists(kOptions));
    EXPECT_FALSE(hive.CreateKey(kOptions));
    EXPECT_FALSE(hive.SetValue(kOptions, "x", reg::RegValue::Dword(1)));
    EXPECT_TRUE(fs::is_fifo(hive.RegistryFile()));
    fs::remove(hive.RegistryFile());

    // A file too large to be ours is kept aside, unread.
    WriteFile(hive.RegistryFile(), "REGEDIT4\n" + std::string(reg::kMaxRegistryFileBytes, ';'));
    EXPECT_FALSE(hive.KeyExists(kOptions));
    EXPECT_FALSE(fs::exists(hive.RegistryFile()));
}

TEST(Hive, TheRunValueIsTheAutostartEntry) {
    TempConfigHome home;
    const reg::Hive hive(home.config());
    EXPECT_TRUE(hive.KeyExists(reg::kRunKey));
    auto run =
        reg::RegistryKey::Open(hive, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", true);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->ValueType("Tolvane Corvessan"), reg::kRegNone);
    EXPECT_FALSE(run->DeleteValue("Tolvane Corvessan"));  // absent: nothing to delete

    const std::string program = "/opt/Tolvane Corvessan/bin/tol$vane \"2\"";
    ASSERT_TRUE(run->SetValue("tolvane corvessan", reg::RegValue::Text(program)));
    EXPECT_TRUE(fs::is_regular_file(hive.AutostartFile()));
    EXPECT_EQ(run->QueryValue("Tolvane Corvessan"), reg::RegValue::Text(program));
    const std::string entry = ReadFile(hive.AutostartFile());
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=\"/opt/Tolvane Corvessan/bin/tol\\\\$vane \\\\\"2\\\\\"\"\n"),
              std::string::npos)
        << entry;
    // The autostart value never goes into the registry file; other Run values do.
    EXPECT_FALSE(fs::exists(hive.RegistryFile()));
    ASSERT_TRUE(run->SetValue("Other", reg::RegValue::Text("/usr/bin/other")));
    EXPECT_EQ(hive.QueryValue(reg::kRunKey, "other"), reg::RegValue::Text("/usr/bin/other"));
    EXPECT_FALSE(run->SetValue("Tolvane Corvessan", reg::RegValue::Dword(1)));

    EXPECT_TRUE(run->DeleteValue("Tolvane Corvessan"));
    EXPECT_FALSE(fs::exists(hive.AutostartFile()));
    EXPECT_FALSE(run->QueryValue("Tolvane Corvessan"));
    EXPECT_EQ(hive.QueryValue(reg::kRunKey, "Other"), reg::RegValue::Text("/usr/bin/other"));
}

TEST(DesktopEntry, ExecRoundTripsAnyPath) {
    const std::string paths[] = {
        "/usr/bin/tolvane",
        "/opt/with space/tolvane",
        "/odd/\"quote\"/'single'/back\\slash/$HOME/`tick`/100%/tolvane",
        "/new\nline/tab\there",
        "/only%%percent",
    };
    for (const std::string& path : paths) {
        EXPECT_EQ(reg::ProgramFromEntry(reg::AutostartEntry(path)), path) << path;
        const std::string exec = reg::ExecValue(path);
        EXPECT_EQ(exec.find('\n'), std::string::npos) << path;
    }
    EXPECT_EQ(reg::ExecValue("/usr/bin/tolvane"), "/usr/bin/tolvane");
    EXPECT_EQ(reg::ExecValue("/a b"), "\"/a b\"");
    EXPECT_EQ(reg::ExecValue("/50%"), "/50%%");
    // Entries written by others: arguments after the program, other groups, missing Exec.
    EXPECT_EQ(reg::ProgramFromEntry("[Desktop Entry]\r\nExec = /bin/x --flag %u\r\n"), "/bin/x");
    EXPECT_EQ(reg::ProgramFromEntry("[Other]\nExec=/bin/y\n[Desktop Entry]\nExecX=/z\n"),
              std::nullopt);
    EXPECT_EQ(reg::ProgramFromEntry("[Desktop Entry]\nExec=\"/unterminated\n"), std::nullopt);
}

// A writer killed at any moment leaves the old or the new content, never a mix.
TEST(AtomicWrite, AKilledWriterNeverLeavesATornFile) {
    TempConfigHome home;
    const fs::path file = home.config() / "f";
    const std::string a(512 * 1024, 'a');
    const std::string b(768 * 1024, 'b');
    ASSERT_TRUE(reg::WriteFileAtomically(file, a));
    for (int round = 0; round < 12; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) {
                reg::WriteFileAtomically(file, i % 2 ? a : b);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2 + round * 3));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const std::string content = ReadFile(file);
        EXPECT_TRUE(content == a || content == b) << "round " << round << ": " << content.size();
    }
}

TEST(AtomicWrite, ReplacesALinkedFileWhereItLives) {
    TempConfigHome home;
    WriteFile(home.root() / "dotfiles" / "user.reg", "old");
    fs::create_directories(home.config());
    fs::create_symlink("../dotfiles/user.reg", home.config() / "user.reg");
    ASSERT_TRUE(reg::WriteFileAtomically(home.config() / "user.reg", "new"));
    EXPECT_TRUE(fs::is_symlink(home.config() / "user.reg"));
    EXPECT_EQ(ReadFile(home.root() / "dotfiles" / "user.reg"), "new");
}

TEST(AtomicWrite, FailsWithoutTouchingTheOldFile) {
    TempConfigHome home;
    // The folder cannot be made: a file stands in its place.
    WriteFile(home.config() / "blocker", "x");
    EXPECT_FALSE(reg::WriteFileAtomically(home.config() / "blocker" / "f", "data"));
    // The target is a folder: the rename fails and no temporary file stays behind.
    fs::create_directories(home.config() / "dir" / "target");
    EXPECT_FALSE(reg::WriteFileAtomically(home.config() / "dir" / "target", "data"));
    EXPECT_EQ(FilesIn(home.config() / "dir"), std::vector<fs::path>{"target"});

    std::string out = "stale";
    EXPECT_EQ(reg::ReadWholeFile(home.config() / "missing", 10, out), reg::ReadStatus::Missing);
    EXPECT_EQ(reg::ReadWholeFile(home.config() / "dir", 10, out), reg::ReadStatus::Failed);
    EXPECT_EQ(reg::ReadWholeFile(home.config() / "blocker", 0, out), reg::ReadStatus::TooLarge);
    EXPECT_EQ(reg::ReadWholeFile(home.config() / "blocker", 1, out), reg::ReadStatus::Ok);
    EXPECT_EQ(out, "x");
}

}  // namespace
