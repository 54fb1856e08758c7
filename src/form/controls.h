#pragma once

// A plain model of the window's controls: each holds the properties the handlers read and
// write. A front end binds one widget to each control:
// - the form's changes reach the widget through the control's listener, called after every
//   change of a property by the form (never for a value the property already had);
// - the user's input reaches the form through the user* members (which store what the widget
//   already shows, without calling the listener back, and raise the control's events) and
//   through the form's handlers (clicks, key presses).
// Texts are UTF-8.

#include "form/ports.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vm::form {

// Colours are 0x00BBGGRR values; with the top bit set the low byte is a system colour index.
inline constexpr std::uint32_t kWhite = 0x00FFFFFFu;
inline constexpr std::uint32_t kSystemMenuColor = 0x80000004u;

enum class Property : std::uint8_t {
    Enabled,
    Text,      // TextBox, ComboBox (its edit text or picked entry)
    Value,     // OptionButton: selected
    Items,     // ComboBox: its entries
    ListIndex, // ComboBox: the picked entry; ListBox: the selected line
    BackColor, // ComboBox
    Lines,     // ListBox: see ListBox::Change
};

class Control {
public:
    using Listener = std::function<void(Property)>;

    // `index` is the member's index in a control array, -1 for a control of its own.
    explicit Control(std::string name, int index = -1)
        : name_(std::move(name))
        , index_(index) {}
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    const std::string& Name() const { return name_; }
    int Index() const { return index_; }

    // Disabled controls take no focus and raise no click: a front end keeps its widget
    // disabled and delivers no click for it.
    bool Enabled() const { return enabled_; }
    void setEnabled(bool enabled) { set(enabled_, enabled, Property::Enabled); }

    // One listener per control: the front end's binding. Replaces any earlier one.
    void setListener(Listener listener) { listener_ = std::move(listener); }

protected:
    void notify(Property property) {
        if (listener_)
            listener_(property);
    }
    template <typename T> void set(T& member, T value, Property property) {
        if (member == value)
            return;
        member = std::move(value);
        notify(property);
    }

private:
    std::string name_;
    int index_;
    bool enabled_ = true;
    Listener listener_;
};

class Label : public Control {
public:
    Label(std::string name, int index, std::string caption)
        : Control(std::move(name), index)
        , caption_(std::move(caption)) {}
    const std::string& Caption() const { return caption_; }

private:
    std::string caption_;
};

class CommandButton : public Control {
public:
    using Control::Control;
};

class OptionButton : public Control {
public:
    using Control::Control;
    bool Value() const { return value_; }
    // The form selects one member of a group and clears the others.
    void setValue(bool value) { set(value_, value, Property::Value); }

private:
    bool value_ = false;
};

// A text box, and the edit part of a combo box.
class TextBox : public Control {
public:
    using ChangeHandler = std::function<void()>;

    using Control::Control;

    const std::string& Text() const { return text_; }
    // The program sets the text: the widget follows, and the change event runs when the text
    // differs from before.
    void setText(std::string text) {
        if (text == text_)
            return;
        text_ = std::move(text);
        notify(Property::Text);
        changed();
    }
    // The user changed the text in the widget (typed, pasted, dropped, deleted): stored
    // without calling the listener, and the change event runs.
    void userSetText(std::string text) {
        if (text == text_)
            return;
        text_ = std::move(text);
        changed();
    }

    // The most characters the user may put in (0: no limit); see limitUserEdit in form.h.
    std::size_t MaxLength() const { return maxLength_; }
    void setMaxLength(std::size_t maxLength) { maxLength_ = maxLength; }
    // Read-only boxes show what the program writes; the user cannot type into them.
    bool Locked() const { return locked_; }
    void setLocked(bool locked) { locked_ = locked; }

    // The form's Change handler for this control.
    void setChangeHandler(ChangeHandler handler) { change_ = std::move(handler); }

private:
    void changed() {
        if (change_)
            change_();
    }

    std::string text_;
    std::size_t maxLength_ = 0;
    bool locked_ = false;
    ChangeHandler change_;
};

// A combo box: an editable one (its text may be typed) or a pick list (its text is always
// the picked entry, or empty).
class ComboBox : public TextBox {
public:
    enum class Style { Editable, PickList };

    ComboBox(std::string name, Style style)
        : TextBox(std::move(name))
        , style_(style) {}

