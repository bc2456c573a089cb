// The texts that belong to chip type codes and flash maker codes: the chip
// model number each type answers with, the label shown for it, and the name
// of each flash maker. One model table serves identification and the
// firmware-file checks alike.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace fwtool {

inline constexpr int kChipTypeCount = 22;  // codes 0..21
// The chip type code of a controller identification did not recognise.
inline constexpr int kUnrecognisedChip = 0;
inline constexpr int kFlashMakerCount = 11;

// Row n: the three-digit chip model number of chip type n (row 0 empty).
// Several numbers repeat; a search takes the lowest row, so rows 9, 13, 16,
// 17, 19, 20 and 21 are never found by number.
inline constexpr std::array<std::string_view, kChipTypeCount> ChipModelTable = {
    "",    "771", "779", "773", "775", "765", "716", "717", "719", "719", "713",
    "118", "175", "713", "185", "145", "775", "773", "772", "775", "771", "779",
};

// Row n: the text shown in the Chip field for chip type n.
inline constexpr std::array<std::string_view, kChipTypeCount> ChipLabelTable = {
    "Unknown Chip",      "VQ64771 Series",    "VQ64779 Series", "VQ64773 Series",
    "VQ64775 Series",    "VQ64765 Series",    "VQB716 Series",  "VQB717 Series",
    "VQB711/719 Series", "VQB711/719 Series", "VQB713 Series",  "VQS118/175 Series",
    "VQS175 Series",     "VQS175/713 Series", "VQB185 Series",  "VQB145 Series",
    "VQ64775 Series",    "VQ64773",           "VQ64772",        "VQ64775",
    "VQ64771",           "VQ64779",
};

// Indexed by the flash maker code the serial-flash detection reports.
inline constexpr std::array<std::string_view, kFlashMakerCount> FlashMakerTable = {
    "Unknown", "PMC",  "SST", "ST/EON/MXIC", "ATMEL", "MXIC",
    "WINBOND", "AMIC", "EON", "ESMT",        "SANYO",
};

// The lowest chip type 1..21 whose model number equals the first three
// characters of `model`; 0 when none does (or `model` is shorter than 3).
int FindChipModel(std::string_view model);

// True when chip type `chipType` (1..21) has a model number equal to the first
// three characters of `chipId`. Types outside 1..21 have no model number and
// never match.
bool ChipIdMatchesModel(int chipType, std::string_view chipId);

// The model number of a chip type; empty outside 1..21.
std::string_view ChipModel(int chipType);
// The label of a chip type; "Unknown Chip" outside 0..21.
std::string_view ChipLabel(int chipType);
// The name of a flash maker code; "Unknown" outside 0..10.
std::string_view FlashMakerName(int makerCode);

}  // namespace fwtool
