// Where the one-click update keeps the unit's flash before it writes, and how
// a backup file is written: complete or not at all, and over an existing file
// only where the operator named it.
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

// What becomes of a file that is there already.
enum class ExistingFile {
  Refuse,   // the save fails and the file is left as it is
  Replace,  // the complete new file takes its place
};

// Writes the bytes to `path` (creating its folder) through a temporary file
// that is renamed into place once everything was written and flushed. Fails
// (1/0) when anything cannot be written, or when the file exists already and
// `existing` refuses it. A failure leaves no new file behind and an existing
// file untouched. `error` (may be null) receives the reason.
int SaveBackupFile(const std::string& path, const uint8_t* data, size_t length,
                   std::string* error = nullptr, ExistingFile existing = ExistingFile::Refuse);

}  // namespace fwtool
