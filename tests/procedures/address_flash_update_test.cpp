// SPDX-License-Identifier: GPL-2.0-or-later
// The procedures of the older family members over simulated units: the
// basic one (types 1, 3, 4, 7, 14, 16), the one that keeps the header area
// (6, 10, 11), the paged one (SST parts, the alternative procedure) and the
// staged one of type 13 over ATA PASS-THROUGH. Programming, erase only,
// backup only, the refused files and what a failing unit leads to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "byte_pattern.h"
#include "chip_rows.h"
#include "enumeration.h"
#include "procedures.h"
#include "sim_unit_fixture.h"
#include "simulator.h"

namespace fwtool {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testing::FakeProcedureHost;
using testing::Pattern;
using testing::ScopedDataHome;
using testing::Tagged;
using testing::TempDir;

constexpr size_t kArea = 4096;
constexpr const char* kPowerCycleBox = "Message: Please Turn-Off the Power and Turn-On Again!";
constexpr const char* kPowerCycleBoxSpaced =
    "Message: Please Turn-Off the Power and Turn-On Again !";
constexpr const char* kDefaultNameBox = "Message: Default backup firmware as OldFalsh.bak!";

std::string Differs(const Bytes& actual, const Bytes& expected) {
  if (actual.size() != expected.size())
    return std::to_string(actual.size()) + " bytes instead of " + std::to_string(expected.size());
  const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin());
  if (a == actual.end()) return "";
  char text[80];
  std::snprintf(text, sizeof text, "byte 0x%zx is 0x%02x instead of 0x%02x",
                static_cast<size_t>(a - actual.begin()), *a, *e);
  return text;
}

// Pseudo-random firmware bytes with no signature block at 0.
Bytes FirmwareFile(size_t size, uint32_t seed = 0x2468ACE) {
  Bytes file = Pattern(size, seed);
  if (!file.empty()) file[0] = 0x00;
  return file;
}

// A file that brings its own 4 KB header area: no signature at 0, the
// signature block naming the model right behind the area.
Bytes HeaderFile(size_t size, const char* model) {
  Bytes file = FirmwareFile(size, 0x13579BD);
  const uint8_t block[] = {
      0x55, 0xAA, 0xAA, 0x55, uint8_t(model[0]), uint8_t(model[1]), uint8_t(model[2]), 'A', 0, 0};
  std::copy(std::begin(block), std::end(block), file.begin() + kArea);
  return file;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes Slice(const Bytes& bytes, size_t from, size_t length) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + length));
}
// The bytes padded with zeros to `size`.
Bytes Padded(Bytes bytes, size_t size) {
  bytes.resize(size, 0);
  return bytes;
}

struct UnitCase {
  const char* name;
  const char* description;
  int type;
  int32_t flashKB;
  int maker;  // flash maker code the information check found
};

class AddressFlash : public testing::SimUnitTest {
 protected:
  UnitCase unit{};

  sim::SimController& Controller() { return farm->Controller(0); }
  Bytes FlashRange(size_t from, size_t length) { return Slice(Flash(), from, length); }

  // A fresh unit whose flash holds recognisable old contents. Returns them.
  Bytes Prepare(const UnitCase& u, double timeScale = 1.0) {
    unit = u;
    if (!Create(u.description, timeScale)) return {};
    const Bytes old = Tagged("OLD FLASH CONTENTS ", Controller().Flash().Size());
    Controller().Flash().Load(old);
    host = FakeProcedureHost{};
    host.flashMaker = u.maker;
    host.settings.SelectedFlashSize = u.flashKB * 1024;
    return old;
  }

  ProcedureRequest Request() {
    ProcedureRequest request;
    request.path = farm->Unit(0).diskPath;
    request.chip.type = static_cast<uint8_t>(unit.type);
    request.chip.flashMaker = unit.maker;
    request.chip.flashSizeKB = unit.flashKB;
    request.chip.row = &ChipRowFor(unit.type);
    request.options.rdVersion = true;
    return request;
  }
  ProcedureRequest ProgramRequest(const Bytes& file, bool includeNvram = false) {
    ProcedureRequest request = Request();
    request.options.includeNvram = includeNvram;
    request.options.firmwareFile = dir.Write("firmware.bin", file);
    return request;
  }
  ProcedureRequest EraseRequest(bool includeNvram) {
    ProcedureRequest request = Request();
    request.options.eraseOnly = true;
    request.options.includeNvram = includeNvram;
    return request;
  }
  ProcedureRequest BackupRequest(bool includeNvram) {
    ProcedureRequest request = Request();
    request.options.backupOnly = true;
    request.options.includeNvram = includeNvram;
    request.options.backupFile = dir.Path("backup.bin");
    return request;
  }
  Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool StatusWas(const std::string& text) const {
    return std::find(host.statusHistory.begin(), host.statusHistory.end(), text) !=
           host.statusHistory.end();
  }
  // Erase and program commands the unit received: FF 04 11/13/14 and the
  // ATA write and erase features.
  size_t FlashChanges() {
    size_t n = 0;
    for (const auto& c : Controller().Log()) {
      const bool at =
          c[0] == 0xFF && c[1] == 0x04 && (c[2] == 0x11 || c[2] == 0x13 || c[2] == 0x14);
      const bool ata = c[0] == 0xA1 && (c[3] == 0xE7 || c[3] == 0xE9);
      if (at || ata) ++n;
    }
    return n;
  }
};

