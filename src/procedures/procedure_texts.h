// SPDX-License-Identifier: GPL-2.0-or-later
// The status texts and box texts of the flash procedures, in one place.
// They are shown letter for letter, blanks and typos included.
#pragma once

namespace fwtool::texts {

// Box captions are kCaptionMessage and kCaptionError of the command layer.

// Shared by the programming steps.
inline constexpr const char* kAllocateBuffersError = "Allocate buffers Error!!";
inline constexpr const char* kAllocateReadBufferError = "Allocate read buffer Error!!";
inline constexpr const char* kBackupNvramFail = "Backup NVRAM command fail!";
inline constexpr const char* kOpenFileError = "Open File Error!!";
inline constexpr const char* kProgrammingStep = "Programming";
inline constexpr const char* kWriteBinFileFail = "Write Bin File fail!";
inline constexpr const char* kReadCommandFail = "Read command fail!";
inline constexpr const char* kDataCompareFail = "Data compare fail !!";
inline constexpr const char* kProgrammingSuccess = "Programming Success!!";

// Backing the flash up to a file.
inline constexpr const char* kBackupStep = "Backup ...";
inline constexpr const char* kDefaultBackupFile = "oldFlash.bak";
inline constexpr const char* kDefaultBackupBox = "Default backup firmware as OldFalsh.bak!";
inline constexpr const char* kReadBackToBackupError = "Read Back to Backup Error!!";
inline constexpr const char* kOpenBackupFileError = "Open Backup File Error!!";
inline constexpr const char* kBackupSuccess = "Read flash and backup success!";
// The notice line when the backup file cannot be written.
inline const std::string kBackupFileExistsNotice = "The backup file ";
inline constexpr const char* kBackupFileExistsNoticeEnd =
    " exists already and was left as it is: give the backup another name.";
inline const std::string kBackupFileNotWrittenNotice = "The backup file cannot be written: ";
// After kBackupSuccess when the size asked for is more than the disk's
// firmware area holds: "<saved> of <asked> bytes saved: ...".
inline constexpr const char* kBackupCutToAreaMiddle = " of ";
inline constexpr const char* kBackupCutToAreaEnd =
    " bytes saved: the firmware area on the disk holds no more.";

// Erasing the flash.
inline constexpr const char* kEraseOnlyStep = "Start Erase only!";
inline constexpr const char* kEraseByWritingStep = "Erase...";
inline constexpr const char* kEraseCommandFail = "Erase command fail!!";
inline constexpr const char* kDataNotBlank = "Data not 0xff !!";
inline constexpr const char* kWriteNvramBackFail = "Write NVRAM back command fail!";
inline constexpr const char* kEraseSuccess = "Erase flash all success!";

// Boxes after a successful erase or programming.
inline constexpr const char* kPowerCycleBox = "Please Turn-Off the Power and Turn-On Again!";
inline constexpr const char* kVqs175ResetBox = "VQS175 Auto reset, Please wait device re-attached!";

// The address-based flash procedures (the older family members).
inline constexpr const char* kAtmelWriteEnableFail = "Enable ATMEL flash write enable fail!!";
inline constexpr const char* kAllocateWriteBufferError = "Allocate write buffer Error!!";
inline constexpr const char* kNotReadyAfterErase = "Not ready after Erase flash success";
inline constexpr const char* kNotReadyAfterEraseCmd = "Not ready after Erase flash cmd success";
inline constexpr const char* kAmicKindNotSupported = "Not Support this AMIC Flash Type!!";
inline constexpr const char* kReadBackErasedError = "Read Back Erased Flash Error!!";
inline constexpr const char* kProgrammingFail = "Programming Fail!!";
inline constexpr const char* kReadFail = "Read Fail!!\r\n";
inline constexpr const char* kCompareFail = "Compare Fail!!\r\n\r\n";
inline constexpr const char* kPowerCycleBoxSpaced = "Please Turn-Off the Power and Turn-On Again !";
inline constexpr const char* kDefaultOldFlashFile = "oldflash.bak";
inline constexpr const char* kErasingStep = "Erasing";
inline constexpr const char* kReadBackAfterEraseFail = "Read back after erase fail!!";
inline constexpr const char* kWriteCommandFail = "Write command fail!";
inline constexpr const char* kFileLargerThanFlash = "Firmware file is larger than the flash!!";
// Their debug output (kNotReadyAfterErase goes there too).
inline constexpr const char* kDeviceInitialNotReady = "0.1 Device initial not ready!!";
inline constexpr const char* kNvramReadOk = "NVRAM O.K.\n";
inline constexpr const char* kNvramReadFail = "NVRAM fail\n";
inline constexpr const char* kNvramWrittenOk = "write NVRAM O.K.\n";

// The staged procedure of the ATA-attached controller: its stages and the
// text of each result code of the device-side flash operations.
inline constexpr const char* kStagedErasing = "Erasing...";
inline constexpr const char* kStagedProgramming = "Programming....";
inline constexpr const char* kStagedReadBack = "Read back....";
inline constexpr const char* kStagedCompare = "Compare....";
inline constexpr const char* kFlashOpsSuccess = "Flash operations all success!";
inline constexpr const char* kAllocateBufferFail = "Allocate buffer fail!";
inline constexpr const char* kIssueEraseFail = "Issuse Errase Command fail!";
inline constexpr const char* kIssueReadFail = "Issuse Read Command fail!";
inline constexpr const char* kIssueWriteFail = "Issuse Write Command fail!";
inline constexpr const char* kStagedCompareFail = "Data compare fail";

// The parallel flash procedure (chip types 2 and 21).
inline constexpr const char* kChooseFlashType = "Choose the flash part in \"Flash Type\" first!";
inline constexpr const char* kCantSwitchToInternalRom = "Can't switch to internal ROM";
inline constexpr const char* kPreEraseCommandError = "Error pre-erase command!!";
inline constexpr const char* kEraseStatusFail = "Erase command ok,status fail!!";
inline constexpr const char* kEraseCommandOk = "Erase command ok!!";
inline constexpr const char* kNotErasedCorrectly = "Not Erase correctly!";
inline constexpr const char* kOpenNewRomFileError = "Open New ROM File Error!!";
inline constexpr const char* kFileBiggerThanFlash =
    "The firmware file size is bigger than the flash size!";
inline constexpr const char* kParallelProgrammingFail = "Programming Fail!!";
inline constexpr const char* kParallelReadFail = "Read Fail!!";
inline constexpr const char* kParallelCompareFail = "Compare Fail!!";
inline constexpr const char* kProgrammingAndCompareSuccess = "Programming & Compare Success!!";
inline constexpr const char* kParallelReadBackAfterEraseFail = "Read Back after Erase fail!!";
inline constexpr const char* kEraseAllSuccess = "Erase All success!!";
inline constexpr const char* kDefaultParallelBackupFile = "oldflash.bak";
inline constexpr const char* kReadRomFail = "Read ROM fail!!";
inline constexpr const char* kSaveRomFail = "Read ROM Suceess, but save to file fail!!";

// The procedure of chip type 7 over IEEE 1394.
inline constexpr const char* kEraseFlashCommandFail = "Erase flash command fail!";

// The firmware kept on the attached disk.
inline constexpr const char* kEraseHddSuccess = "Erase all data in HDD success!!";
inline constexpr const char* kCompareHddFail = "Compare data in HDD fail!!";
inline constexpr const char* kWriteHddFail = "Write Data To HDD FAIL!!";
inline constexpr const char* kReadHddFail = "Read Data From HDD FAIL!!";
inline constexpr const char* kWriteHdd16Fail = "Write Data SCSI16 To HDD FAIL!!";
inline constexpr const char* kReadHdd16Fail = "Read Data SCSI16 From HDD FAIL!!";
inline constexpr const char* kCompareHddDataFail = "Compare Data in HDD FAIL!!";
// Refusals before anything is written, each followed by the reason.
inline constexpr const char* kDiskAreaNotFound = "The firmware area on the disk was not found: ";
inline constexpr const char* kFirmwareFileEmpty = "The firmware file is empty!!";
inline constexpr const char* kFileLargerThanDiskArea =
    "The firmware file is larger than the firmware area on the disk!!";
// Sectors the host is shown that hold the disk's own data: refused unless
// the operator allows it. Each text goes on with the sectors ("A..B").
inline constexpr const char* kDiskDataRefused =
    "Nothing written: the disk's user keeps data in sectors ";
inline constexpr const char* kDiskDataUnreadable =
    "Nothing written: cannot read what is in sectors ";
inline constexpr const char* kDiskDataQuestion = "The disk's user keeps data in sectors ";
// The clear keeps the location marker; two reads of it must agree.
inline constexpr const char* kMarkerReadsDiffer =
    "Nothing written: the location marker read differently twice";
inline constexpr const char* kDiskDataQuestionEnd =
    ": they lie inside the disk the computer is shown and hold neither zeros nor a firmware "
    "copy. Overwrite them?";

}  // namespace fwtool::texts
