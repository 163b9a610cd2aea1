#include "ui/options/tree_ctrl.h"

#include <QCoreApplication>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QStyle>
#include <functional>

#include "ui/window_utils.h"

namespace {

// Lets a selection change through only when the predicate allows its new item. A change to no
// item at all (the tree being cleared) always passes.
class TlGuardedSelectionModel : public QItemSelectionModel {
  public:
    TlGuardedSelectionModel(QAbstractItemModel* model, QObject* parent,
                            std::function<bool(const QModelIndex&)> allows)
        : QItemSelectionModel(model, parent), allows_(std::move(allows)) {}

    void setCurrentIndex(const QModelIndex& index,
                         QItemSelectionModel::SelectionFlags command) override {
        if (index.isValid() && index != currentIndex() && !allows_(index)) {
            return;
        }
        QItemSelectionModel::setCurrentIndex(index, command);
    }

    void select(const QItemSelection& selection,
                QItemSelectionModel::SelectionFlags command) override {
        if (command & (QItemSelectionModel::Select | QItemSelectionModel::Toggle)) {
            const QModelIndexList indexes = selection.indexes();
            for (const QModelIndex& index : indexes) {
                if (!isSelected(index) && index != currentIndex() && !allows_(index)) {
                    return;
                }
            }
        }
        QItemSelectionModel::select(selection, command);
    }
    using QItemSelectionModel::select;

  private:
    std::function<bool(const QModelIndex&)> allows_;
};

}  // namespace

TlTreeCtrl::TlTreeCtrl(int control_id, QWidget* parent)
    : QTreeView(parent), control_id_(control_id), items_(new QStandardItemModel(this)) {
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setFrameShadow(QFrame::Sunken);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMouseTracking(true);  // items light up under the pointer

    setModel(items_);
    QItemSelectionModel* plain = selectionModel();
    setSelectionModel(new TlGuardedSelectionModel(
        items_, this, [this](const QModelIndex& index) { return ParentAllows(index); }));
    delete plain;

    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                if (QWidget* parent_window = parentWidget()) {
                    TlTreeNotifyEvent changed(TlTreeNotifyEvent::Code::SelChanged, control_id_,
                                              items_->itemFromIndex(current));
                    QCoreApplication::sendEvent(parent_window, &changed);
                }
            });
}

TlTreeCtrl::~TlTreeCtrl() {
    // Nothing is reported to a parent that is going away with the tree.
    disconnect(selectionModel(), nullptr, this, nullptr);
}

QStandardItem* TlTreeCtrl::InsertItem(const QString& text, QStandardItem* parent) {
    auto* item = new QStandardItem(text);
    item->setEditable(false);
    (parent != nullptr ? parent : items_->invisibleRootItem())->appendRow(item);
    return item;
}

QStandardItem* TlTreeCtrl::TopLevelItem(int row) const {
    return items_->item(row);
}

int TlTreeCtrl::TopLevelItemCount() const {
    return items_->rowCount();
}

void TlTreeCtrl::Expand(QStandardItem* item) {
    if (item != nullptr) {
        setExpanded(item->index(), true);
    }
}

bool TlTreeCtrl::IsExpanded(const QStandardItem* item) const {
    return item != nullptr && isExpanded(item->index());
}

QStandardItem* TlTreeCtrl::GetSelectedItem() const {
    return items_->itemFromIndex(currentIndex());
}

bool TlTreeCtrl::IsSelected(const QStandardItem* item) const {
    return item != nullptr && selectionModel()->isSelected(item->index());
}

bool TlTreeCtrl::SelectItem(QStandardItem* item) {
    if (item == nullptr) {
        return false;
    }
    selectionModel()->setCurrentIndex(item->index(), QItemSelectionModel::ClearAndSelect);
    return GetSelectedItem() == item;
}

QStandardItem* TlTreeCtrl::ItemAt(QPoint point) const {
    return items_->itemFromIndex(indexAt(point));
}

QRect TlTreeCtrl::ItemRect(const QStandardItem* item) const {
    return item != nullptr ? visualRect(item->index()) : QRect();
}

void TlTreeCtrl::FitFontToItems() {
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    // The room inside the frame: the viewport has its size only once the tree is shown.
    const int room = contentsRect().width() - 2 * margin;
    QFont font = this->font();
    for (int pixels = QFontInfo(font).pixelSize();; font.setPixelSize(--pixels)) {
        const QFontMetricsF metrics(font);
        bool fits = true;
        // Every item, with the indentation of its depth (one level more with root decoration).
        std::function<void(const QStandardItem*, int)> measure = [&](const QStandardItem* parent,
                                                                     int depth) {
            for (int row = 0; row < parent->rowCount(); ++row) {
                const QStandardItem* item = parent->child(row);
                fits =
                    fits && metrics.horizontalAdvance(item->text()) + indentation() * depth <= room;
                measure(item, depth + 1);
            }
        };
        measure(items_->invisibleRootItem(), rootIsDecorated() ? 1 : 0);
        if (fits || pixels <= kSmallestFitPixels) {
            break;
        }
    }
    setFont(font);
}

bool TlTreeCtrl::ParentAllows(const QModelIndex& index) {
    QWidget* parent_window = parentWidget();
    if (parent_window == nullptr) {
        return true;
    }
    TlTreeNotifyEvent changing(TlTreeNotifyEvent::Code::SelChanging, control_id_,
                               items_->itemFromIndex(index));
    QCoreApplication::sendEvent(parent_window, &changing);
    return !changing.refused();
}

bool TlTreeCtrl::OfferClick(QMouseEvent* event) {
    QStandardItem* item = ItemAt(event->position().toPoint());
    if (item == nullptr || item == GetSelectedItem() || parentWidget() == nullptr) {
        return false;
    }
    TlItemClickQueryEvent query(item);
    QCoreApplication::sendEvent(parentWidget(), &query);
    return query.answer() != 0;
}

void TlTreeCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) {
        QTreeView::mousePressEvent(event);
        return;
    }
    if (OfferClick(event)) {
        event->accept();
        return;
    }
    if (event->button() == Qt::RightButton) {
        // As in the desktop's usual trees, the right button alone never moves the selection.
        event->accept();
        return;
    }
    QTreeView::mousePressEvent(event);
}

void TlTreeCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is a press too: a group must not fold up under it.
    if (OfferClick(event)) {
        event->accept();
        return;
    }
    QTreeView::mouseDoubleClickEvent(event);
}
