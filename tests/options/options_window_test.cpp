// The options window: its fixed, centred layout; the page tree, whose groups cannot be selected
// by click or key and show their first page instead; a page rebuilt each time it is shown; "OK"
// applies and closes, "Cancel" and the close button only close; the closed notice.
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTest>

#include "resources/dialogs/dialog_ids.h"
#include "shell/localization/localization.h"
#include "tests/options/options_fixture.h"
#include "tests/settings/temp_folder.h"
#include "tests/ui/offscreen.h"
#include "ui/dialog/tl_dialog.h"
#include "ui/options/page_general.h"
#include "ui/options/page_reception.h"
#include "ui/options/page_sound.h"

namespace {

// Lets posted events (the queued close, deferred deletes, notices) run.
void Settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

}  // namespace

class OptionsWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void FixedCentredLayout();
    void OpensOnTheFirstPageWithNothingSelected();
    void ClickingAGroupShowsItsFirstPage();
    void ArrowKeysCannotSelectAGroup();
    void PagesAreRebuiltFromPendingValues();
    void OkAppliesAndCloses();
    void CancelAndCloseApplyNothing();
};

void OptionsWindowTest::FixedCentredLayout() {
    OptionsFixture f;
    f.Open();
    COptionsForm& form = *f.form;
    QCOMPARE(form.size(), QSize(560, 390));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(form.pos(), QPoint((screen.width() - 560) / 2, (screen.height() - 390) / 2));
    QVERIFY(!(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(form.windowTitle(), QStringLiteral("Options"));
    QVERIFY(!form.windowIcon().isNull());

    QCOMPARE(form.tree().geometry(), QRect(7, 7, 183, 343));
    QCOMPARE(form.heading().geometry(), QRect(195, 7, 355, 20));
    QCOMPARE(form.heading().palette().color(QPalette::Window), QColor(128, 128, 128));
    QCOMPARE(form.heading().palette().color(QPalette::WindowText), QColor(Qt::white));
    QCOMPARE(form.ok_button().geometry(), QRect(400, 360, 75, 25));
    QCOMPARE(form.cancel_button().geometry(), QRect(480, 360, 75, 25));
    QCOMPARE(form.ok_button().text(), QStringLiteral("OK"));
    QCOMPARE(form.cancel_button().text(), QStringLiteral("Cancel"));
}

void OptionsWindowTest::OpensOnTheFirstPageWithNothingSelected() {
    OptionsFixture f;
    f.Open();
    TlTreeCtrl& tree = f.form->tree();
    QCOMPARE(tree.TopLevelItemCount(), 3);
    const QString groups[] = {"General", "Interface", "Behaviour"};
    const QString pages[] = {"System", "Sound effects", "Message reception"};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(f.Group(i)->text(), groups[i]);
        QVERIFY(tree.IsExpanded(f.Group(i)));
        QCOMPARE(f.Group(i)->rowCount(), 1);
        QCOMPARE(f.PageItem(i)->text(), pages[i]);
        QVERIFY(TlOptionsForm::DescriptorOf(f.Group(i))->page == nullptr);
    }
    QVERIFY(tree.GetSelectedItem() == nullptr);
    QVERIFY(tree.selectionModel()->selectedIndexes().isEmpty());
    QVERIFY(f.form->current_page() == f.PageOf<COptionsFormPgGenDlg>(0));
    QCOMPARE(f.form->current_page()->window()->geometry(), QRect(200, 30, 360, 320));
    QVERIFY(f.form->current_page()->window()->isVisible());
    QCOMPARE(f.form->heading().text(), QStringLiteral("System"));

    // Focus alone selects nothing: the first item is a group.
    tree.setFocus();
    QCoreApplication::processEvents();
    QVERIFY(tree.GetSelectedItem() == nullptr);
}

void OptionsWindowTest::ClickingAGroupShowsItsFirstPage() {
    OptionsFixture f;
    f.Open();
    TlTreeCtrl& tree = f.form->tree();
    const QString headings[] = {"System", "Sound effects", "Message reception"};
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        for (int i : {2, 1, 0}) {
            f.Click(f.Group(i), button);
            QCOMPARE(tree.GetSelectedItem(), f.PageItem(i));
            QVERIFY(tree.IsSelected(f.PageItem(i)));
            QVERIFY(!tree.IsSelected(f.Group(i)));
            QVERIFY(tree.IsExpanded(f.Group(i)));
            QCOMPARE(f.form->heading().text(), headings[i]);
            QCOMPARE(f.form->current_page(), TlOptionsForm::DescriptorOf(f.PageItem(i))->page);
        }
    }
    // Only one page window exists at a time.
    QCOMPARE(f.form->findChildren<QLineEdit*>().size(), 0);  // the general page has no edit

    // The selected item clicked again: nothing changes, not even the page's window.
    QPointer<QWidget> window = f.form->current_page()->window();
    f.Click(f.PageItem(0));
    QCOMPARE(f.form->current_page()->window(), window.data());
    // A page item clicked directly is shown.
    f.Click(f.PageItem(2));
    QCOMPARE(f.form->heading().text(), QStringLiteral("Message reception"));
    QVERIFY(window.isNull());
    // The right button does not move the selection to a page item by itself.
    f.Click(f.PageItem(1), Qt::RightButton);
    QCOMPARE(tree.GetSelectedItem(), f.PageItem(2));
    // A double click on a group does not fold it.
    QTest::mouseDClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                       tree.ItemRect(f.Group(0)).center());
    QVERIFY(tree.IsExpanded(f.Group(0)));
    QCOMPARE(tree.GetSelectedItem(), f.PageItem(0));
}

