// What the program asks of the operating system besides its devices: where
// its files go and how a file is made to last, the folder it runs from, the
// console's interrupt key and whether a stream is a terminal. One file per
// operating system implements it (linux/host_services_linux.cpp,
// windows/host_services_windows.cpp); the core calls only this header and so
// stays free of system headers.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace fwtool::host {

// The per-user folder for the program's own files: $XDG_DATA_HOME/fwtool
// (when absolute), else ~/.local/share/fwtool on Linux; %LOCALAPPDATA%\fwtool
// on Windows. Empty when the system names none.
std::string UserDataFolder();

// Opens a new file for writing in binary; null (errno set) when the name
// exists already, however late it appeared.
std::FILE* OpenNewFile(const std::string& path);

// Pushes what was written to `file` (flushed by the caller) through the
// system's caches onto the disk. False when the system refuses.
bool FlushToDisk(std::FILE* file);

// Gives the file `from` the name `to`, but never in place of an existing
// file: fails (with `ec` set) when `to` exists, however late it appeared.
bool RenameNoReplace(const std::string& from, const std::string& to, std::error_code& ec);

// Adds `line` (one record, ending in a newline) to the end of the file at
// `path`, whole or not at all: one write under an exclusive lock on the file
// (other programs and threads that append wait for it), pushed onto the disk
// before the lock goes; a write that fails part way is cut off again. A last
// line left without its end (a run cut short in the middle of its write) is
// ended first, so the new line starts on a line of its own. A missing file
// is created 0600 and missing folders 0700; a link, or anything but a
// regular file, in the file's place is refused. False, with `error` set,
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
