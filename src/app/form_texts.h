// SPDX-License-Identifier: GPL-2.0-or-later
// Every text the main window shows, letter for letter, in one place.
#pragma once

namespace fwtool::texts {

// The window.
inline constexpr const char* kFormName = "V77xFwTool";
inline constexpr const char* kFormCaption = "TALVE VQB719 FW Update Utility v0.2";
inline constexpr const char* kApplicationTitle = "TALVE VQB719 FW Update Utility";
inline constexpr const char* kFormFontName = "MS Sans Serif";
inline constexpr int kFormFontHeight = -11;
inline constexpr const char* kArialFont = "Arial";

// Captions and labels.
inline constexpr const char* kFwSizeLable = "Firmware size";
inline constexpr const char* kBackupFWCheckBox = "Backup Old Firmware Only";
inline constexpr const char* kEraseOnlyCheck = "Erase All Flash Only ";
inline constexpr const char* kBackupFileEditLabel = "Backup FileName ";
inline constexpr const char* kBackupBtn = "Browse";
inline constexpr const char* kA1ChipCheck = "A1 Chip";
inline constexpr const char* kNVRAMCheck = "Include 4K NVRAM";
inline constexpr const char* kChkSumChk = "Check CheckSum";
inline constexpr const char* kVQS175HDDFwChk = "VQS175 HDD FW ";
// The design caption; a refresh that lists a USB unit sets kDiskLabelUsb.
inline constexpr const char* kDiskLabelDesign = "USB Disk";
inline constexpr const char* kDiskLabelUsb = "USB DISK";
inline constexpr const char* kDiskLabel1394 = "1394 DISK";
inline constexpr const char* kFwPgBurnSizeLabel = "Flash PgSz";
inline constexpr const char* kFlashTypeLabel = "Flash Type ";
inline constexpr const char* kReplugLable = "Please power cycle the device";
inline constexpr const char* kRefreshBtn = "Refresh Device";
inline constexpr const char* kChipLabelEditLabel = "Chip ";
inline constexpr const char* kFwFilenameEditLabel = "Firmware File ";
inline constexpr const char* kDiskLetterLableLabel = "Drives ";
inline constexpr const char* kLoadBtn = "Load File";
inline constexpr const char* kFwVerLableEditLabel = "Firmware Ver. ";
inline constexpr const char* kSFlashTypeLableLabel = "Flash Type";
inline constexpr const char* kStatusEditLabel = "Status ";
inline constexpr const char* kUpdateBtn = "Run";
inline constexpr const char* kExiBtn = "Exit";
inline constexpr const char* kRdCheckBox = "RD Version";
inline constexpr const char* kEraseButton = "YES";
inline constexpr const char* kExtBtn = "EXIT";
inline constexpr const char* kExitBtn = "NO";

// Combo box items.
inline constexpr const char* kFwSizeItems[] = {"32KB", "64KB", "128KB", "256KB", "512KB", "   1MB"};
inline constexpr const char* kVQ175PathItems[] = {"1.SETNVRAM", "2.FLASHREAD", "3.FLASHOPCODE"};
inline constexpr const char* kFwPgSizeItems[] = {"32 KB", "16 KB", " 8 KB", " 4 KB", " 2 KB"};
inline constexpr const char* kFlashTypeItems[] = {"ATMELAT 49BV512", "PMC OM39LV512",
                                                  "SST SST39LF512"};

// The open dialog.
inline constexpr const char* kOpenDialogExtension = "bin";

// The one-click face. The design-time prompt has typographic quotes; every
// refresh puts the plain one in its place.
inline constexpr const char* kDesignPrompt =
    "Click \xE2\x80\x98Yes\xE2\x80\x99 to proceed with the firmware update";
inline constexpr const char* kPrompt = "Click 'Yes' to proceed with the firmware update";
inline constexpr const char* kAlreadyUpdatedNotice = "               The chip already updated!!";
inline constexpr const char* kNoDeviceNotice = "                          No device found!!";
inline constexpr const char* kUpdateFailedNotice = "                             Update    fail!!";

// The device list.
inline constexpr const char* kNoAvailableDevice = "No available device!!!";
inline constexpr const char* kUsbItemPrefix = "<<USB>> ";
inline constexpr const char* k1394ItemPrefix = "<<1394>> ";

// Operator messages.
inline constexpr const char* kDropOneFileOnly = "Please Drag and Drop One File Only!";
inline constexpr const char* kUpdateBtnPress = "Update Btn Press\n";
inline constexpr const char* kCheckFileChecksum = "Please check the firmware file with checksum!";
inline constexpr const char* kFileNotMatchChip = "The firmware file seems not match this chip!";
// "Run" with such a file: asked, and said when refused.
inline constexpr const char* kOtherChipFileQuestion = "The firmware file ";
inline constexpr const char* kOtherChipFileQuestionMiddle = " does not seem to be made for this ";
inline constexpr const char* kOtherChipFileQuestionEnd =
    " unit. A unit programmed with another chip's firmware may not start again. Program it "
    "anyway?";
inline constexpr const char* kOtherChipFileRefused =
    "The firmware file does not match this chip: nothing written.";
// kFileBiggerThanFlash is shared with the procedures (procedure_texts.h).

// The chip information check.
inline constexpr const char* kChipNotSupported = "The chip not support Firmware Update!";
inline constexpr const char* kNotOurChip = "Not Velquor Chip!!";
inline constexpr const char* kInternalCode = "Internal code";
inline constexpr const char* kRecoverySuccessful = "FW Recovery successful!!";
inline constexpr const char* kRecoveryFail = "FW Recovery Fail!!";
// Of our own: where the bank repair saved the unit's flash before it wrote,
// in front of its outcome ("Flash saved to F. FW Recovery successful!!").
inline constexpr const char* kRepairBackupSaved = "Flash saved to ";
inline constexpr const char* kRepairBackupSavedEnd = ". ";
inline constexpr const char* kRepairBackupFail = "Backup of the flash fail! Nothing written.";

// Notices of our own while an operation holds the window (shown beside the
// status line, never in it).
inline constexpr const char* kCloseHeldNotice =
    "Closing is held until the running operation has finished; the device is not interrupted.";
inline constexpr const char* kBackupSavedNotice = "Flash contents before the update saved to ";
// Follows the backup's path when the update failed, then the command line.
inline constexpr const char* kRestoreHintNotice = ". To put them back: ";
inline constexpr const char* kRepairBackupSavedNotice =
    "Flash contents before the bank repair saved to ";
inline constexpr const char* kBackupMissingNotice =
    "The flash contents could not be saved; nothing was written to the device.";
// Where an engineering run saved the unit's whole part before it wrote.
inline constexpr const char* kRunBackupSavedNotice = "The unit's contents before the run saved to ";
inline constexpr const char* kNothingWrittenNotice = "; nothing was written to the device.";
inline constexpr const char* kRunBackupMissingNotice =
    "The unit's contents could not be saved; nothing was written to the device.";
inline constexpr const char* kRefreshHeldNotice =
    "The device list is refreshed when the running operation has finished.";
// Follows what the operation itself said, when its record could not be
// added to the history.
inline constexpr const char* kHistoryFailedNotice = "The history could not be written: ";
// What the history calls the operations of the form that are not engineering
// procedures, and the image the one-click update writes.
inline constexpr const char* kOneClickProcedure = "one-click update";
inline constexpr const char* kBankRepairProcedure = "bank repair";
inline constexpr const char* kRestoreProcedure = "restore";
inline constexpr const char* kEmbeddedImageName = "VQB719FW (built in)";
// The device on the path, asked again before the first write, is not the
// unit that was listed there (path, listed unit, unit found).
inline constexpr const char* kNotTheListedUnit =
    "The device at {} is not the unit that was listed ({}; now {}); nothing was written to it.";

}  // namespace fwtool::texts
