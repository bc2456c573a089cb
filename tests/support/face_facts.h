// SPDX-License-Identifier: GPL-2.0-or-later
// What the operator sees of the one-click band in each face of the window,
// written down from the window's description (not from either view): which
// of the band's controls show, which take clicks, the texts that show and
// the sentence's colour. The Qt window's tests and the Windows window's tests
// hold their views to the same table, so both show the same faces.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Fwupdate.h"

namespace fwtool::testing {

inline constexpr int kAny = -1;
inline constexpr uint32_t kAnyColor = 0xFFFFFFFF;

struct BandFact {
  const char* name;
  bool shows;
  int enabled;       // 1, 0 or kAny
  const char* text;  // null: not checked
  uint32_t color = kAnyColor;
};

struct FaceFacts {
  OneClickFace face;
  std::array<BandFact, 6> band;
};

inline constexpr const char* kReadyText = "Click 'Yes' to proceed with the firmware update";
inline constexpr const char* kNoDeviceText = "                          No device found!!";
inline constexpr const char* kFailedText = "                             Update    fail!!";
inline constexpr const char* kPowerCycleText = "Please power cycle the device";

inline const std::array<FaceFacts, 5> kFaceFacts{{
    {OneClickFace::Ready,
     {{{"devLable", true, kAny, kReadyText, 0x000000},
       {"EraseButton", true, 1, "YES"},
       {"ExitBtn", true, 1, "NO"},
       {"ExtBtn", false, kAny, nullptr},
       {"FwUpdatBar", false, kAny, nullptr},
       {"replugLable1", false, kAny, nullptr}}}},
    {OneClickFace::NothingToDo,
     {{{"devLable", true, kAny, kNoDeviceText, 0xFF0000},
       {"EraseButton", false, 0, nullptr},
       {"ExitBtn", false, 0, nullptr},
       {"ExtBtn", true, 1, "EXIT"},
       {"FwUpdatBar", false, kAny, nullptr},
       {"replugLable1", false, kAny, nullptr}}}},
    {OneClickFace::Updating,
     {{{"devLable", false, kAny, nullptr},
       {"EraseButton", true, 0, "YES"},
       {"ExitBtn", true, 1, "NO"},
       {"ExtBtn", false, kAny, nullptr},
       {"FwUpdatBar", true, kAny, nullptr},
       {"replugLable1", false, kAny, nullptr}}}},
    {OneClickFace::Done,
     {{{"devLable", false, kAny, nullptr},
       {"EraseButton", false, kAny, nullptr},
       {"ExitBtn", false, kAny, nullptr},
       {"ExtBtn", true, 1, "EXIT"},
       {"FwUpdatBar", false, kAny, nullptr},
       {"replugLable1", true, kAny, kPowerCycleText, 0x000000}}}},
    {OneClickFace::Failed,
     {{{"devLable", true, kAny, kFailedText, 0xFF0000},
       {"EraseButton", false, kAny, nullptr},
       {"ExitBtn", false, kAny, nullptr},
       {"ExtBtn", true, 1, "EXIT"},
       {"FwUpdatBar", false, kAny, nullptr},
       {"replugLable1", false, kAny, nullptr}}}},
}};

inline const FaceFacts& FactsOf(OneClickFace face) {
  for (const auto& facts : kFaceFacts)
    if (facts.face == face) return facts;
  return kFaceFacts[0];
}

// What a view shows of one control.
struct Observed {
  bool shows = false;
  bool enabled = false;
  std::string text;
  uint32_t color = 0;  // the text colour, 0xRRGGBB
};

// Every difference between what the view shows and the facts of `face`, one
// sentence each; empty when the view shows the face as described.
inline std::vector<std::string> BandDifferences(
    OneClickFace face, const std::function<Observed(const char* name)>& observe) {
  std::vector<std::string> differences;
  for (const BandFact& fact : FactsOf(face).band) {
    const Observed seen = observe(fact.name);
    const std::string name = fact.name;
    if (seen.shows != fact.shows)
      differences.push_back(name + (fact.shows ? " should show" : " should not show"));
    if (fact.enabled != kAny && seen.enabled != (fact.enabled == 1))
      differences.push_back(
          name + (fact.enabled == 1 ? " should take clicks" : " should not take clicks"));
    if (fact.text != nullptr && seen.text != fact.text)
      differences.push_back(name + " shows \"" + seen.text + "\", not \"" + fact.text + "\"");
    if (fact.color != kAnyColor && seen.color != fact.color)
      differences.push_back(name + " has the wrong colour");
  }
  return differences;
}

// The engineering face as it first shows, for the unit selected at start:
// which fields of the flash part are on screen (a labelled edit with its
// caption). A serial flash shows its maker in "Flash Type" and nothing of a
// parallel part; a parallel flash (type 2) shows the part's list, its label
// and "A1 Chip" instead; a chip that keeps its firmware on the disk (type 15)
// shows only the version. Written from the arrangement table of the chips.
struct EngineeringShown {
  bool makerField;  // "Flash Type" (the serial part's maker)
  bool version;     // "Firmware Ver. "
  bool partLabel;   // "Flash Type " beside the part's list
  bool partList;    // the parallel part's list
  bool a1Chip;      // "A1 Chip"
  bool nvram;       // "Include 4K NVRAM"
  // "VQS175 HDD FW ": hidden for the serial flash chips; the parallel and
  // the disk-hosted chips leave it as it was (nullopt).
  std::optional<bool> hddBox;
};

struct EngineeringFaceCase {
  const char* units;
  int chipType;
  EngineeringShown shown;
};

inline const EngineeringFaceCase kEngineeringFaceCases[] = {
    {"vq64771:maker=mxic,vqb719", 1, {true, true, false, false, false, false, false}},
    {"vq64779", 2, {false, true, true, true, true, false, std::nullopt}},
    {"vqb145", 15, {false, true, false, false, false, false, std::nullopt}},
};

}  // namespace fwtool::testing
