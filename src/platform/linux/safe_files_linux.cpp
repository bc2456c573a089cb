// SPDX-License-Identifier: GPL-2.0-or-later
// Creating the program's files on Linux: a temporary file made with O_EXCL
// and O_NOFOLLOW beside the target, flushed, and renamed into place with
// RENAME_NOREPLACE (or a hard link where the file system has no such
// rename). Every step after the folder is opened works on the folder's
// descriptor, so a folder swapped for a link half-way cannot redirect it.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <utility>

#include "host_services.h"
#include "numbered_name.h"

namespace fwtool::host {

namespace fs = std::filesystem;

namespace {

constexpr mode_t kFileMode = 0600;
constexpr mode_t kFolderMode = 0700;
// Names tried for a numbered file and for the temporary file.
constexpr int kMostNumbers = 9999;
constexpr int kTemporaryNames = 32;

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes now; false when the close reports an error (a write that failed late).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

bool FailErrno(std::string* error, int code) {
  return Fail(error, code == EEXIST ? "exists already" : std::strerror(code));
}

// Makes `folder` and the folders missing above it, each for its owner only.
// Folders that are there already are left as they are.
bool MakeFolders(const fs::path& folder, std::string* error) {
  if (folder.empty()) return true;
  fs::path made;
  int refused = 0;  // why a folder could not be made, when it could not
  for (const auto& part : folder) {
    made /= part;
    // A folder that is there already is left as it is; one this user may
    // not look into fails below.
    if (::mkdir(made.c_str(), kFolderMode) != 0 && errno != EEXIST) refused = errno;
  }
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0)
    return Fail(error, folder.string() + ": " + std::strerror(refused != 0 ? refused : errno));
  if (!S_ISDIR(status.st_mode)) return Fail(error, folder.string() + " is not a folder");
  return true;
}

// A folder where a file of the program's own may be replaced: a folder (not
// a link to one) that belongs to this user and that no one else may write
// into, so nobody else can put a name into it or take one away.
bool IsOwnFolder(int folder, std::string* why) {
  struct stat status {};
  if (::fstat(folder, &status) != 0) return Fail(why, std::strerror(errno));
  if (status.st_uid != ::geteuid()) return Fail(why, "the folder belongs to another user");
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return Fail(why, "other users may write into the folder");
  return true;
}

std::string RandomSuffix() {
  unsigned char bytes[6] = {};
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // Without random bytes the O_EXCL retries still keep every name apart.
    const auto now =
        static_cast<unsigned long>(::getpid()) ^ static_cast<unsigned long>(::time(nullptr));
    std::memcpy(bytes, &now, std::min(sizeof bytes, sizeof now));
  }
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string suffix;
  for (unsigned char b : bytes) suffix += kDigits[b % 36];
  return suffix;
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Gives the temporary file the name `name` unless a file has it: 0, or the
// errno of the refusal (EEXIST when the name is taken).
int RenameNoReplace(int folder, const std::string& temporary, const std::string& name) {
  if (::renameat2(folder, temporary.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the no-replace rename: a hard link fails as
  // surely when the name exists. Where links are refused too, nothing is
  // written rather than a name checked first and then replaced.
  if (::linkat(folder, temporary.c_str(), folder, name.c_str(), 0) != 0) return errno;
  ::unlinkat(folder, temporary.c_str(), 0);
  return 0;
}

}  // namespace

bool WriteNewFile(const std::string& path, std::span<const uint8_t> bytes, TakenName taken,
                  std::string* written, std::string* error) {
  const fs::path target(path);
  const std::string name = target.filename().string();
  if (name.empty() || name == "." || name == "..") return Fail(error, "no file name");
  const fs::path folderPath = target.parent_path();
  if (!MakeFolders(folderPath, error)) return false;

  const std::string folderName = folderPath.empty() ? std::string(".") : folderPath.string();
  int folderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if (taken == TakenName::Replace) folderFlags |= O_NOFOLLOW;
  Descriptor folder(::open(folderName.c_str(), folderFlags));
  if (!folder) {
    if (errno == ELOOP || errno == ENOTDIR)
      return Fail(error, folderName + " is a link, not a folder of this user's own");
    return Fail(error, folderName + ": " + std::strerror(errno));
  }
  std::string why;
  if (taken == TakenName::Replace && !IsOwnFolder(folder.get(), &why))
    return Fail(error, folderName + " is not a folder of this user's own: " + why);

  // The temporary name is new: O_EXCL refuses a name that exists, a link
  // included, so nothing is written through a link put there beforehand.
  std::string temporary;
  Descriptor file;
  for (int i = 0; i < kTemporaryNames && !file; ++i) {
    temporary = "." + name + "." + RandomSuffix() + ".part";
    file = Descriptor(::openat(folder.get(), temporary.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
    if (!file && errno != EEXIST) return FailErrno(error, errno);
  }
  if (!file) return FailErrno(error, EEXIST);
  auto discard = [&](int code) {
    ::unlinkat(folder.get(), temporary.c_str(), 0);
    return FailErrno(error, code);
  };
  // The mode asked for at creation passes through the umask; set it as meant.
  if (::fchmod(file.get(), kFileMode) != 0 || !WriteAll(file.get(), bytes)) return discard(errno);
  // The copy must be on the disk before anything that relies on it happens.
  if (::fsync(file.get()) != 0 || !file.Close()) return discard(errno);

  std::string given = name;
  int code = 0;
  switch (taken) {
    case TakenName::Refuse:
      code = RenameNoReplace(folder.get(), temporary, name);
      break;
    case TakenName::Number:
      code = EEXIST;
      for (int n = 1; n <= kMostNumbers && code == EEXIST; ++n) {
        given = NumberedName(name, n);
        code = RenameNoReplace(folder.get(), temporary, given);
      }
      break;
    case TakenName::Replace:
      // Inside a folder only this user writes into: the rename replaces the
      // name itself, never a file a link there leads to.
      code =
          ::renameat(folder.get(), temporary.c_str(), folder.get(), name.c_str()) == 0 ? 0 : errno;
      break;
  }
  if (code != 0) return discard(code);
  ::fsync(folder.get());  // the new name lasts as the file does
  if (written != nullptr) *written = folderPath.empty() ? given : (folderPath / given).string();
  return true;
}

std::string OwnFolderProblem(const std::string& folder) {
  const std::string name = folder.empty() ? std::string(".") : folder;
  Descriptor fd(::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    if (errno == ENOENT) return {};
    if (errno == ELOOP || errno == ENOTDIR) return name + " is a link or a file, not a folder";
    return name + ": " + std::strerror(errno);
  }
  std::string why;
  if (!IsOwnFolder(fd.get(), &why)) return name + " is not a folder of this user's own: " + why;
  return {};
}

OwnFile ReadOwnFile(const std::string& path, uint64_t maxBytes) {
  OwnFile file;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) {
      file.missing = true;
    } else if (errno == ELOOP) {
      file.error = path + ": a link; it is not read through links";
    } else {
      file.error = path + ": " + std::strerror(errno);
    }
    return file;
  }
  struct stat seen {};
  if (::fstat(fd, &seen) != 0 || !S_ISREG(seen.st_mode)) {
    file.error = path + ": not a regular file";
  } else if (static_cast<uint64_t>(seen.st_size) > maxBytes) {
    file.error = path + ": larger than " + std::to_string(maxBytes) + " bytes";
  } else {
    file.bytes.resize(static_cast<size_t>(seen.st_size));
    size_t got = 0;
    while (got < file.bytes.size()) {
      const ssize_t n = ::read(fd, file.bytes.data() + got, file.bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        file.error = path + ": " + std::strerror(errno);
        break;
      }
      if (n == 0) break;  // cut short while it was read
      got += static_cast<size_t>(n);
    }
    file.bytes.resize(got);
  }
  ::close(fd);
  if (!file.error.empty()) file.bytes.clear();
  return file;
}

std::FILE* OpenNewFile(const std::string& path) {
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
  if (fd < 0) return nullptr;
  ::fchmod(fd, kFileMode);
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    const int code = errno;
    ::close(fd);
    errno = code;
  }
  return file;
}

}  // namespace fwtool::host
