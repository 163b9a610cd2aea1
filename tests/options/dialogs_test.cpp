// Dialog templates become widgets: units measured from the font, every control of every
// template with its kind and place, the first control on top, digits-only edits and sorted
// lists; a dialog object outlives its windows; the about box.
#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <set>

#include "resources/dialogs/dialog_ids.h"
#include "resources/dialogs/dialog_template.h"
#include "shell/localization/localization.h"
#include "tests/settings/temp_folder.h"
#include "tests/ui/offscreen.h"
#include "ui/about/about_dlg.h"
#include "ui/dialog/dialog_builder.h"
#include "ui/dialog/dialog_units.h"
#include "ui/dialog/report_list.h"
#include "ui/dialog/tl_dialog.h"

namespace {

using dialogs::ControlKind;

constexpr int kAllTemplates[] = {100, 137, 168, 174};

bool HasKind(QWidget* widget, ControlKind kind) {
    switch (kind) {
        case ControlKind::Label:
        case ControlKind::Icon:
            return qobject_cast<QLabel*>(widget) != nullptr;
        case ControlKind::EtchedLine:
            return qobject_cast<QFrame*>(widget) != nullptr &&
                   static_cast<QFrame*>(widget)->frameShape() == QFrame::HLine;
        case ControlKind::CheckBox:
            return qobject_cast<QCheckBox*>(widget) != nullptr;
        case ControlKind::RadioButton:
            return qobject_cast<QRadioButton*>(widget) != nullptr;
        case ControlKind::Edit:
            return qobject_cast<QLineEdit*>(widget) != nullptr;
        case ControlKind::ListBox:
            return qobject_cast<QListWidget*>(widget) != nullptr;
        case ControlKind::ListView:
            return qobject_cast<TlReportList*>(widget) != nullptr;
        case ControlKind::PushButton:
        case ControlKind::DefaultButton:
            return qobject_cast<QPushButton*>(widget) != nullptr;
    }
    return false;
}

// Counts its windows' initialisations.
class CountingDialog : public TlDialog {
  public:
    using TlDialog::TlDialog;
    int initialised = 0;

  protected:
    bool OnInitDialog() override {
        ++initialised;
        return true;
    }
};

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void UnitsFollowTheFont();
    void EveryTemplateBuildsItsControls();
    void FirstControlLiesOnTop();
    void DigitsOnlyEditAndSortedList();
    void DialogObjectOutlivesItsWindows();
    void AboutBoxTextsAndPlace();
    void AboutBoxOnlyHides();
};

void DialogsTest::UnitsFollowTheFont() {
    QCOMPARE(MulDivRound(230, 6, 4), 345);
    QCOMPARE(MulDivRound(1, 13, 8), 2);  // 1.625
    QCOMPARE(MulDivRound(3, 1, 2), 2);   // halves go away from zero
    QCOMPARE(MulDivRound(-3, 1, 2), -2);
    QCOMPARE(MulDivRound(5, 5, 0), -1);

    const TlDialogUnits units(6, 13);
    QCOMPARE(units.ToPixels(0, 0, 230, 200), QRect(0, 0, 345, 325));
    // Neighbours in dialog units stay neighbours in pixels.
    const QRect left = units.ToPixels(3, 7, 5, 9);
    const QRect right = units.ToPixels(8, 16, 5, 9);
    QCOMPARE(left.right() + 1, right.left());
    QCOMPARE(left.bottom() + 1, right.top());

    QFont small = DialogFont(*dialogs::FindDialogTemplate(137));
    QFont large = small;
    large.setPixelSize(small.pixelSize() * 2);
    const TlDialogUnits a = TlDialogUnits::FromFont(small);
    const TlDialogUnits b = TlDialogUnits::FromFont(large);
    QVERIFY(a.base_x() > 0 && a.base_y() > 0);
    QVERIFY(b.base_x() > a.base_x() && b.base_y() > a.base_y());
    // The dialog font is never wider than the layouts allow, so that a page fits the place the
    // options window gives it (it may reach 5 pixels below, as the layouts always did).
    QVERIFY(a.base_x() <= 6 && a.base_y() <= 13);
    const QSize page = a.ToPixels(0, 0, 230, 200).size();
    QVERIFY2(page.width() <= 360 && page.height() <= 325,
             qPrintable(QStringLiteral("%1x%2").arg(page.width()).arg(page.height())));
}

