#pragma once

#include <span>
#include <string_view>

// The program's own texts: each has an id, its built-in English text and the language-file
// section in which a translation of it is looked up. "%s" marks a place the user of the text
// fills in.
namespace strings {

struct BuiltinString {
    int id;
    std::string_view text;
    std::string_view section;
};

// The whole table, in its fixed order.
std::span<const BuiltinString> BuiltinStrings();

// Shared
inline constexpr int kOk = 101;
inline constexpr int kCancel = 102;
inline constexpr int kBrowse = 103;
// PopupForm
inline constexpr int kMessagesReceived = 201;
inline constexpr int kPrevMessage = 202;
inline constexpr int kNextMessage = 203;
inline constexpr int kCopy = 204;
inline constexpr int kWroteTo = 205;  // two "%s": origin, then recipient
inline constexpr int kNoMessages = 206;
// TrayMenu
inline constexpr int kChangeOptions = 301;
inline constexpr int kAbout = 302;
inline constexpr int kExit = 303;
inline constexpr int kShowMessages = 304;
// TrayTip
inline constexpr int kTrayTip = 401;
// AboutForm
inline constexpr int kAboutCaption = 501;
inline constexpr int kAboutProduct = 502;
inline constexpr int kAboutDescription = 503;
inline constexpr int kAboutFeedback = 504;
inline constexpr int kAboutHomepage = 505;
// OptionsForm
inline constexpr int kOptionsCaption = 601;
inline constexpr int kOptionsGeneral = 602;
inline constexpr int kOptionsSystem = 603;
inline constexpr int kOptionsInterface = 604;
inline constexpr int kOptionsSoundEffects = 605;
inline constexpr int kOptionsBehaviour = 606;
inline constexpr int kOptionsMessageReception = 607;
// OptionsPageSys
inline constexpr int kSysHeading = 701;
inline constexpr int kSysLaunchGroup = 702;
inline constexpr int kSysLaunchOnStartup = 703;
inline constexpr int kSysLanguageGroup = 704;
inline constexpr int kSysSelectLanguage = 705;
inline constexpr int kSysTranslator = 706;
inline constexpr int kSysVersion = 707;
inline constexpr int kSysRestartNote = 708;
// OptionsPageSound
inline constexpr int kSoundHeading = 801;
inline constexpr int kSoundEnable = 802;
inline constexpr int kSoundEventColumn = 803;
inline constexpr int kSoundFileColumn = 804;
inline constexpr int kSoundBroadcast = 805;
inline constexpr int kSoundPersonal = 806;
// OptionsPageRecv
inline constexpr int kRecvHeading = 901;
inline constexpr int kRecvPopupGroup = 902;
inline constexpr int kRecvClosePopup = 903;
inline constexpr int kRecvManually = 904;
inline constexpr int kRecvAtExpiration = 905;
inline constexpr int kRecvSeconds = 906;
inline constexpr int kRecvDndNote = 907;
inline constexpr int kRecvDndPopup = 908;
// Notices
inline constexpr int kNoTrayTitle = 1001;
inline constexpr int kNoTrayText = 1002;
inline constexpr int kSettingsRepairedTitle = 1003;
inline constexpr int kSettingsRepairedText = 1004;
inline constexpr int kNoReceptionTitle = 1005;
inline constexpr int kNoReceptionText = 1006;  // "%s": one of the reasons below
inline constexpr int kServiceSilent = 1007;
inline constexpr int kServiceNeeded = 1008;  // "%s": the program's path
inline constexpr int kPortInUse = 1009;      // two "%s": port, then the program holding it
inline constexpr int kAnotherProgram = 1010;
inline constexpr int kPortFailed = 1011;  // two "%s": port, then the system's error text
inline constexpr int kSambaHoldsPorts = 1012;
inline constexpr int kOwnNameRefusedTitle = 1101;
// ReplyForm: the popup's Reply link and the window in which the answer is written
inline constexpr int kReply = 1201;    // the link and the window's caption
inline constexpr int kReplyTo = 1202;  // "%s": the recipient
inline constexpr int kReplySend = 1203;
inline constexpr int kReplyClose = 1204;
inline constexpr int kReplySending = 1205;
inline constexpr int kReplyDelivered = 1206;
inline constexpr int kReplyNotDelivered = 1207;  // "%s": the one-line problem
inline constexpr int kSentTo = 1208;  // the popup's line for a sent message: origin, recipient

}  // namespace strings
