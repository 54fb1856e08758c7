#include "form/layout.h"

#include "form/form.h" // kVendorAddress, the vendor link's caption

#include <algorithm>
#include <array>

namespace vm::form {

std::string ControlId::objectName() const {
    std::string text(name);
    if (isArrayMember())
        text += '_' + std::to_string(index);
    return text;
}

namespace {

constexpr Bgr kCommandCaptionColor = 0x00C00000; // dark blue: the frames of what the user does
constexpr Bgr kValueCaptionColor = 0x0000C000;   // green: the frames of the module's values
constexpr Bgr kChannelTextColor = 0x000040C0;    // dark orange: input and output characters
constexpr Bgr kNumberTextColor = 0x00808000;     // teal: counters and gap times
constexpr Bgr kPanelColor = 0x00C8D0D4;          // light grey: the bottom panel

constexpr Font kCaptionFont{"Arial", 9, true};
constexpr Font kValueFont{"Arial", 9.75, true};

constexpr ControlId id(std::string_view name, int index = ControlId::kNoIndex) {
    return ControlId{name, index};
}

constexpr ControlLayout control(ControlId self, Kind kind, ControlId in, TwipsRect at,
                                std::string_view caption = {}, bool enabled = true) {
    ControlLayout c{};
    c.id = self;
    c.kind = kind;
    c.container = in;
    c.twips = at;
    c.caption = caption;
    c.enabled = enabled;
    return c;
}

constexpr ControlLayout frame(ControlId self, std::string_view caption, TwipsRect at,
                              Bgr captionColor, Font font = kCaptionFont) {
    ControlLayout c = control(self, Kind::GroupBox, kWindow, at, caption);
    c.font = font;
    c.foreColor = captionColor;
    return c;
}

constexpr ControlLayout option(ControlId self, ControlId in, TwipsRect at, std::string_view caption,
                               bool selected = false) {
    ControlLayout c = control(self, Kind::OptionButton, in, at, caption);
    c.selected = selected;
    return c;
}

constexpr ControlLayout named(ControlLayout c, std::string_view accessibleName) {
    c.accessibleName = accessibleName;
    return c;
}

// A value box of " DI " or " DO": one character, centred, not writable from the keyboard.
constexpr ControlLayout channelBox(ControlId self, ControlId in, int left, int top) {
    ControlLayout c = control(self, Kind::TextBox, in, {left, top, 800, 360});
    c.font = kValueFont;
    c.foreColor = kChannelTextColor;
    c.align = Align::Center;
    c.readOnly = true;
    return c;
}

// A value box of " Counter " or "GapTime": a number, right-aligned.
constexpr ControlLayout numberBox(ControlId self, ControlId in, int left) {
    ControlLayout c = control(self, Kind::TextBox, in, {left, 480, 1275, 330});
    c.font = kValueFont;
    c.foreColor = kNumberTextColor;
    c.align = Align::Right;
    return c;
}

constexpr ControlLayout caption(int labelIndex, ControlId in, std::string_view text, int left,
                                int width) {
    return control(id("lbsCH_Input", labelIndex), Kind::Label, in, {left, 240, width, 225}, text);
}

constexpr ControlLayout panel() {
    ControlLayout c = control(id("SSPanel2"), Kind::Panel, kWindow, {0, 9105, 11160, 465});
    c.backColor = kPanelColor;
    return c;
}

constexpr ControlLayout vendorLink() {
    ControlLayout c = control(id("Label1", 1), Kind::Label, id("SSPanel2"), {120, 150, 1980, 180},
                              kVendorAddress);
    c.font = Font{"Gulim", 9, false};
    c.backColor = kPanelColor;
    c.accessibleName = "Vendor web page";
    return c;
}

constexpr ControlLayout logList() {
    ControlLayout c =
        named(control(id("List1"), Kind::ListBox, kWindow, {0, 6840, 11055, 2205}), "Log");
    c.font = Font{"GulimChe", 9.75, false};
    return c;
}

constexpr ControlId kFrame1 = id("Frame1");
constexpr ControlId kFrame3 = id("Frame3");
constexpr ControlId kFrame2 = id("Frame2");
constexpr ControlId kFrame7 = id("Frame7");
constexpr ControlId kFrame8 = id("Frame8");
constexpr ControlId kFrame9 = id("Frame9");
constexpr ControlId kDoFrame = id("Frame11", 0);
constexpr ControlId kCheckSumFrame = id("Frame11", 1);
constexpr ControlId kCounterFrame = id("Frame5", 0);
constexpr ControlId kGapTimeFrame = id("Frame5", 1);

using K = Kind;

// The entries of the interval box, "1" to "15": part of the window; the program never adds to
// them. The pick lists of " Data Send " are filled by the load step.
constexpr std::array<std::string_view, 15> kIntervalEntries{
    "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15"};

constexpr ControlLayout intervalBox() {
    ControlLayout c =
        named(control(id("cboTime"), K::ComboEdit, id("Frame2"), {5235, 330, 825, 345}, "1", false),
              "Time Interval");
    c.entries = kIntervalEntries;
    return c;
}

constexpr std::array kControls{
    // " TCP Information "
    frame(kFrame1, " TCP Information ", {30, 60, 7275, 855}, kCommandCaptionColor),
    control(id("Label3"), K::Label, kFrame1, {180, 390, 1155, 225}, "Destination IP"),
    named(control(id("txtDestIP"), K::TextBox, kFrame1, {1380, 330, 1695, 330}), "Destination IP"),
    control(id("Label4"), K::Label, kFrame1, {3240, 390, 330, 225}, "Port"),
    named(control(id("txtDestPort"), K::TextBox, kFrame1, {3660, 330, 825, 330}), "Port"),
    control(id("cmdConnect"), K::Button, kFrame1, {4680, 300, 1155, 375}, "Connect"),
    control(id("cmdDisconnect"), K::Button, kFrame1, {5850, 300, 1155, 375}, "Disconnect", false),

    // " Ping TEST "
    frame(kFrame3, " Ping TEST ", {7380, 60, 3675, 855}, kCommandCaptionColor),
    control(id("cmdPingStart"), K::Button, kFrame3, {570, 300, 1215, 375}, "Ping Start"),
    control(id("cmdPingStop"), K::Button, kFrame3, {1950, 300, 1215, 375}, "Ping Stop"),

    // " Data Send Action "
    frame(kFrame2, " Data Send Action ", {30, 990, 7275, 855}, kCommandCaptionColor),
    option(id("optInterval", 0), kFrame2, {420, 405, 1575, 225}, "OneTime Send", true),
    option(id("optInterval", 1), kFrame2, {2520, 405, 975, 225}, "Repeat"),
    control(id("lblTime", 0), K::Label, kFrame2, {4080, 390, 1050, 225}, "Time Interval", false),
    intervalBox(),
    control(id("lblTime", 1), K::Label, kFrame2, {6090, 405, 750, 225}, "(Second)", false),

    // " Log Level "
    frame(kFrame7, " Log Level ", {7380, 990, 3675, 855}, kCommandCaptionColor),
    option(id("optLog", 0), kFrame7, {570, 390, 615, 255}, "List", true),
    option(id("optLog", 1), kFrame7, {1800, 390, 1095, 255}, "List + File"),

    // " Data Send "
    frame(kFrame8, " Data Send ", {0, 1920, 11085, 1455}, kCommandCaptionColor),
    option(id("optCommand", 0), kFrame8, {360, 360, 1425, 240}, "R (Request)", true),
    option(id("optCommand", 1), kFrame8, {360, 720, 1605, 240}, "T (DO Setting) "),
    option(id("optCommand", 2), kFrame8, {360, 1080, 1815, 240}, "C (Count Reset)"),
    control(id("Label1", 0), K::Label, kFrame8, {2280, 360, 855, 255}, "Channel"),
    control(id("Label2"), K::Label, kFrame8, {3480, 360, 615, 255}, "Value"),
    control(id("ComboSet"), K::ComboPick, kFrame8, {2280, 600, 975, 345}, {}, false),
    control(id("ComboValue"), K::ComboPick, kFrame8, {3480, 600, 975, 345}, {}, false),
    control(id("ComboReset"), K::ComboPick, kFrame8, {2280, 960, 975, 345}, {}, false),
    control(id("cmdSend"), K::Button, kFrame8, {7020, 300, 1245, 375}, "Send"),
    control(id("cmdEnd"), K::Button, kFrame8, {8280, 300, 1245, 375}, "End", false),
    control(id("cmdClear"), K::Button, kFrame8, {9540, 300, 1245, 375}, "List Clear"),

    // " DI ": six inputs, a caption over each box; the caption labels' indices are not in
    // channel order.
    frame(kFrame9, " DI ", {0, 3480, 6975, 1005}, kValueCaptionColor, Font{"Gulim", 9, true}),
    caption(0, kFrame9, "CH00", 240, 480),
    channelBox(id("txt_Input", 0), kFrame9, 240, 480),
    caption(1, kFrame9, "CH01", 1080, 480),
    channelBox(id("txt_Input", 1), kFrame9, 1080, 480),
    caption(6, kFrame9, "CH02", 1920, 480),
    channelBox(id("txt_Input", 2), kFrame9, 1920, 480),
    caption(7, kFrame9, "CH03", 2760, 480),
    channelBox(id("txt_Input", 3), kFrame9, 2760, 480),
    caption(8, kFrame9, "CH04", 3600, 480),
    channelBox(id("txt_Input", 4), kFrame9, 3600, 480),
    caption(9, kFrame9, "CH05", 4440, 480),
    channelBox(id("txt_Input", 5), kFrame9, 4440, 480),

    // " DO": two outputs, their boxes a little lower than the inputs'.
    frame(kDoFrame, " DO", {7080, 3480, 2175, 1005}, kValueCaptionColor),
    caption(15, kDoFrame, "CH00", 120, 480),
    channelBox(id("txt_Output", 0), kDoFrame, 120, 500),
    caption(4, kDoFrame, "CH01", 960, 480),
    channelBox(id("txt_Output", 1), kDoFrame, 960, 500),

    // "CheckSum": the window's font and colours, left-aligned.
    frame(kCheckSumFrame, "CheckSum", {9360, 3480, 1665, 1005}, kValueCaptionColor),
    caption(21, kCheckSumFrame, "CheckSum", 120, 915),
    control(id("txt_CheckSum"), K::TextBox, kCheckSumFrame, {120, 480, 1215, 375}),

    // " Counter ": the second caption stands left of its box.
    frame(kCounterFrame, " Counter ", {0, 4560, 10995, 1005}, kValueCaptionColor),
    caption(2, kCounterFrame, "Counter 0", 240, 810),
    numberBox(id("txtCounter", 0), kCounterFrame, 240),
    caption(3, kCounterFrame, "Counter 1", 1560, 810),
    numberBox(id("txtCounter", 1), kCounterFrame, 1680),
    caption(5, kCounterFrame, "Counter 2", 2880, 810),
    numberBox(id("txtCounter", 2), kCounterFrame, 2880),
    caption(10, kCounterFrame, "Counter 3", 4200, 810),
    numberBox(id("txtCounter", 3), kCounterFrame, 4200),
    caption(11, kCounterFrame, "Counter 4", 5520, 810),
    numberBox(id("txtCounter", 4), kCounterFrame, 5520),
    caption(12, kCounterFrame, "Counter 5", 6840, 810),
    numberBox(id("txtCounter", 5), kCounterFrame, 6840),

    // "GapTime"
    frame(kGapTimeFrame, "GapTime", {0, 5640, 10995, 1005}, kValueCaptionColor),
    caption(19, kGapTimeFrame, "GapTime 0", 240, 915),
    numberBox(id("txtGapTime", 0), kGapTimeFrame, 240),
    caption(18, kGapTimeFrame, "GapTime 1", 1560, 915),
    numberBox(id("txtGapTime", 1), kGapTimeFrame, 1560),
    caption(17, kGapTimeFrame, "GapTime 2", 2880, 915),
    numberBox(id("txtGapTime", 2), kGapTimeFrame, 2880),
    caption(16, kGapTimeFrame, "GapTime 3", 4200, 915),
    numberBox(id("txtGapTime", 3), kGapTimeFrame, 4200),
    caption(14, kGapTimeFrame, "GapTime 4", 5520, 915),
    numberBox(id("txtGapTime", 4), kGapTimeFrame, 5520),
    caption(13, kGapTimeFrame, "GapTime 5", 6840, 915),
    numberBox(id("txtGapTime", 5), kGapTimeFrame, 6840),

    // Below the frames: the log list, and the bottom panel with the vendor link.
    logList(),
    panel(),
    vendorLink(),
};

constexpr std::array kTabOrder{
    // " TCP Information ", " Ping TEST "
    id("txtDestIP"), id("txtDestPort"), id("cmdConnect"), id("cmdDisconnect"), id("cmdPingStart"),
    id("cmdPingStop"),
    // " Data Send Action ", " Log Level "
    id("optInterval", 0), id("optInterval", 1), id("cboTime"), id("optLog", 0), id("optLog", 1),
    // " Data Send "
    id("optCommand", 0), id("optCommand", 1), id("optCommand", 2), id("ComboSet"), id("ComboValue"),
    id("ComboReset"), id("cmdSend"), id("cmdEnd"), id("cmdClear"),
    // " DI ", " DO", "CheckSum"
    id("txt_Input", 0), id("txt_Input", 1), id("txt_Input", 2), id("txt_Input", 3),
    id("txt_Input", 4), id("txt_Input", 5), id("txt_Output", 0), id("txt_Output", 1),
    id("txt_CheckSum"),
    // " Counter ", "GapTime"
    id("txtCounter", 0), id("txtCounter", 1), id("txtCounter", 2), id("txtCounter", 3),
    id("txtCounter", 4), id("txtCounter", 5), id("txtGapTime", 0), id("txtGapTime", 1),
    id("txtGapTime", 2), id("txtGapTime", 3), id("txtGapTime", 4), id("txtGapTime", 5),
    // the log list
    id("List1")};

} // namespace

std::span<const ControlLayout> controls() {
    return kControls;
}

const ControlLayout* find(const ControlId& wanted) {
    const auto it = std::find_if(kControls.begin(), kControls.end(),
                                 [&](const ControlLayout& c) { return c.id == wanted; });
    return it == kControls.end() ? nullptr : &*it;
}

std::span<const ControlId> tabOrder() {
    return kTabOrder;
}

} // namespace vm::form
