// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary sysfs trees for the enumerator: device directory names,
// attribute contents, driver links and class links as a broken or hostile
// kernel, or a half-removed device, could leave them.
//
// Input: lines, each one entry below the tree's root:
//   d PATH            a directory
//   f PATH<TAB>TEXT   a file holding TEXT and a newline
//   l PATH<TAB>TARGET a relative symlink
// Paths have no "." or ".." components; a link target may climb with ".."
// but never above the root. Parents are made as needed.
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sysfs_enumerator.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxEntries = 96;
constexpr size_t kMaxDepth = 24;

std::optional<std::vector<std::string>> Components(std::string_view path, bool allowUp) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    const std::string_view part = path.substr(start, slash - start);
    if (part.empty() || part == "." || (part == ".." && !allowUp) ||
        part.find('\0') != std::string_view::npos || part.size() > 64)
      return std::nullopt;
    parts.emplace_back(part);
    start = slash + 1;
  }
  if (parts.empty() || parts.size() > kMaxDepth) return std::nullopt;
  return parts;
}

// The tree lies deep below its own scratch folder, so that even a link
// chain that climbs past the root stays inside empty folders of ours; in
// memory where the system has a tmpfs, since every input builds a new tree.
const fs::path& Scratch() {
  static const fs::path scratch = [] {
    std::error_code ec;
    const fs::path shm = "/dev/shm";
    const fs::path top = fs::is_directory(shm, ec) && ::access(shm.c_str(), W_OK) == 0
                             ? shm
                             : fs::temp_directory_path();
    static const fs::path own = top / ("fwtool-sysfs-fuzz-" + std::to_string(::getpid()));
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(own, ignored);
    });
    fs::path base = own;
    for (int i = 0; i < 32; ++i) base /= "p";
    return base;
  }();
  return scratch;
}

void Build(const fs::path& root, std::string_view input) {
  std::error_code ec;
  size_t entries = 0;
  size_t start = 0;
  while (start < input.size() && entries < kMaxEntries) {
    size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    const std::string_view line = input.substr(start, end - start);
    start = end + 1;
    if (line.size() < 3 || line[1] != ' ') continue;
    const char kind = line[0];
    std::string_view rest = line.substr(2);
    std::string_view text;
    if (const size_t tab = rest.find('\t'); tab != std::string_view::npos) {
      text = rest.substr(tab + 1);
      rest = rest.substr(0, tab);
    }
    const auto parts = Components(rest, false);
    if (!parts) continue;
    fs::path path = root;
    for (const auto& p : *parts) path /= p;
    ++entries;
    fs::create_directories(path.parent_path(), ec);
    if (kind == 'd') {
      fs::create_directories(path, ec);
    } else if (kind == 'f') {
      std::ofstream(path) << text << "\n";
    } else if (kind == 'l') {
      const auto target = Components(text, true);
      if (!target) continue;
      // Folders below the root, step by step along the target.
      bool climbsOut = false;
      long level = static_cast<long>(parts->size()) - 1;
      for (const auto& t : *target)
        if ((level += t == ".." ? -1 : 1) < 0) climbsOut = true;
      if (climbsOut) continue;
      fs::create_symlink(fs::path(std::string(text)), path, ec);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fwtool::platform;
  const fs::path root = Scratch() / "tree";
  std::error_code ec;
  fs::remove_all(root, ec);
  fs::create_directories(root / "sys", ec);
  fs::create_directories(root / "dev", ec);
  Build(root, std::string_view(reinterpret_cast<const char*>(data), size));

  SysfsEnumerator enumerator((root / "sys").string(), (root / "dev").string());
  const auto all = enumerator.Scan();
  for (const auto& item : all) {
    if (item.host < 0 || item.channel < 0 || item.target < 0 || item.lun < 0) std::abort();
  }
  for (const bool cdrom : {false, true}) {
    const auto listed = cdrom ? enumerator.CdromInterfaces() : enumerator.DiskInterfaces();
    if (listed.size() > kMaxInterfacesPerClass) std::abort();
    for (const auto& path : listed) {
      if (!path.starts_with("usbsto:") && !path.starts_with("sbp2:")) std::abort();
      for (const char c : path)
        if (c >= 'A' && c <= 'Z') std::abort();
    }
  }
  (void)enumerator.AccessProblem();
  fs::remove_all(root, ec);
  return 0;
}
