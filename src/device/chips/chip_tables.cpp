#include "chip_tables.h"

namespace fwtool {

namespace {
constexpr size_t kModelLength = 3;
}  // namespace

int FindChipModel(std::string_view model) {
  if (model.size() < kModelLength) return 0;
  const std::string_view wanted = model.substr(0, kModelLength);
  for (int row = 1; row < kChipTypeCount; ++row) {
    if (ChipModelTable[row] == wanted) return row;
  }
  return 0;
}

bool ChipIdMatchesModel(int chipType, std::string_view chipId) {
  if (chipType < 1 || chipType >= kChipTypeCount) return false;
  if (chipId.size() < kModelLength) return false;
  return chipId.substr(0, kModelLength) == ChipModelTable[chipType];
}

std::string_view ChipModel(int chipType) {
  if (chipType < 1 || chipType >= kChipTypeCount) return {};
  return ChipModelTable[chipType];
}

std::string_view ChipLabel(int chipType) {
  if (chipType < 0 || chipType >= kChipTypeCount) return ChipLabelTable[0];
  return ChipLabelTable[chipType];
}

std::string_view FlashMakerName(int makerCode) {
  if (makerCode < 0 || makerCode >= kFlashMakerCount) return FlashMakerTable[0];
  return FlashMakerTable[makerCode];
}

}  // namespace fwtool