// A pattern for the FF 04 `op` commands (any address).
sim::BlockPattern FlashAt(uint8_t op) {
  sim::BlockPattern p;
  p.length = 3;
  p.bytes = {0xFF, 0x04, op};
  p.mask = {0xFF, 0xFF, 0xFF};
  return p;
}
// The same, at one address.
sim::BlockPattern FlashAt(uint8_t op, uint32_t address) {
  sim::BlockPattern p = FlashAt(op);
  p.length = 6;
  p.bytes[3] = static_cast<uint8_t>(address >> 16);
  p.bytes[4] = static_cast<uint8_t>(address >> 8);
  p.bytes[5] = static_cast<uint8_t>(address);
  p.mask[3] = p.mask[4] = p.mask[5] = 0xFF;
  return p;
}
// An ATA vendor feature of the pass-through (A1 .. feature).
sim::BlockPattern AtaFeature(uint8_t feature) {
  sim::BlockPattern p;
  p.length = 4;
  p.bytes[0] = 0xA1;
  p.mask[0] = 0xFF;
  p.bytes[3] = feature;
  p.mask[3] = 0xFF;
  return p;
}

// ==== The basic procedure ====================================================

const UnitCase kType1{"type1", "vq64771:maker=mxic", 1, 64, 5};
const UnitCase kType3{"type3", "vq64773:maker=winbond", 3, 64, 6};
const UnitCase kType4{"type4", "vq64775:maker=mxic", 4, 64, 5};
const UnitCase kType7{"type7", "vqb717:maker=winbond", 7, 64, 6};
const UnitCase kType14{"type14", "vqb185:maker=winbond", 14, 64, 6};
const UnitCase kType16{"type16", "vq64775e:maker=mxic", 16, 64, 5};
const UnitCase kType1Large{"type1_128k", "vq64771:maker=winbond:size=128", 1, 128, 6};

struct BasicCase {
  const char* name;
  UnitCase unit;
  size_t fileSize;
  size_t imageSize;   // the file padded with zeros to whole blocks, at least 32 KB
  bool settingsKept;  // the 512 bytes at 0x8000 lie outside the image
};

class BasicProgram : public AddressFlash, public ::testing::WithParamInterface<BasicCase> {};

TEST_P(BasicProgram, FlashHoldsTheFileAndTheSettingsAt0x8000) {
  const BasicCase& c = GetParam();
  const Bytes before = Prepare(c.unit);
  const Bytes file = FirmwareFile(c.fileSize);
  EXPECT_EQ(RunBasicFlashUpdate(ProgramRequest(file), host), 1);
  EXPECT_EQ(host.status, "Programming Success!!");
  EXPECT_EQ(host.boxes, std::vector<std::string>{kPowerCycleBoxSpaced});
  EXPECT_EQ(Differs(FlashRange(0, c.imageSize), Padded(file, c.imageSize)), "");
  if (c.settingsKept) {
    EXPECT_EQ(Differs(FlashRange(0x8000, 512), Slice(before, 0x8000, 512)), "");
  }
  // The settings at 0x8000 are read for every image of up to 64 KB and
  // written back when the image ends before them; the debug output says so.
  std::vector<std::string> debug;
  if (c.imageSize <= 65536) debug.push_back("NVRAM O.K.\n");
  if (c.settingsKept) debug.push_back("write NVRAM O.K.\n");
  EXPECT_EQ(host.debug, debug);
}

