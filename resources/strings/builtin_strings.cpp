#include "resources/strings/builtin_strings.h"

namespace strings {
namespace {

constexpr BuiltinString kTable[] = {
    {kOk, "OK", "Shared"},
    {kCancel, "Cancel", "Shared"},
    {kBrowse, "Browse", "Shared"},
    {kMessagesReceived, "Messages received", "PopupForm"},
    {kPrevMessage, "Prev message", "PopupForm"},
    {kNextMessage, "Next message", "PopupForm"},
    {kCopy, "Copy", "PopupForm"},
    {kWroteTo, "%s wrote to %s:", "PopupForm"},
    {kNoMessages, "No messages", "PopupForm"},
    {kChangeOptions, "Change options...", "TrayMenu"},
    {kAbout, "About...", "TrayMenu"},
    {kExit, "Exit Tolvane", "TrayMenu"},
    {kShowMessages, "Show messages", "TrayMenu"},
    {kTrayTip, "Tolvane Corvessan 2.0", "TrayTip"},
    {kAboutCaption, "About Tolvane", "AboutForm"},
    {kAboutProduct, "Tolvane Corvessan 2.0", "AboutForm"},
    {kAboutDescription, "'net send' message receiver", "AboutForm"},
    {kAboutFeedback, "Feedback:", "AboutForm"},
    {kAboutHomepage, "Homepage:", "AboutForm"},
    {kOptionsCaption, "Options", "OptionsForm"},
    {kOptionsGeneral, "General", "OptionsForm"},
    {kOptionsSystem, "System", "OptionsForm"},
    {kOptionsInterface, "Interface", "OptionsForm"},
    {kOptionsSoundEffects, "Sound effects", "OptionsForm"},
    {kOptionsBehaviour, "Behaviour", "OptionsForm"},
    {kOptionsMessageReception, "Message reception", "OptionsForm"},
    {kSysHeading, "System", "OptionsPageSys"},
    {kSysLaunchGroup, "Tolvane launch", "OptionsPageSys"},
    {kSysLaunchOnStartup, "Launch Tolvane on Windows startup", "OptionsPageSys"},
    {kSysLanguageGroup, "Interface language", "OptionsPageSys"},
    {kSysSelectLanguage, "Select your preferred language:", "OptionsPageSys"},
    {kSysTranslator, "Translator:", "OptionsPageSys"},
    {kSysVersion, "Version:", "OptionsPageSys"},
    {kSysRestartNote, "Note: restart Tolvane for language change to take effect", "OptionsPageSys"},
    {kSoundHeading, "Sound effects", "OptionsPageSound"},
    {kSoundEnable, "Enable sound effects", "OptionsPageSound"},
    {kSoundEventColumn, "Event", "OptionsPageSound"},
    {kSoundFileColumn, "Sound file name", "OptionsPageSound"},
    {kSoundBroadcast, "Broadcast message", "OptionsPageSound"},
    {kSoundPersonal, "Personal message", "OptionsPageSound"},
    {kRecvHeading, "Message reception", "OptionsPageRecv"},
    {kRecvPopupGroup, "Popup message window", "OptionsPageRecv"},
    {kRecvClosePopup, "Close popup message window", "OptionsPageRecv"},
    {kRecvManually, "Manually", "OptionsPageRecv"},
    {kRecvAtExpiration, "At expiration of", "OptionsPageRecv"},
    {kRecvSeconds, "sec.", "OptionsPageRecv"},
    {kRecvDndNote,
     "While the desktop's Do Not Disturb is on, a message does not pop up: the icon blinks until "
     "you click it or Do Not Disturb ends.",
     "OptionsPageRecv"},
    {kRecvDndPopup, "Pop up even during Do Not Disturb", "OptionsPageRecv"},
    {kNoTrayTitle, "No tray icon for Tolvane Corvessan", "Notices"},
    {kNoTrayText,
     "This desktop shows no notification area, so the Tolvane icon cannot appear. Messages "
     "still pop up. On GNOME, the AppIndicator extension (gnome-shell-extension-appindicator) "
     "brings the icon. Until then, right-click Tolvane Corvessan in the application menu for "
     "its options, the about box and exit.",
     "Notices"},
    {kSettingsRepairedTitle, "Some Tolvane settings could not be read", "Notices"},
    {kSettingsRepairedText,
     "Some lines of the settings file could not be read. Every setting that could be read was "
     "kept; the file as it was is kept as %s.",
     "Notices"},
    {kNoReceptionTitle, "Tolvane Corvessan receives no messages", "Notices"},
    {kNoReceptionText,
     "Messages sent to this computer cannot reach Tolvane until this is fixed: %s", "Notices"},
    {kServiceSilent,
     "the NetBIOS service does not answer. Restart it with: sudo systemctl restart "
     "tolvane-netbiosd",
     "Notices"},
    {kServiceNeeded,
     "the NetBIOS service is not running, and Tolvane may not open the NetBIOS ports itself. "
     "Start the service (sudo systemctl start tolvane-netbiosd) or give Tolvane the capability: "
     "sudo setcap cap_net_bind_service=+ep %s",
     "Notices"},
    {kPortInUse, "port %s is in use by %s", "Notices"},
    {kAnotherProgram, "another program", "Notices"},
    {kPortFailed, "port %s cannot be opened: %s", "Notices"},
    {kSambaHoldsPorts,
     "Samba's nmbd and smbd hold the NetBIOS ports. To keep Samba's file sharing beside Tolvane, "
     "set \"smb ports = 445\" and \"disable netbios = yes\" in the [global] section of "
     "/etc/samba/smb.conf, then run: sudo systemctl disable --now nmbd; sudo systemctl restart "
     "smbd; sudo systemctl enable --now tolvane-netbiosd.socket",
     "Notices"},
    {kOwnNameRefusedTitle, "Messages to your name do not reach you", "Notices"},
    {kReply, "Reply", "ReplyForm"},
    {kReplyTo, "To %s:", "ReplyForm"},
    {kReplySend, "Send", "ReplyForm"},
    {kReplyClose, "Close", "ReplyForm"},
    {kReplySending, "Sending…", "ReplyForm"},
    {kReplyDelivered, "Delivered.", "ReplyForm"},
    {kReplyNotDelivered, "Not delivered: %s", "ReplyForm"},
    {kSentTo, "Sent by %s to %s:", "ReplyForm"},
};

}  // namespace

std::span<const BuiltinString> BuiltinStrings() {
    return kTable;
}

}  // namespace strings
