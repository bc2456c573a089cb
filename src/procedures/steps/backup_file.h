// SPDX-License-Identifier: GPL-2.0-or-later
// Where the updates keep the unit's flash before they write, and how a
// backup file is written: complete or not at all, and never over another
// file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fwtool {

// $XDG_DATA_HOME/fwtool/backups, else $HOME/.local/share/fwtool/backups,
// else ./fwtool-backups.
std::string DefaultBackupFolder();
// A file in the default folder named after the device path and the local
// time, e.g. "sim_vqb719_0-20250101-120000.bin", with a counter added when
// that name is taken.
std::string DefaultBackupPath(std::string_view devicePath);

// What becomes of the name when a file has it already.
enum class ExistingFile {
  Refuse,  // the save fails and the file is left as it is
  Number,  // the backup takes the next free name: "oldFlash-2.bak", ...
};

// Where an engineering procedure saves its backup: the operator's file,
// which must not exist yet, or else `defaultName` ("oldFlash.bak") in the
// default folder, numbered when the name is taken.
struct BackupTarget {
  std::string path;
  ExistingFile existing = ExistingFile::Refuse;
  bool named = false;  // the operator named the file
};
BackupTarget EngineeringBackupTarget(const std::string& operatorFile, const char* defaultName);

// Writes the bytes to a new file at `path` (creating its folder) through a
// temporary file that is renamed into place once everything was written and
// flushed; never through a link, never over another file, readable by the
// user only. Fails (1/0) when anything cannot be written, or when the name
// is taken and `existing` refuses it. A failure leaves no new file behind
// and an existing file untouched. `error` (may be null) receives the
// reason, `written` (may be null) the name the file got.
int SaveBackupFile(const std::string& path, const uint8_t* data, size_t length,
                   std::string* error = nullptr, ExistingFile existing = ExistingFile::Refuse,
                   std::string* written = nullptr);

class ProcedureHost;

// The engineering backup's last step: the bytes into `file`, the host told
// where they went. When the file cannot be written the status line gets
// "Open Backup File Error!!" and the notice line the reason: a file of the
// operator's that exists already is kept, and another name is needed.
int SaveEngineeringBackup(ProcedureHost& host, const BackupTarget& file, const uint8_t* data,
                          size_t length);

}  // namespace fwtool