void DialogsTest::EveryTemplateBuildsItsControls() {
    QVERIFY(dialogs::FindDialogTemplate(999) == nullptr);
    for (int id : kAllTemplates) {
        const dialogs::DialogTemplate* dialog = dialogs::FindDialogTemplate(id);
        QVERIFY(dialog != nullptr);
        QWidget window;
        const QFont font = DialogFont(*dialog);
        const std::vector<TlBuiltControl> built = BuildDialogControls(*dialog, window, font);
        const TlDialogUnits units = TlDialogUnits::FromFont(font);
        QCOMPARE(window.size(), units.ToPixels(0, 0, dialog->cx, dialog->cy).size());
        QCOMPARE(built.size(), dialog->controls.size());
        std::set<int> ids;
        for (const TlBuiltControl& control : built) {
            const dialogs::DialogControl& row = *control.row;
            QVERIFY2(HasKind(control.widget, row.kind), qPrintable(QString::number(row.id)));
            QCOMPARE(control.widget->parentWidget(), &window);
            if (row.id != dialogs::kNoId) {
                QVERIFY2(ids.insert(row.id).second, "control ids are unique in a dialog");
                QCOMPARE(dialog->FindControl(row.id), &row);
            }
            const QRect expected = units.ToPixels(row.x, row.y, row.cx, row.cy);
            QCOMPARE(control.widget->pos(), expected.topLeft());
            if (row.kind != ControlKind::Icon && row.kind != ControlKind::EtchedLine) {
                QCOMPARE(control.widget->size(), expected.size());
            }
            // Every control lies inside its dialog.
            QVERIFY(QRect(QPoint(0, 0), window.size()).contains(control.widget->geometry()));
        }
    }
}

void DialogsTest::FirstControlLiesOnTop() {
    const dialogs::DialogTemplate& page = *dialogs::FindDialogTemplate(137);
    QWidget window;
    const std::vector<TlBuiltControl> built = BuildDialogControls(page, window, DialogFont(page));
    QWidget* heading = built[0].widget;
    QWidget* line = built[1].widget;
    QVERIFY(heading->geometry().intersects(line->geometry()));
    const QPoint over_both = heading->geometry().intersected(line->geometry()).center();
    QCOMPARE(window.childAt(over_both), heading);
    QVERIFY(heading->autoFillBackground());  // and hides the line under its text
    // Tab order is template order.
    QVERIFY(built[2].widget->focusPolicy() & Qt::TabFocus);     // the check box
    QVERIFY(!(built[0].widget->focusPolicy() & Qt::TabFocus));  // a label
}

void DialogsTest::DigitsOnlyEditAndSortedList() {
    const dialogs::DialogTemplate& page = *dialogs::FindDialogTemplate(168);
    QWidget window;
    BuildDialogControls(page, window, DialogFont(page));
    auto* seconds = window.findChildren<QLineEdit*>().value(0);
    QVERIFY(seconds != nullptr);
    QTest::keyClicks(seconds, QStringLiteral("4a-5 "));
    QCOMPARE(seconds->text(), QStringLiteral("45"));

    const dialogs::DialogTemplate& general = *dialogs::FindDialogTemplate(137);
    QWidget general_window;
    BuildDialogControls(general, general_window, DialogFont(general));
    auto* sorted = general_window.findChild<QListWidget*>();
    QVERIFY(sorted != nullptr);
    for (const char* name : {"beta", "Alpha", "gamma", "alpha", "Beta"}) {
        AddListString(*sorted, QString::fromUtf8(name));
    }
    QStringList order;
    for (int i = 0; i < sorted->count(); ++i) {
        order << sorted->item(i)->text();
    }
    // Without regard to case; equal texts in the order they came.
    QCOMPARE(order, QStringList({"Alpha", "alpha", "beta", "Beta", "gamma"}));

    QListWidget plain;
    AddListString(plain, QStringLiteral("b"));
    QCOMPARE(AddListString(plain, QStringLiteral("a")), 1);
}

