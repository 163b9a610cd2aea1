// Takes the pictures of the options window's three pages, of the about box and of the popup in
// German for the documentation, on Qt's offscreen platform (no network, no tray, no settings of
// the user's):
//   tolvane-screenshots <output folder>
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>

#include "archive/archive.h"
#include "archive/array_data_set.h"
#include "archive/file_time.h"
#include "resources/dialogs/dialog_ids.h"
#include "shell/localization/localization.h"
#include "ui/about/about_dlg.h"
#include "ui/dialog/report_list.h"
#include "ui/options/options_form.h"
#include "ui/options/page_sound.h"
#include "ui/popup_msg_form.h"

namespace {

bool Save(QWidget* window, const QDir& folder, const QString& name) {
    QCoreApplication::processEvents();
    const QString path = folder.filePath(name);
    // A shaped window (the popup) is transparent outside its shape.
    QImage image(window->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    if (!window->mask().isEmpty()) {
        painter.setClipRegion(window->mask());
    }
    painter.drawPixmap(0, 0, window->grab());
    painter.end();
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    // A home of its own, so that nothing of the user's configuration is read or written.
    const QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
        qputenv(name, home.path().toLocal8Bit());
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "1");
    // The pictures show the German texts, so dates and times are written the German way too.
    qputenv("LC_ALL", "de_DE.UTF-8");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    LoadLocalization("");

    SettingsMap settings;
    settings[kSettingAutostart] = TlVariant(std::int32_t{1});
    settings[kSettingPopupAutoclose] = TlVariant(std::int32_t{1});
    settings[kSettingPopupDeadline] = TlVariant(std::int32_t{15});
    settings[kSettingSoundEnabled] = TlVariant(std::int32_t{1});
    settings[kSettingSoundBroadcast] = TlVariant("/usr/share/sounds/tolvane/broadcast.wav");
    settings[kSettingSoundPersonal] = TlVariant("/usr/share/sounds/tolvane/personal.wav");
    settings[kSettingLanguageFile] = TlVariant("german.lng");
    SettingsMap pending;

    auto* form = new COptionsForm({nullptr, &settings, &pending, {}});
    form->Create();
    form->show();
    bool ok = true;
    TlTreeCtrl& tree = form->tree();
    const char* names[] = {"options-system.png", "options-sound.png", "options-reception.png"};
    for (int group = 0; group < 3; ++group) {
        tree.SelectItem(tree.TopLevelItem(group)->child(0));
        if (group == 1) {
            auto* page = static_cast<COptionsFormDlgSound*>(form->current_page());
            auto* events = page->Item<TlReportList>(dialogs::sound_page::kEvents);
            events->setCurrentItem(events->topLevelItem(1));
        }
        ok = Save(form, folder, QString::fromLatin1(names[group])) && ok;
    }
    delete form;

    CAboutDlg about;
    about.Create(nullptr);
    about.window()->show();
    ok = Save(about.window(), folder, QStringLiteral("about.png")) && ok;

    LoadLocalization("german.lng");
    TlArrayDataSet archive;
    std::mutex lock;
    for (const char* text : {"Der Drucker im zweiten Stock ist wieder frei.",
                             "Besprechung um 15 Uhr im großen Saal. Bitte bringt die Zahlen für "
                             "das dritte Quartal mit. Grüße, Jürgen"}) {
        ArchiveMessage(archive, lock,
                       {1, "JUERGEN", "ANNA", text, file_time::FromCalendar({2026, 12, 7, 9, 41})});
    }
    CPopupMsgForm popup(nullptr);
    popup.SetDataSet(&archive, &lock);
    popup.Popup();
    ok = Save(&popup, folder, QStringLiteral("popup-german.png")) && ok;
    return ok ? 0 : 1;
}