// Block size 8 KB: 20,000 bytes make a 32 KB image, 40,000 make 40 KB,
// 100,000 make 104 KB (erased as a whole chip).
INSTANTIATE_TEST_SUITE_P(Basic, BasicProgram,
                         ::testing::Values(BasicCase{"type1_short", kType1, 20000, 32768, true},
                                           BasicCase{"type3_short", kType3, 20000, 32768, true},
                                           BasicCase{"type4_40k", kType4, 40000, 40960, false},
                                           BasicCase{"type7_short", kType7, 20000, 32768, true},
                                           BasicCase{"type14_64k", kType14, 65536, 65536, false},
                                           BasicCase{"type16_40k", kType16, 40000, 40960, false},
                                           BasicCase{"type1_chip_erase", kType1Large, 100000,
                                                     106496, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AddressFlash, BasicEraseOnlyLeavesTheSelectedSizeBlank) {
  Prepare(kType3);
  EXPECT_EQ(RunBasicFlashUpdate(EraseRequest(false), host), 1);
  EXPECT_EQ(host.status, "Erase flash all success!");
  EXPECT_EQ(host.statusHistory.front(), "Start Erase only!");
  EXPECT_EQ(host.boxes, std::vector<std::string>{kPowerCycleBox});
  EXPECT_EQ(FlashRange(0, 65536), Bytes(65536, 0xFF));
}

TEST_F(AddressFlash, BasicBackupIsTheFlash) {
  const Bytes before = Prepare(kType14);
  const ProcedureRequest request = BackupRequest(true);
  EXPECT_EQ(RunBasicFlashUpdate(request, host), 1);
  EXPECT_EQ(host.status, "Read flash and backup success!");
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(Differs(ReadFile(request.options.backupFile), Slice(before, 0, 65536)), "");
  EXPECT_EQ(Flash(), before);
}

// In the backup folder, never in the current folder (where a link may wait
// for a program run as root), with a number when the name is taken; the box
// says what it always said.
TEST_F(AddressFlash, BackupWithoutANameGoesToOldflashBakInTheBackupFolder) {
  const Bytes before = Prepare(kType1);
  ProcedureRequest request = BackupRequest(true);
  request.options.backupFile.clear();
  const ScopedDataHome home(dir.Path("data"));
  const fs::path folder = fs::path(dir.Path("data")) / "fwtool" / "backups";
  for (const char* name : {"oldflash.bak", "oldflash-2.bak"}) {
    SCOPED_TRACE(name);
    host.boxes.clear();
    EXPECT_EQ(RunBasicFlashUpdate(request, host), 1);
    EXPECT_EQ(host.boxes, std::vector<std::string>{kDefaultNameBox});
    EXPECT_EQ(Differs(ReadFile((folder / name).string()), Slice(before, 0, 65536)), "");
  }
  EXPECT_FALSE(fs::exists(fs::current_path() / "oldflash.bak"));
}

// A flash of unknown size gives no backup, and no empty file either.
TEST_F(AddressFlash, BackupOfAnUnknownSizeIsAnError) {
  Prepare(kType1);
  host.settings.SelectedFlashSize = 0;
  const ProcedureRequest request = BackupRequest(true);
  EXPECT_EQ(RunBasicFlashUpdate(request, host), 0);
  EXPECT_EQ(host.status, "Allocate read buffer Error!!");
  EXPECT_FALSE(fs::exists(request.options.backupFile));
}

// A unit whose flash stays busy: the debug output tells that it was not
// ready at the start and that the settings could not be read.
TEST_F(AddressFlash, BasicTellsTheDebugOutputOfABusyUnit) {
  Prepare(kType1);
  sim::FaultPlan faults;
  faults.stuckBusyFrom = 1;
  Controller().SetFaults(faults);
  EXPECT_EQ(RunBasicFlashUpdate(ProgramRequest(FirmwareFile(20000)), host), 0);
  EXPECT_EQ(host.status, "Backup NVRAM command fail!");
  EXPECT_EQ(host.debug,
            (std::vector<std::string>{"0.1 Device initial not ready!!", "NVRAM fail\n"}));
}

TEST_F(AddressFlash, BasicRefusesAnUnknownAmicKindBeforeAnyErase) {
  const Bytes before = Prepare(kType1);
  ProcedureRequest request = ProgramRequest(FirmwareFile(20000));
  request.chip.amicFlashKind = 2;
  EXPECT_EQ(RunBasicFlashUpdate(request, host), 0);
  EXPECT_EQ(host.status, "Not Support this AMIC Flash Type!!");
  EXPECT_EQ(FlashChanges(), 0u);
  EXPECT_EQ(Flash(), before);
}

// Where the basic procedure erases before a file of up to 64 KB: an AMIC
// part of kind 1, 3 or 5 in its four small sectors at 0, 0x1000, 0x3000 and
// 0x7000 (and 0xF000 for a file past 32 KB); any other part at 0 (and 0x8000
// for a file past 32 KB).
TEST_F(AddressFlash, BasicErasesTheSectorsOfThePart) {
  struct Case {
    const char* unit;
    int amicKind;
    size_t fileSize;
    std::vector<uint32_t> erased;
  };
  const Case cases[] = {
      {"vq64771:maker=amic", 1, 20000, {0x0000, 0x1000, 0x3000, 0x7000}},
      {"vq64771:maker=amic", 3, 40000, {0x0000, 0x1000, 0x3000, 0x7000, 0xF000}},
      {"vq64771:maker=amic", 5, 32768, {0x0000, 0x1000, 0x3000, 0x7000}},
      {"vq64771:maker=mxic", -1, 20000, {0x0000}},
      {"vq64771:maker=mxic", -1, 40000, {0x0000, 0x8000}},
      {"vq64771:maker=amic", 4, 40000, {0x0000, 0x8000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.unit) + " kind " + std::to_string(c.amicKind) + " " +
                 std::to_string(c.fileSize));
    Prepare({"type1", c.unit, 1, 64, c.amicKind == -1 ? 5 : 7});
    ProcedureRequest request = ProgramRequest(FirmwareFile(c.fileSize));
    request.chip.amicFlashKind = c.amicKind;
    EXPECT_EQ(RunBasicFlashUpdate(request, host), 1) << host.status;
    std::vector<uint32_t> erased;
    for (const auto& command : Controller().Log())
      if (command[0] == 0xFF && command[1] == 0x04 && command[2] == 0x14)
        erased.push_back(static_cast<uint32_t>(command[3] << 16 | command[4] << 8 | command[5]));
    EXPECT_EQ(erased, c.erased);
  }
}

// An ATMEL part is write-enabled (SPI 06, then the status polled until its
// write-enable bit 2 shows) before anything else; a unit that refuses it
// is not touched.
TEST_F(AddressFlash, BasicWriteEnablesAnAtmelPartFirst) {
  Prepare({"type1", "vq64771:maker=atmel", 1, 64, 4});
  ProcedureRequest request = ProgramRequest(FirmwareFile(20000));
  request.chip.atmelFlashKind = 0;
  EXPECT_EQ(RunBasicFlashUpdate(request, host), 1) << host.status;
  const auto log = Controller().Log();
  const auto writeEnable = std::find_if(log.begin(), log.end(), [](const sim::LoggedCommand& c) {
    return c[0] == 0xFF && c[1] == 0x04 && c[2] == 0x20 && c[5] == 0x06;
  });
  const auto firstErase = std::find_if(log.begin(), log.end(), [](const sim::LoggedCommand& c) {
    return c[0] == 0xFF && c[1] == 0x04 && c[2] == 0x14;
  });
  ASSERT_NE(writeEnable, log.end());
  EXPECT_LT(writeEnable - log.begin(), firstErase - log.begin());

  const Bytes before = Prepare({"type1", "vq64771:maker=atmel:fail-match=ff0420", 1, 64, 4});
  request = ProgramRequest(FirmwareFile(20000));
  request.chip.atmelFlashKind = 0;
  EXPECT_EQ(RunBasicFlashUpdate(request, host), 0);
  EXPECT_EQ(host.status, "Enable ATMEL flash write enable fail!!");
  EXPECT_EQ(FlashChanges(), 0u);
  EXPECT_EQ(Flash(), before);
}

// Without a good copy of the settings at 0x8000 the erase that takes them
// is not sent: zeros never go over them.
TEST_F(AddressFlash, BasicDoesNotEraseWhenTheSettingsCannotBeRead) {
  const Bytes before = Prepare(kType1);
  sim::FaultPlan faults;
  faults.failMatching = {FlashAt(0x10, 0x8000)};
  Controller().SetFaults(faults);
  EXPECT_EQ(RunBasicFlashUpdate(ProgramRequest(FirmwareFile(20000)), host), 0);
  EXPECT_EQ(host.status, "Backup NVRAM command fail!");
  EXPECT_EQ(FlashChanges(), 0u);
  EXPECT_EQ(Flash(), before);
}

// A failed programming pass still puts the settings back.
TEST_F(AddressFlash, BasicPutsTheSettingsBackAfterAFailedWrite) {
  const Bytes before = Prepare(kType1);
  sim::FaultPlan faults;
  faults.failMatching = {FlashAt(0x11, 0x2000)};
  Controller().SetFaults(faults);
  EXPECT_EQ(RunBasicFlashUpdate(ProgramRequest(FirmwareFile(20000)), host), 0);
  EXPECT_EQ(host.status, "Programming Fail!!");
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(Differs(FlashRange(0x8000, 512), Slice(before, 0x8000, 512)), "");
}

// ==== Files refused before anything is erased, every procedure ==============

using Runner = int (*)(const ProcedureRequest&, ProcedureHost&);

struct RefusedCase {
  const char* name;
  Runner run;
  UnitCase unit;
  int64_t fileSize;  // -1: no file there
  bool includeNvram;
  const char* status;
};

const UnitCase kType6{"type6", "vqb716:maker=mxic", 6, 64, 5};
const UnitCase kType10{"type10", "vqb713:maker=mxic", 10, 64, 5};
const UnitCase kType10Sst{"type10_sst", "vqb713:maker=sst", 10, 64, 2};
const UnitCase kType11Old{"type11", "vqs118:rev=0:maker=mxic", 11, 64, 5};
const UnitCase kType13{"type13", "vqs713:maker=mxic", 13, 64, 5};

class RefusedFile : public AddressFlash, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedFile, NothingIsErased) {
  const RefusedCase& c = GetParam();
  const Bytes before = Prepare(c.unit);
  ProcedureRequest request = Request();
  request.options.includeNvram = c.includeNvram;
  request.options.firmwareFile = c.fileSize < 0
                                     ? dir.Path("missing.bin")
                                     : dir.Write("firmware.bin", FirmwareFile(size_t(c.fileSize)));
  EXPECT_EQ(c.run(request, host), 0);
  EXPECT_EQ(host.status, c.status);
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(FlashChanges(), 0u);
  EXPECT_EQ(Flash(), before);
}

constexpr const char* kOpenError = "Open File Error!!";
constexpr const char* kTooLarge = "Firmware file is larger than the flash!!";

INSTANTIATE_TEST_SUITE_P(
    All, RefusedFile,
    ::testing::Values(
        RefusedCase{"basic_empty", &RunBasicFlashUpdate, kType1, 0, false, kOpenError},
        RefusedCase{"basic_missing", &RunBasicFlashUpdate, kType1, -1, false, kOpenError},
        RefusedCase{"basic_too_large", &RunBasicFlashUpdate, kType1, 65537, false, kTooLarge},
        RefusedCase{"header_empty", &RunHeaderFlashUpdate, kType6, 0, false, kOpenError},
        // Type 11 files always bring the area, which is skipped when the
        // unit's own is kept: nothing left.
        RefusedCase{"header_type11_area_only", &RunHeaderFlashUpdate, kType11Old, 4096, false,
                    kOpenError},
        // The kept area in front pushes a full-size file past the flash.
        RefusedCase{"header_too_large", &RunHeaderFlashUpdate, kType6, 65536, false, kTooLarge},
        RefusedCase{"paged_empty", &RunPagedFlashUpdate, kType10Sst, 0, true, kOpenError},
        RefusedCase{"paged_too_large", &RunPagedFlashUpdate, kType10Sst, 70000, true, kTooLarge},
        RefusedCase{"staged_empty", &RunStagedFlashUpdate, kType13, 0, true, kOpenError},
        RefusedCase{"staged_missing", &RunStagedFlashUpdate, kType13, -1, true, kOpenError}),
    [](const auto& info) { return std::string(info.param.name); });

// ==== The procedure that keeps the header area ===============================

struct HeaderCase {
  const char* name;
  UnitCase unit;
  bool headerFile;  // the file brings its own 4 KB area
  size_t fileSize;
  bool includeNvram;  // "Include 4K NVRAM"
  // What the flash must hold from 0: "file" the file as it is; "kept" the
  // unit's area, then the file from behind its own area when it has one
  // (from 0 when not); "kept_id" as kept with bytes 128..207 from the file.
  const char* layout;
  size_t written;  // bytes the pages and the final piece cover
};

class HeaderProgram : public AddressFlash, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderProgram, AreaKeptOrReplacedAsTheBoxSays) {
  const HeaderCase& c = GetParam();
  const Bytes before = Prepare(c.unit);
  const char* model = c.unit.type == 6 ? "716" : c.unit.type == 10 ? "713" : "118";
  const Bytes file = c.headerFile ? HeaderFile(c.fileSize, model) : FirmwareFile(c.fileSize);
  EXPECT_EQ(RunHeaderFlashUpdate(ProgramRequest(file, c.includeNvram), host), 1);
  EXPECT_EQ(host.status, "Programming Success!!");
  EXPECT_EQ(host.boxes, std::vector<std::string>{kPowerCycleBox});

