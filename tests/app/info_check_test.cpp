// SPDX-License-Identifier: GPL-2.0-or-later
// The chip and firmware information check against simulated units of every
// chip group: what the engineering panel shows and which flash part the
// procedures are told to work with.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "capture_backend.h"
#include "fake_enumerator.h"
#include "form_texts.h"
#include "sim_form_fixture.h"

namespace fwtool {
namespace {

using testing::CountBlocks;
using testing::SimFormTest;

class InfoCheck : public SimFormTest {};

// Which of the panel's fields and boxes show.
struct Panel {
  bool flashType;  // SFlashTypeLable
  bool version;    // FwVerLableEdit
  bool nvram;      // NVRAMCheck
  bool hddBox;     // VQS175HDDFwChk
  bool flashList;  // FlashTypeList with its label and "A1 Chip"
};

constexpr Panel kSerial{true, true, false, false, false};
constexpr Panel kSerialNvram{true, true, true, false, false};
constexpr Panel kControllerCode{true, true, false, true, false};
constexpr Panel kControllerCodeNvram{true, true, true, true, false};
constexpr Panel kVersionOnly{false, true, false, false, false};
constexpr Panel kParallel{false, true, false, false, true};
constexpr Panel kNothing{false, false, false, false, false};

struct ChipCase {
  const char* unit;
  int chipType;
  const char* chip;
  const char* flashType;
  const char* version;
  const char* status;
  Panel panel;
};

// Versions: the older firmware of a simulated unit carries 5.3.1.16.0 (types
// 8, 9), 6.2.3.16.0 (11), bytes 0 0 '1' '0' '0' '2' (12) and 2.1.3.1.5
// (every other type) in the chip-information bytes 6, 7, 12, 13, 14 (15).
TEST_F(InfoCheck, EachChipGroupShowsItsFieldsAndVersion) {
  const ChipCase cases[] = {
      // Serial flash, maker code from the controller, five-number version.
      {"vqb719", 8, "VQB711/719 Series", "MXIC", "5.03.01.16.00", "", kControllerCodeNvram},
      // The internal code's version, though the flash holds a valid image.
      {"vqb719:version=7.7.0.16.0", 8, "VQB711/719 Series", "MXIC", "Internal code", "",
       kControllerCodeNvram},
      {"vqb719:fw=blank", 8, "VQB711/719 Series", "MXIC", "Internal code", "",
       kControllerCodeNvram},
      // "%.2d" prints a number above 99 whole.
      {"vqb719:version=5.3.1.160.0", 8, "VQB711/719 Series", "MXIC", "5.03.01.160.00", "",
       kControllerCodeNvram},
      // Register 0x506A reads 1 after a 0 was written: byte 14 gets bit 0
      // inverted, and it prints as a signed byte.
      {"vqs118:rev=5", 11, "VQS118/175 Series", "MXIC", "6.02.03.16.01", "", kControllerCodeNvram},
      {"vqs118:rev=5:version=6.2.3.16.255", 11, "VQS118/175 Series", "MXIC", "6.02.03.16.-02", "",
       kControllerCodeNvram},
      // Versions the internal code reports, though the flash holds a valid
      // image; a version beside one of them is shown.
      {"vqs118:version=9.18.1.16.1", 11, "VQS118/175 Series", "MXIC", "Internal code", "",
       kControllerCodeNvram},
      {"vqs118:version=9.18.1.16.0", 11, "VQS118/175 Series", "MXIC", "9.18.01.16.01", "",
       kControllerCodeNvram},
      {"vqs118:version=5.13.11.16.1", 11, "VQS118/175 Series", "MXIC", "Internal code", "",
       kControllerCodeNvram},
      {"vqb185:rev=3:version=0.0.2.0.0", 14, "VQB185 Series", "MXIC", "Internal code", "", kSerial},
      {"vqb185:rev=3:version=0.0.2.0.1", 14, "VQB185 Series", "MXIC", "2.00.01", "", kSerial},
      {"vq64775e:version=0.0.0.160.144", 16, "VQ64775 Series", "MXIC", "Internal code", "",
       kSerial},
      {"vq64775e:version=0.0.2.0.0", 16, "VQ64775 Series", "MXIC", "Internal code", "", kSerial},
      // Four two-digit numbers of bytes 12..15.
      {"vqs175", 12, "VQS175 Series", "MXIC", "49.48.48.50", "", kControllerCodeNvram},
      {"vqs175:version=0.0.200.1.2.3", 12, "VQS175 Series", "MXIC", "200.01.02.03", "",
       kControllerCodeNvram},
      {"vqs175:fw=blank", 12, "VQS175 Series", "MXIC", "Internal code", "", kControllerCodeNvram},
      // Over IEEE 1394 the VQB717 reports its maker code; over USB the kind
      // reads and the code follow. Three numbers of bytes 12..14.
      {"vqb717:bus=sbp2", 7, "VQB717 Series", "MXIC", "3.01.05", "", kControllerCode},
      {"vqb717", 7, "VQB717 Series", "MXIC", "3.01.05", "", kSerial},
      {"vqb716", 6, "VQB716 Series", "MXIC", "3.01.05", "", kSerialNvram},
      // A 12-byte reply: "%d.%.2d" of bytes 6 and 7.
      {"vq64771", 1, "VQ64771 Series", "MXIC", "2.01", "", kSerial},
      {"vq64775", 4, "VQ64775 Series", "MXIC", "2.01", "", kSerial},
      // The host probes the part itself.
      {"vqb713", 10, "VQB713 Series", "MXIC", "51.48.03.01.05", "", kSerialNvram},
      {"vq64775e", 16, "VQ64775 Series", "MXIC", "3.01.05", "", kSerial},
      {"vqb185:rev=3", 14, "VQB185 Series", "MXIC", "3.01.05", "", kSerial},
      {"vqb185:rev=2", 14, "VQB185 Series", "MXIC", "3.01.05", "", kSerial},
      // Firmware on the disk: the controller information decides.
      {"vq64765", 5, "VQ64765 Series", "", "2.01", "", kVersionOnly},
      {"vq64765:reg=207", 5, "VQ64765 Series", "", "2.01", "The chip not support Firmware Update!",
       kNothing},
      {"vqb145", 15, "VQB145 Series", "", "3.01.05", "", kVersionOnly},
      // Parallel flash: the operator chooses the part.
      {"vq64779", 2, "VQ64779 Series", "", "2.01", "", kParallel},
      // No firmware update; the version is still read.
      {"vq64772:rev=2", 18, "VQ64772", "", "2.01", "The chip not support Firmware Update!",
       kNothing},
      {"vq64772", 18, "VQ64772", "", "", "Not Velquor Chip!!", kNothing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unit);
    Build(c.unit);
    auto& f = Open();
    ASSERT_EQ(f.ListedCount(), 1);
    EXPECT_EQ(f.ChipType, c.chipType);
    EXPECT_EQ(f.ChipLabelEdit.Text(), c.chip);
    EXPECT_EQ(f.SFlashTypeLable.Text(), c.flashType);
    EXPECT_EQ(f.FwVerLableEdit.Text(), c.version);
    EXPECT_EQ(f.StatusEdit.Text(), c.status);
    EXPECT_EQ(f.DiskLetterLable.Text(), "");
    EXPECT_EQ(f.SFlashTypeLable.Visible(), c.panel.flashType);
    EXPECT_EQ(f.FwVerLableEdit.Visible(), c.panel.version);
    EXPECT_EQ(f.NVRAMCheck.Visible(), c.panel.nvram);
    // "Include 4K NVRAM" ticked as at start.
    if (c.panel.nvram) {
      EXPECT_TRUE(f.NVRAMCheck.Checked());
    }
    EXPECT_EQ(f.VQS175HDDFwChk.Visible(), c.panel.hddBox);
    EXPECT_EQ(f.FlashTypeList.Visible(), c.panel.flashList);
    EXPECT_EQ(f.FlashTypeLabel.Visible(), c.panel.flashList);
    EXPECT_EQ(f.A1ChipCheck.Visible(), c.panel.flashList);
    if (c.panel.flashList) {
      EXPECT_TRUE(f.FlashTypeList.Enabled());
      EXPECT_TRUE(f.A1ChipCheck.Enabled());
    }
  }
}

// Opening the engineering face leaves the fields of the flash part as the
// check arranged them for the selected unit: one "Flash Type" field for a
// serial part, the parallel part's list for types 2 and 21, neither for the
// chips with their firmware on the disk or without a firmware update.
TEST_F(InfoCheck, TheEngineeringFaceKeepsTheArrangementForTheUnit) {
  const struct {
    const char* unit;
    Panel panel;
  } cases[] = {
      {"vq64771:maker=mxic,vqb719", kSerial},
      {"vq64779", kParallel},
      {"vqb145", kVersionOnly},
      {"vq64765:reg=207", kNothing},
      {"vqb719", kControllerCodeNvram},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unit);
    Build(c.unit);
    auto& f = Open();
    f.ShowEngineeringFace();
    ASSERT_TRUE(f.RdPanel.Visible());
    EXPECT_TRUE(f.FwPgSizeCheck.Visible());
    EXPECT_EQ(f.SFlashTypeLable.Visible(), c.panel.flashType);
    EXPECT_EQ(f.FwVerLableEdit.Visible(), c.panel.version);
    EXPECT_EQ(f.NVRAMCheck.Visible(), c.panel.nvram);
    EXPECT_EQ(f.VQS175HDDFwChk.Visible(), c.panel.hddBox);
    EXPECT_EQ(f.FlashTypeList.Visible(), c.panel.flashList);
    EXPECT_EQ(f.FlashTypeLabel.Visible(), c.panel.flashList);
    EXPECT_EQ(f.A1ChipCheck.Visible(), c.panel.flashList);
  }
}

// The erase units the controller uses for the maker it reports: 32 KB and
// 4 KB for PMC and SST, 64 KB and 32 KB for ATMEL, 64 KB and 4 KB for MXIC
// and WINBOND.
TEST_F(InfoCheck, TheReportedMakerSetsTheEraseUnits) {
  struct Case {
    const char* unit;
    int maker;
    const char* name;
    int32_t large;
    int32_t small;
  };
  const Case cases[] = {
      {"vqb719:maker=pmc", 1, "PMC", 32768, 4096},
      {"vqb719:maker=sst", 2, "SST", 32768, 4096},
      {"vqb719:maker=atmel", 4, "ATMEL", 65536, 32768},
      {"vqb719:maker=mxic", 5, "MXIC", 65536, 4096},
      {"vqb719:maker=winbond", 6, "WINBOND", 65536, 4096},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unit);
    Build(c.unit);
    auto& f = Open();
    EXPECT_EQ(f.FlashMaker, c.maker);
    EXPECT_EQ(f.SFlashTypeLable.Text(), c.name);
    EXPECT_EQ(f.Settings.LargeEraseUnit, c.large);
    EXPECT_EQ(f.Settings.SmallEraseUnit, c.small);
    EXPECT_EQ(f.AltFlashProc, 0u);
  }
}

