#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include "shell/settings/settings.h"
#include "ui/options/options_form.h"
#include "ui/options/window_closed_event.h"

// Stands for the main window: records the closed notices it receives.
class ClosedNoticeRecorder : public QObject {
  public:
    std::vector<const void*> closed;

  protected:
    bool event(QEvent* event) override {
        if (event->type() == TlWindowClosedEvent::kType) {
            closed.push_back(static_cast<TlWindowClosedEvent*>(event)->window());
            return true;
        }
        return QObject::event(event);
    }
};

// An options window over settings maps and a program folder of the test's own.
struct OptionsFixture {
    QTemporaryDir program_folder;
    SettingsMap settings;
    SettingsMap pending;
    ClosedNoticeRecorder owner;
    QPointer<COptionsForm> form;
    int applied = 0;

    ~OptionsFixture() { delete form.data(); }

    std::filesystem::path folder() const { return program_folder.path().toStdString(); }

    void WriteLanguageFile(std::string_view name, std::string_view content) const {
        std::filesystem::create_directories(folder() / "language");
        std::ofstream out(folder() / "language" / std::string(name), std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }

    void Open() {
        form = new COptionsForm({&owner, &settings, &pending, folder()});
        form->SetApplyCallback([this] { ++applied; });
        QVERIFY(form->Create());
        form->show();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form));
        form->tree().doItemsLayout();
    }

    QStandardItem* Group(int index) const { return form->tree().TopLevelItem(index); }
    QStandardItem* PageItem(int group) const { return Group(group)->child(0); }

    // Clicks an item of the page tree as the user does.
    void Click(QStandardItem* item, Qt::MouseButton button = Qt::LeftButton) const {
        TlTreeCtrl& tree = form->tree();
        QTest::mouseClick(tree.viewport(), button, Qt::NoModifier, tree.ItemRect(item).center());
    }

    // The page object of a group, whatever is on view.
    template <class Page>
    Page* PageOf(int group) const {
        return dynamic_cast<Page*>(form->root().GetChild(group)->GetChild(0)->GetValue().page);
    }

    // Lets posted events (the queued close, deferred deletes, notices) run.
    static void Settle() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
        }
    }

    // Shows a group's page through the tree and returns the page.
    template <class Page>
    Page* ShowPage(int group) {
        Click(Group(group));
        return PageOf<Page>(group);
    }
};