void OptionsWindowTest::ArrowKeysCannotSelectAGroup() {
    OptionsFixture f;
    f.Open();
    TlTreeCtrl& tree = f.form->tree();
    f.Click(f.PageItem(0));
    QPointer<QWidget> window = f.form->current_page()->window();
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Left, Qt::Key_Home}) {
        QTest::keyClick(&tree, key);
        QCOMPARE(tree.GetSelectedItem(), f.PageItem(0));
        QVERIFY(!window.isNull());
    }
    f.Click(f.PageItem(2));
    for (Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_End, Qt::Key_PageUp}) {
        QTest::keyClick(&tree, key);
        QCOMPARE(tree.GetSelectedItem(), f.PageItem(2));
    }
    QVERIFY(!tree.IsSelected(f.Group(1)));
    QCOMPARE(f.form->heading().text(), QStringLiteral("Message reception"));
    // The program cannot select a group either.
    QVERIFY(!tree.SelectItem(f.Group(1)));
    tree.setCurrentIndex(f.Group(1)->index());
    QCOMPARE(tree.GetSelectedItem(), f.PageItem(2));
}

void OptionsWindowTest::PagesAreRebuiltFromPendingValues() {
    OptionsFixture f;
    f.settings[kSettingPopupDeadline] = TlVariant(std::int32_t{30});
    f.Open();
    auto* reception = f.ShowPage<COptionsFormPgRdMsgDlg>(2);
    namespace ids = dialogs::reception_page;
    auto* seconds = reception->Item<QLineEdit>(ids::kSeconds);
    QCOMPARE(seconds->text(), QStringLiteral("30"));
    seconds->selectAll();
    QTest::keyClicks(seconds, QStringLiteral("75"));
    QPointer<QWidget> old_window = reception->window();

    f.Click(f.Group(1));
    QVERIFY(old_window.isNull());
    QVERIFY(reception->window() == nullptr);
    f.Click(f.Group(2));
    QVERIFY(reception->window() != nullptr);
    QCOMPARE(reception->Item<QLineEdit>(ids::kSeconds)->text(), QStringLiteral("75"));
    QCOMPARE(SettingNumber(f.settings, kSettingPopupDeadline), 30);  // not applied
}

void OptionsWindowTest::OkAppliesAndCloses() {
    OptionsFixture f;
    f.Open();
    const void* address = f.form.data();
    QTest::mouseClick(&f.form->ok_button(), Qt::LeftButton);
    QCOMPARE(f.applied, 1);
    QVERIFY(!f.form.isNull());  // the close is posted
    Settle();
    QVERIFY(f.form.isNull());
    QCOMPARE(f.owner.closed, std::vector<const void*>({address}));
}

void OptionsWindowTest::CancelAndCloseApplyNothing() {
    {
        OptionsFixture f;
        f.Open();
        f.ShowPage<COptionsFormDlgSound>(1);
        QTest::mouseClick(&f.form->cancel_button(), Qt::LeftButton);
        Settle();
        QVERIFY(f.form.isNull());
        QCOMPARE(f.applied, 0);
        QCOMPARE(f.owner.closed.size(), std::size_t{1});
    }
    {
        OptionsFixture f;
        f.Open();
        f.form->close();
        Settle();
        QVERIFY(f.form.isNull());
        QCOMPARE(f.applied, 0);
        QCOMPARE(f.owner.closed.size(), std::size_t{1});
    }
}

int main(int argc, char** argv) {
    TempConfigHome home;
    UseOffscreenScreen(1024, 768);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    LoadLocalization("");
    OptionsWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "options_window_test.moc"
