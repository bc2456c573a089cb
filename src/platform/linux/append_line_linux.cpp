// SPDX-License-Identifier: GPL-2.0-or-later
// Appending one line to a file that several programs (or the threads of one)
// add to: the lock, the single write, the cut after a failed write.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "host_services.h"

namespace fwtool::host {

namespace fs = std::filesystem;

namespace {

constexpr mode_t kPrivateFile = 0600;
constexpr mode_t kPrivateFolder = 0700;

std::string Reason(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Closes the descriptor (and with it the lock) on every path.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Creates the folders of `folder` that are missing, each 0700; a folder
// that exists is left as it is.
bool MakeFolders(const fs::path& folder, std::string& error) {
  if (folder.empty()) return true;
  struct stat seen {};
  if (::stat(folder.c_str(), &seen) == 0) {
    if (S_ISDIR(seen.st_mode)) return true;
    errno = ENOTDIR;
    error = Reason(folder.string());
    return false;
  }
  if (folder.has_parent_path() && folder.parent_path() != folder &&
      !MakeFolders(folder.parent_path(), error))
    return false;
  if (::mkdir(folder.c_str(), kPrivateFolder) != 0 && errno != EEXIST) {
    error = Reason(folder.string());
    return false;
  }
  return true;
}

// Opens the file for appending, creating it when it is missing. Never
// through a link; `created` tells whether this call made it.
int OpenForAppend(const std::string& path, bool& created) {
  constexpr int kFlags = O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
  created = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = ::open(path.c_str(), kFlags);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, kPrivateFile);
    if (fd >= 0) {
      created = true;
      return fd;
    }
    // Another program created it in between: open what it made.
    if (errno != EEXIST) return fd;
  }
  return -1;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Makes the new name itself last: the folder's entry goes to the disk too.
void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool AppendLine(const std::string& path, std::string_view line, std::string& error) {
  const fs::path file(path);
  if (!MakeFolders(file.parent_path(), error)) return false;
  bool created = false;
  const Descriptor fd(OpenForAppend(path, created));
  if (fd.get() < 0) {
    error =
        errno == ELOOP ? path + ": a link; the history is not written through links" : Reason(path);
    return false;
  }
  struct stat seen {};
  if (::fstat(fd.get(), &seen) != 0) {
    error = Reason(path);
    return false;
  }
  if (!S_ISREG(seen.st_mode)) {
    error = path + ": not a regular file";
    return false;
  }
  // A second name may lead into another file of the user's (or of someone
  // else's, where the folder lets them in): the line would land there.
  if (seen.st_nlink > 1) {
    error = path + ": the file has more than one name (a hard link); nothing is added to it";
    return false;
  }
  if (seen.st_uid != ::geteuid()) {
    error = path + ": the file belongs to another user; nothing is added to it";
    return false;
  }
  if (created) SyncFolder(file.parent_path());

  // Every writer holds the lock from its look at the end to its flush, so
  // lines never mix and a cut never takes another writer's line.
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      error = Reason(path);
      return false;
    }
  }
  if (::fstat(fd.get(), &seen) != 0) {
    error = Reason(path);
    return false;
  }
  const off_t before = seen.st_size;
  std::string text;
  char last = '\n';
  if (before > 0 && ::pread(fd.get(), &last, 1, before - 1) != 1) last = '\n';
  if (last != '\n') text += '\n';
  text.append(line);
  if (text.empty() || text.back() != '\n') text += '\n';

  if (!WriteAll(fd.get(), text) || ::fsync(fd.get()) != 0) {
    error = Reason(path);
    // Whole or not at all: what went in of this line comes out again.
    if (::ftruncate(fd.get(), before) == 0) ::fsync(fd.get());
    return false;
  }
  return true;
}

}  // namespace fwtool::host
