#include "ui/reply/replies.h"

#include <QWidget>

#include "archive/archive.h"
#include "archive/file_time.h"
#include "reception/service/received_message.h"

CReplies::CReplies(TlDataSet* archive, std::mutex* lock, std::string from,
                   std::function<void()> archived)
    : archive_(archive),
      lock_(lock),
      from_(std::move(from)),
      archived_(std::move(archived)),
      send_([](const sending::Message& message) { return sending::SendMessage(message); }) {}

CReplies::~CReplies() {
    workers_.JoinAll();
}

void CReplies::Open(const std::string& to) {
    if (dialog_ != nullptr && (dialog_->to() == to || dialog_->sending())) {
        if (dialog_->window() != nullptr) {
            dialog_->window()->show();
            dialog_->window()->raise();
            dialog_->window()->activateWindow();
        }
        return;
    }
    ++serial_;
    dialog_ = std::make_unique<CReplyDlg>(
        to, from_, [this](const sending::Message& message) { Start(message); });
    dialog_->Create(nullptr);
    dialog_->window()->show();
    dialog_->window()->activateWindow();
}

void CReplies::Start(const sending::Message& message) {
    workers_.Start([this, message, serial = serial_, send = send_] {
        const sending::Result result = send(message);
        if (result.outcome == sending::Outcome::Delivered) {
            ArchivedMessage record;
            record.type = static_cast<std::int32_t>(MessageKind::Sent);
            record.origin = message.from;
            record.recipient = message.to;
            // Line breaks as received messages keep them.
            for (const char c : message.text) {
                if (c == '\n') {
                    record.message += '\r';
                }
                record.message += c;
            }
            record.received = file_time::LocalNow();
            ArchiveMessage(*archive_, *lock_, record);
        }
        // Queued to this object: dropped if it is gone, which it is not before this thread ends.
        QMetaObject::invokeMethod(
            this, [this, serial, result] { Finish(serial, result); }, Qt::QueuedConnection);
    });
}

void CReplies::Finish(unsigned serial, const sending::Result& result) {
    if (result.outcome == sending::Outcome::Delivered && archived_) {
        archived_();
    }
    if (dialog_ != nullptr && serial == serial_) {
        dialog_->ShowResult(result);
    }
}
