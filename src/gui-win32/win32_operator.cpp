// SPDX-License-Identifier: GPL-2.0-or-later
#include "win32_operator.h"

// After windows.h:
#include <commdlg.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace fwtool::win32 {

namespace {

// Long paths are possible with the UTF-8 code page; the dialog needs room.
constexpr size_t kFileNameRoom = 32768;

}  // namespace

UINT IconFlags(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error:
      return MB_ICONERROR;
    case MessageIcon::Warning:
      return MB_ICONWARNING;
    case MessageIcon::Information:
      return MB_ICONINFORMATION;
    case MessageIcon::Question:
      return MB_ICONQUESTION;
    case MessageIcon::None:
      break;
  }
  return 0;
}

std::string DialogFilter(const std::vector<FileFilter>& filters) {
  std::string filter;
  for (const FileFilter& f : filters) {
    filter += f.name;
    filter += '\0';
    filter += f.pattern;
    filter += '\0';
  }
  filter += '\0';
  return filter;
}

void PumpPendingMessages() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

Win32Operator::Win32Operator(std::string applicationTitle)
    : applicationTitle_(std::move(applicationTitle)) {}

void Win32Operator::MessageBox(const std::string& text, const std::string& caption,
                               MessageIcon icon) {
  ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_TASKMODAL | IconFlags(icon));
}

void Win32Operator::SimpleMessage(const std::string& text) {
  ::MessageBoxA(nullptr, text.c_str(), applicationTitle_.c_str(), MB_OK | MB_TASKMODAL);
}

bool Win32Operator::QuestionBox(const std::string& text, const std::string& caption) {
  // No is the default: Enter alone never overwrites anything.
  return ::MessageBoxA(nullptr, text.c_str(), caption.c_str(),
                       MB_YESNO | MB_DEFBUTTON2 | MB_TASKMODAL | MB_ICONWARNING) == IDYES;
}

std::optional<std::string> Win32Operator::OpenFileDialog(const FileDialogRequest& request) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::string folder = dialogFolder_;
  std::vector<char> file(kFileNameRoom, '\0');
  if (!request.initialName.empty()) {
    // The form names either a folder to start in or a file to suggest.
    if (fs::is_directory(request.initialName, ec)) {
      folder = request.initialName;
    } else {
      const fs::path initial(request.initialName);
      if (initial.has_parent_path()) folder = initial.parent_path().string();
      request.initialName.copy(file.data(), file.size() - 1);
    }
  }
  const std::string filter = DialogFilter(request.filters);
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.lpstrFilter = request.filters.empty() ? nullptr : filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.lpstrTitle = request.title.empty() ? nullptr : request.title.c_str();
  dialog.lpstrDefExt =
      request.defaultExtension.empty() ? nullptr : request.defaultExtension.c_str();
  // The backup chooser names a file that the procedure creates, so the
  // dialog takes names of files that do not exist yet.
  dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!::GetOpenFileNameA(&dialog)) return std::nullopt;
  std::string chosen(file.data());
  if (chosen.empty()) return std::nullopt;
  const fs::path path(chosen);
  if (path.has_parent_path()) dialogFolder_ = path.parent_path().string();
  return chosen;
}

void Win32Operator::DebugOutput(const std::string& text) {
  ::OutputDebugStringA(text.c_str());
}

}  // namespace fwtool::win32
