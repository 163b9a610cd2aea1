#include "ui/reply/reply_dlg.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>

#include "resources/dialogs/dialog_ids.h"
#include "resources/strings/builtin_strings.h"
#include "shell/localization/localization.h"

namespace ids = dialogs::reply;

namespace {

// A localized text with its one "%s" filled in; the value is never read as a pattern.
QString Filled(int id, const std::string& value) {
    QString text = QString::fromStdString(LoadLocString(id));
    const qsizetype at = text.indexOf(QLatin1String("%s"));
    if (at >= 0) {
        text.replace(at, 2, QString::fromStdString(value));
    }
    return text;
}

}  // namespace

CReplyDlg::CReplyDlg(std::string to, std::string from, SendRequest send)
    : TlDialog(ids::kTemplate),
      to_(std::move(to)),
      from_(std::move(from)),
      send_(std::move(send)) {}

bool CReplyDlg::OnInitDialog() {
    QWidget* box = window();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        box->move(area.x() + (area.width() - box->width()) / 2,
                  area.y() + (area.height() - box->height()) / 2);
    }
    box->setWindowTitle(QString::fromStdString(LoadLocString(strings::kReply)));
    SetLocalizedTexts({dialogs::kIdOk, dialogs::kIdCancel});
    SetDlgItemText(ids::kTo, Filled(strings::kReplyTo, to_));
    if (auto* text = Item<QPlainTextEdit>(ids::kText)) {
        text->setFocus();
    }
    return true;
}

void CReplyDlg::OnOK() {
    auto* text = Item<QPlainTextEdit>(ids::kText);
    if (sending_ || text == nullptr || text->toPlainText().isEmpty()) {
        return;
    }
    sending_ = true;
    text->setReadOnly(true);
    if (auto* send = Item<QAbstractButton>(dialogs::kIdOk)) {
        send->setEnabled(false);
    }
    SetStatus(QString::fromStdString(LoadLocString(strings::kReplySending)));
    send_(sending::Message{from_, to_, text->toPlainText().toStdString()});
}

void CReplyDlg::ShowResult(const sending::Result& result) {
    sending_ = false;
    const bool delivered = result.outcome == sending::Outcome::Delivered;
    SetStatus(delivered ? QString::fromStdString(LoadLocString(strings::kReplyDelivered))
                        : Filled(strings::kReplyNotDelivered, result.problem));
    if (auto* text = Item<QPlainTextEdit>(ids::kText)) {
        text->setReadOnly(false);
        if (delivered) {
            text->clear();
        }
    }
    if (auto* send = Item<QAbstractButton>(dialogs::kIdOk)) {
        send->setEnabled(true);
    }
}

void CReplyDlg::SetStatus(const QString& status) {
    SetDlgItemText(ids::kStatus, status);
}