// Type 14 from sub-revision 3 on is probed by the host (which then sets the
// controller's opcodes); up to 2 the controller reports its maker code.
TEST_F(InfoCheck, Type14ProbesTheFlashItselfFromRevision3) {
  Build("vqb185:rev=3");
  auto& f = Open();
  EXPECT_EQ(f.FlashMaker, 5);
  EXPECT_EQ(f.FlashSizeKB, 64);
  EXPECT_EQ(CountBlocks(Log(), {0xFF, 0x04, 0x24}), 1u);  // opcodes
  EXPECT_EQ(CountBlocks(Log(), {0xFF, 0x04, 0x23}), 0u);  // maker code

  Build("vqb185:rev=2");
  auto& g = Open();
  EXPECT_EQ(g.FlashMaker, 5);
  EXPECT_EQ(CountBlocks(Log(), {0xFF, 0x04, 0x24}), 0u);
  EXPECT_GE(CountBlocks(Log(), {0xFF, 0x04, 0x23}), 1u);
}

// A type-11 controller that gives no maker code: from sub-revision 5 on the
// host probes the part itself, before that the maker stays unknown.
TEST_F(InfoCheck, Type11ProbesWhenTheControllerFoundNothingFromRevision5) {
  Build("vqs118:rev=5:fail-match=ff0423");
  auto& f = Open();
  EXPECT_EQ(f.FlashMaker, 5);
  EXPECT_EQ(f.SFlashTypeLable.Text(), "MXIC");
  EXPECT_EQ(f.Settings.LargeEraseUnit, 65536);

  Build("vqs118:rev=4:fail-match=ff0423");
  auto& g = Open();
  EXPECT_EQ(g.ChipSubRev, 4);
  EXPECT_EQ(g.FlashMaker, 0);
  EXPECT_EQ(g.SFlashTypeLable.Text(), "");
  EXPECT_EQ(CountBlocks(Log(), {0xFF, 0x04, 0x20}), 0u);  // no instruction to the part
}