  Bytes expected;
  const std::string layout = c.layout;
  if (layout == "file") {
    expected = file;
  } else {
    Bytes area = Slice(before, 0, kArea);
    if (layout == "kept_id") std::copy_n(file.begin() + 128, 80, area.begin() + 128);
    const size_t from = c.headerFile || c.unit.type == 11 ? kArea : 0;
    expected = Cat(area, Slice(file, from, file.size() - from));
  }
  EXPECT_EQ(Differs(FlashRange(0, c.written), Padded(expected, c.written)), "");
  if (c.unit.type == 11) {
    EXPECT_TRUE(Controller().FlashAccessSetUp());
  }
  // Type-11 files always bring their area.
  EXPECT_EQ(host.imageHasHeaderArea, c.headerFile || c.unit.type == 11);
}

// 30,000 bytes without an area: 34,096 rounded to 49,152, two pages and the
// final 4 KB piece at 32,768. 40,000 bytes with an area, area kept: 3 pages.
INSTANTIATE_TEST_SUITE_P(
    Header, HeaderProgram,
    ::testing::Values(
        HeaderCase{"type6_no_area_kept", kType6, false, 30000, false, "kept", 36864},
        // The box cannot give away an area the file does not bring.
        HeaderCase{"type6_no_area_box_ticked", kType6, false, 30000, true, "kept", 36864},
        HeaderCase{"type6_area_included", kType6, true, 65536, true, "file", 65536},
        HeaderCase{"type10_area_kept_new_id", kType10, true, 40000, false, "kept_id", 49152},
        HeaderCase{"type10_area_included", kType10, true, 40000, true, "file", 49152},
        HeaderCase{"type11_area_kept", kType11Old, false, 40000, false, "kept", 49152}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AddressFlash, HeaderEraseOnlyPutsTheAreaBackUnlessIncluded) {
  for (const bool include : {false, true}) {
    SCOPED_TRACE(include ? "area included" : "area kept");
    const Bytes before = Prepare(kType6);
    EXPECT_EQ(RunHeaderFlashUpdate(EraseRequest(include), host), 1);
    EXPECT_EQ(host.boxes, std::vector<std::string>{kPowerCycleBox});
    const Bytes area = include ? Bytes(kArea, 0xFF) : Slice(before, 0, kArea);
    EXPECT_EQ(Differs(Flash(), Cat(area, Bytes(65536 - kArea, 0xFF))), "");
  }
}

TEST_F(AddressFlash, HeaderBackupLeavesTheAreaOutUnlessIncluded) {
  for (const bool include : {false, true}) {
    const Bytes before = Prepare(kType10);
    ProcedureRequest request = BackupRequest(include);
    request.options.backupFile = dir.Path(include ? "whole.bin" : "without-area.bin");
    EXPECT_EQ(RunHeaderFlashUpdate(request, host), 1);
    const size_t from = include ? 0 : kArea;
    EXPECT_EQ(Differs(ReadFile(request.options.backupFile), Slice(before, from, 65536 - from)), "");
  }
}

// An erase that failed is a failure even when the area went back.
TEST_F(AddressFlash, HeaderFailedEraseIsAFailureAfterTheAreaWentBack) {
  const Bytes before = Prepare(kType6);
  sim::FaultPlan faults;
  faults.failMatching = {FlashAt(0x14)};
  Controller().SetFaults(faults);
  EXPECT_EQ(RunHeaderFlashUpdate(EraseRequest(false), host), 0);
  EXPECT_EQ(host.status, "Erase command fail!!");
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(FlashRange(0, kArea), Slice(before, 0, kArea));
}

// A programming that fails after the erase puts the unit's area back.
TEST_F(AddressFlash, HeaderPutsTheAreaBackAfterAFailedPage) {
  const Bytes before = Prepare(kType6);
  sim::FaultPlan faults;
  faults.failMatching = {FlashAt(0x11, 0x4000)};
  Controller().SetFaults(faults);
  EXPECT_EQ(RunHeaderFlashUpdate(ProgramRequest(FirmwareFile(30000)), host), 0);
  EXPECT_EQ(host.status, "Write command fail!");
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(FlashRange(0, kArea), Slice(before, 0, kArea));
}

// ==== The paged procedure ====================================================

struct PagedCase {
  const char* name;
  UnitCase unit;
  uint32_t altFlashProc;
  size_t fileSize;
  size_t written;  // whole 16 KB pages
  const char* erasing;
  const char* programming;
};

class PagedProgram : public AddressFlash, public ::testing::WithParamInterface<PagedCase> {};

TEST_P(PagedProgram, FlashHoldsTheFilePageByPage) {
  const PagedCase& c = GetParam();
  Prepare(c.unit);
  const Bytes file = FirmwareFile(c.fileSize);
  ProcedureRequest request = ProgramRequest(file, false);
  request.chip.altFlashProc = c.altFlashProc;
  EXPECT_EQ(RunPagedFlashUpdate(request, host), 1);
  EXPECT_EQ(host.status, "Programming Success!!");
  EXPECT_EQ(host.boxes, std::vector<std::string>{kPowerCycleBox});
  EXPECT_TRUE(StatusWas(c.erasing));
  EXPECT_TRUE(StatusWas(c.programming));
  EXPECT_TRUE(host.includeNvramTicked);
  // The file unchanged, settings area included.
  EXPECT_EQ(Differs(FlashRange(0, c.written), Padded(file, c.written)), "");
}

INSTANTIATE_TEST_SUITE_P(Paged, PagedProgram,
                         ::testing::Values(PagedCase{"type10_sst_10k", kType10Sst, 0, 10240, 16384,
                                                     "Erasing.", "Programming."},
                                           PagedCase{"type10_sst_40k", kType10Sst, 0, 40960, 49152,
                                                     "Erasing..", "Programming..."},
                                           PagedCase{"type10_sst_64k", kType10Sst, 0, 65536, 65536,
                                                     "Erasing..", "Programming...."}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AddressFlash, PagedEraseOnlyAndBackupUseTheSharedSteps) {
  const Bytes before = Prepare(kType10Sst);
  const ProcedureRequest backup = BackupRequest(false);
  EXPECT_EQ(RunPagedFlashUpdate(backup, host), 1);
  EXPECT_EQ(Differs(ReadFile(backup.options.backupFile), Slice(before, 0, 65536)), "");

  EXPECT_EQ(RunPagedFlashUpdate(EraseRequest(false), host), 1);
  EXPECT_EQ(host.status, "Erase flash all success!");
  EXPECT_EQ(Flash(), Bytes(65536, 0xFF));
  EXPECT_TRUE(host.includeNvramTicked);
}

// The block reader of a type-10 backup waits for the flash before and after
// every block it reads (FF 04 12 around each FF 04 10), and tells the debug
// output when the flash was not ready at its start.
TEST_F(AddressFlash, Type10BackupWaitsAroundEveryBlockRead) {
  const Bytes before = Prepare(kType10Sst);
  const ProcedureRequest backup = BackupRequest(false);
  EXPECT_EQ(RunPagedFlashUpdate(backup, host), 1);
  EXPECT_EQ(Differs(ReadFile(backup.options.backupFile), Slice(before, 0, 65536)), "");
  std::string flashOps;  // 's' a status read, 'r' a block read
  for (const auto& command : Controller().Log()) {
    if (command[0] != 0xFF || command[1] != 0x04) continue;
    if (command[2] == 0x12) flashOps += 's';
    if (command[2] == 0x10) flashOps += 'r';
  }
  // The first wait, then eight 8 KB blocks, each between two waits.
  EXPECT_EQ(flashOps,
            "s"
            "srs"
            "srs"
            "srs"
            "srs"
            "srs"
            "srs"
            "srs"
            "srs");
  EXPECT_TRUE(host.debug.empty());

  Prepare(kType10Sst);
  sim::FaultPlan faults;
  faults.stuckBusyFrom = 1;
  Controller().SetFaults(faults);
  EXPECT_EQ(RunPagedFlashUpdate(BackupRequest(false), host), 0);
  EXPECT_EQ(host.status, "Read Back to Backup Error!!");
  ASSERT_FALSE(host.debug.empty());
  EXPECT_EQ(host.debug.front(), "0.1 Device initial not ready!!");
}

// Erase only works on the size picked in "Firmware size", also on a type-10
// unit whose flash size the information check did not find or found larger.
TEST_F(AddressFlash, Type10EraseOnlyCoversTheChosenSize) {
  struct Case {
    int32_t detectedKB;
    int32_t chosen;
  };
  for (const Case c : {Case{0, 65536}, Case{128, 32768}}) {
    SCOPED_TRACE(c.detectedKB);
    Prepare({"type10_128k", "vqb713:maker=mxic:size=128", 10, 128, 5});
    host.settings.SelectedFlashSize = c.chosen;
    ProcedureRequest request = EraseRequest(true);
    request.chip.flashSizeKB = c.detectedKB;
    EXPECT_EQ(RunHeaderFlashUpdate(request, host), 1);
    EXPECT_EQ(host.status, "Erase flash all success!");
    EXPECT_EQ(host.boxes, std::vector<std::string>{kPowerCycleBox});
    EXPECT_EQ(Flash(), Bytes(131072, 0xFF));  // the chip erase
    // The reads after the chip erase (FF 04 13) check it.
    uint64_t checked = 0;
    for (const auto& command : Controller().Log()) {
      if (command[0] != 0xFF || command[1] != 0x04) continue;
      if (command[2] == 0x13) checked = 0;
      if (command[2] == 0x10) checked += command.length;
    }
    EXPECT_EQ(checked, static_cast<uint64_t>(c.chosen));
  }
}

// Every failure is reported as one: 0 and no box.
struct PagedFailure {
  const char* name;
  sim::FaultPlan faults;
  const char* status;
};

class PagedFails : public AddressFlash, public ::testing::WithParamInterface<PagedFailure> {};

TEST_P(PagedFails, ReturnsFailure) {
  Prepare(kType10Sst);
  Controller().SetFaults(GetParam().faults);
  EXPECT_EQ(RunPagedFlashUpdate(ProgramRequest(FirmwareFile(40000), true), host), 0);
  EXPECT_EQ(host.status, GetParam().status);
  EXPECT_TRUE(host.boxes.empty());
}

sim::FaultPlan Refusing(sim::BlockPattern pattern) {
  sim::FaultPlan plan;
  plan.failMatching = {pattern};
  return plan;
}
sim::FaultPlan StuckCells() {
  sim::FaultPlan plan;
  plan.eraseStuckCells = -1;
  return plan;
}
sim::FaultPlan BitErrors() {
  sim::FaultPlan plan;
  plan.programBitErrors = -1;
  return plan;
}

INSTANTIATE_TEST_SUITE_P(
    Paged, PagedFails,
    ::testing::Values(
        PagedFailure{"erase_refused", Refusing(FlashAt(0x14)), "Erase command fail!!"},
        PagedFailure{"read_refused", Refusing(FlashAt(0x10)), "Read back after erase fail!!"},
        PagedFailure{"not_blank", StuckCells(), "Data not 0xff !!"},
        // The data phase of the serial-flash programming.
        PagedFailure{"write_refused", Refusing(FlashAt(0x22)), "Write command fail!"},
        PagedFailure{"compare", BitErrors(), "Data compare fail !!"}),
    [](const auto& info) { return std::string(info.param.name); });

// ==== The staged procedure of type 13 ========================================

struct StagedCase {
  const char* name;
  bool headerFile;
  bool includeNvram;
  const char* layout;  // as for the header procedure, in place ("kept" over 0..4095)
};

class StagedProgram : public AddressFlash, public ::testing::WithParamInterface<StagedCase> {};

TEST_P(StagedProgram, FlashHoldsTheMergedImage) {
  const StagedCase& c = GetParam();
  const Bytes before = Prepare(kType13);
  const Bytes file = c.headerFile ? HeaderFile(40000, "713") : FirmwareFile(40000);
  EXPECT_EQ(RunStagedFlashUpdate(ProgramRequest(file, c.includeNvram), host), 1);
  EXPECT_EQ(host.status, "Programming Success!!");
  EXPECT_EQ(host.boxes, std::vector<std::string>{kPowerCycleBox});
  EXPECT_EQ(host.statusHistory,
            (std::vector<std::string>{"Erasing...", "Programming....", "Read back....",
                                      "Compare....", "Programming Success!!"}));
  Bytes expected = Padded(file, 40960);
  const std::string layout = c.layout;
  if (layout != "file") {
    Bytes area = Slice(before, 0, kArea);
    if (layout == "kept_id") std::copy_n(file.begin() + 128, 80, area.begin() + 128);
    std::copy(area.begin(), area.end(), expected.begin());
  }
  EXPECT_EQ(Differs(FlashRange(0, 40960), expected), "");
  EXPECT_EQ(host.imageHasHeaderArea, c.headerFile);
}

INSTANTIATE_TEST_SUITE_P(Staged, StagedProgram,
                         ::testing::Values(StagedCase{"no_area_kept", false, false, "kept"},
                                           StagedCase{"no_area_box_ticked", false, true, "kept"},
                                           StagedCase{"area_kept_new_id", true, false, "kept_id"},
                                           StagedCase{"area_included", true, true, "file"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A file that ends inside the identification at 128..207 but carries the
// header id at 0x80: only its own bytes of the identification reach the
// unit's kept area (the sanitizer build sees a read past the file's end).
TEST_F(AddressFlash, StagedShortHeaderFileGivesOnlyTheBytesItHas) {
  const Bytes before = Prepare(kType13);
  Bytes file = FirmwareFile(150);
  const uint8_t block[] = {0xE9, 0xAC, 0x67, 0x32, '7', '1', '3', '0', 0, 0};
  std::copy(std::begin(block), std::end(block), file.begin() + 0x80);
  EXPECT_EQ(RunStagedFlashUpdate(ProgramRequest(file), host), 1);
  EXPECT_EQ(host.status, "Programming Success!!");
  Bytes expected = Padded(Slice(before, 0, kArea), 8192);
  std::copy(file.begin() + 128, file.end(), expected.begin() + 128);
  EXPECT_EQ(Differs(FlashRange(0, 8192), expected), "");
}

TEST_F(AddressFlash, StagedEraseOnlyAndBackup) {
  const Bytes before = Prepare(kType13);
  const ProcedureRequest backup = BackupRequest(true);
  EXPECT_EQ(RunStagedFlashUpdate(backup, host), 1);
  EXPECT_EQ(Differs(ReadFile(backup.options.backupFile), Slice(before, 0, 65536)), "");

  EXPECT_EQ(RunStagedFlashUpdate(EraseRequest(true), host), 1);
  EXPECT_EQ(host.status, "Flash operations all success!");
  EXPECT_EQ(host.boxes.back(), kPowerCycleBox);
  EXPECT_EQ(Flash(), Bytes(65536, 0xFF));
}

// The copy a run takes before it writes, over ATA PASS-THROUGH: the whole
// detected flash, and it goes back through the same family of commands.
TEST_F(AddressFlash, StagedCopyBeforeTheRunGoesBack) {
  const Bytes before = Prepare(kType13);
  const std::string copy = dir.Path("copy.bin");
  RunBackupReport report;
  ASSERT_EQ(SaveRunBackup(Request(), WholePart::AtaFlash, host, copy, &report), 1) << host.status;
  EXPECT_EQ(Differs(ReadFile(copy), before), "");
  ASSERT_EQ(RunStagedFlashUpdate(EraseRequest(true), host), 1);
  ASSERT_EQ(Flash(), Bytes(65536, 0xFF));
  RestoreReport restored;
  EXPECT_EQ(RestoreWholePart(Request(), WholePart::AtaFlash, host, ReadFile(copy), &restored), 1)
      << host.status;
  EXPECT_EQ(Differs(Flash(), before), "");
}

// Each result code the unit or the compare can give, provoked by a fault:
// its text, failure, no box, and the unit's settings back where the flash
// was erased under them.
struct StagedFailure {
  const char* name;
  sim::FaultPlan faults;
  const char* status;
  bool areaIntact;
};

class StagedFails : public AddressFlash, public ::testing::WithParamInterface<StagedFailure> {};

TEST_P(StagedFails, StatusTextOfTheCode) {
  const StagedFailure& c = GetParam();
  const Bytes before = Prepare(kType13);
  Controller().SetFaults(c.faults);
  EXPECT_EQ(RunStagedFlashUpdate(ProgramRequest(FirmwareFile(40000)), host), 0);
  EXPECT_EQ(host.status, c.status);
  EXPECT_TRUE(host.boxes.empty());
  if (c.areaIntact) {
    EXPECT_EQ(Differs(FlashRange(0, kArea), Slice(before, 0, kArea)), "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Staged, StagedFails,
    ::testing::Values(StagedFailure{"code2_erase_refused", Refusing(AtaFeature(0xE7)),
                                    "Issuse Errase Command fail!", true},
                      StagedFailure{"code4_write_refused", Refusing(AtaFeature(0xE9)),
                                    "Issuse Write Command fail!", false},
                      StagedFailure{"code6_not_blank", StuckCells(), "Data not 0xff !!", false},
                      StagedFailure{"code7_compare", BitErrors(), "Data compare fail", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Erase only ends at its first failing code: its text, failure, and no
// power-cycle box.
TEST_F(AddressFlash, StagedEraseOnlyFailure) {
  struct Case {
    const char* name;
    sim::FaultPlan faults;
    const char* status;
  };
  const Case cases[] = {
      {"code2_erase_refused", Refusing(AtaFeature(0xE7)), "Issuse Errase Command fail!"},
      {"code3_read_refused", Refusing(AtaFeature(0xE8)), "Issuse Read Command fail!"},
      {"code6_not_blank", StuckCells(), "Data not 0xff !!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare(kType13);
    Controller().SetFaults(c.faults);
    EXPECT_EQ(RunStagedFlashUpdate(EraseRequest(true), host), 0);
    EXPECT_EQ(host.status, c.status);
    EXPECT_TRUE(host.boxes.empty());
  }
}

// A read the unit refuses: first the settings read (nothing erased), and
// for a file with its own area and the box ticked (no settings read) the
// check after the erase, code 3.
TEST_F(AddressFlash, StagedReadRefused) {
  const Bytes before = Prepare(kType13);
  Controller().SetFaults(Refusing(AtaFeature(0xE8)));
  EXPECT_EQ(RunStagedFlashUpdate(ProgramRequest(FirmwareFile(40000)), host), 0);
  EXPECT_EQ(host.status, "Backup NVRAM command fail!");
  EXPECT_EQ(FlashChanges(), 0u);

  Prepare(kType13);
  Controller().SetFaults(Refusing(AtaFeature(0xE8)));
  EXPECT_EQ(RunStagedFlashUpdate(ProgramRequest(HeaderFile(40000, "713"), true), host), 0);
  EXPECT_EQ(host.status, "Issuse Read Command fail!");
  EXPECT_TRUE(host.boxes.empty());
}

// The text of every code, as the operator reads it.
TEST(FlashOpResult, TextOfEveryCode) {
  const std::vector<std::pair<int, std::string>> table = {
      {0, "Flash operations all success!"},
      {1, "Allocate buffer fail!"},
      {2, "Issuse Errase Command fail!"},
      {3, "Issuse Read Command fail!"},
      {4, "Issuse Write Command fail!"},
      {5, "Not ready after Erase flash cmd success"},
      {6, "Data not 0xff !!"},
      {7, "Data compare fail"},
      {8, "Flash operations all success!"}};
  for (const auto& [code, text] : table) EXPECT_EQ(FlashOpResultText(code), text) << code;
}

// ==== Every command of a good run fails, or the unit goes, there =============

// Where a good run puts the file: as it is; behind the unit's 4 KB area; or
// under it (the area in place of the file's first 4 KB).
enum class SweepLayout { File, AreaThenFile, AreaOverFile };

struct SweepCase {
  const char* name;
  Runner run;
  UnitCase unit;
  size_t fileSize;
  bool includeNvram;
  SweepLayout layout;
  // What a good run leaves in the flash from 0 (the layout padded with
  // zeros), and the settings that must survive a failing command (offset,
  // length; length 0: none).
  size_t written;
  size_t keptAt;
  size_t keptLength;
};

// The first `c.written` bytes the flash must hold after a good run.
Bytes SweepExpected(const SweepCase& c, const Bytes& file, const Bytes& before) {
  switch (c.layout) {
    case SweepLayout::File:
      return Padded(file, c.written);
    case SweepLayout::AreaThenFile:
      return Padded(Cat(Slice(before, 0, kArea), file), c.written);
    case SweepLayout::AreaOverFile: {
      Bytes expected = Padded(file, c.written);
      std::copy_n(before.begin(), kArea, expected.begin());
      return expected;
    }
  }
  return {};
}

class FaultSweep : public AddressFlash, public ::testing::WithParamInterface<SweepCase> {};

TEST_P(FaultSweep, NeverSuccessUnlessTheFlashHoldsTheFile) {
  const SweepCase& c = GetParam();
  const Bytes file = FirmwareFile(c.fileSize);
  const Bytes first = Prepare(c.unit, 0.0);
  const ProcedureRequest good = ProgramRequest(file, c.includeNvram);
  ASSERT_EQ(c.run(good, host), 1);
  // Worked from the file and the unit's old flash, not taken from the run.
  const Bytes expected = SweepExpected(c, file, first);
  ASSERT_EQ(Differs(FlashRange(0, c.written), expected), "") << "the good run";
  const uint64_t commands = Controller().CommandCount();
  const uint64_t operations = Controller().Flash().Statistics().operations;
  ASSERT_GT(commands, 5u);

  // Long runs are swept at about 100 places each, the first and the last
  // commands always among them.
  int failures = 0;
  for (int mode = 0; mode < 3; ++mode) {
    const uint64_t last = mode == 2 ? operations : commands;
    const uint64_t stride = last / 100 + 1;
    for (uint64_t k = 1; k <= last; k = k == last || k + stride <= last ? k + stride : last) {
      static const char* kModes[] = {"fail command ", "vanish from command ",
                                     "power loss in operation "};
      SCOPED_TRACE(kModes[mode] + std::to_string(k));
      const Bytes before = Prepare(c.unit, 0.0);
      sim::FaultPlan faults;
      (mode == 0   ? faults.failCommand
       : mode == 1 ? faults.vanishAtCommand
                   : faults.powerLossAtOperation) = k;
      Controller().SetFaults(faults);
      ProcedureRequest request = good;
      request.path = farm->Unit(0).diskPath;
      const int result = c.run(request, host);
      EXPECT_EQ(result == 1, host.status == "Programming Success!!");
      if (result == 1) {
        EXPECT_EQ(Differs(FlashRange(0, c.written), expected), "");
        continue;
      }
      ++failures;
      EXPECT_TRUE(host.boxes.empty());
      // A unit that still answers keeps its settings.
      if (mode == 0 && c.keptLength > 0) {
        EXPECT_EQ(
            Differs(FlashRange(c.keptAt, c.keptLength), Slice(before, c.keptAt, c.keptLength)), "");
      }
    }
  }
  EXPECT_GT(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(
    All, FaultSweep,
    ::testing::Values(SweepCase{"basic_type1", &RunBasicFlashUpdate, kType1, 20000, false,
                                SweepLayout::File, 32768, 0x8000, 512},
                      SweepCase{"header_type6", &RunHeaderFlashUpdate, kType6, 30000, false,
                                SweepLayout::AreaThenFile, 36864, 0, kArea},
                      SweepCase{"paged_type10", &RunPagedFlashUpdate, kType10Sst, 40000, true,
                                SweepLayout::File, 49152, 0, 0},
                      SweepCase{"staged_type13", &RunStagedFlashUpdate, kType13, 40000, false,
                                SweepLayout::AreaOverFile, 40960, 0, kArea}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fwtool
