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

// Procedures that no build of this program carries yet report this.
inline constexpr const char* kProcedureNotBuilt =
    "This chip type's update procedure is not part of this build.";

}  // namespace fwtool::texts
