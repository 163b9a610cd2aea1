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
std::string PendingText(const OptionsFixture& f, int id) {
    return SettingText(f.pending, id);
}

// Clicks a check box or radio button on its indicator.
void ClickBox(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(4, button->height() / 2));
}

void ClickRow(QAbstractItemView* view, QRect row) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
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
    void ReceptionPage();
    void SoundEditGoesToItsRowOnFocusLoss();
    void SoundBrowseAndDeselect();
    void LanguagesWithTheSameName();
    void NoLanguageChosen();
    void HostileLanguageFiles();
};

void PagesTest::ReceptionPage() {
    namespace ids = dialogs::reception_page;
    QCOMPARE(LeadingNumber("12abc"), 12);
    QCOMPARE(LeadingNumber("abc12"), 0);
    // Too large for a setting: the largest, never a wrapped (negative) value.
    QCOMPARE(LeadingNumber("2147483648"), std::numeric_limits<std::int32_t>::max());
    QCOMPARE(LeadingNumber("99999999999999999999999"), std::numeric_limits<std::int32_t>::max());

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
    QVERIFY(f.pending.empty());  // showing changes nothing

    ClickBox(manually);
    QCOMPARE(Pending(f, kSettingPopupAutoclose), 0);
    ClickBox(timed);
    QCOMPARE(Pending(f, kSettingPopupAutoclose), 1);
    seconds->selectAll();
    QTest::keyClick(seconds, Qt::Key_Delete);
    QCOMPARE(Pending(f, kSettingPopupDeadline), 0);
    QTest::keyClick(seconds, Qt::Key_4);
    QCOMPARE(Pending(f, kSettingPopupDeadline), 4);
    QTest::keyClick(seconds, Qt::Key_5);
    QCOMPARE(Pending(f, kSettingPopupDeadline), 45);
    QCOMPARE(SettingNumber(f.settings, kSettingPopupDeadline), 30);

    // Only 1 means closing by itself.
    OptionsFixture g;
    g.settings[kSettingPopupAutoclose] = TlVariant(std::int32_t{2});
    g.Open();
    QVERIFY(g.ShowPage<COptionsFormPgRdMsgDlg>(2)->Item<QRadioButton>(ids::kManually)->isChecked());
}

void PagesTest::SoundEditGoesToItsRowOnFocusLoss() {
    namespace ids = dialogs::sound_page;
    OptionsFixture f;
    f.settings[kSettingSoundEnabled] = TlVariant(std::int32_t{1});
    f.settings[kSettingSoundBroadcast] = TlVariant("old.wav");
    f.pending[kSettingSoundPersonal] = TlVariant("me.wav");  // pending values first
    f.Open();
    auto* page = f.ShowPage<COptionsFormDlgSound>(1);
    int beeps = 0;
    page->SetBeep([&] { ++beeps; });
    auto* events = page->Item<TlReportList>(ids::kEvents);
    auto* file = page->Item<QLineEdit>(ids::kFile);
    QCOMPARE(events->columnWidth(1), 180);
    QCOMPARE(events->topLevelItem(0)->text(1), QStringLiteral("old.wav"));
    QCOMPARE(events->topLevelItem(1)->text(1), QStringLiteral("me.wav"));
    QVERIFY(events->selectedItems().isEmpty() && file->text().isEmpty());
    auto* enable = page->Item<QCheckBox>(ids::kEnable);
    QVERIFY(enable->isChecked());
    ClickBox(enable);
    QCOMPARE(Pending(f, kSettingSoundEnabled), 0);

    // Typed with no row selected: it belongs to the broadcast row, and is taken when the edit
    // loses the focus, not while typing.
    file->setFocus();
    QTest::keyClicks(file, QStringLiteral("ding.wav"));
    QVERIFY(!f.pending.count(kSettingSoundBroadcast));
    FocusElsewhere(f);
    QCOMPARE(beeps, 1);
    QCOMPARE(PendingText(f, kSettingSoundBroadcast), std::string("ding.wav"));
    QCOMPARE(events->topLevelItem(0)->text(1), QStringLiteral("ding.wav"));
    QCOMPARE(PendingText(f, kSettingSoundPersonal), std::string("me.wav"));
    // Losing the focus again without a change takes nothing.
    file->setFocus();
    FocusElsewhere(f);
    QCOMPARE(beeps, 1);

    // Selecting a row takes what was typed for the row before, then shows the new row's file.
    file->setFocus();
    QTest::keyClicks(file, QStringLiteral("2"));
    events->setCurrentItem(events->topLevelItem(1));
    QCOMPARE(PendingText(f, kSettingSoundBroadcast), std::string("ding.wav2"));
    QCOMPARE(file->text(), QStringLiteral("me.wav"));
    QCOMPARE(page->selected_setting_id(), int{kSettingSoundPersonal});
}

