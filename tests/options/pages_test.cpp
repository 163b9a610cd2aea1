// The three options pages: what each shows of the pending and current settings, and how each
// change reaches the pending settings at once and nothing else: the popup's closing, the sound
// rows with their edit and "Browse", and the language files with their details.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <limits>
#include <set>

#include "resources/dialogs/dialog_ids.h"
#include "shell/localization/localization.h"
#include "tests/options/options_fixture.h"
#include "tests/settings/temp_folder.h"
#include "tests/ui/offscreen.h"
#include "ui/dialog/report_list.h"
#include "ui/options/page_general.h"
#include "ui/options/page_reception.h"
#include "ui/options/page_sound.h"
#include "ui/options/pending_settings.h"

namespace {

// The pending number of an id; -1 when the id has no pending value.
std::int32_t Pending(const OptionsFixture& f, int id) {
    return f.pending.count(id) != 0 ? SettingNumber(f.pending, id) : -1;
}

// Clicks a check box or radio button on its indicator.
void ClickBox(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(4, button->height() / 2));
}
std::string PendingText(const OptionsFixture& f, int id) {
    return SettingText(f.pending, id);
}

QStringList Rows(QListWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->count(); ++i) {
        rows << list->item(i)->text();
    }
    return rows;
}

// Moves the keyboard focus away from whatever has it, as a click elsewhere does.
void FocusElsewhere(OptionsFixture& f) {
    f.form->tree().setFocus(Qt::MouseFocusReason);
    QCoreApplication::processEvents();
}

}  // namespace

class PagesTest : public QObject {
    Q_OBJECT
  private slots:
    void LeadingNumbers();
    void ReceptionPage();
    void SoundPageShowsTheSettings();
    void SoundEditCommitsOnFocusLoss();
    void SoundBrowseAndDeselect();
    void GeneralPageAutostart();
    void LanguagesWithTheSameName();
    void LanguageChoiceMissingOrAbsent();
    void HostileLanguageFiles();
};

void PagesTest::LeadingNumbers() {
    QCOMPARE(LeadingNumber(""), 0);
    QCOMPARE(LeadingNumber("45"), 45);
    QCOMPARE(LeadingNumber("12abc"), 12);
    QCOMPARE(LeadingNumber("abc12"), 0);
    QCOMPARE(LeadingNumber("007"), 7);
    QCOMPARE(LeadingNumber("2147483647"), std::numeric_limits<std::int32_t>::max());
    // Too large for a setting: the largest, never a wrapped (negative) value.
    QCOMPARE(LeadingNumber("2147483648"), std::numeric_limits<std::int32_t>::max());
    QCOMPARE(LeadingNumber("99999999999999999999999"), std::numeric_limits<std::int32_t>::max());
}

