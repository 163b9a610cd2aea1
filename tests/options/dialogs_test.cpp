// Dialog templates become widgets: units measured from the font, every control of every
// template in its kind and place with the first on top, digits-only edits and sorted lists; the
// about box.
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <set>

#include "resources/dialogs/dialog_ids.h"
#include "shell/localization/localization.h"
#include "tests/settings/temp_folder.h"
#include "tests/ui/offscreen.h"
#include "ui/about/about_dlg.h"
#include "ui/dialog/dialog_builder.h"
#include "ui/dialog/report_list.h"

namespace {

using dialogs::ControlKind;

// The widget class of each kind, in the order of the kinds.
constexpr const char* kClassOfKind[] = {"QLabel",       "QLabel",     "QFrame",      "QCheckBox",
                                        "QRadioButton", "QLineEdit",  "QListWidget", "TlReportList",
                                        "QPushButton",  "QPushButton"};

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void UnitsFollowTheFont();
    void EveryTemplateBuildsItsControls();
    void DigitsOnlyEditAndSortedList();
    void AboutBox();
};

void DialogsTest::UnitsFollowTheFont() {
    QCOMPARE(MulDivRound(-3, 1, 2), -2);  // halves away from zero
    const TlDialogUnits units(6, 13);
    QCOMPARE(units.ToPixels(0, 0, 230, 200), QRect(0, 0, 345, 325));
    // Neighbours in dialog units stay neighbours in pixels.
    QCOMPARE(units.ToPixels(3, 7, 5, 9).right() + 1, units.ToPixels(8, 7, 5, 9).left());

    const QFont font = DialogFont(*dialogs::FindDialogTemplate(137));
    QFont large = font;
    large.setPixelSize(font.pixelSize() * 2);
    const TlDialogUnits a = TlDialogUnits::FromFont(font);
    QVERIFY(TlDialogUnits::FromFont(large).base_x() > a.base_x());
    // Never wider than the layouts allow, whatever the desktop's font: a page fits its place.
    QVERIFY(a.base_x() > 0 && a.base_x() <= 6 && a.base_y() > 0 && a.base_y() <= 13);
    QCOMPARE(GuiFont().pixelSize(), font.pixelSize());
}

void DialogsTest::EveryTemplateBuildsItsControls() {
    QVERIFY(dialogs::FindDialogTemplate(999) == nullptr);
    for (int id : {100, 137, 168, 174}) {
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
            QVERIFY2(control.widget->inherits(kClassOfKind[static_cast<int>(row.kind)]),
                     qPrintable(QString::number(row.id)));
            QVERIFY(row.id == dialogs::kNoId || ids.insert(row.id).second);  // ids are unique
            const QRect expected = units.ToPixels(row.x, row.y, row.cx, row.cy);
            QCOMPARE(control.widget->pos(), expected.topLeft());
            if (row.kind != ControlKind::Icon && row.kind != ControlKind::EtchedLine) {
                QCOMPARE(control.widget->size(), expected.size());
            }
            QVERIFY(window.rect().contains(control.widget->geometry()));
        }
        // Where controls overlap, the first lies on top: a heading hides the start of its line.
        for (std::size_t i = 0; i + 1 < built.size(); ++i) {
            const QRect both = built[i].widget->geometry() & built[i + 1].widget->geometry();
            if (!both.isEmpty()) {
                QCOMPARE(window.childAt(both.center()), built[i].widget.data());
            }
        }
    }
}

void DialogsTest::DigitsOnlyEditAndSortedList() {
    const dialogs::DialogTemplate& reception = *dialogs::FindDialogTemplate(168);
    QWidget window;
    BuildDialogControls(reception, window, DialogFont(reception));
    auto* seconds = window.findChild<QLineEdit*>();
    QTest::keyClicks(seconds, QStringLiteral("4a-5 "));
    QCOMPARE(seconds->text(), QStringLiteral("45"));

    const dialogs::DialogTemplate& general = *dialogs::FindDialogTemplate(137);
    QWidget general_window;
    BuildDialogControls(general, general_window, DialogFont(general));
    auto* sorted = general_window.findChild<QListWidget*>();
    for (const char* name : {"beta", "Alpha", "gamma", "alpha", "Beta", "delta"}) {
        AddListString(*sorted, QString::fromUtf8(name));
    }
    QStringList order;
    for (int i = 0; i < sorted->count(); ++i) {
        order << sorted->item(i)->text();
    }
    // Without regard to case; equal texts in the order they came.
    QCOMPARE(order, QStringList({"Alpha", "alpha", "beta", "Beta", "delta", "gamma"}));
    QListWidget plain;
    AddListString(plain, QStringLiteral("b"));
    QCOMPARE(AddListString(plain, QStringLiteral("a")), 1);
}

void DialogsTest::AboutBox() {
    namespace ids = dialogs::about;
    CAboutDlg about;
    QVERIFY(about.Create(nullptr));
    QPointer<QWidget> box = about.window();
    QCOMPARE(box->windowTitle(), QStringLiteral("About Tolvane"));
    QCOMPARE(about.Item<QLabel>(ids::kProduct)->text(), QStringLiteral("Tolvane Corvessan 2.0"));
    QCOMPARE(about.Item<QLabel>(ids::kHomepageLabel)->text(), QStringLiteral("Homepage:"));
    QVERIFY(about.Item<QPushButton>(dialogs::kIdOk)->isDefault());
    // The template's own texts are whole on screen, not cut at the label's edge.
    for (int id : {ids::kFeedbackAddress, ids::kHomepageAddress, ids::kNotice}) {
        auto* label = about.Item<QLabel>(id);
        QVERIFY(!label->text().isEmpty());
        QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                 qPrintable(label->text()));
    }
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(qAbs(box->geometry().center().x() - area.center().x()) <= 1);
    QVERIFY(qAbs(box->geometry().center().y() - area.center().y()) <= 1);
    // Escape and the close button only hide it.
    box->show();
    QTest::keyClick(box, Qt::Key_Escape);
    QVERIFY(box && box->isHidden());
    box->show();
    box->close();
    QVERIFY(box && box->isHidden());
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
