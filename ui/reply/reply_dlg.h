#pragma once

#include <functional>
#include <string>

#include "sending/sender.h"
#include "ui/dialog/tl_dialog.h"

// The window in which the user answers a personal message: "To NAME:", the text, "Send" and
// "Close". Send hands the message to the owner, which sends it away from the user-interface
// thread; until the owner reports the result with ShowResult the window says "Sending…" and takes
// no second send. Close and Escape only hide it.
class CReplyDlg : public TlDialog {
    Q_OBJECT
  public:
    using SendRequest = std::function<void(const sending::Message&)>;

    CReplyDlg(std::string to, std::string from, SendRequest send);

    // Delivered: says so and empties the text for a further message. Otherwise says why not and
    // keeps the text for another try.
    void ShowResult(const sending::Result& result);
    bool sending() const { return sending_; }
    const std::string& to() const { return to_; }

  protected:
    bool OnInitDialog() override;
    void OnOK() override;

  private:
    void SetStatus(const QString& status);

    std::string to_;
    std::string from_;
    SendRequest send_;
    bool sending_ = false;
};