// The older chips whose controller refuses to name its flash maker (FF 04
// 23): the host asks the part itself, and the part's JEDEC answer (C2 20:
// MXIC) names the maker. The erase units stay as they were.
TEST_F(InfoCheck, KindReadChipsProbeThePartWhenTheControllerGivesNoMakerCode) {
  const char* const units[] = {"vq64771:fail-match=ff0423", "vq64773:fail-match=ff0423",
                               "vq64775:fail-match=ff0423", "vqb716:fail-match=ff0423",
                               "vqb717:fail-match=ff0423",  "vqb185:rev=2:fail-match=ff0423"};
  for (const char* unit : units) {
    SCOPED_TRACE(unit);
    Build(unit);
    auto& f = Open();
    EXPECT_EQ(f.AmicFlashKind, -1);
    EXPECT_EQ(f.AtmelFlashKind, -1);
    EXPECT_EQ(f.FlashMaker, 5);
    EXPECT_EQ(f.SFlashTypeLable.Text(), "MXIC");
    EXPECT_EQ(f.Settings.LargeEraseUnit, 32768);
    EXPECT_EQ(f.Settings.SmallEraseUnit, 4096);
  }
}

// MXIC parts answering C2 22 xx program in 32-byte pages: the controller is
// told so in the form its chip takes; other parts leave its pages alone.
TEST_F(InfoCheck, SmallPageMxicPartsAreToldToTheController) {
  struct Case {
    const char* unit;
    uint32_t pageSize;
  };
  const Case cases[] = {
      {"vqs175:jedec=c22211", 32},         // 16-bit page size
      {"vqs118:rev=5:jedec=c22211", 32},   // page size / 4
      {"vqb713:jedec=c22210", 32},         // page-size command
      {"vqb713", 256},                     // C2 20: not a small-page part
      {"vqb185:rev=3:jedec=c22210", 256},  // this chip is not told
      {"vqs118:rev=4:jedec=c22211", 256},  // nor before revision 5
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unit);
    Build(c.unit);
    Open();
    EXPECT_EQ(farm->Controller(0).FlashConfig().pageSize, c.pageSize);
  }
  // With the page size come the opcodes: C7 chip erase, D8 block erase, 02
  // program, 20 sector erase.
  Build("vqs175:jedec=c22211");
  Open();
  const auto& config = farm->Controller(0).FlashConfig();
  EXPECT_EQ(config.chipEraseOpcode, 0xC7);
  EXPECT_EQ(config.blockEraseOpcode, 0xD8);
  EXPECT_EQ(config.programOpcode, 0x02);
  EXPECT_EQ(config.sectorEraseOpcode, 0x20);
}