void PagesTest::SoundBrowseAndDeselect() {
    namespace ids = dialogs::sound_page;
    OptionsFixture f;
    f.settings[kSettingSoundPersonal] = TlVariant("me.wav");
    f.Open();
    auto* page = f.ShowPage<COptionsFormDlgSound>(1);
    page->SetBeep([] {});
    std::vector<TlOpenFileRequest> asked;
    std::optional<QString> answer = QStringLiteral("/usr/share/sounds/bell.wav");
    page->SetFilePicker([&](QWidget*, const TlOpenFileRequest& request) {
        asked.push_back(request);
        return answer;
    });
    auto* events = page->Item<TlReportList>(ids::kEvents);
    auto* file = page->Item<QLineEdit>(ids::kFile);
    auto* browse = page->Item<QPushButton>(ids::kBrowse);

    ClickRow(events, events->visualItemRect(events->topLevelItem(1)));
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(asked.size(), std::size_t{1});
    QCOMPARE(asked[0].filters, QStringList({"Wave Files (*.wav)", "All Files (*)"}));
    QCOMPARE(asked[0].selected_filter, 0);
    QCOMPARE(asked[0].default_suffix, QStringLiteral("wav"));
    QCOMPARE(PendingText(f, kSettingSoundPersonal), std::string("/usr/share/sounds/bell.wav"));
    QCOMPARE(events->topLevelItem(1)->text(1), file->text());
    QVERIFY(!f.pending.count(kSettingSoundBroadcast));  // only the selected row's setting
    answer.reset();                                     // cancelled: nothing changes
    f.pending.clear();
    QTest::mouseClick(browse, Qt::LeftButton);
    QVERIFY(f.pending.empty());

    // A click on empty space below the rows: what was typed goes to the row that was selected,
    // then the edit empties, and neither typing nor "Browse" has a row to go to.
    file->setFocus();
    file->selectAll();
    QTest::keyClicks(file, QStringLiteral("x.wav"));
    ClickRow(events, QRect(0, events->viewport()->height() - 10, 10, 10));
    QVERIFY(events->selectedItems().isEmpty() && file->text().isEmpty());
    QCOMPARE(PendingText(f, kSettingSoundPersonal), std::string("x.wav"));
    asked.clear();
    QTest::mouseClick(browse, Qt::LeftButton);
    QVERIFY(asked.empty());
    file->setFocus();
    QTest::keyClicks(file, QStringLiteral("lost.wav"));
    FocusElsewhere(f);
    QCOMPARE(PendingText(f, kSettingSoundPersonal), std::string("x.wav"));
    QVERIFY(!f.pending.count(kSettingSoundBroadcast));
}

