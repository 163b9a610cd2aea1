#pragma once

#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "ui/options/options_page_info.h"
#include "ui/options/tree_ctrl.h"
#include "ui/options/tree_node.h"

class TlDialog;

// A generic options window: a tree of pages on the left, the selected page on the right under a
// grey heading band, and "OK" and "Cancel" at the bottom right. Group items (entries without a
// page) cannot be selected: clicking one selects its first page instead. "OK" calls the apply
// callback and closes; "Cancel" and the close button only close. A page never saves anything
// when the window closes: it writes each change where its owner keeps them as the user makes it.
//
// The window deletes itself when it is closed. Make it with new, then Create, then show it.
class TlOptionsForm : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 560;
    static constexpr int kClientHeight = 390;
    static constexpr int kTreeId = 100;
    static constexpr QRect kTreeRect{7, 7, 183, 343};
    static constexpr QRect kHeadingRect{195, 7, 355, 20};
    static constexpr QRect kSeparatorRect{195, 350, 350, 2};
    static constexpr QRect kPageRect{200, 30, 360, 320};
    static constexpr QSize kButtonSize{75, 25};
    static constexpr QRgb kHeadingColour = qRgb(128, 128, 128);

    using ApplyCallback = std::function<void()>;

    TlOptionsForm();
    ~TlOptionsForm() override;

    // Set by the owner before Create.
    void SetApplyCallback(ApplyCallback callback) { apply_ = std::move(callback); }

    // Makes the window's content and places it; false when that failed (nothing is built then).
    bool Create();

    // Shows the descriptor's page (a new window of it) under its heading.
    void ShowPage(const TlOptionsPageInfo& info);
    // Fills the tree from the descriptor tree below node, under parent (null: the top level).
    void BuildTree(const TlTreeNode<TlOptionsPageInfo>& node, QStandardItem* parent);

    TlTreeCtrl& tree() { return tree_; }
    QLabel& heading() { return heading_; }
    QPushButton& ok_button() { return ok_; }
    QPushButton& cancel_button() { return cancel_; }
    // The page whose window is on view, or null.
    TlDialog* current_page() const { return current_page_; }
    const TlTreeNode<TlOptionsPageInfo>& root() const { return root_; }
    // The descriptor an item of the tree stands for, or null.
    static const TlOptionsPageInfo* DescriptorOf(const QStandardItem* item);

  protected:
    // Window kind and title, before the content is made.
    virtual void PreCreateWindow();
    // Makes and places the content; false fails the creation.
    virtual bool OnCreate();
    bool event(QEvent* event) override;

    TlTreeNode<TlOptionsPageInfo>& root_node() { return root_; }
    // Keeps a page for the window's whole life; returns it for a descriptor.
    TlDialog* AdoptPage(std::unique_ptr<TlDialog> page);

  private:
    void OnOK();
    void OnCancel();
    void PostClose();
    void OnTreeNotify(TlTreeNotifyEvent& notify);
    void OnItemClickQuery(TlItemClickQueryEvent& query);

    QFont button_font_;
    QPushButton ok_;
    QPushButton cancel_;
    QFrame separator_;
    QLabel heading_;
    TlTreeCtrl tree_;
    TlTreeNode<TlOptionsPageInfo> root_;
    std::vector<std::unique_ptr<TlDialog>> pages_;
    TlDialog* current_page_ = nullptr;
    ApplyCallback apply_;
};