// SST parts answering BF 25 take the alternative flash procedure on the
// chips that probe their part.
TEST_F(InfoCheck, Sst25PartsSelectTheAlternativeProcedure) {
  struct Case {
    const char* unit;
    uint32_t alt;
  };
  const Case cases[] = {
      {"vqs118:rev=5:maker=sst:size=256", 1},  // answers BF 25 8E
      {"vqs118:rev=5:maker=sst", 0},           // an older part: no answer to 0x9F
      {"vqb719:maker=sst:size=256", 0},        // this chip's part is not probed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unit);
    Build(c.unit);
    auto& f = Open();
    EXPECT_EQ(f.FlashMaker, 2);
    EXPECT_EQ(f.AltFlashProc, c.alt);
  }
}

TEST_F(InfoCheck, TheDiskHostedChipsKeepNoStaleRegisterValue) {
  Build("vq64765:reg=230,vq64765:fail-match=ff04a0");
  auto& f = Open();
  ASSERT_EQ(f.ListedCount(), 2);
  EXPECT_EQ(f.ChipRegValue, 230);
  f.DeviceList.SetItemIndex(1);
  f.UpdateBtnCheck(f.DeviceList);
  EXPECT_EQ(f.ChipType, 5);
  // The second controller does not answer: nothing of the first remains.
  EXPECT_EQ(f.ChipRegValue, 0);
}

