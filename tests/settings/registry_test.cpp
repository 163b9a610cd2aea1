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
constexpr std::string_view kName = "Tolvane Corvessan";

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder)) {
        files.push_back(e.path().filename());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// An executable file at path.
void MakeProgram(const fs::path& path) {
    WriteFile(path, "#!/bin/sh\n");
    fs::permissions(path, fs::perms::owner_all);
}

TEST(Hive, KeysAndValuesLiveInTheConfigFolder) {
    TempConfigHome home;
    const reg::Hive hive = reg::Hive::CurrentUser();
    EXPECT_EQ(hive.RegistryFile(), home.config() / "Brannock" / "Tolvane Corvessan" / "user.reg");
    EXPECT_TRUE(hive.KeyExists(""));  // the root always exists
    EXPECT_FALSE(reg::RegistryKey::Open(hive, kOptions, false));
    EXPECT_FALSE(fs::exists(hive.RegistryFile()));  // looking creates nothing
    auto key = reg::RegistryKey::Open(hive, kOptions, true);
    ASSERT_TRUE(key && key->SetValue("Number", reg::RegValue::Dword(42)));
    EXPECT_EQ(key->ValueType("number"), reg::kRegDword);
    // Another handle (or another process) sees the same.
    const reg::Hive other(home.config());
    EXPECT_EQ(other.QueryValue(kOptions, "NUMBER"), reg::RegValue::Dword(42));
    EXPECT_TRUE(other.DeleteValue(kOptions, "Number"));
    EXPECT_FALSE(key->DeleteValue("Number"));
    EXPECT_EQ(FilesIn(hive.RegistryFile().parent_path()), std::vector<fs::path>{"user.reg"});
    // A relative XDG_CONFIG_HOME is not to be used: HOME/.config is.
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(reg::Hive::CurrentUser().AutostartFile(),
              home.root() / "home" / ".config" / "autostart" / "tolvane-corvessan.desktop");
}

TEST(Hive, ALineThatCannotBeReadCostsOnlyThatLine) {
    TempConfigHome home;
    const reg::Hive hive(home.config());
    const std::string broken =
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Brannock\\Tolvane Corvessan\\Options]\n"
        "\"SoundEnabled\"=dword:00000001\n\"RecvMsgPopWndDeadline\"=dword:0000zz\n"
        "\"SysLanguageFile\"=\"german.lng\"\n";
    WriteFile(hive.RegistryFile(), broken);
    EXPECT_EQ(hive.QueryValue(kOptions, "SoundEnabled"), reg::RegValue::Dword(1));
    EXPECT_EQ(hive.QueryValue(kOptions, "SysLanguageFile"), reg::RegValue::Text("german.lng"));
    // The file as it was is kept aside, told once; a fresh one holds what could be read.
    const auto notice = reg::TakeRepairNotice();
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->unreadable_lines, 1u);
    EXPECT_EQ(notice->kept_aside.filename().string().rfind("user.reg.broken-", 0), 0u);
    EXPECT_EQ(ReadFile(notice->kept_aside), broken);
    EXPECT_FALSE(reg::TakeRepairNotice());
    EXPECT_EQ(FilesIn(hive.RegistryFile().parent_path()).size(), 2u);
    EXPECT_TRUE(reg::RegDocument::Parse(ReadFile(hive.RegistryFile())));
    // A second broken file gets a name of its own.
    WriteFile(hive.RegistryFile(), "not a registry file\n");
    EXPECT_FALSE(hive.KeyExists(kOptions));
    EXPECT_TRUE(reg::TakeRepairNotice());
    EXPECT_EQ(FilesIn(hive.RegistryFile().parent_path()).size(), 3u);
}

TEST(Hive, AFileThatCannotBeReadIsLeftAlone) {
    TempConfigHome home;
    const reg::Hive hive(home.config());
    fs::create_directories(hive.RegistryFile().parent_path());
    // A FIFO in the file's place: reading must neither block nor replace it.
    ASSERT_EQ(::mkfifo(hive.RegistryFile().c_str(), 0600), 0);
    EXPECT_FALSE(hive.KeyExists(kOptions));
    EXPECT_FALSE(hive.SetValue(kOptions, "x", reg::RegValue::Dword(1)));
    EXPECT_TRUE(fs::is_fifo(hive.RegistryFile()));
    fs::remove(hive.RegistryFile());
    // A file too large to be ours is kept aside, unread.
    WriteFile(hive.RegistryFile(), "REGEDIT4\n" + std::string(reg::kMaxRegistryFileBytes, ';'));
    EXPECT_FALSE(hive.KeyExists(kOptions));
    EXPECT_LT(fs::file_size(hive.RegistryFile()), 100u);
    EXPECT_TRUE(reg::TakeRepairNotice());
}

