// SPDX-License-Identifier: GPL-2.0-or-later
// One control of the main window as plain data: what a view renders and what a
// test reads. Every change made through a setter is reported to the control's
// observer (the form), which tells the views.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fwtool {

enum class ControlKind { Form, Panel, Label, Button, CheckBox, ComboBox, LabeledEdit, ProgressBar };

// The property a change notification is about.
enum class ControlProperty {
  Text,       // caption of a label, button, check box or the form; text of an edit or combo
  Items,      // combo box items
  ItemIndex,  // combo box selection
  Checked,
  Visible,
  Enabled,
  Font,      // name, height or colour
  Color,     // background colour of a panel
  Position,  // progress bar position
  Height,    // form height
  Notice,    // the form's own notice line (see TV77xFwTool::Notice)
};

const char* ControlPropertyName(ControlProperty property);

// Colours as 0xRRGGBB.
inline constexpr uint32_t kColorBlack = 0x000000;
inline constexpr uint32_t kColorRed = 0xFF0000;
inline constexpr uint32_t kColorNavy = 0x000080;

struct FontSpec {
  std::string name;
  int height = 0;  // negative: character height in pixels
  uint32_t color = kColorBlack;
};

class Control;

class ControlObserver {
 public:
  virtual ~ControlObserver() = default;
  virtual void ControlChanged(const Control& control, ControlProperty property) = 0;
};

// A handler bound to an event of a control, with the designer's handler name.
struct EventBinding {
  std::string name;                       // "UpdateBtnCheck"; empty when unbound
  std::function<void(Control&)> handler;  // called with the sender
  explicit operator bool() const { return static_cast<bool>(handler); }
};

class Control {
 public:
  Control(ControlObserver& observer, std::string name, ControlKind kind, Control* parent);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // Identity and design-time data.
  const std::string& Name() const { return name_; }
  ControlKind Kind() const { return kind_; }
  const Control* Parent() const { return parent_; }
  int Tag() const { return tag_; }
  bool ReadOnly() const { return readOnly_; }
  bool ShowHint() const { return showHint_; }
  // The caption of a labelled edit's label, and whether it sits on the left
  // (otherwise above the field).
  const std::string& EditLabel() const { return editLabel_; }
  bool EditLabelOnLeft() const { return editLabelOnLeft_; }
  int Min() const { return min_; }
  int Max() const { return max_; }
  const EventBinding& OnClick() const { return onClick_; }
  const EventBinding& OnChange() const { return onChange_; }

  // State.
  const std::string& Text() const { return text_; }
  const std::vector<std::string>& Items() const { return items_; }
  int ItemIndex() const { return itemIndex_; }  // -1 when nothing is selected
  bool Checked() const { return checked_; }
  // The control's own flag; a control shows only when its parents show too.
  bool Visible() const { return visible_; }
  bool Showing() const;
  // False also while the form holds the control disabled (see HoldDisabled).
  bool Enabled() const { return enabled_ && !held_; }
  const FontSpec& Font() const { return font_; }
  uint32_t FontColor() const { return font_.color; }
  uint32_t Color() const { return color_; }
  int Position() const { return position_; }
  int Height() const { return height_; }

  // Changes by the program. Like the toolkit: setting an edit's or combo's
  // text to a new value fires its change handler, setting a check box to a
  // new state fires its click handler; selecting a combo item does not.
  void SetText(const std::string& text);
  void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  void SetEnabled(bool enabled);
  void SetChecked(bool checked);
  void ClearItems();
  void AddItem(const std::string& item);
  void SetItems(std::vector<std::string> items);
  void SetItemIndex(int index);  // out of range selects nothing
  void SetFontColor(uint32_t color);
  void SetFont(FontSpec font);
  void SetColor(uint32_t color);
  void SetPosition(int position);  // clamped to Min..Max
  void SetHeight(int height);

  // The operator's actions, as a view forwards them. Ignored unless the
  // control shows and is enabled (with its parents).
  // Button: fires OnClick. Check box: toggles Checked, which fires OnClick.
  void Click();
  // Combo box: selects the item and fires OnChange.
  void Select(int index);
  // Edit or combo box: the operator typed a new text (fires OnChange).
  void Type(const std::string& text);
  bool AcceptsInput() const;

  // Design-time setup by the form.
  void SetTag(int tag) { tag_ = tag; }
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  void SetShowHint(bool showHint) { showHint_ = showHint; }
  void SetEditLabel(std::string label, bool onLeft = false) {
    editLabel_ = std::move(label);
    editLabelOnLeft_ = onLeft;
  }
  void SetRange(int min, int max) {
    min_ = min;
    max_ = max;
  }
  void BindClick(std::string name, std::function<void(Control&)> handler);
  void BindChange(std::string name, std::function<void(Control&)> handler);

  // The form keeps "YES" and "Run" disabled while an operation runs: the
  // control then reads as disabled whatever the handlers set, and takes the
  // state they set last when the hold ends.
  void HoldDisabled(bool hold);

 private:
  void Notify(ControlProperty property) { observer_.ControlChanged(*this, property); }
  void Fire(const EventBinding& binding) {
    if (binding) binding.handler(*this);
  }

  ControlObserver& observer_;
  std::string name_;
  ControlKind kind_;
  Control* parent_;
  int tag_ = 0;
  bool readOnly_ = false;
  bool showHint_ = false;
  std::string editLabel_;
  bool editLabelOnLeft_ = false;
  int min_ = 0;
  int max_ = 100;
  EventBinding onClick_;
  EventBinding onChange_;

  std::string text_;
  std::vector<std::string> items_;
  int itemIndex_ = -1;
  bool checked_ = false;
  bool visible_ = true;
  bool enabled_ = true;
  bool held_ = false;
  FontSpec font_;
  uint32_t color_ = 0;
  int position_ = 0;
  int height_ = 0;
};

}  // namespace fwtool