// A unit whose flash size the check found (type 10, 64 KB), then one whose
// size is not found (type 3 with 128 KB): the size test of the second run
// knows no size and lets its 100,000-byte file through.
TEST_F(InfoCheck, TheNextUnitGetsNothingOfTheFlashSeenBefore) {
  Build("vqb713:size=64,vq64773:maker=winbond:size=128");
  auto& f = Open();
  ASSERT_EQ(f.ListedCount(), 2);
  ASSERT_EQ(f.ChipType, 10);
  ASSERT_EQ(f.FlashSizeKB, 64);
  f.DeviceList.SetItemIndex(1);
  f.UpdateBtnCheck(f.DeviceList);
  ASSERT_EQ(f.ChipType, 3);
  EXPECT_EQ(f.FlashSizeKB, 0);

  std::vector<uint8_t> bytes(100000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + i / 509);
  const auto path = dir / "large.bin";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  f.ShowEngineeringFace();
  op.fileAnswers.push_back(path.string());
  f.LoadBtnClick(f.LoadBtn);
  f.UpdateBtnClick(f.UpdateBtn);
  EXPECT_EQ(f.StatusEdit.Text(), "Programming Success!!");
  const std::vector<uint8_t> flash = Flash(1);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), flash.begin()));
}

// Paths were found but none is listed: the fields tell of no device and
// nothing of the device seen before reaches "Run".
TEST_F(InfoCheck, NoListedEntryShowsNoDevice) {
  Build("vqb719,vqs175");
  auto& f = Open();
  ASSERT_EQ(f.ListedCount(), 2);
  ASSERT_EQ(f.ChipLabelEdit.Text(), "VQB711/719 Series");
  f.UpdateBtn.SetEnabled(true);
  farm->Unplug(0);
  f.SetDeviceListScope(DeviceListScope::UpdateTargets);
  f.RefreshBtnClick(f.RefreshBtn);
  EXPECT_EQ(f.DeviceCount, 1);
  EXPECT_EQ(f.ListedCount(), 0);
  EXPECT_EQ(f.ChipType, 0);
  EXPECT_EQ(f.ChipLabelEdit.Text(), "");
  EXPECT_EQ(f.FwVerLableEdit.Text(), "");
  EXPECT_EQ(f.SFlashTypeLable.Text(), "");
  EXPECT_EQ(f.StatusEdit.Text(), "");
  EXPECT_FALSE(f.NVRAMCheck.Visible());
  EXPECT_FALSE(f.VQS175HDDFwChk.Visible());
  EXPECT_FALSE(f.FlashTypeList.Enabled());
  EXPECT_FALSE(f.A1ChipCheck.Enabled());
  EXPECT_FALSE(f.UpdateBtn.Enabled());
}

TEST_F(InfoCheck, RunFollowsTheFirmwareFile) {
  Build("vqb719");
  auto& f = Open();
  const auto file = [&](const char* name, const char* chipId) {
    std::vector<uint8_t> bytes(0x8000, 0xFF);
    const uint8_t block[] = {0x55, 0xAA, 0xAA, 0x55};
    std::copy(std::begin(block), std::end(block), bytes.begin());
    std::copy(chipId, chipId + 4, bytes.begin() + 4);
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path.string();
  };
  f.FwFilenameEdit.SetText(file("right.bin", "7191"));
  EXPECT_TRUE(f.UpdateBtn.Enabled());
  EXPECT_TRUE(op.shown.empty());
  f.FwFilenameEdit.SetText(file("wrong.bin", "1180"));
  EXPECT_FALSE(f.UpdateBtn.Enabled());
  ASSERT_EQ(op.shown.size(), 1u);
  EXPECT_EQ(op.shown[0].text, "The firmware file seems not match this chip!");
  EXPECT_EQ(op.shown[0].caption, "Message");
}

