#pragma once

#include <filesystem>
#include <vector>

#include "shell/localization/language_files.h"
#include "ui/dialog/tl_dialog.h"
#include "ui/options/pending_settings.h"

// The options page "System": start at logon, and the interface language chosen from the
// language files beside the program. Choosing a language stores only its file name; the texts
// change at the next start.
class COptionsFormPgGenDlg : public TlDialog {
    Q_OBJECT
  public:
    COptionsFormPgGenDlg(TlPendingSettings settings, std::filesystem::path program_folder);

    // The language files listed in the current window.
    const std::vector<LangFileInfo>& languages() const { return languages_; }
    // The file behind a row of the list, or null.
    const LangFileInfo* LanguageOfRow(int row) const;

  protected:
    bool OnInitDialog() override;

  private:
    void FillLanguageList();
    void ShowLanguageDetails();

    TlPendingSettings settings_;
    std::filesystem::path program_folder_;
    std::vector<LangFileInfo> languages_;
};
