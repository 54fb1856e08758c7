#pragma once

// The window frmSim_3870 as data, for every front end to build its controls from: each
// control's design name and array index, kind, container, place in twips, caption or initial
// text, font, colours and initial state, and the keyboard focus order. Plain C++: no toolkit
// reads anything else to lay the window out, so that the windows of every platform stand alike.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vm::form {

// A control's design name and, for a member of a control array, its index (optCommand(1) is
// {"optCommand", 1}); a control outside an array has the index kNoIndex.
struct ControlId {
    static constexpr int kNoIndex = -1;
    std::string_view name;
    int index = kNoIndex;

    bool isArrayMember() const { return index != kNoIndex; }
    // "optCommand_1" for an array member, the plain name otherwise: the name a front end gives
    // the native control where it takes one name (an object name, an automation id).
    std::string objectName() const;
    bool operator==(const ControlId&) const = default;
};

// The window itself as a container.
inline constexpr ControlId kWindow{"frmSim_3870"};

enum class Kind {
    GroupBox,     // a frame with a caption; its option buttons form one group
    Label,        // a caption that never takes the focus
    TextBox,      // a one-line entry field
    ComboEdit,    // a combo box whose text the user may type (cboTime)
    ComboPick,    // a combo box that only offers its entries
    OptionButton, // one choice of its group box
    Button,       // a command button
    ListBox,      // the log list: fixed-pitch lines, one per entry
    Panel,        // the raised strip docked to the window's bottom edge
};

// Place and size in twips (1440 to the inch, 15 to a pixel at 96 dots per inch), relative to
// the container: the window's client area, the outer edge of a group box (its caption line
// included), or the bottom panel.
struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct Font {
    std::string_view face; // the design's face; a front end maps a missing face to its kind
    double points = 9;
    bool bold = false;
    bool operator==(const Font&) const = default;
};

// The window's caption, client area in twips and the font of every control given no font of
// its own.
inline constexpr std::string_view kWindowCaption =
    "Velmora 3870/3890 Simulator Ver2.0 (2011.08.16)";
inline constexpr int kClientWidth = 11160;
inline constexpr int kClientHeight = 9570;
inline constexpr Font kWindowFont{"Arial", 9, false};

// Horizontal alignment of a text box's text.
enum class Align { Left, Center, Right };

// A colour as the design gives it: 0x00BBGGRR.
using Bgr = std::uint32_t;
inline constexpr Bgr kNoColor = 0xFFFFFFFF; // the system's colour for the role

struct ControlLayout {
    ControlId id;
    Kind kind = Kind::Label;
    ControlId container; // kWindow, a group box or the panel
    TwipsRect twips;
    std::string_view caption; // caption, or initial text of a text box; may be empty
    Font font = kWindowFont;
    Bgr foreColor = kNoColor; // caption colour of a group box, text colour of a value box
    Bgr backColor = kNoColor;
    bool enabled = true;
    bool selected = false; // the option button chosen in its group at start
    bool readOnly = false; // a value box the keyboard cannot write (" DI ", " DO")
    Align align = Align::Left;
    std::string_view accessibleName;           // what a screen reader names a field with no caption
    std::span<const std::string_view> entries; // a combo box's entries that are part of the window
};

// Every control on the window, containers before what they hold, in the order the containers
// stand on the window (top to bottom, left to right). The bottom panel's rectangle is the one
// it has at the design's client size; it stays docked to the bottom edge across the width.
std::span<const ControlLayout> controls();

// The layout of one control; nullptr for a name and index not on the window.
const ControlLayout* find(const ControlId& id);

// The keyboard focus order of the controls that take the focus: the window's reading order,
// frame by frame (" TCP Information ", " Ping TEST ", " Data Send Action ", " Log Level ",
// " Data Send ", " DI ", " DO", "CheckSum", " Counter ", "GapTime", then the log list), and
// within a frame left to right and top to bottom: in " Data Send " the command options, then
// the pick lists as they read (Channel, Value, then the reset channel below), then the
// buttons. A front end skips disabled controls, and enters a group of option buttons at its
// chosen member (the arrow keys move within the group).
std::span<const ControlId> tabOrder();

// Twips to pixels at a display's dots per inch, rounded to the nearest pixel (halves away
// from zero): 96 dots per inch gives 15 twips to the pixel.
constexpr int twipsToPixels(int twips, int dpi = 96) {
    const long long scaled = static_cast<long long>(twips) * dpi;
    return static_cast<int>(scaled >= 0 ? (scaled + 720) / 1440 : -((-scaled + 720) / 1440));
}

} // namespace vm::form
