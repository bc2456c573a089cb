// SPDX-License-Identifier: GPL-2.0-or-later
// The history of what was written to which unit: one record per operation
// that writes to a unit (the one-click update, an engineering run that erases
// or programs, a restore, the bank repair), kept as one JSON object per line
// in the user's data folder. A record is added whole or not at all; a line
// that cannot be read back (a crash in the middle of its write, stray bytes)
// is skipped with a warning and costs no other record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace fwtool {

// The unit as the program knew it when the operation started.
struct HistoryUnit {
  std::string path;
  std::string vendor;   // INQUIRY vendor identification, blanks trimmed
  std::string product;  // INQUIRY product identification, blanks trimmed
  int chipType = 0;
  std::string chipLabel;
  int subRevision = 0;
  std::string serial;  // empty when the unit has none

  bool operator==(const HistoryUnit&) const = default;
};

// The file whose bytes went into the unit.
struct HistoryFile {
  std::string name;
  std::string sha256;  // 64 lower-case hex digits; empty when it could not be read

  bool operator==(const HistoryFile&) const = default;
};

// One option of the procedure: a box (ticked or not), a size, a choice.
struct HistoryOption {
  std::string name;
  std::variant<bool, int64_t, std::string> value;

  bool operator==(const HistoryOption&) const = default;
};

struct HistoryRecord {
  std::string time;  // when the operation started, UTC: "2025-01-31T12:34:56Z"
  std::string fwtoolVersion;
  HistoryUnit unit;
  std::string versionBefore;  // as the unit reported it; empty when unknown
  std::string versionAfter;   // as the written firmware carries it; empty when unknown
  std::string procedure;      // "one-click update", "restore", "bank repair", or the engineering
                              // procedure's name ("RunFlashUpdate", ...)
  std::vector<HistoryOption> options;
  std::optional<HistoryFile> file;
  bool succeeded = false;
  std::string status;             // the status line when it ended
  std::string lastFailedCommand;  // empty when none failed
  std::string backup;             // the backup taken before the write; empty when none

  bool operator==(const HistoryRecord&) const = default;
};

// The history file in the user's data folder ($XDG_DATA_HOME/fwtool, else
// ~/.local/share/fwtool; %LOCALAPPDATA%\fwtool on Windows); empty when the
// system names no such folder.
std::string DefaultHistoryPath();

// The time now as a record gives it.
std::string HistoryTimeNow();

// The record as one line of JSON (no newline), and back. Decoding gives
// nothing for a line that is not a complete record.
std::string EncodeHistoryLine(const HistoryRecord& record);
std::optional<HistoryRecord> DecodeHistoryLine(std::string_view line);
// The record as a JSON object, in the text of `fwtool history --json`.
std::string EncodeHistoryJson(const std::vector<HistoryRecord>& records);

// Adds the record to the end of the history file at `path` (host::AppendLine:
// one line, locked, flushed to the disk). False, with `error` set, when it
// could not be added.
bool AppendHistory(const std::string& path, const HistoryRecord& record, std::string& error);

// The history is read whole and held to bounds: a file over 16 MB is not
// read, a line over 64 KB is no record, and only the first few damaged
// lines are named.
inline constexpr uint64_t kMaxHistoryBytes = 16 * 1024 * 1024;
inline constexpr size_t kMaxHistoryLine = 64 * 1024;
inline constexpr size_t kHistoryWarningsShown = 5;

struct HistoryReading {
  std::vector<HistoryRecord> records;  // in the order they were added
  // One text for each of the first damaged lines: "line 3: not a history
  // record"; `damaged` counts them all.
  std::vector<std::string> warnings;
  size_t damaged = 0;
  bool missing = false;  // no history file yet
  std::string error;     // the file exists but cannot be read
};

// Every record of the history file at `path` (read as ReadOwnFile reads:
// no link, nothing but a regular file); damaged lines are skipped, counted
// and the first of them named in the warnings.
HistoryReading ReadHistory(const std::string& path);

}  // namespace fwtool
