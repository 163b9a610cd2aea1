#include <array>

#include "resources/dialogs/dialog_ids.h"
#include "resources/dialogs/dialog_template.h"

namespace dialogs {
namespace {

using K = ControlKind;

// The options pages share their frame: a child of the options window, its font and size.
constexpr int kPageWidth = 230;
constexpr int kPageHeight = 200;
constexpr std::string_view kFontFace = "MS Sans Serif";
constexpr int kFontPoints = 8;

constexpr std::array kAboutControls = {
    DialogControl{kNoId, K::Icon, 10, 10, 20, 20, 0, "", kTransparent, about::kProgramIcon},
    DialogControl{about::kProduct, K::Label, 55, 10, 207, 8, 502, "Tolvane Corvessan Version 2.0",
                  kNoPrefix},
    DialogControl{about::kDescription, K::Label, 55, 20, 207, 25, 503,
                  "'net send' message receiver", kStyleNone},
    DialogControl{about::kFeedbackLabel, K::Label, 55, 50, 96, 8, 504, "Feedback:", kStyleNone},
    DialogControl{about::kFeedbackAddress, K::Label, 158, 50, 77, 8, 0, "tolvane@example.org",
                  kStyleNone},
    DialogControl{about::kHomepageLabel, K::Label, 55, 60, 97, 8, 505, "Home page:", kStyleNone},
    DialogControl{about::kHomepageAddress, K::Label, 158, 61, 76, 8, 0, "example.org/tolvane",
                  kStyleNone},
    DialogControl{about::kNotice, K::Label, 50, 155, 210, 9, 0,
                  "Receives messages and sends your replies.", kStyleNone},
    DialogControl{kNoId, K::EtchedLine, 0, 170, 270, 1, 0, "", kStyleNone},
    DialogControl{kIdOk, K::DefaultButton, 220, 176, 50, 14, 101, "OK", kGroupStart | kTabStop},
};

constexpr std::array kGeneralPageControls = {
    DialogControl{general_page::kLaunchHeading, K::Label, 0, 0, 52, 8, 702, "Tolvane launch",
                  kStyleNone},
    DialogControl{kNoId, K::EtchedLine, 1, 4, 225, 1, 0, "", kStyleNone},
    DialogControl{general_page::kAutostart, K::CheckBox, 15, 19, 209, 10, 703,
                  "Launch Tolvane on Windows startup", kTabStop},
    DialogControl{general_page::kLanguageHeading, K::Label, 0, 68, 90, 8, 704, "Interface language",
                  kStyleNone},
    DialogControl{kNoId, K::EtchedLine, 1, 73, 225, 1, 0, "", kStyleNone},
    DialogControl{general_page::kSelectLanguage, K::Label, 16, 82, 209, 8, 705,
                  "Select your preferred language:", kStyleNone},
    DialogControl{general_page::kLanguageList, K::ListBox, 15, 92, 105, 85, 0, "",
                  kSorted | kNotify | kNoIntegralHeight | kVerticalScroll | kBorder | kTabStop},
    DialogControl{general_page::kLanguageDetails, K::Label, 126, 92, 100, 84, 0, "", kStyleNone},
    DialogControl{general_page::kRestartNote, K::Label, 15, 179, 212, 16, 708,
                  "Note: restart Tolvane for language change to take effect", kStyleNone},
};

constexpr std::array kReceptionPageControls = {
    DialogControl{reception_page::kPopupHeading, K::Label, 0, 0, 78, 8, 902, "Popup message window",
                  kStyleNone},
    DialogControl{kNoId, K::EtchedLine, 0, 5, 227, 1, 0, "", kStyleNone},
    DialogControl{reception_page::kCloseLabel, K::Label, 15, 15, 204, 8, 903,
                  "Close popup message window", kStyleNone},
    DialogControl{reception_page::kManually, K::RadioButton, 40, 25, 79, 10, 904, "Manually",
                  kGroupStart | kTabStop},
    DialogControl{reception_page::kAtExpiration, K::RadioButton, 40, 36, 86, 10, 905,
                  "At expiration of", kStyleNone},
    DialogControl{reception_page::kSeconds, K::Edit, 127, 34, 40, 13, 0, "",
                  kDigitsOnly | kAutoHorizontalScroll | kBorder | kTabStop},
    DialogControl{reception_page::kSecondsLabel, K::Label, 171, 37, 52, 8, 906, "sec.", kStyleNone},
    DialogControl{reception_page::kDndNote, K::Label, 15, 58, 209, 34, 907,
                  "While the desktop's Do Not Disturb is on, a message does not pop up.",
                  kStyleNone},
    DialogControl{reception_page::kDndPopup, K::CheckBox, 15, 94, 209, 10, 908,
                  "Pop up even during Do Not Disturb", kTabStop},
};

constexpr std::array kSoundPageControls = {
    DialogControl{sound_page::kEnable, K::CheckBox, 0, 0, 223, 10, 802, "Enable sound effects",
                  kTabStop},
    DialogControl{
        sound_page::kEvents, K::ListView, 0, 13, 229, 152, 0, "",
        kSingleSelection | kShowSelectionAlways | kClientEdge | kFullRowSelect | kTabStop},
    DialogControl{sound_page::kFile, K::Edit, 0, 175, 177, 14, 0, "",
                  kAutoHorizontalScroll | kBorder | kTabStop},
    DialogControl{sound_page::kBrowse, K::PushButton, 180, 175, 50, 14, 103, "Browse", kTabStop},
};

// Three lines of status below the text: "Sending…", then delivered or the one-line problem.
constexpr std::array kReplyControls = {
    DialogControl{reply::kTo, K::Label, 7, 7, 206, 8, 1202, "To %s:", kNoPrefix},
    DialogControl{reply::kText, K::Edit, 7, 18, 206, 62, 0, "",
                  kMultiLine | kVerticalScroll | kBorder | kTabStop},
    DialogControl{reply::kStatus, K::Label, 7, 84, 206, 26, 0, "", kNoPrefix},
    DialogControl{kIdOk, K::DefaultButton, 109, 114, 50, 14, 1203, "Send", kGroupStart | kTabStop},
    DialogControl{kIdCancel, K::PushButton, 163, 114, 50, 14, 1204, "Close", kTabStop},
};

constexpr std::array kTemplates = {
    DialogTemplate{about::kTemplate, 273, 194, false, "About Tolvane", 501, kFontFace, kFontPoints,
                   kAboutControls},
    DialogTemplate{general_page::kTemplate, kPageWidth, kPageHeight, true, "", 0, kFontFace,
                   kFontPoints, kGeneralPageControls},
    DialogTemplate{reception_page::kTemplate, kPageWidth, kPageHeight, true, "", 0, kFontFace,
                   kFontPoints, kReceptionPageControls},
    DialogTemplate{sound_page::kTemplate, kPageWidth, kPageHeight, true, "", 0, kFontFace,
                   kFontPoints, kSoundPageControls},
    DialogTemplate{reply::kTemplate, 220, 135, false, "Reply", 1201, kFontFace, kFontPoints,
                   kReplyControls},
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) {
    for (const DialogTemplate& dialog : kTemplates) {
        if (dialog.id == id) {
            return &dialog;
        }
    }
    return nullptr;
}

}  // namespace dialogs
