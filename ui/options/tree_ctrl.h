#pragma once

#include <QEvent>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTreeView>

// What the page tree tells its parent window, sent (never posted) as the selection changes.
class TlTreeNotifyEvent : public QEvent {
  public:
    // Numbered after the window message it stands for (WM_NOTIFY).
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 0x4E);
    enum class Code {
        SelChanging,  // the selection is about to move to item; the parent may refuse
        SelChanged,   // the selection has moved to item
    };

    TlTreeNotifyEvent(Code code, int control_id, QStandardItem* item)
        : QEvent(kType), code_(code), control_id_(control_id), item_(item) {}

    Code code() const { return code_; }
    int control_id() const { return control_id_; }
    // The newly selected item; null for none.
    QStandardItem* item() const { return item_; }
    // For SelChanging: the parent's answer.
    void Refuse() { refused_ = true; }
    bool refused() const { return refused_; }

  private:
    Code code_;
    int control_id_;
    QStandardItem* item_;
    bool refused_ = false;
};

// The page tree asks its parent what a click on an item that is not selected should do. A
// non-zero answer means the parent has handled it and the click goes no further.
class TlItemClickQueryEvent : public QEvent {
  public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 15);

    explicit TlItemClickQueryEvent(QStandardItem* item) : QEvent(kType), item_(item) {}
    QStandardItem* item() const { return item_; }
    void SetAnswer(int answer) { answer_ = answer; }
    int answer() const { return answer_; }

  private:
    QStandardItem* item_;
    int answer_ = 0;
};

// The tree of pages in the options window: one column of items, each selected item being the
// current one. Every change of the selection, by mouse, keyboard or program, is first offered
// to the parent (which can refuse it) and then reported; a left or right click on an item other
// than the selected one is first offered to the parent as an item click.
class TlTreeCtrl : public QTreeView {
    Q_OBJECT
  public:
    TlTreeCtrl(int control_id, QWidget* parent);
    ~TlTreeCtrl() override;

    int control_id() const { return control_id_; }

    // Adds an item with the text as the last child of parent (null: at the top level).
    QStandardItem* InsertItem(const QString& text, QStandardItem* parent);
    QStandardItem* TopLevelItem(int row) const;
    int TopLevelItemCount() const;
    void Expand(QStandardItem* item);
    bool IsExpanded(const QStandardItem* item) const;

    // The selected item, or null.
    QStandardItem* GetSelectedItem() const;
    bool IsSelected(const QStandardItem* item) const;
    // Selects the item unless the parent refuses; true if it is selected afterwards.
    bool SelectItem(QStandardItem* item);

    // The item at a point of the viewport, or null.
    QStandardItem* ItemAt(QPoint point) const;
    QRect ItemRect(const QStandardItem* item) const;
    // Makes the font smaller, if need be, until every item's text is whole at its indentation.
    void FitFontToItems();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    bool ParentAllows(const QModelIndex& index);
    bool OfferClick(QMouseEvent* event);

    int control_id_;
    QStandardItemModel* items_;  // a child of the tree
};
