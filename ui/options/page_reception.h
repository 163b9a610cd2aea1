#pragma once

#include "ui/dialog/tl_dialog.h"
#include "ui/options/pending_settings.h"

// The options page "Message reception": whether the popup closes by itself, and after how many
// seconds (0: it stays); whether it pops up while the desktop's Do Not Disturb is on.
class COptionsFormPgRdMsgDlg : public TlDialog {
    Q_OBJECT
  public:
    explicit COptionsFormPgRdMsgDlg(TlPendingSettings settings);

  protected:
    bool OnInitDialog() override;

  private:
    TlPendingSettings settings_;
};
