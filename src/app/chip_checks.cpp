// SPDX-License-Identifier: GPL-2.0-or-later
// What the device list asks of each controller: is it a target chip, what is
// it called, and does it run the embedded image already.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "Fwupdate.h"
#include "chip_rows.h"
#include "firmware.h"
#include "form_texts.h"
#include "identify.h"
#include "printable_text.h"
#include "procedures.h"
#include "transport.h"

namespace fwtool {

namespace {

constexpr size_t kInquiryNameOffset = 8;
constexpr size_t kInquiryNameLength = 24;

bool IsTargetType(uint8_t chipType) {
  return ChipRowFor(chipType).oneClickTarget;
}

}  // namespace

uint16_t TV77xFwTool::Identify(const std::string& path) {
  return IdentifyChip(op_, path);
}

std::string TV77xFwTool::InquiryName(const std::string& path) {
  std::array<uint8_t, kInquiryLength> answer{};
  if (!Inquiry(path, answer.data(), kInquiryLength)) return {};
  const char* text = reinterpret_cast<const char*>(answer.data() + kInquiryNameOffset);
  // The unit names itself: whatever it sends reaches every face as text,
  // never as a control of the screen it is shown on.
  return EscapeControls(std::string_view(text, strnlen(text, kInquiryNameLength)));
}

UnitCheck TV77xFwTool::ListedUnitCheck(const std::string& path) {
  const auto listed = std::find_if(survey_.begin(), survey_.end(), [&](const DeviceSurveyEntry& e) {
    return e.listIndex >= 0 && e.path == path;
  });
  if (listed == survey_.end()) return {};
  return [this, path, name = listed->name, identification = listed->identification] {
    const uint16_t nowIdentification = Identify(path);
    const std::string nowName = InquiryName(path);
    if (nowIdentification == identification && nowName == name) return std::string();
    auto describe = [](std::string unitName, uint16_t id) {
      unitName.erase(unitName.find_last_not_of(' ') + 1);
      return fmt::format("\"{}\", chip {}.{}", unitName, ChipTypeOf(id), ChipSubRevOf(id));
    };
    return fmt::format(texts::kNotTheListedUnit, path, describe(name, identification),
                       describe(nowName, nowIdentification));
  };
}

bool TV77xFwTool::IsTargetChip(const std::string& path, uint16_t* identification) {
  const uint16_t answer = Identify(path);
  if (identification != nullptr) *identification = answer;
  return IsTargetType(ChipTypeOf(answer));
}

bool TV77xFwTool::IsAlreadyUpdated(const std::string& path) {
  if (!IsTargetType(ChipTypeOf(Identify(path)))) return false;
  AlignedBuffer flash(kFlashImageSize);
  AlignedBuffer image(kFlashImageSize);
  if (!flash || !image) return false;
  const size_t imageSize = CopyImage(image_, std::span<uint8_t>(image.data(), image.size()), 0, 0);
  // Without an image that fits the flash and reaches past the settings
  // there is nothing to compare with: the unit is not up to date.
  if (imageSize <= kMergedHeaderSize || imageSize > kFlashImageSize) return false;
  if (!ReadFlashRange(host_, path, 0, flash.data(), kFlashImageSize)) return false;
  // The first 1 KB holds the unit's own settings and is not compared.
  return std::equal(flash.data() + kMergedHeaderSize, flash.data() + imageSize,
                    image.data() + kMergedHeaderSize);
}

}  // namespace fwtool