void PagesTest::ReceptionPage() {
    namespace ids = dialogs::reception_page;
    OptionsFixture f;
    f.settings[kSettingPopupAutoclose] = TlVariant(std::int32_t{1});
    f.settings[kSettingPopupDeadline] = TlVariant(std::int32_t{30});
    f.Open();
    auto* page = f.ShowPage<COptionsFormPgRdMsgDlg>(2);
    auto* manually = page->Item<QRadioButton>(ids::kManually);
    auto* timed = page->Item<QRadioButton>(ids::kAtExpiration);
    auto* seconds = page->Item<QLineEdit>(ids::kSeconds);
    QVERIFY(timed->isChecked() && !manually->isChecked());
    QCOMPARE(seconds->text(), QStringLiteral("30"));
    QCOMPARE(page->Item<QLabel>(ids::kPopupHeading)->text(),
             QStringLiteral("Popup message window"));
    QCOMPARE(page->Item<QLabel>(ids::kSecondsLabel)->text(), QStringLiteral("sec."));
    QVERIFY(f.pending.empty());  // showing changes nothing

    ClickBox(manually);
    QCOMPARE(Pending(f, kSettingPopupAutoclose), 0);
    QVERIFY(f.pending.at(kSettingPopupAutoclose).IsNumber());
    ClickBox(timed);
    QCOMPARE(Pending(f, kSettingPopupAutoclose), 1);
    // Both stay usable whatever is chosen.
    QVERIFY(seconds->isEnabled() && manually->isEnabled());

    seconds->selectAll();
    QTest::keyClick(seconds, Qt::Key_Delete);
    QCOMPARE(Pending(f, kSettingPopupDeadline), 0);
    QTest::keyClick(seconds, Qt::Key_4);
    QCOMPARE(Pending(f, kSettingPopupDeadline), 4);
    QTest::keyClick(seconds, Qt::Key_5);
    QCOMPARE(Pending(f, kSettingPopupDeadline), 45);
    QTest::keyClicks(seconds, QStringLiteral("x"));
    QCOMPARE(seconds->text(), QStringLiteral("45"));
    // Nothing reached the settings.
    QCOMPARE(SettingNumber(f.settings, kSettingPopupDeadline), 30);
    QCOMPARE(SettingNumber(f.settings, kSettingPopupAutoclose), 1);

    // Shown again, the page starts from the pending values.
    f.Click(f.Group(0));
    f.ShowPage<COptionsFormPgRdMsgDlg>(2);
    QCOMPARE(page->Item<QLineEdit>(ids::kSeconds)->text(), QStringLiteral("45"));
    QVERIFY(page->Item<QRadioButton>(ids::kAtExpiration)->isChecked());

    // A closing mode other than 1 is manual.
    OptionsFixture g;
    g.settings[kSettingPopupAutoclose] = TlVariant(std::int32_t{2});
    g.Open();
    auto* other = g.ShowPage<COptionsFormPgRdMsgDlg>(2);
    QVERIFY(other->Item<QRadioButton>(ids::kManually)->isChecked());
    QCOMPARE(other->Item<QLineEdit>(ids::kSeconds)->text(), QStringLiteral("0"));
}

void PagesTest::SoundPageShowsTheSettings() {
    namespace ids = dialogs::sound_page;
    OptionsFixture f;
    f.settings[kSettingSoundEnabled] = TlVariant(std::int32_t{1});
    f.settings[kSettingSoundBroadcast] = TlVariant("/snd/all.wav");
    f.pending[kSettingSoundPersonal] = TlVariant("/snd/me.wav");  // pending first
    f.Open();
    auto* page = f.ShowPage<COptionsFormDlgSound>(1);
    auto* events = page->Item<TlReportList>(ids::kEvents);
    QCOMPARE(events->topLevelItemCount(), 2);
    QCOMPARE(events->headerItem()->text(0), QStringLiteral("Event"));
    QCOMPARE(events->headerItem()->text(1), QStringLiteral("Sound file name"));
    QCOMPARE(events->columnWidth(0), COptionsFormDlgSound::kEventColumnWidth);
    QCOMPARE(events->columnWidth(1), COptionsFormDlgSound::kFileColumnWidth);
    QCOMPARE(events->topLevelItem(0)->text(0), QStringLiteral("Broadcast message"));
    QCOMPARE(events->topLevelItem(0)->text(1), QStringLiteral("/snd/all.wav"));
    QCOMPARE(events->topLevelItem(1)->text(0), QStringLiteral("Personal message"));
    QCOMPARE(events->topLevelItem(1)->text(1), QStringLiteral("/snd/me.wav"));
    QVERIFY(events->selectedItems().isEmpty());
    QVERIFY(page->Item<QLineEdit>(ids::kFile)->text().isEmpty());
    QCOMPARE(page->selected_row(), 0);
    QCOMPARE(page->selected_setting_id(), int{kSettingSoundBroadcast});
    QCOMPARE(page->Item<QPushButton>(ids::kBrowse)->text(), QStringLiteral("Browse"));

    auto* enable = page->Item<QCheckBox>(ids::kEnable);
    QVERIFY(enable->isChecked());
    ClickBox(enable);
    QCOMPARE(Pending(f, kSettingSoundEnabled), 0);
    enable->click();
    QCOMPARE(Pending(f, kSettingSoundEnabled), 1);
}

