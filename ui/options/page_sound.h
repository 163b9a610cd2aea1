#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "ui/dialog/tl_dialog.h"
#include "ui/options/pending_settings.h"

// What the sound page asks of the file dialog.
struct TlOpenFileRequest {
    QStringList filters;  // "description (patterns)", in order
    int selected_filter = 0;
    QString default_suffix;
};

// The options page "Sound effects": sounds on or off, and a sound file for each kind of
// message. The list's two rows are the kinds; the edit below it holds the file of the selected
// row and is taken when it loses the focus (with a short beep), or filled by "Browse".
class COptionsFormDlgSound : public TlDialog {
    Q_OBJECT
  public:
    static constexpr int kEventColumnWidth = 150;
    static constexpr int kFileColumnWidth = 180;

    // Shows the file dialog owned by owner; the chosen file's full path, or nothing.
    using FilePicker =
        std::function<std::optional<QString>(QWidget* owner, const TlOpenFileRequest&)>;

    explicit COptionsFormDlgSound(TlPendingSettings settings);

    // The platform's file dialog unless replaced (tests replace it).
    void SetFilePicker(FilePicker picker) { pick_file_ = std::move(picker); }
    void SetBeep(std::function<void()> beep) { beep_ = std::move(beep); }

    int selected_row() const { return selected_row_; }
    int selected_setting_id() const { return selected_setting_id_; }

    static std::optional<QString> RunFileDialog(QWidget* owner, const TlOpenFileRequest& request);
    static TlOpenFileRequest SoundFileRequest();

  protected:
    bool OnInitDialog() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OnItemChanged(int row, bool selected);
    void SelectRow(int row);
    void CommitEdit();
    void Browse();

    TlPendingSettings settings_;
    int selected_row_ = 0;
    int selected_setting_id_ = kSettingSoundBroadcast;
    FilePicker pick_file_;
    std::function<void()> beep_;
};