// A hand-made type-1 controller whose flash maker code reads 0 and whose
// part answers the JEDEC instruction with EF 40 15 (a WINBOND part): the
// host's own probe names the maker.
TEST(InfoCheckScripted, AZeroMakerCodeMakesTheHostProbeThePart) {
  auto clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock(clock);
  testing::ScopedCaptureBackend backend;
  uint8_t heldOpcode = 0;
  backend->responder = [&heldOpcode](const PassThroughRequest& rq) {
    std::vector<uint8_t> data;
    PassThroughResult r = testing::Answered();
    const bool ff04 = rq.cdb[0] == 0xFF && rq.cdb[1] == 0x04;
    if (rq.cdb[0] == 0x12) {  // INQUIRY with the chip id token "v771"
      data.assign(40, 0);
      std::copy_n("v771", 4, data.begin() + 36);
    } else if (ff04 && rq.cdb[2] == 0x20) {  // an SPI instruction; its answer follows
      heldOpcode = rq.cdb[5];
    } else if (ff04 && rq.cdb[2] == 0x21) {
      if (heldOpcode == 0x9F) data = {0xEF, 0x40, 0x15, 0x00};
    } else if (ff04 && rq.cdb[2] == 0x23) {
      data = {0, 0, 0, 0};  // no maker found by the controller
    } else if (ff04 || rq.cdb[0] == 0xDF) {
      r.scsiStatus = 2;  // everything else is refused
    }
    if (rq.direction == DataDirection::In && rq.data != nullptr)
      std::copy_n(data.begin(), std::min<size_t>(data.size(), rq.length), rq.data);
    r.transferred = r.scsiStatus == 0 ? rq.length : 0;
    return r;
  };
  testing::FakeEnumerator enumerator;
  enumerator.disks = {"\\\\?\\usbstor#disk&ven_talve&prod_x#1"};
  RecordingOperator op;
  ClockTimerService timers;
  TV77xFwTool f(op, enumerator, timers, nullptr, {.scope = DeviceListScope::AllControllers});
  ASSERT_EQ(f.ListedCount(), 1);
  f.UpdateBtnCheck(f.DeviceList);
  EXPECT_EQ(f.ChipType, 1);
  EXPECT_EQ(f.AmicFlashKind, -1);
  EXPECT_EQ(f.AtmelFlashKind, -1);
  EXPECT_EQ(f.FlashMaker, 6);
  EXPECT_EQ(f.SFlashTypeLable.Text(), "WINBOND");
}

// A controller that names its flash maker by a code beyond the maker table
// (here a hand-made type-8 controller reporting 13) shows "Unknown" and gets
// the erase units of code 0.
TEST(InfoCheckScripted, AMakerCodeBeyondTheTableIsUnknown) {
  auto clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock(clock);
  testing::ScopedCaptureBackend backend;
  backend->responder = [](const PassThroughRequest& rq) {
    std::vector<uint8_t> data;
    if (rq.cdb[0] == 0x12) {  // INQUIRY with the chip id token "v711"
      data.assign(40, 0);
      std::copy_n("v711", 4, data.begin() + 36);
    } else if (rq.cdb[0] == 0xFF && rq.cdb[1] == 0x04 && rq.cdb[2] == 0x23) {
      data = {13, 0xC2, 0x20, 0x10};  // flash maker code 13
    } else if (rq.cdb[0] == 0xE0) {
      data = {0xF4, 0xE7, 0x3A, 0x41, 0x07, 0x19, 5, 3, '7', '1', '9', '0', 1, 16, 0, 0};
    }
    if (rq.direction == DataDirection::In && rq.data != nullptr)
      std::copy_n(data.begin(), std::min<size_t>(data.size(), rq.length), rq.data);
    PassThroughResult r = testing::Answered();
    r.transferred = rq.length;
    return r;
  };
  testing::FakeEnumerator enumerator;
  enumerator.disks = {"\\\\?\\usbstor#disk&ven_talve&prod_x#13"};
  RecordingOperator op;
  ClockTimerService timers;
  TV77xFwTool f(op, enumerator, timers);
  ASSERT_EQ(f.ListedCount(), 1);
  f.Settings.LargeEraseUnit = 1;
  f.Settings.SmallEraseUnit = 1;
  f.UpdateBtnCheck(f.DeviceList);
  EXPECT_EQ(f.FlashMaker, 13);
  EXPECT_EQ(f.SFlashTypeLable.Text(), "Unknown");
  EXPECT_EQ(f.Settings.LargeEraseUnit, 32768);
  EXPECT_EQ(f.Settings.SmallEraseUnit, 4096);
  EXPECT_EQ(f.FwVerLableEdit.Text(), "Internal code");  // the status word reads 0
}

}  // namespace
}  // namespace fwtool