TEST(Hive, TheRunValueIsTheAutostartEntry) {
    TempConfigHome home;
    const reg::Hive hive(home.config());
    const fs::path program = home.root() / "Tolvane Corvessan" / "bin" / "tol$vane \"2\"";
    MakeProgram(program);
    auto run =
        reg::RegistryKey::Open(hive, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", true);
    ASSERT_TRUE(run);
    EXPECT_FALSE(run->DeleteValue(kName));  // absent: nothing to delete
    ASSERT_TRUE(run->SetValue("tolvane corvessan", reg::RegValue::Text(program.string())));
    EXPECT_EQ(run->QueryValue(kName), reg::RegValue::Text(program.string()));
    const std::string entry = ReadFile(hive.AutostartFile());
    EXPECT_EQ(reg::EntryValue(entry, "Type"), "Application");
    // Started once the panel, and with it the tray, is up.
    EXPECT_EQ(reg::EntryValue(entry, "X-KDE-autostart-after"), "panel");
    EXPECT_TRUE(reg::EntryValue(entry, "X-GNOME-Autostart-Delay"));
    // The autostart value never goes into the registry file; other Run values do.
    EXPECT_FALSE(fs::exists(hive.RegistryFile()));
    ASSERT_TRUE(run->SetValue("Other", reg::RegValue::Text("/usr/bin/other")));
    EXPECT_EQ(hive.QueryValue(reg::kRunKey, "other"), reg::RegValue::Text("/usr/bin/other"));

    // Switched off by the session settings: no value, and the file stays as they left it.
    for (const char* off : {"Hidden=true\n", "X-GNOME-Autostart-enabled=false\n"}) {
        WriteFile(hive.AutostartFile(), "[Desktop Entry]\nExec=/usr/bin/tolvane\n" +
                                            std::string(off) + "[Other]\nHidden=false\n");
        EXPECT_FALSE(run->QueryValue(kName)) << off;
        EXPECT_FALSE(run->DeleteValue(kName));
        EXPECT_NE(ReadFile(hive.AutostartFile()).find(off), std::string::npos);
    }
    // Set again, it is on.
    ASSERT_TRUE(run->SetValue(kName, reg::RegValue::Text(program.string())));
    EXPECT_FALSE(reg::EntryIsHidden(ReadFile(hive.AutostartFile())));
    EXPECT_TRUE(run->DeleteValue(kName));
    EXPECT_FALSE(fs::exists(hive.AutostartFile()));
    EXPECT_FALSE(run->SetValue(kName, reg::RegValue::Dword(1)));
}

// After an upgrade the running program's path reads "<path> (deleted)"; no entry ever runs a path
// that names no program.
TEST(Hive, TheEntryRunsAProgramThatExists) {
    TempConfigHome home;
    const reg::Hive hive(home.config());
    const fs::path bin = home.root() / "usr" / "bin";
    const fs::path lib = home.root() / "usr" / "lib" / "tolvane";
    MakeProgram(lib / "tolvane");
    fs::create_directories(bin);
    fs::create_symlink(lib / "tolvane", bin / "tolvane");
    const std::string path = "/nonexistent/bin:" + bin.string();
    EXPECT_EQ(reg::AutostartProgram((lib / "tolvane").string() + " (deleted)", path),
              (bin / "tolvane").string());  // the new binary, by its link in a bin folder
    EXPECT_EQ(reg::AutostartProgram((bin / "tolvane").string() + " (deleted)", ""),
              (bin / "tolvane").string());
    EXPECT_EQ(reg::AutostartProgram((lib / "tolvane").string(), ""), (lib / "tolvane").string());
    EXPECT_FALSE(reg::AutostartProgram((lib / "gone").string() + " (deleted)", path));
    EXPECT_FALSE(reg::AutostartProgram(lib.string(), path));  // a folder

    const std::string gone = (home.root() / "old" / "tolvane").string() + " (deleted)";
    EXPECT_FALSE(hive.SetValue(reg::kRunKey, kName, reg::RegValue::Text(gone)));
    EXPECT_FALSE(fs::exists(hive.AutostartFile()));
    ASSERT_TRUE(
        hive.SetValue(reg::kRunKey, kName, reg::RegValue::Text((lib / "tolvane").string())));
    ASSERT_TRUE(
        hive.SetValue(reg::kRunKey, kName, reg::RegValue::Text(gone)));  // keeps its program
    EXPECT_EQ(hive.QueryValue(reg::kRunKey, kName),
              reg::RegValue::Text((lib / "tolvane").string()));
}

TEST(DesktopEntry, ExecRoundTripsAnyPath) {
    for (const std::string path : {"/usr/bin/tolvane", "/opt/with space/tolvane",
                                   "/odd/\"q\"/'s'/back\\slash/$HOME/`tick`/100%/x",
                                   "/new\nline/tab\there", "/only%%percent"}) {
        EXPECT_EQ(reg::ProgramFromEntry(reg::AutostartEntry(path)), path) << path;
        EXPECT_EQ(reg::ExecValue(path).find('\n'), std::string::npos) << path;
    }
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
    for (int round = 0; round < 8; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) {
                reg::WriteFileAtomically(file, i % 2 ? a : b);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2 + round * 4));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const std::string content = ReadFile(file);
        EXPECT_TRUE(content == a || content == b) << "round " << round << ": " << content.size();
    }
}

TEST(AtomicWrite, ReplacesALinkedFileWhereItLivesOrNothing) {
    TempConfigHome home;
    WriteFile(home.root() / "dotfiles" / "user.reg", "old");
    fs::create_symlink("../dotfiles/user.reg", home.config() / "user.reg");
    ASSERT_TRUE(reg::WriteFileAtomically(home.config() / "user.reg", "new"));
    EXPECT_TRUE(fs::is_symlink(home.config() / "user.reg"));
    EXPECT_EQ(ReadFile(home.root() / "dotfiles" / "user.reg"), "new");
    // A file where the folder belongs, a folder where the file belongs: nothing changes and no
    // temporary file stays behind.
    WriteFile(home.config() / "blocker", "x");
    EXPECT_FALSE(reg::WriteFileAtomically(home.config() / "blocker" / "f", "data"));
    fs::create_directories(home.config() / "dir" / "target");
    EXPECT_FALSE(reg::WriteFileAtomically(home.config() / "dir" / "target", "data"));
    EXPECT_EQ(FilesIn(home.config() / "dir"), std::vector<fs::path>{"target"});
    std::string out;
    EXPECT_EQ(reg::ReadWholeFile(home.config() / "dir", 10, out), reg::ReadStatus::Failed);
    EXPECT_EQ(reg::ReadWholeFile(home.config() / "blocker", 0, out), reg::ReadStatus::TooLarge);
}

}  // namespace
