#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// The program's dialogs as data: each control with its id, kind, rectangle in dialog units, the
// id of its localized text and its styles. One builder (ui/dialog) turns a template into
// widgets. Dialog units are the usual ones: a quarter of the dialog font's average character
// width across, an eighth of its height down.
namespace dialogs {

// Controls that are never addressed by id.
inline constexpr int kNoId = -1;
// The standard command ids of the confirming and cancelling buttons.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

enum class ControlKind : std::uint8_t {
    Label,          // static text
    Icon,           // static picture: the icon resource of the control
    EtchedLine,     // etched horizontal line
    CheckBox,       // automatic check box
    RadioButton,    // automatic radio button
    Edit,           // one-line edit
    ListBox,        // list of texts
    ListView,       // list of rows with columns (report view)
    PushButton,     // push button
    DefaultButton,  // the default push button
};

// Control styles; only those that change a control's behaviour or look here.
enum Style : std::uint32_t {
    kStyleNone = 0,
    kCentre = 1u << 0,                // text centred
    kNoPrefix = 1u << 1,              // '&' shown as it is
    kTransparent = 1u << 2,           // no background of its own
    kGroupStart = 1u << 3,            // first control of a group
    kTabStop = 1u << 4,               // reached with the Tab key
    kBorder = 1u << 5,                // thin border
    kVerticalScroll = 1u << 6,        // vertical scroll bar when needed
    kAutoHorizontalScroll = 1u << 7,  // text scrolls sideways instead of stopping at the edge
    kDigitsOnly = 1u << 8,            // the edit takes digits only
    kSorted = 1u << 9,                // the list keeps its texts in order
    kNotify = 1u << 10,               // the list reports selection changes
    kNoIntegralHeight = 1u << 11,     // the list keeps its height even when a row is cut
    kSingleSelection = 1u << 12,      // at most one row is selected
    kShowSelectionAlways = 1u << 13,  // the selection stays visible without focus
    kClientEdge = 1u << 14,           // sunken edge
    kFullRowSelect = 1u << 15,        // a selected row is highlighted across all columns
    kMultiLine = 1u << 16,            // the edit takes several lines
};

struct DialogControl {
    int id;
    ControlKind kind;
    // Rectangle in dialog units: left, top, width, height.
    int x, y, cx, cy;
    // Localized text that replaces the template text when the dialog is initialised; 0 if none.
    int text_id;
    // The text in the template.
    std::string_view text;
    std::uint32_t style;
    // Icon resource of an Icon control.
    int resource = 0;
};

struct DialogTemplate {
    int id;
    // Size in dialog units.
    int cx, cy;
    // A child dialog lives inside another window; any other is a window of its own with a caption.
    bool child;
    std::string_view caption;
    int caption_text_id;
    // The template's font: its units measure the dialog.
    std::string_view font_face;
    int font_points;
    std::span<const DialogControl> controls;

    const DialogControl* FindControl(int control_id) const {
        for (const DialogControl& control : controls) {
            if (control.id == control_id && control_id != kNoId) {
                return &control;
            }
        }
        return nullptr;
    }
};

// The template with that resource id, or null.
const DialogTemplate* FindDialogTemplate(int id);

}  // namespace dialogs
