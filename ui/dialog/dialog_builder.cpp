#include "ui/dialog/dialog_builder.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "ui/dialog/report_list.h"
#include "ui/resources.h"

namespace {

using dialogs::ControlKind;
using dialogs::DialogControl;

constexpr int kIconSize = 32;

bool Has(const DialogControl& row, std::uint32_t style) {
    return (row.style & style) != 0;
}

QString TemplateText(const DialogControl& row) {
    return QString::fromUtf8(row.text.data(), static_cast<qsizetype>(row.text.size()));
}

QWidget* MakeLabel(const DialogControl& row, QWidget& window) {
    auto* label = new QLabel(TemplateText(row), &window);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignTop |
                        (Has(row, dialogs::kCentre) ? Qt::AlignHCenter : Qt::AlignLeft));
    return label;
}

QWidget* MakeIcon(const DialogControl& row, QWidget& window) {
    auto* label = new QLabel(&window);
    label->setPixmap(resources::LoadIcon(row.resource).pixmap(kIconSize, kIconSize));
    return label;
}

QWidget* MakeLine(QWidget& window) {
    auto* line = new QFrame(&window);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QWidget* MakeEdit(const DialogControl& row, QWidget& window) {
    if (Has(row, dialogs::kMultiLine)) {
        auto* edit = new QPlainTextEdit(TemplateText(row), &window);
        edit->setTabChangesFocus(true);
        if (!Has(row, dialogs::kBorder)) {
            edit->setFrameShape(QFrame::NoFrame);
        }
        return edit;
    }
    auto* edit = new QLineEdit(TemplateText(row), &window);
    edit->setFrame(Has(row, dialogs::kBorder));
    if (Has(row, dialogs::kDigitsOnly)) {
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    }
    return edit;
}

QWidget* MakeListBox(const DialogControl& row, QWidget& window) {
    auto* list = new QListWidget(&window);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setVerticalScrollBarPolicy(Has(row, dialogs::kVerticalScroll) ? Qt::ScrollBarAsNeeded
                                                                        : Qt::ScrollBarAlwaysOff);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setFrameShape(Has(row, dialogs::kBorder) ? QFrame::StyledPanel : QFrame::NoFrame);
    list->setProperty(kSortedListProperty, Has(row, dialogs::kSorted));
    return list;
}

QWidget* MakeListView(const DialogControl& row, QWidget& window) {
    auto* list = new TlReportList(&window);
    list->setSelectionMode(Has(row, dialogs::kSingleSelection)
                               ? QAbstractItemView::SingleSelection
                               : QAbstractItemView::ExtendedSelection);
    list->setSelectionBehavior(Has(row, dialogs::kFullRowSelect) ? QAbstractItemView::SelectRows
                                                                 : QAbstractItemView::SelectItems);
    list->setFrameShadow(Has(row, dialogs::kClientEdge) ? QFrame::Sunken : QFrame::Plain);
    return list;
}

QWidget* MakeButton(const DialogControl& row, QWidget& window, bool is_default) {
    auto* button = new QPushButton(TemplateText(row), &window);
    button->setAutoDefault(is_default);
    button->setDefault(is_default);
    return button;
}

QWidget* MakeControl(const DialogControl& row, QWidget& window) {
    switch (row.kind) {
        case ControlKind::Label:
            return MakeLabel(row, window);
        case ControlKind::Icon:
            return MakeIcon(row, window);
        case ControlKind::EtchedLine:
            return MakeLine(window);
        case ControlKind::CheckBox:
            return new QCheckBox(TemplateText(row), &window);
        case ControlKind::RadioButton:
            return new QRadioButton(TemplateText(row), &window);
        case ControlKind::Edit:
            return MakeEdit(row, window);
        case ControlKind::ListBox:
            return MakeListBox(row, window);
        case ControlKind::ListView:
            return MakeListView(row, window);
        case ControlKind::PushButton:
            return MakeButton(row, window, false);
        case ControlKind::DefaultButton:
            return MakeButton(row, window, true);
    }
    return new QWidget(&window);
}

QRect Placement(const DialogControl& row, const TlDialogUnits& units) {
    QRect rect = units.ToPixels(row.x, row.y, row.cx, row.cy);
    switch (row.kind) {
        case ControlKind::Icon:
            // A picture control takes the size of its picture.
            rect.setSize(QSize(kIconSize, kIconSize));
            break;
        case ControlKind::EtchedLine:
            // The etched edge is two pixels high, a dark line over a light one.
            rect.setHeight(std::max(rect.height(), 2));
            break;
        default:
            break;
    }
    return rect;
}

}  // namespace

std::vector<TlBuiltControl> BuildDialogControls(const dialogs::DialogTemplate& dialog,
                                                QWidget& window, const QFont& font) {
    window.setFont(font);
    const TlDialogUnits units = TlDialogUnits::FromFont(font);
    window.resize(units.ToPixels(0, 0, dialog.cx, dialog.cy).size());

    std::vector<TlBuiltControl> built;
    built.reserve(dialog.controls.size());
    for (const DialogControl& row : dialog.controls) {
        QWidget* widget = MakeControl(row, window);
        widget->setGeometry(Placement(row, units));
        if (row.kind != ControlKind::EtchedLine && !Has(row, dialogs::kTransparent)) {
            // Controls paint the dialog's background behind their text, so a heading label
            // hides the part of its line that it covers.
            widget->setAutoFillBackground(true);
        }
        if (!Has(row, dialogs::kTabStop) && widget->focusPolicy() != Qt::NoFocus) {
            widget->setFocusPolicy(Qt::ClickFocus);
        }
        built.push_back(TlBuiltControl{&row, widget});
    }
    // Later siblings lie on top; the template's first control must.
    for (auto it = built.rbegin(); it != built.rend(); ++it) {
        it->widget->raise();
    }
    return built;
}

int AddListString(QListWidget& list, const QString& text) {
    int row = list.count();
    if (list.property(kSortedListProperty).toBool()) {
        // After the last entry that does not sort after the text, found by halving: equal texts
        // keep the order in which they came.
        const QString key = text.toCaseFolded();
        int low = 0;
        int high = list.count();
        while (low < high) {
            const int middle = low + (high - low) / 2;
            if (QString::localeAwareCompare(list.item(middle)->text().toCaseFolded(), key) <= 0) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        row = low;
    }
    list.insertItem(row, text);
    return row;
}
