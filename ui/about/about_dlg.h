#pragma once

#include "ui/dialog/tl_dialog.h"

// The about box: product, version and purpose, where to send feedback and the home page. Made
// once per run; "OK", Escape and the close button only hide it, and showing it again keeps its
// place and its texts.
class CAboutDlg : public TlDialog {
    Q_OBJECT
  public:
    CAboutDlg();

  protected:
    bool OnInitDialog() override;
};
