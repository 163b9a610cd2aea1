// The options window: fixed and centred; the page tree, whose groups cannot be selected by
// click, key or program and show their first page instead; a page rebuilt each time it is
// shown; "OK" applies and closes, "Cancel" and the close button only close.
#include <QLineEdit>
#include <QScreen>
#include <QTest>

#include "resources/dialogs/dialog_ids.h"
#include "shell/localization/localization.h"
#include "tests/options/options_fixture.h"
#include "tests/settings/temp_folder.h"
#include "tests/ui/offscreen.h"
#include "ui/options/page_general.h"
#include "ui/options/page_reception.h"

class OptionsWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void OpensCentredOnTheFirstPage();
    void ClickingAGroupShowsItsFirstPage();
    void ArrowKeysCannotSelectAGroup();
    void OnlyOkApplies();
};

void OptionsWindowTest::OpensCentredOnTheFirstPage() {
    OptionsFixture f;
    f.Open();
    COptionsForm& form = *f.form;
    QCOMPARE(form.size(), QSize(560, 390));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(form.pos(), QPoint((screen.width() - 560) / 2, (screen.height() - 390) / 2));
    TlTreeCtrl& tree = form.tree();
    QVERIFY(tree.IsExpanded(f.Group(0)) && tree.IsExpanded(f.Group(2)));
    QVERIFY(form.current_page() == f.PageOf<COptionsFormPgGenDlg>(0));
    QCOMPARE(form.current_page()->window()->geometry(), QRect(200, 30, 360, 320));
    QCOMPARE(form.heading().text(), QStringLiteral("System"));
    // Nothing is selected, and focus alone selects nothing: the first item is a group.
    tree.setFocus();
    QCoreApplication::processEvents();
    QVERIFY(tree.GetSelectedItem() == nullptr);
    QVERIFY(tree.selectionModel()->selectedIndexes().isEmpty());
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
            QVERIFY(tree.IsSelected(f.PageItem(i)) && !tree.IsSelected(f.Group(i)));
            QVERIFY(tree.IsExpanded(f.Group(i)));
            QCOMPARE(f.form->heading().text(), headings[i]);
            QCOMPARE(f.form->current_page(), TlOptionsForm::DescriptorOf(f.PageItem(i))->page);
        }
    }
    // The selected item clicked again changes nothing, not even the page's window.
    QPointer<QWidget> window = f.form->current_page()->window();
    f.Click(f.PageItem(0));
    QCOMPARE(f.form->current_page()->window(), window.data());
    // A page item clicked directly is shown, and the old page's window is gone.
    f.Click(f.PageItem(2));
    QCOMPARE(f.form->heading().text(), QStringLiteral("Message reception"));
    QVERIFY(window.isNull());
    // The right button alone does not move the selection to a page item.
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
    }
    QVERIFY(!window.isNull());
    f.Click(f.PageItem(2));
    for (Qt::Key key : {Qt::Key_Up, Qt::Key_End, Qt::Key_PageUp}) {
        QTest::keyClick(&tree, key);
        QCOMPARE(tree.GetSelectedItem(), f.PageItem(2));
    }
    QVERIFY(!tree.IsSelected(f.Group(1)));
    // Nor can the program select a group.
    QVERIFY(!tree.SelectItem(f.Group(1)));
    tree.setCurrentIndex(f.Group(1)->index());
    QCOMPARE(tree.GetSelectedItem(), f.PageItem(2));
    QCOMPARE(f.form->heading().text(), QStringLiteral("Message reception"));
}

void OptionsWindowTest::OnlyOkApplies() {
    enum class Close { Ok, Cancel, CloseButton };
    for (Close how : {Close::Ok, Close::Cancel, Close::CloseButton}) {
        OptionsFixture f;
        f.settings[kSettingPopupDeadline] = TlVariant(std::int32_t{30});
        f.Open();
        // A change survives switching pages: each showing starts from the pending values.
        auto* page = f.ShowPage<COptionsFormPgRdMsgDlg>(2);
        auto* seconds = page->Item<QLineEdit>(dialogs::reception_page::kSeconds);
        seconds->selectAll();
        QTest::keyClicks(seconds, QStringLiteral("75"));
        f.Click(f.Group(1));
        QVERIFY(page->window() == nullptr);
        f.ShowPage<COptionsFormPgRdMsgDlg>(2);
        QCOMPARE(page->Item<QLineEdit>(dialogs::reception_page::kSeconds)->text(),
                 QStringLiteral("75"));

        const void* address = f.form.data();
        switch (how) {
            case Close::Ok:
                QTest::mouseClick(&f.form->ok_button(), Qt::LeftButton);
                break;
            case Close::Cancel:
                QTest::mouseClick(&f.form->cancel_button(), Qt::LeftButton);
                break;
            case Close::CloseButton:
                f.form->close();
                break;
        }
        QCOMPARE(f.applied, how == Close::Ok ? 1 : 0);
        OptionsFixture::Settle();
        QVERIFY(f.form.isNull());
        QCOMPARE(f.owner.closed, std::vector<const void*>({address}));
        QCOMPARE(SettingNumber(f.settings, kSettingPopupDeadline), 30);  // the owner applies
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