void PagesTest::LanguagesWithTheSameName() {
    namespace ids = dialogs::general_page;
    OptionsFixture f;
    f.WriteLanguageFile("de_a.lng",
                        "[Info]\nLanguageName=Deutsch\nAuthor=Anna\nProductVersion=1\n");
    f.WriteLanguageFile("de_b.lng",
                        "[Info]\nLanguageName=Deutsch\nAuthor=Bernd\nProductVersion=2\n");
    f.WriteLanguageFile("anon.LNG", "[OptionsForm]\n602=X\n");
    f.WriteLanguageFile("notes.txt", "[Info]\nLanguageName=Text\n");
    f.settings[kSettingLanguageFile] = TlVariant("de_b.lng");
    f.settings[kSettingAutostart] = TlVariant(std::int32_t{1});
    f.Open();
    auto* page = f.PageOf<COptionsFormPgGenDlg>(0);
    auto* autostart = page->Item<QCheckBox>(ids::kAutostart);
    QVERIFY(autostart->isChecked());
    ClickBox(autostart);
    QCOMPARE(Pending(f, kSettingAutostart), 0);

    auto* list = page->Item<QListWidget>(ids::kLanguageList);
    auto* details = page->Item<QLabel>(ids::kLanguageDetails);
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(0)->text(), QStringLiteral("<>"));  // no "Info" section
    // The stored file is selected and described.
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(page->LanguageOfRow(list->currentRow())->file_name, std::string("de_b.lng"));
    QCOMPARE(details->text(), QStringLiteral("Translator: Bernd\nVersion:2"));
    // Each entry keeps its own file, author and version; choosing one stores only its file name.
    std::set<std::string> files;
    for (int row = 0; row < list->count(); ++row) {
        const LangFileInfo* info = page->LanguageOfRow(row);
        ClickRow(list, list->visualItemRect(list->item(row)));
        QCOMPARE(PendingText(f, kSettingLanguageFile), info->file_name);
        QCOMPARE(details->text(), QStringLiteral("Translator: %1\nVersion:%2")
                                      .arg(QString::fromStdString(info->author),
                                           QString::fromStdString(info->product_version)));
        files.insert(info->file_name);
    }
    QVERIFY(files == std::set<std::string>({"anon.LNG", "de_a.lng", "de_b.lng"}));
    QCOMPARE(SettingText(f.settings, kSettingLanguageFile), std::string("de_b.lng"));
}

void PagesTest::NoLanguageChosen() {
    namespace ids = dialogs::general_page;
    for (bool with_folder : {false, true}) {
        OptionsFixture f;
        if (with_folder) {
            f.WriteLanguageFile("de.lng", "[Info]\nLanguageName=Deutsch\n");
        }
        // Stored names compare exactly: another case is another file.
        f.settings[kSettingLanguageFile] = TlVariant("DE.lng");
        f.Open();
        auto* page = f.PageOf<COptionsFormPgGenDlg>(0);
        QCOMPARE(page->Item<QListWidget>(ids::kLanguageList)->count(), with_folder ? 1 : 0);
        QVERIFY(page->Item<QListWidget>(ids::kLanguageList)->selectedItems().isEmpty());
        QVERIFY(page->Item<QLabel>(ids::kLanguageDetails)->text().isEmpty());
        QVERIFY(!f.pending.count(kSettingLanguageFile));
    }
}

void PagesTest::HostileLanguageFiles() {
    namespace ids = dialogs::general_page;
    OptionsFixture f;
    f.WriteLanguageFile(
        "huge.lng", "[Info]\nLanguageName=" + std::string(100000, 'L') + "\nAuthor=\xff\xfe\x80\n");
    f.WriteLanguageFile("binary.lng", std::string("\0\x01[Info\n=\n[\n]]]\r\r\n%s%n%x", 24));
    f.WriteLanguageFile("percent.lng",
                        "[Info]\nLanguageName=%1 %s\nAuthor=%2%n\nProductVersion=%1\n");
    std::filesystem::create_directories(f.folder() / "language" / "folder.lng");
    f.Open();
    auto* page = f.PageOf<COptionsFormPgGenDlg>(0);
    auto* list = page->Item<QListWidget>(ids::kLanguageList);
    QCOMPARE(list->count(), 3);
    for (int row = 0; row < list->count(); ++row) {
        ClickRow(list, list->visualItemRect(list->item(row)));
        QCOMPARE(PendingText(f, kSettingLanguageFile), page->LanguageOfRow(row)->file_name);
        QVERIFY(page->LanguageOfRow(row)->language_name.size() <= 2047);
    }
    // Placeholders in a file's texts are shown as they are.
    list->setCurrentItem(list->findItems(QStringLiteral("%1 %s"), Qt::MatchExactly).value(0));
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
