#pragma once

#include <QFont>
#include <QLocale>
#include <QRect>
#include <QString>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "ui/cloud_wnd.h"
#include "ui/controls/drag_bar.h"
#include "ui/controls/rich_edit.h"
#include "ui/controls/static_link.h"
#include "ui/controls/tl_button.h"
#include "ui/window_utils.h"

class TlDataSet;

// The popup in which the user reads received messages: one archived message at a time (the
// archive's current record) under a "Messages received" caption strip with a close button, and
// above the links "Prev message", "Next message", "Copy" and, for a personal message, "Reply". It
// pages through the archive but
// never changes its content.
class CPopupMsgForm : public TlCloudWnd {
    Q_OBJECT
  public:
    // Control ids; commands carry them.
    static constexpr int kCaptionId = 0;
    static constexpr int kPrevId = 2;
    static constexpr int kNextId = 3;
    static constexpr int kCopyId = 4;
    static constexpr int kCloseId = 5;
    static constexpr int kTextId = 6;
    static constexpr int kReplyId = 7;

    // Where the children sit, in the popup's pixels. The layout changes only the text's size
    // (its height clamped to the smallest and largest) and the links' top, which follows the
    // text's bottom.
    static constexpr QRect kCaptionRect{1, 1, 297, 24};
    static constexpr QRect kCloseRect{274, 3, 20, 20};  // within the caption strip
    static constexpr QRect kTextRect{6, 30, 288, 100};  // at its smallest height
    static constexpr int kTextMaxHeight = 300;
    static constexpr int kLinkGap = 5;       // between the text's bottom and the links' top
    static constexpr int kBottomSpace = 25;  // between the text's bottom and the window's bottom

    using AcknowledgeCallback = std::function<void()>;
    // Told the origin of the personal message shown when the user chooses "Reply".
    using ReplyCallback = std::function<void(const std::string& origin)>;

    explicit CPopupMsgForm(QWidget* owner);

    // The archive to show and, when it is shared with other threads, the lock that guards it
    // (taken around every read and every move of the current record). Set before Popup.
    void SetDataSet(TlDataSet* archive, std::mutex* lock = nullptr);
    // Called at the start of every user command (close, previous, next, copy).
    void SetAcknowledgeCallback(AcknowledgeCallback callback) {
        acknowledge_ = std::move(callback);
    }
    void SetReplyCallback(ReplyCallback callback) { reply_ = std::move(callback); }
    // Replaces the clipboard the Copy command writes to (not owned; null restores the desktop's).
    void SetClipboard(TlClipboard* clipboard) { clipboard_ = clipboard; }

    QSize GetDesiredSize() const override;
    void UpdateLayout() override;
    void UpdateContent(int reason) override;

    // The text shown now, line breaks as displayed.
    QString ShownText() const { return text_.toPlainText(); }
    TlRichEdit& text() { return text_; }
    TlStaticLink& prev_link() { return prev_; }
    TlStaticLink& next_link() { return next_; }
    TlStaticLink& copy_link() { return copy_; }
    TlStaticLink& reply_link() { return reply_link_; }
    tlDragBar& caption() { return caption_; }
    TlButton& close_button() { return close_; }

    // How the popup writes an arrival time (a file time holding local time), for the locale.
    static QString FormatDate(std::int64_t file_time, const QLocale& locale);
    static QString FormatTime(std::int64_t file_time, const QLocale& locale);

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void OnCommand(int id);
    void ArrangeLinks();
    QString ComposeText();
    void MoveLast();

    // Fonts first: the children are made with them.
    QFont text_font_;
    QFont caption_font_;
    QFont link_font_;
    TlRichEdit text_;
    TlStaticLink prev_;
    TlStaticLink next_;
    TlStaticLink copy_;
    TlStaticLink reply_link_;  // shown for personal messages only
    tlDragBar caption_;
    TlButton close_;  // a child of the caption strip

    TlDataSet* archive_ = nullptr;
    std::mutex* lock_ = nullptr;
    AcknowledgeCallback acknowledge_;
    ReplyCallback reply_;
    std::optional<std::string> reply_to_;  // the origin of the personal message shown
    TlClipboard desktop_clipboard_;
    TlClipboard* clipboard_ = nullptr;
};
