#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "sending/sender.h"
#include "ui/reply/reply_dlg.h"
#include "ui/reply/reply_workers.h"

class TlDataSet;

// Answers to personal messages: the one reply window, the sending on worker threads, and each
// delivered answer archived as a sent message through the archive's lock and announcement, as
// received messages are, but without blinking or a popup of its own.
class CReplies : public QObject {
    Q_OBJECT
  public:
    using Send = std::function<sending::Result(const sending::Message&)>;

    // from: the name replies are sent from. archived: called on the user-interface thread after a
    // sent message went into the archive.
    CReplies(TlDataSet* archive, std::mutex* lock, std::string from,
             std::function<void()> archived);
    // Waits for replies still on their way.
    ~CReplies() override;

    // Shows a reply window to that name; one already open for another name gives way to it,
    // unless it is still sending.
    void Open(const std::string& to);
    CReplyDlg* dialog() const { return dialog_.get(); }
    // Replaces the sending (tests); the default is sending::SendMessage.
    void SetSend(Send send) { send_ = std::move(send); }

  private:
    void Start(const sending::Message& message);
    void Finish(unsigned serial, const sending::Result& result);

    TlDataSet* archive_;
    std::mutex* lock_;
    std::string from_;
    std::function<void()> archived_;
    Send send_;
    std::unique_ptr<CReplyDlg> dialog_;
    unsigned serial_ = 0;   // of the window now open: results for an older one are not shown
    ReplyWorkers workers_;  // last: joined before the rest goes
};