    Style ComboStyle() const { return style_; }
    const std::vector<std::string>& Items() const { return items_; }
    void AddItem(std::string item) {
        items_.push_back(std::move(item));
        notify(Property::Items);
    }
    // -1 when no entry is picked (or the text was typed).
    int ListIndex() const { return listIndex_; }
    // Picks an entry by position (-1: none); the text becomes the entry's.
    void setListIndex(int index) {
        if (index < -1 || index >= int(items_.size()))
            return;
        set(listIndex_, index, Property::ListIndex);
        setText(index < 0 ? std::string() : items_[std::size_t(index)]);
    }
    // The user picked an entry in the widget: stored without calling the listener, and the
    // text's change event runs. The form's Click handler, if any, is the front end's next call.
    void userSetListIndex(int index) {
        if (index < -1 || index >= int(items_.size()))
            return;
        listIndex_ = index;
        userSetText(index < 0 ? std::string() : items_[std::size_t(index)]);
    }

    // Nothing until the form first sets it: the window design's colour.
    std::optional<std::uint32_t> BackColor() const { return backColor_; }
    void setBackColor(std::uint32_t color) {
        set(backColor_, std::optional<std::uint32_t>(color), Property::BackColor);
    }

private:
    Style style_;
    std::vector<std::string> items_;
    int listIndex_ = -1;
    std::optional<std::uint32_t> backColor_;
};

// The log list: lines in the order added, oldest first, and the selected line.
class ListBox : public Control {
public:
    // What changed in the lines, for a front end that follows them one change at a time (and
    // may gather a burst of them before it repaints). Its own listener; the Control listener
    // hears of Enabled alone.
    struct Change {
        enum class Kind {
            Added,        // `line` was appended and is the selected line
            RemovedFirst, // the oldest line was removed
            Cleared,      // every line was removed; nothing is selected
        };
        Kind kind;
        std::string_view line; // for Added; valid during the call
    };
    using LinesListener = std::function<void(const Change&)>;

    using Control::Control;

    const std::deque<std::string>& Lines() const { return lines_; }
    std::size_t ListCount() const { return lines_.size(); }
    // The selected line, -1 for none.
    int ListIndex() const { return listIndex_; }

    void AddItem(std::string line) {
        lines_.push_back(std::move(line));
        listIndex_ = int(lines_.size()) - 1;
        tell({Change::Kind::Added, lines_.back()});
    }
    void RemoveFirst() {
        if (lines_.empty())
            return;
        lines_.pop_front();
        listIndex_ = lines_.empty() ? -1 : listIndex_ - 1;
        tell({Change::Kind::RemovedFirst, {}});
    }
    void Clear() {
        if (lines_.empty())
            return;
        lines_.clear();
        listIndex_ = -1;
        tell({Change::Kind::Cleared, {}});
    }

    void setLinesListener(LinesListener listener) { linesListener_ = std::move(listener); }

private:
    void tell(const Change& change) {
        if (linesListener_)
            linesListener_(change);
    }

    std::deque<std::string> lines_;
    int listIndex_ = -1;
    LinesListener linesListener_;
};

// A window timer: its period and whether it runs. The form changes it; the platform timer
// behind it (TimerPort) follows, and its ticks are the front end's calls of the form's tick
// handler.
class Timer {
public:
    Timer(std::string name, TimerPort& port, std::chrono::milliseconds interval)
        : name_(std::move(name))
        , port_(port)
        , interval_(interval) {}
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    const std::string& Name() const { return name_; }
    bool Enabled() const { return enabled_; }
    std::chrono::milliseconds Interval() const { return interval_; }

    // Turning a timer on starts its count; turning it off stops it; nothing else happens.
    void setEnabled(bool enabled) {
        if (enabled == enabled_)
            return;
        enabled_ = enabled;
        if (enabled)
            port_.Start(interval_);
        else
            port_.Stop();
    }
    // A new period takes effect at once on a running timer, counted from now.
    void setInterval(std::chrono::milliseconds interval) {
        if (interval == interval_)
            return;
        interval_ = interval;
        if (enabled_)
            port_.Start(interval_);
    }
    // Turns the timer on and starts its count again from now, running or not.
    void Restart() {
        enabled_ = true;
        port_.Start(interval_);
    }

private:
    std::string name_;
    TimerPort& port_;
    std::chrono::milliseconds interval_;
    bool enabled_ = false;
};

} // namespace vm::form
