// SPDX-License-Identifier: GPL-2.0-or-later
#include "control.h"

#include <algorithm>
#include <utility>

namespace fwtool {

const char* ControlPropertyName(ControlProperty property) {
  switch (property) {
    case ControlProperty::Text:
      return "Text";
    case ControlProperty::Items:
      return "Items";
    case ControlProperty::ItemIndex:
      return "ItemIndex";
    case ControlProperty::Checked:
      return "Checked";
    case ControlProperty::Visible:
      return "Visible";
    case ControlProperty::Enabled:
      return "Enabled";
    case ControlProperty::Font:
      return "Font";
    case ControlProperty::Color:
      return "Color";
    case ControlProperty::Position:
      return "Position";
    case ControlProperty::Height:
      return "Height";
    case ControlProperty::Notice:
      return "Notice";
  }
  return "?";
}

Control::Control(ControlObserver& observer, std::string name, ControlKind kind, Control* parent)
    : observer_(observer), name_(std::move(name)), kind_(kind), parent_(parent) {}

bool Control::Showing() const {
  for (const Control* c = this; c != nullptr; c = c->parent_)
    if (!c->visible_) return false;
  return true;
}

bool Control::AcceptsInput() const {
  for (const Control* c = this; c != nullptr; c = c->parent_)
    if (!c->visible_ || !c->Enabled()) return false;
  return true;
}

void Control::SetText(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  if (kind_ == ControlKind::ComboBox) {
    const auto it = std::find(items_.begin(), items_.end(), text_);
    const int index = it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
    if (index != itemIndex_) {
      itemIndex_ = index;
      Notify(ControlProperty::ItemIndex);
    }
  }
  Notify(ControlProperty::Text);
  if (kind_ == ControlKind::LabeledEdit || kind_ == ControlKind::ComboBox) Fire(onChange_);
}

void Control::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  Notify(ControlProperty::Visible);
}

void Control::SetEnabled(bool enabled) {
  const bool before = Enabled();
  enabled_ = enabled;
  if (Enabled() != before) Notify(ControlProperty::Enabled);
}

void Control::HoldDisabled(bool hold) {
  const bool before = Enabled();
  held_ = hold;
  if (Enabled() != before) Notify(ControlProperty::Enabled);
}

void Control::SetChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  Notify(ControlProperty::Checked);
  Fire(onClick_);
}

void Control::ClearItems() {
  if (items_.empty() && itemIndex_ == -1 && text_.empty()) return;
  items_.clear();
  itemIndex_ = -1;
  text_.clear();
  Notify(ControlProperty::Items);
  Notify(ControlProperty::ItemIndex);
}

void Control::AddItem(const std::string& item) {
  items_.push_back(item);
  Notify(ControlProperty::Items);
}

void Control::SetItems(std::vector<std::string> items) {
  items_ = std::move(items);
  if (itemIndex_ >= static_cast<int>(items_.size())) itemIndex_ = -1;
  Notify(ControlProperty::Items);
}

void Control::SetItemIndex(int index) {
  if (index < 0 || index >= static_cast<int>(items_.size())) index = -1;
  const std::string text = index < 0 ? std::string() : items_[static_cast<size_t>(index)];
  if (index == itemIndex_ && text == text_) return;
  itemIndex_ = index;
  text_ = text;
  Notify(ControlProperty::ItemIndex);
  Notify(ControlProperty::Text);
}

void Control::SetFontColor(uint32_t color) {
  if (color == font_.color) return;
  font_.color = color;
  Notify(ControlProperty::Font);
}

void Control::SetFont(FontSpec font) {
  font_ = std::move(font);
  Notify(ControlProperty::Font);
}

void Control::SetColor(uint32_t color) {
  if (color == color_) return;
  color_ = color;
  Notify(ControlProperty::Color);
}

void Control::SetPosition(int position) {
  position = std::clamp(position, min_, max_);
  if (position == position_) return;
  position_ = position;
  Notify(ControlProperty::Position);
}

void Control::SetHeight(int height) {
  if (height == height_) return;
  height_ = height;
  Notify(ControlProperty::Height);
}

void Control::Click() {
  if (!AcceptsInput()) return;
  if (kind_ == ControlKind::CheckBox) {
    SetChecked(!checked_);  // fires OnClick
  } else {
    Fire(onClick_);
  }
}

void Control::Select(int index) {
  if (!AcceptsInput() || kind_ != ControlKind::ComboBox) return;
  SetItemIndex(index);
  Fire(onChange_);
}

void Control::Type(const std::string& text) {
  if (!AcceptsInput() || readOnly_) return;
  if (kind_ != ControlKind::LabeledEdit && kind_ != ControlKind::ComboBox) return;
  SetText(text);
}

void Control::BindClick(std::string name, std::function<void(Control&)> handler) {
  onClick_ = {std::move(name), std::move(handler)};
}

void Control::BindChange(std::string name, std::function<void(Control&)> handler) {
  onChange_ = {std::move(name), std::move(handler)};
}

}  // namespace fwtool