void PagesTest::SoundEditCommitsOnFocusLoss() {
    namespace ids = dialogs::sound_page;
    OptionsFixture f;
    f.settings[kSettingSoundBroadcast] = TlVariant("old.wav");
    f.Open();
    auto* page = f.ShowPage<COptionsFormDlgSound>(1);
    int beeps = 0;
    page->SetBeep([&] { ++beeps; });
    auto* file = page->Item<QLineEdit>(ids::kFile);
    auto* events = page->Item<TlReportList>(ids::kEvents);

    // Typed with no row selected: it belongs to the broadcast row, taken when the edit loses the
    // focus, not while typing.
    file->setFocus();
    QTest::keyClicks(file, QStringLiteral("ding.wav"));
    QVERIFY(f.pending.empty());
    FocusElsewhere(f);
    QCOMPARE(beeps, 1);
    QCOMPARE(PendingText(f, kSettingSoundBroadcast), std::string("ding.wav"));
    QCOMPARE(events->topLevelItem(0)->text(1), QStringLiteral("ding.wav"));
    QVERIFY(!f.pending.count(kSettingSoundPersonal));
    QVERIFY(!file->isModified());
    // Losing the focus again without a change takes nothing.
    file->setFocus();
    FocusElsewhere(f);
    QCOMPARE(beeps, 1);

    // Selecting a row takes what was typed for the row before, then shows the new row's file.
    f.pending.clear();
    file->setFocus();
    QTest::keyClicks(file, QStringLiteral("2"));
    events->setCurrentItem(events->topLevelItem(1));
    QCOMPARE(PendingText(f, kSettingSoundBroadcast), std::string("ding.wav2"));
    QCOMPARE(file->text(), QString());  // personal row has no file yet
    QCOMPARE(page->selected_row(), 1);
    QCOMPARE(page->selected_setting_id(), int{kSettingSoundPersonal});
    QVERIFY(!f.pending.count(kSettingSoundPersonal));
}

void PagesTest::SoundBrowseAndDeselect() {
    namespace ids = dialogs::sound_page;
    OptionsFixture f;
    f.settings[kSettingSoundBroadcast] = TlVariant("all.wav");
    f.settings[kSettingSoundPersonal] = TlVariant("me.wav");
    f.Open();
    auto* page = f.ShowPage<COptionsFormDlgSound>(1);
    page->SetBeep([] {});
    std::vector<TlOpenFileRequest> asked;
    std::optional<QString> answer = QStringLiteral("/usr/share/sounds/bell.wav");
    page->SetFilePicker([&](QWidget* owner, const TlOpenFileRequest& request) {
        asked.push_back(request);
        [&] { QCOMPARE(owner, page->window()); }();
        return answer;
    });
    auto* events = page->Item<TlReportList>(ids::kEvents);
    auto* file = page->Item<QLineEdit>(ids::kFile);
    auto* browse = page->Item<QPushButton>(ids::kBrowse);

    QTest::mouseClick(events->viewport(), Qt::LeftButton, Qt::NoModifier,
                      events->visualItemRect(events->topLevelItem(1)).center());
    QCOMPARE(file->text(), QStringLiteral("me.wav"));
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(asked.size(), std::size_t{1});
    QCOMPARE(asked[0].filters,
             QStringList({QStringLiteral("Wave Files (*.wav)"), QStringLiteral("All Files (*)")}));
    QCOMPARE(asked[0].selected_filter, 0);
    QCOMPARE(asked[0].default_suffix, QStringLiteral("wav"));
    QCOMPARE(PendingText(f, kSettingSoundPersonal), std::string("/usr/share/sounds/bell.wav"));
    QCOMPARE(events->topLevelItem(1)->text(1), QStringLiteral("/usr/share/sounds/bell.wav"));
    QCOMPARE(file->text(), QStringLiteral("/usr/share/sounds/bell.wav"));
    QVERIFY(!f.pending.count(kSettingSoundBroadcast));

    // Cancelling the file dialog changes nothing.
    answer.reset();
    f.pending.clear();
    QTest::mouseClick(browse, Qt::LeftButton);
    QVERIFY(f.pending.empty());

    // Clicking empty space below the rows: what was typed goes to the row that was selected,
    // then the edit empties and "Browse" waits for a row.
    file->setFocus();
    file->selectAll();
    QTest::keyClicks(file, QStringLiteral("x.wav"));
    QTest::mouseClick(events->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(10, events->viewport()->height() - 5));
    QVERIFY(events->selectedItems().isEmpty());
    QCOMPARE(PendingText(f, kSettingSoundPersonal), std::string("x.wav"));
    QVERIFY(file->text().isEmpty());
    QCOMPARE(page->selected_row(), -1);
    asked.clear();
    QTest::mouseClick(browse, Qt::LeftButton);
    QVERIFY(asked.empty());
    // Typing now has no row to go to.
    file->setFocus();
    QTest::keyClicks(file, QStringLiteral("lost.wav"));
    FocusElsewhere(f);
    QCOMPARE(PendingText(f, kSettingSoundPersonal), std::string("x.wav"));
    QVERIFY(!f.pending.count(kSettingSoundBroadcast));
}

