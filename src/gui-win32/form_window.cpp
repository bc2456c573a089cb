// SPDX-License-Identifier: GPL-2.0-or-later
#include "form_window.h"

// After windows.h:
#include <commctrl.h>
#include <shellapi.h>

#include <exception>
#include <vector>

#include "form_layout.h"
#include "form_texts.h"
#include "win32_text.h"

namespace fwtool::win32 {

namespace {

// Posted to the window once per burst of model changes.
constexpr UINT kSettleMessage = WM_APP + 1;
constexpr int kFirstChildId = 1000;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

COLORREF ToColorRef(uint32_t rgb) {
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

void RegisterWindowClass(WNDPROC procedure) {
  static const ATOM atom = [procedure] {
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconA(instance, MAKEINTRESOURCEA(kIconResource));
    windowClass.hIconSm = static_cast<HICON>(
        ::LoadImageA(instance, MAKEINTRESOURCEA(kIconResource), IMAGE_ICON,
                     ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kFormWindowClass;
    return ::RegisterClassExA(&windowClass);
  }();
  (void)atom;
}

// An error that escapes a handler cannot cross the system's frames: it is
// shown like the toolkit's exception display, and the program then ends.
void ShowEscapedError(const char* what) {
  ::MessageBoxA(nullptr, what, texts::kApplicationTitle, MB_OK | MB_ICONERROR | MB_TASKMODAL);
  ::PostQuitMessage(0);
}

}  // namespace

FormWindow::FormWindow(TV77xFwTool& form, bool engineering)
    : form_(form), engineering_(engineering) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  ::InitCommonControlsEx(&controls);
  RegisterWindowClass(&WindowProc);
  window_ = ::CreateWindowExA(kWindowExStyle, kFormWindowClass, "", kWindowStyle, kFormDesignLeft,
                              kFormDesignTop, kFormClientWidth, kPanel2Height, nullptr, nullptr,
                              ::GetModuleHandleA(nullptr), this);
  if (window_ == nullptr) return;
  CreateChildren();
  RenderAll();
  subscription_ = form_.Subscribe([this](const Control& control, ControlProperty property) {
    ModelChanged(control, property);
  });
  form_.SetCloseHandler([this] {
    if (window_ != nullptr) ::PostMessageA(window_, WM_CLOSE, 0, 0);
  });
  ::DragAcceptFiles(window_, form_.AcceptsDrops() ? TRUE : FALSE);
  ScheduleSettle();
}

FormWindow::~FormWindow() {
  form_.SetCloseHandler(nullptr);
  form_.Unsubscribe(subscription_);
  destroyed_ = nullptr;
  if (window_ != nullptr) ::DestroyWindow(window_);
  for (const auto& [key, font] : fonts_) ::DeleteObject(font);
  if (panelBrush_ != nullptr) ::DeleteObject(panelBrush_);
}

HWND FormWindow::ChildFor(const std::string& name) const {
  const Control* control = form_.FindControl(name);
  const auto it = children_.find(control);
  return it == children_.end() ? nullptr : it->second.window;
}

HWND FormWindow::EditLabelFor(const std::string& name) const {
  const Control* control = form_.FindControl(name);
  const auto it = children_.find(control);
  return it == children_.end() ? nullptr : it->second.label;
}

void FormWindow::CreateChildren() {
  int id = kFirstChildId;
  for (Control* control : form_.Controls()) {
    // The form is the window itself; Panel2 and RdPanel are blocks of the
    // layout, not windows of their own.
    if (control->Kind() == ControlKind::Form || !PlaceOf(control->Name())) continue;
    CreateChild(*control, id++);
  }
  notice_ = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | SS_CENTER | SS_NOPREFIX, 0, 0, 0, 0,
                              window_, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  ::SendMessageA(notice_, WM_SETFONT,
                 reinterpret_cast<WPARAM>(FontFor({texts::kFormFontName, texts::kFormFontHeight})),
                 FALSE);
}

void FormWindow::CreateChild(Control& control, int id) {
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  const char* className = "STATIC";
  DWORD style = WS_CHILD;
  DWORD exStyle = 0;
  switch (control.Kind()) {
    case ControlKind::Form:
      return;
    case ControlKind::Panel:
      break;
    case ControlKind::Label:
      // Plain text: the leading blanks that centre the notices stay.
      style |= SS_NOPREFIX | (control.Name() == "replugLable1" ? SS_CENTER : SS_LEFT);
      break;
    case ControlKind::Button:
      className = "BUTTON";
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      break;
    case ControlKind::CheckBox:
      // The model owns the state: a click asks the model, which repaints.
      className = "BUTTON";
      style |= BS_CHECKBOX | WS_TABSTOP;
      break;
    case ControlKind::ComboBox:
      className = "COMBOBOX";
      style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
      break;
    case ControlKind::LabeledEdit:
      className = "EDIT";
      style |= ES_AUTOHSCROLL | WS_TABSTOP;
      exStyle |= WS_EX_CLIENTEDGE;
      break;
    case ControlKind::ProgressBar:
      className = PROGRESS_CLASSA;
      break;
  }
  Child child;
  child.control = &control;
  child.window =
      ::CreateWindowExA(exStyle, className, "", style, 0, 0, 0, 0, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
  if (control.Kind() == ControlKind::LabeledEdit) {
    child.label = ::CreateWindowExA(0, "STATIC", control.EditLabel().c_str(),
                                    WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, window_, nullptr,
                                    instance, nullptr);
    byWindow_[child.label] = &control;
  }
  byWindow_[child.window] = &control;
  children_[&control] = child;
}

HFONT FormWindow::FontFor(const FontSpec& font) {
  const auto key = std::make_tuple(font.name, font.height);
  if (const auto it = fonts_.find(key); it != fonts_.end()) return it->second;
  // A negative height is the characters' height in pixels, as the form gives it.
  const HFONT handle = ::CreateFontA(font.height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, font.name.c_str());
  fonts_[key] = handle;
  return handle;
}

bool FormWindow::ChildShows(const Control& control) const {
  const auto place = PlaceOf(control.Name());
  if (!place) return false;
  if (place->section == Section::Column && !engineering_) return false;
  return control.Showing();
}

void FormWindow::RenderAll() {
  for (Control* control : form_.Controls()) Render(*control);
  RenderNotice();
  Layout();
}

void FormWindow::RenderNotice() {
  ::SetWindowTextA(notice_, form_.Notice().c_str());
  ::ShowWindow(notice_, form_.Notice().empty() ? SW_HIDE : SW_SHOWNA);
}

void FormWindow::Render(const Control& control) {
  if (control.Kind() == ControlKind::Form) {
    ::SetWindowTextA(window_, control.Text().c_str());
    return;
  }
  const auto it = children_.find(&control);
  if (it == children_.end()) return;
  const Child& child = it->second;
  const HWND w = child.window;
  rendering_ = true;
  const bool shows = ChildShows(control);
  ::ShowWindow(w, shows ? SW_SHOWNA : SW_HIDE);
  ::EnableWindow(w, control.Enabled() ? TRUE : FALSE);
  if (child.label != nullptr) {
    ::ShowWindow(child.label, shows ? SW_SHOWNA : SW_HIDE);
    ::EnableWindow(child.label, control.Enabled() ? TRUE : FALSE);
    ::SetWindowTextA(child.label, control.EditLabel().c_str());
    ::SendMessageA(child.label, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(control.Font())),
                   FALSE);
  }
  if (control.Kind() != ControlKind::Panel)
    ::SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(control.Font())), FALSE);
  switch (control.Kind()) {
    case ControlKind::Form:
    case ControlKind::Panel:
      break;
    case ControlKind::Label:
    case ControlKind::Button:
      ::SetWindowTextA(w, control.Text().c_str());
      break;
    case ControlKind::CheckBox:
      ::SetWindowTextA(w, control.Text().c_str());
      ::SendMessageA(w, BM_SETCHECK, control.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case ControlKind::ComboBox: {
      const auto& items = control.Items();
      bool same = static_cast<size_t>(::SendMessageA(w, CB_GETCOUNT, 0, 0)) == items.size();
      for (size_t i = 0; same && i < items.size(); ++i) {
        std::string shown(static_cast<size_t>(::SendMessageA(w, CB_GETLBTEXTLEN, i, 0)) + 1, '\0');
        ::SendMessageA(w, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(shown.data()));
        same = shown.c_str() == items[i];
      }
      if (!same) {
        ::SendMessageA(w, CB_RESETCONTENT, 0, 0);
        for (const auto& item : items)
          ::SendMessageA(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
      }
      ::SendMessageA(w, CB_SETCURSEL, static_cast<WPARAM>(control.ItemIndex()), 0);
      break;
    }
    case ControlKind::LabeledEdit:
      if (WindowText(w) != control.Text()) ::SetWindowTextA(w, control.Text().c_str());
      ::SendMessageA(w, EM_SETREADONLY, control.ReadOnly() ? TRUE : FALSE, 0);
      break;
    case ControlKind::ProgressBar:
      ::SendMessageA(w, PBM_SETRANGE32, static_cast<WPARAM>(control.Min()),
                     static_cast<LPARAM>(control.Max()));
      ::SendMessageA(w, PBM_SETPOS, static_cast<WPARAM>(control.Position()), 0);
      break;
  }
  rendering_ = false;
  ::InvalidateRect(w, nullptr, TRUE);
}

void FormWindow::Layout() {
  int top = kPanel2Height;
  const int noticeTop = top;
  if (!form_.Notice().empty()) top += kNoticeHeight;
  const int columnTop = top;
  if (engineering_) top += kColumnHeight;
  const int rdTop = top;
  if (form_.RdPanel.Showing()) top += kRdPanelHeight;
  const int clientHeight = top;

  auto sectionTop = [&](Section section) {
    switch (section) {
      case Section::Band:
        return 0;
      case Section::Column:
        return columnTop;
      case Section::RdPanel:
        return rdTop;
    }
    return 0;
  };
  for (const auto& [control, child] : children_) {
    const auto place = PlaceOf(control->Name());
    if (!place) continue;
    const int y = sectionTop(place->section);
    const Rect& f = place->field;
    const int height = control->Kind() == ControlKind::ComboBox ? kComboDropHeight : f.height;
    ::MoveWindow(child.window, f.x, y + f.y, f.width, height, FALSE);
    if (child.label != nullptr) {
      const Rect& l = place->label;
      ::MoveWindow(child.label, l.x, y + l.y, l.width, l.height, FALSE);
    }
  }
  ::MoveWindow(notice_, 8, noticeTop + 4, kFormClientWidth - 16, kNoticeHeight - 6, FALSE);

  RECT frame{0, 0, kFormClientWidth, clientHeight};
  ::AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  ::SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(window_, nullptr, TRUE);
}

void FormWindow::ModelChanged(const Control& control, ControlProperty property) {
  if (property == ControlProperty::Notice) {
    RenderNotice();
    Layout();
  } else {
    Render(control);
    // A panel that shows or hides, or the form's height, moves what follows.
    if (property == ControlProperty::Visible || property == ControlProperty::Height) {
      if (control.Kind() == ControlKind::Panel) {
        for (Control* c : form_.Controls())
          if (c->Parent() == &control) Render(*c);
      }
      Layout();
    }
  }
  ScheduleSettle();
}

void FormWindow::ScheduleSettle() {
  if (settlePosted_ || window_ == nullptr) return;
  settlePosted_ = ::PostMessageA(window_, kSettleMessage, 0, 0) != 0;
}

void FormWindow::OnCommand(HWND child, WORD code) {
  const auto it = byWindow_.find(child);
  if (it == byWindow_.end() || rendering_) return;
  Control& control = *it->second;
  switch (control.Kind()) {
    case ControlKind::Button:
      if (code == BN_CLICKED) control.Click();
      break;
    case ControlKind::CheckBox:
      if (code == BN_CLICKED) {
        control.Click();
        Render(control);  // the model may have refused the click
      }
      break;
    case ControlKind::ComboBox:
      if (code == CBN_SELCHANGE) {
        control.Select(static_cast<int>(::SendMessageA(child, CB_GETCURSEL, 0, 0)));
        Render(control);
      }
      break;
    case ControlKind::LabeledEdit:
      if (code == EN_CHANGE) control.Type(WindowText(child));
      break;
    case ControlKind::Form:
    case ControlKind::Panel:
    case ControlKind::Label:
    case ControlKind::ProgressBar:
      break;
  }
}

void FormWindow::OnDropFiles(HDROP drop) {
  const UINT count = ::DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  std::vector<std::string> files;
  for (UINT i = 0; i < count; ++i) {
    const UINT length = ::DragQueryFileA(drop, i, nullptr, 0);
    std::string name(length + 1, '\0');
    ::DragQueryFileA(drop, i, name.data(), length + 1);
    name.resize(length);
    files.push_back(std::move(name));
  }
  ::DragFinish(drop);
  form_.OnDropFiles(files);
}

LRESULT FormWindow::OnStaticColor(HDC dc, HWND child) {
  const auto it = byWindow_.find(child);
  if (it != byWindow_.end()) {
    const Control& control = *it->second;
    if (control.Kind() == ControlKind::Panel && control.Color() != 0) {
      if (panelBrush_ == nullptr) panelBrush_ = ::CreateSolidBrush(ToColorRef(control.Color()));
      return reinterpret_cast<LRESULT>(panelBrush_);
    }
    if (control.Kind() == ControlKind::Label) {
      ::SetTextColor(dc, ToColorRef(control.FontColor()));
      ::SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
  }
  return ::DefWindowProcA(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                          reinterpret_cast<LPARAM>(child));
}

LRESULT FormWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (lParam != 0) OnCommand(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
      return 0;
    case WM_CTLCOLORSTATIC:
      return OnStaticColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return 0;
    case kSettleMessage:
      settlePosted_ = false;
      if (settled_) settled_(form_.Face());
      return 0;
    case WM_CLOSE:
      // The form decides: while an update runs it holds the request and
      // closes the window itself once the device is left in a sound state.
      if (form_.CloseRequested() || form_.RequestClose()) ::DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      form_.SetCloseHandler(nullptr);
      window_ = nullptr;
      if (destroyed_) destroyed_();
      return 0;
    default:
      return ::DefWindowProcA(window_, message, wParam, lParam);
  }
}

LRESULT CALLBACK FormWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    auto* self = static_cast<FormWindow*>(create->lpCreateParams);
    self->window_ = window;
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<FormWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr || self->window_ != window)
    return ::DefWindowProcA(window, message, wParam, lParam);
  try {
    return self->Handle(message, wParam, lParam);
  } catch (const std::exception& e) {
    ShowEscapedError(e.what());
  } catch (...) {
    ShowEscapedError("");
  }
  return 0;
}

}  // namespace fwtool::win32
