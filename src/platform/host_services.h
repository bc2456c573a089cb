// SPDX-License-Identifier: GPL-2.0-or-later
// What the program asks of the operating system besides its devices: where
// its files go and how a file is created safely and made to last, the folder it runs from, the
// console's interrupt key and whether a stream is a terminal. One file per
// operating system implements it (linux/host_services_linux.cpp,
// windows/host_services_windows.cpp); the core calls only this header and so
// stays free of system headers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace fwtool::host {

// The per-user folder for the program's own files: $XDG_DATA_HOME/fwtool
// (when absolute), else ~/.local/share/fwtool on Linux; %LOCALAPPDATA%\fwtool
// on Windows. Empty when the system names none.
std::string UserDataFolder();

// Files the program writes. Each one is created new: never through a link,
// never in place of a file that has the name already (however late it
// appeared), readable and writable by its owner only (0600 on Linux); the
// folders made on the way are the owner's only (0700).

// What becomes of a new file whose name is taken.
enum class TakenName {
  Refuse,   // nothing is written; the file there stays as it is
  Number,   // the new file takes the first free name of "stem-2.ext", "stem-3.ext", ...
  Replace,  // a file of the program's own, in a folder that is this user's
            // and that no one else may write into, is replaced by the new one
};

// Writes `bytes` to a temporary file beside `path`, pushes it onto the disk
// and gives it its name with a rename that never replaces (or, for Replace,
// with a rename inside the user's own folder). Creates the missing folders
// above it. `written` (may be null) receives the name the file got; on
// failure nothing new is left behind and `error` (may be null) says why
// ("exists already", "permission denied", ...).
bool WriteNewFile(const std::string& path, std::span<const uint8_t> bytes, TakenName taken,
                  std::string* written, std::string* error);

// Opens a new file that is written as the program goes (a trace): created
// as WriteNewFile creates its files, but under its name from the start.
// Null (errno set; EEXIST when the name is taken) when it cannot be made.
std::FILE* OpenNewFile(const std::string& path);

// A file of the user's own that the program reads back (its history, the
// state of simulated units): opened without following a link and without
// waiting for a writer (a FIFO or a device in its place is refused, not
// waited on), a regular file of at most `maxBytes`. `missing` when there
// is nothing at the path; else `error` says why nothing was read.
struct OwnFile {
  std::string bytes;
  bool missing = false;
  std::string error;
};
OwnFile ReadOwnFile(const std::string& path, uint64_t maxBytes);

// Why `folder` is no folder of this user's own, where the program may
// replace its files (WriteNewFile with TakenName::Replace): a link, another
// user's folder, or one others may write into. Empty when it is one, and
// when nothing is there yet.
std::string OwnFolderProblem(const std::string& folder);

// The local time now as "20250101-120000", for file names.
std::string LocalTimeStamp();

// Adds `line` (one record, ending in a newline) to the end of the file at
// `path`, whole or not at all: one write under an exclusive lock on the file
// (other programs and threads that append wait for it), pushed onto the disk
// before the lock goes; a write that fails part way is cut off again. A last
// line left without its end (a run cut short in the middle of its write) is
// ended first, so the new line starts on a line of its own. A missing file
// is created 0600 and missing folders 0700; a link, anything but a regular
// file, a file with more than one name (a hard link may lead into another
// file of the user's) or another user's file in the file's place is
// refused. False, with `error` set,
// when the line could not be added.
bool AppendLine(const std::string& path, std::string_view line, std::string& error);

// The folder the running program was started from; the current folder when
// the system does not say.
std::string ProgramFolder();

enum class StandardStream { Input, Output, Error };
// True when the stream is an interactive console or terminal (not a file,
// a pipe or the null device).
bool IsTerminal(StandardStream stream);

// While an InterruptHold lives, the console's interrupt (Ctrl-C; SIGTERM on
// Linux, Ctrl-Break on Windows) does not end the program: it only leaves a
// request that TakeInterruptRequest reports once. The previous handling
// returns when the hold ends.
class InterruptHold {
 public:
  InterruptHold();
  ~InterruptHold();
  InterruptHold(const InterruptHold&) = delete;
  InterruptHold& operator=(const InterruptHold&) = delete;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

// True once for every interrupt that arrived during a hold.
bool TakeInterruptRequest();

}  // namespace fwtool::host