void DialogsTest::DialogObjectOutlivesItsWindows() {
    CountingDialog unknown(999);
    QVERIFY(!unknown.Create(nullptr));
    QVERIFY(unknown.window() == nullptr);

    auto parent = std::make_unique<QWidget>();
    CountingDialog page(dialogs::reception_page::kTemplate);
    QVERIFY(page.Create(parent.get()));
    QPointer<QWidget> first = page.window();
    QCOMPARE(first->parentWidget(), parent.get());
    QVERIFY(!page.Create(parent.get()));  // one window at a time
    QCOMPARE(page.initialised, 1);
    QVERIFY(page.Item<QLineEdit>(dialogs::reception_page::kSeconds) != nullptr);
    QVERIFY(page.GetDlgItem(dialogs::kNoId) == nullptr);

    page.DestroyWindow();
    QVERIFY(first.isNull());
    QVERIFY(page.GetDlgItem(dialogs::reception_page::kSeconds) == nullptr);
    page.SetDlgItemText(dialogs::reception_page::kSeconds, QStringLiteral("x"));  // no window

    QVERIFY(page.Create(parent.get()));
    QCOMPARE(page.initialised, 2);
    // The parent going first takes the window with it; the object is left without one.
    parent.reset();
    QVERIFY(page.window() == nullptr);
    QVERIFY(page.GetDlgItem(dialogs::reception_page::kSeconds) == nullptr);
}

void DialogsTest::AboutBoxTextsAndPlace() {
    CAboutDlg about;
    QVERIFY(about.Create(nullptr));
    QWidget* box = about.window();
    namespace ids = dialogs::about;
    QCOMPARE(box->windowTitle(), QStringLiteral("About Tolvane"));
    QCOMPARE(about.Item<QLabel>(ids::kProduct)->text(), QStringLiteral("Tolvane Corvessan 2.0"));
    QCOMPARE(about.Item<QLabel>(ids::kDescription)->text(),
             QStringLiteral("'net send' message receiver"));
    QCOMPARE(about.Item<QLabel>(ids::kFeedbackLabel)->text(), QStringLiteral("Feedback:"));
    QCOMPARE(about.Item<QLabel>(ids::kHomepageLabel)->text(), QStringLiteral("Homepage:"));
    QCOMPARE(about.Item<QPushButton>(dialogs::kIdOk)->text(), QStringLiteral("OK"));
    QVERIFY(about.Item<QPushButton>(dialogs::kIdOk)->isDefault());
    // The template's own texts are whole on screen: nothing is cut at the label's edge.
    for (int id : {ids::kFeedbackAddress, ids::kHomepageAddress, ids::kNotice}) {
        auto* label = about.Item<QLabel>(id);
        QVERIFY(!label->text().isEmpty());
        QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                 qPrintable(label->text()));
    }
    // In the middle of the work area.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(box->pos(), QPoint(area.x() + (area.width() - box->width()) / 2,
                                area.y() + (area.height() - box->height()) / 2));
}

void DialogsTest::AboutBoxOnlyHides() {
    CAboutDlg about;
    QVERIFY(about.Create(nullptr));
    QPointer<QWidget> box = about.window();
    box->show();
    box->move(40, 50);
    QTest::mouseClick(about.Item<QPushButton>(dialogs::kIdOk), Qt::LeftButton);
    QVERIFY(box && box->isHidden());
    box->show();
    QTest::keyClick(box, Qt::Key_Escape);
    QVERIFY(box && box->isHidden());
    box->show();
    box->close();
    QVERIFY(box && box->isHidden());
    // Shown again where the user left it, with its texts.
    box->show();
    QCOMPARE(box->pos(), QPoint(40, 50));
    QCOMPARE(box->windowTitle(), QStringLiteral("About Tolvane"));
}

int main(int argc, char** argv) {
    TempConfigHome home;
    UseOffscreenScreen(1024, 768);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    LoadLocalization("");
    DialogsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialogs_test.moc"