void PagesTest::GeneralPageAutostart() {
    namespace ids = dialogs::general_page;
    OptionsFixture f;
    f.settings[kSettingAutostart] = TlVariant(std::int32_t{1});
    f.Open();
    auto* page = f.PageOf<COptionsFormPgGenDlg>(0);
    QCOMPARE(f.form->current_page(), page);
    auto* autostart = page->Item<QCheckBox>(ids::kAutostart);
    QVERIFY(autostart->isChecked());
    QCOMPARE(autostart->text(), QStringLiteral("Launch Tolvane on Windows startup"));
    QCOMPARE(page->Item<QLabel>(ids::kRestartNote)->text(),
             QStringLiteral("Note: restart Tolvane for language change to take effect"));
    // The heading is cut to its text, so that its line shows after it.
    auto* heading = page->Item<QLabel>(ids::kLaunchHeading);
    QCOMPARE(heading->width(),
             heading->fontMetrics().size(Qt::TextSingleLine, heading->text()).width() + 2);
    ClickBox(autostart);
    QCOMPARE(Pending(f, kSettingAutostart), 0);
    autostart->click();
    QCOMPARE(Pending(f, kSettingAutostart), 1);
    // No language folder: an empty list, an empty details label, no language chosen.
    QCOMPARE(page->Item<QListWidget>(ids::kLanguageList)->count(), 0);
    QVERIFY(page->Item<QLabel>(ids::kLanguageDetails)->text().isEmpty());
    QVERIFY(!f.pending.count(kSettingLanguageFile));
}

void PagesTest::LanguagesWithTheSameName() {
    namespace ids = dialogs::general_page;
    OptionsFixture f;
    f.WriteLanguageFile("de_a.lng",
                        "[Info]\nLanguageName=Deutsch\nAuthor=Anna\nProductVersion=1.0\n");
    f.WriteLanguageFile("de_b.lng",
                        "[Info]\nLanguageName=Deutsch\nAuthor=Bernd\nProductVersion=2.0\n");
    f.WriteLanguageFile("anon.LNG", "[OptionsForm]\n602=X\n");
    f.WriteLanguageFile("notes.txt", "[Info]\nLanguageName=Text\n");
    f.settings[kSettingLanguageFile] = TlVariant("de_b.lng");
    f.Open();
    auto* page = f.PageOf<COptionsFormPgGenDlg>(0);
    auto* list = page->Item<QListWidget>(ids::kLanguageList);
    auto* details = page->Item<QLabel>(ids::kLanguageDetails);
    QCOMPARE(Rows(list), QStringList({"<>", "Deutsch", "Deutsch"}));
    // The stored file is selected and described; choosing it again changes nothing real.
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(page->LanguageOfRow(list->currentRow())->file_name, std::string("de_b.lng"));
    QCOMPARE(details->text(), QStringLiteral("Translator: Bernd\nVersion:2.0"));
    QCOMPARE(PendingText(f, kSettingLanguageFile), std::string("de_b.lng"));

    // Each entry keeps its own file, author and version.
    std::set<std::string> files;
    for (int row = 0; row < list->count(); ++row) {
        const LangFileInfo* info = page->LanguageOfRow(row);
        QVERIFY(info != nullptr);
        files.insert(info->file_name);
        QCOMPARE(QString::fromStdString(info->language_name), list->item(row)->text());
    }
    const std::set<std::string> expected = {"anon.LNG", "de_a.lng", "de_b.lng"};
    QVERIFY(files == expected);

    for (int row = 0; row < list->count(); ++row) {
        const LangFileInfo* info = page->LanguageOfRow(row);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(list->item(row)).center());
        // Only the file name, never the folder.
        QCOMPARE(PendingText(f, kSettingLanguageFile), info->file_name);
        QCOMPARE(details->text(), QStringLiteral("Translator: %1\nVersion:%2")
                                      .arg(QString::fromStdString(info->author),
                                           QString::fromStdString(info->product_version)));
    }
    QCOMPARE(SettingText(f.settings, kSettingLanguageFile), std::string("de_b.lng"));
}

