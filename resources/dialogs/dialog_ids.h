#pragma once

// Resource ids of the dialogs and the ids of the controls the program addresses in them.
namespace dialogs {

// The about box.
namespace about {
inline constexpr int kTemplate = 100;
inline constexpr int kProgramIcon = 128;
inline constexpr int kProduct = 1004;
inline constexpr int kDescription = 1010;
inline constexpr int kFeedbackLabel = 1006;
inline constexpr int kFeedbackAddress = 1007;
inline constexpr int kHomepageLabel = 1008;
inline constexpr int kHomepageAddress = 1009;
inline constexpr int kNotice = 1005;
}  // namespace about

// The options page "System": start at logon and the interface language.
namespace general_page {
inline constexpr int kTemplate = 137;
inline constexpr int kLaunchHeading = 1012;
inline constexpr int kAutostart = 1001;
inline constexpr int kLanguageHeading = 1013;
inline constexpr int kSelectLanguage = 1014;
inline constexpr int kLanguageList = 1030;
inline constexpr int kLanguageDetails = 1011;
inline constexpr int kRestartNote = 1015;
}  // namespace general_page

// The options page "Message reception": how the popup closes, and whether it pops up during the
// desktop's Do Not Disturb.
namespace reception_page {
inline constexpr int kTemplate = 168;
inline constexpr int kPopupHeading = 1004;
inline constexpr int kCloseLabel = 1005;
inline constexpr int kManually = 1011;
inline constexpr int kAtExpiration = 1012;
inline constexpr int kSeconds = 1017;
inline constexpr int kSecondsLabel = 1006;
inline constexpr int kDndNote = 1018;
inline constexpr int kDndPopup = 1019;
}  // namespace reception_page

// The options page "Sound effects": sounds per kind of message.
namespace sound_page {
inline constexpr int kTemplate = 174;
inline constexpr int kEnable = 1043;
inline constexpr int kEvents = 1044;
inline constexpr int kFile = 1047;
inline constexpr int kBrowse = 1016;
}  // namespace sound_page

// The window in which a reply to a personal message is written and sent.
namespace reply {
inline constexpr int kTemplate = 210;
inline constexpr int kTo = 1001;
inline constexpr int kText = 1002;
inline constexpr int kStatus = 1003;
}  // namespace reply

}  // namespace dialogs
