// SPDX-License-Identifier: GPL-2.0-or-later
#include "form_layout.h"

#include <array>

#include "form_views.h"

namespace fwtool::win32 {

namespace {

struct Row {
  const char* name;
  Section section;
  Rect field;
  Rect label;
};

// Columns of the engineering block: caption at 8 (78 wide, room for
// "Firmware Ver. " on one line: a static control wraps a longer text and
// loses the line below), field at 88, second caption at 200, second field at
// 264, buttons at 328 (83 wide).
constexpr std::array<Row, 27> kRows{{
    {"diskLabel", Section::Column, {8, 8, 78, 16}, {}},
    {"DeviceList", Section::Column, {88, 4, 234, 21}, {}},
    {"RefreshBtn", Section::Column, {328, 3, 83, 23}, {}},
    {"ChipLabelEdit", Section::Column, {88, 31, 104, 21}, {8, 34, 78, 16}},
    {"DiskLetterLable", Section::Column, {264, 31, 147, 21}, {200, 34, 62, 16}},
    {"FwVerLableEdit", Section::Column, {88, 58, 104, 21}, {8, 61, 78, 16}},
    {"SFlashTypeLable", Section::Column, {264, 58, 147, 21}, {200, 61, 62, 16}},
    {"FwFilenameEdit", Section::Column, {88, 85, 234, 21}, {8, 88, 78, 16}},
    {"LoadBtn", Section::Column, {328, 84, 83, 23}, {}},
    {"FwPgBurnSizeLabel", Section::Column, {8, 115, 78, 16}, {}},
    {"FwPgSizeCheck", Section::Column, {88, 112, 104, 21}, {}},
    {"FlashTypeLabel", Section::Column, {200, 115, 62, 16}, {}},
    {"FlashTypeList", Section::Column, {264, 112, 147, 21}, {}},
    {"StatusEdit", Section::Column, {88, 139, 234, 21}, {8, 142, 78, 16}},
    {"UpdateBtn", Section::Column, {328, 138, 83, 23}, {}},
    {"RdCheckBox", Section::Column, {8, 170, 150, 17}, {}},
    {"ExiBtn", Section::Column, {328, 167, 83, 23}, {}},
    // The "RD Version" panel: 97 pixels high, as designed.
    {"BackupFWCheckBox", Section::RdPanel, {8, 3, 200, 16}, {}},
    {"EraseOnlyCheck", Section::RdPanel, {212, 3, 199, 16}, {}},
    {"VQS175HDDFwChk", Section::RdPanel, {8, 20, 200, 16}, {}},
    {"A1ChipCheck", Section::RdPanel, {212, 20, 199, 16}, {}},
    {"NVRAMCheck", Section::RdPanel, {8, 37, 200, 16}, {}},
    {"ChkSumChk", Section::RdPanel, {212, 37, 199, 16}, {}},
    {"BackupFileEdit", Section::RdPanel, {100, 55, 222, 20}, {8, 58, 90, 16}},
    {"BackupBtn", Section::RdPanel, {328, 54, 83, 22}, {}},
    {"FwSizeLable", Section::RdPanel, {8, 80, 88, 16}, {}},
    {"FwSizeCheck", Section::RdPanel, {100, 76, 100, 21}, {}},
}};

// VQ175Path shares the size row, right of the size box.
constexpr Row kVq175Path{"VQ175Path", Section::RdPanel, {212, 76, 120, 21}, {}};

}  // namespace

std::optional<Place> PlaceOf(std::string_view name) {
  if (const BandPlace* band = BandPlaceOf(name))
    return Place{Section::Band, {band->x, band->y, band->width, band->height}, {}};
  if (name == kPanel1Place.name)
    return Place{Section::Band,
                 {kPanel1Place.x, kPanel1Place.y, kPanel1Place.width, kPanel1Place.height},
                 {}};
  if (name == kVq175Path.name) return Place{kVq175Path.section, kVq175Path.field, {}};
  for (const Row& row : kRows)
    if (name == row.name) return Place{row.section, row.field, row.label};
  return std::nullopt;
}

}  // namespace fwtool::win32
