// SPDX-License-Identifier: GPL-2.0-or-later
// The main window on Windows: a Win32 view of the form model with the
// system's standard controls. Every control of the form is a child window at
// the form's own coordinates, with the form's fonts and colours; a change in
// the model repaints its child, and the operator's clicks, selections and
// edits go to the control's handler through the model. Dropped files and the
// close box meet the form's rules here.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>

#include "Fwupdate.h"

namespace fwtool::win32 {

inline constexpr const char* kFormWindowClass = "TV77xFwTool";
// Resource id of the program's icon.
inline constexpr int kIconResource = 1;

class FormWindow {
 public:
  // The form must outlive the window. `engineering` shows the engineering
  // column under the one-click band (the controls show as the model says).
  FormWindow(TV77xFwTool& form, bool engineering);
  ~FormWindow();
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  TV77xFwTool& Form() { return form_; }
  HWND Window() const { return window_; }
  // The child that renders the control `name` (for a labelled edit: its
  // field), or null.
  HWND ChildFor(const std::string& name) const;
  // The caption child of a labelled edit, or null.
  HWND EditLabelFor(const std::string& name) const;
  // The strip under the band with the form's own notices.
  HWND NoticeWindow() const { return notice_; }

  // Called once the model has settled after a burst of changes (from the
  // message loop), with the face it shows.
  void SetSettledHandler(std::function<void(OneClickFace)> handler) {
    settled_ = std::move(handler);
  }
  // Called when the window is gone (the program then ends its loop).
  void SetDestroyedHandler(std::function<void()> handler) { destroyed_ = std::move(handler); }

 private:
  struct Child {
    Control* control = nullptr;
    HWND window = nullptr;  // the control itself (the field of a labelled edit)
    HWND label = nullptr;   // a labelled edit's caption
  };

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateChildren();
  void CreateChild(Control& control, int id);
  HFONT FontFor(const FontSpec& font);
  bool ChildShows(const Control& control) const;
  void Render(const Control& control);
  void RenderAll();
  void RenderNotice();
  void Layout();
  void ModelChanged(const Control& control, ControlProperty property);
  void ScheduleSettle();
  void OnCommand(HWND child, WORD code);
  void OnDropFiles(HDROP drop);
  LRESULT OnStaticColor(HDC dc, HWND child);

  TV77xFwTool& form_;
  bool engineering_;
  HWND window_ = nullptr;
  HWND notice_ = nullptr;
  int subscription_ = 0;
  std::map<const Control*, Child> children_;
  std::map<HWND, Control*> byWindow_;
  std::map<std::tuple<std::string, int>, HFONT> fonts_;
  HBRUSH panelBrush_ = nullptr;
  bool rendering_ = false;
  bool settlePosted_ = false;
  std::function<void(OneClickFace)> settled_;
  std::function<void()> destroyed_;
};

}  // namespace fwtool::win32