void PagesTest::LanguageChoiceMissingOrAbsent() {
    namespace ids = dialogs::general_page;
    OptionsFixture f;
    f.WriteLanguageFile("de.lng", "[Info]\nLanguageName=Deutsch\nAuthor=A\nProductVersion=2.0\n");
    // Stored names compare exactly: another case is another file.
    f.settings[kSettingLanguageFile] = TlVariant("DE.lng");
    f.Open();
    auto* page = f.PageOf<COptionsFormPgGenDlg>(0);
    auto* list = page->Item<QListWidget>(ids::kLanguageList);
    QCOMPARE(list->count(), 1);
    QVERIFY(list->selectedItems().isEmpty());
    QVERIFY(page->Item<QLabel>(ids::kLanguageDetails)->text().isEmpty());
    QVERIFY(!f.pending.count(kSettingLanguageFile));
}

void PagesTest::HostileLanguageFiles() {
    namespace ids = dialogs::general_page;
    OptionsFixture f;
    std::string huge =
        "[Info]\nLanguageName=" + std::string(100000, 'L') + "\nAuthor=\xff\xfe\x80\n";
    f.WriteLanguageFile("huge.lng", huge);
    f.WriteLanguageFile("binary.lng", std::string("\0\x01[Info\n=\n[\n]]]\r\r\n%s%n%x", 24));
    f.WriteLanguageFile("percent.lng",
                        "[Info]\nLanguageName=%1 %s\nAuthor=%2%n\nProductVersion=%1\n");
    std::filesystem::create_directories(f.folder() / "language" / "folder.lng");
    f.Open();
    auto* page = f.PageOf<COptionsFormPgGenDlg>(0);
    auto* list = page->Item<QListWidget>(ids::kLanguageList);
    QCOMPARE(list->count(), 3);
    for (int row = 0; row < list->count(); ++row) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(list->item(row)).center());
        QVERIFY(page->LanguageOfRow(row) != nullptr);
        QCOMPARE(PendingText(f, kSettingLanguageFile), page->LanguageOfRow(row)->file_name);
        QVERIFY(page->LanguageOfRow(row)->language_name.size() <= 2047);
    }
    // Placeholders in a file's texts are shown as they are.
    const QList<QListWidgetItem*> percent =
        list->findItems(QStringLiteral("%1 %s"), Qt::MatchExactly);
    QCOMPARE(percent.size(), 1);
    list->setCurrentItem(percent[0]);
    QCOMPARE(page->Item<QLabel>(ids::kLanguageDetails)->text(),
             QStringLiteral("Translator: %2%n\nVersion:%1"));
}

int main(int argc, char** argv) {
    TempConfigHome home;
    UseOffscreenScreen(1024, 768);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    LoadLocalization("");
    PagesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "pages_test.moc"
