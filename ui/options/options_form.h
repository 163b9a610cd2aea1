#pragma once

#include <QObject>
#include <QPointer>
#include <filesystem>

#include "shell/settings/settings.h"
#include "ui/options/tl_options_form.h"

// The program's options window: "General" → "System", "Interface" → "Sound effects" and
// "Behaviour" → "Message reception", in the user's language. Its pages read the settings and
// write the user's changes into the pending settings; the apply callback (the owner's) copies
// them into the settings. When the window object goes, it posts a closed notice with its own
// address to the owner.
class COptionsForm : public TlOptionsForm {
    Q_OBJECT
  public:
    static constexpr int kIconId = 132;

    struct Environment {
        // Receives the closed notice; may be null.
        QObject* owner = nullptr;
        // The owner's maps; both outlive the window.
        const SettingsMap* settings = nullptr;
        SettingsMap* pending = nullptr;
        // Holds the "language" folder; the program's own folder when empty.
        std::filesystem::path program_folder;
    };

    explicit COptionsForm(Environment environment);
    ~COptionsForm() override;

    // The window icon (resource 132).
    static QIcon OptionsIcon();

  protected:
    void PreCreateWindow() override;
    bool OnCreate() override;

  private:
    Environment environment_;
    QPointer<QObject> owner_;
};
