// SPDX-License-Identifier: GPL-2.0-or-later
#include "face_driver.h"

#include "host_services.h"

namespace fwtool::win32 {

namespace {

constexpr UINT_PTR kCloseTimerId = 7;

}  // namespace

FaceDriver::FaceDriver(FormWindow& window, FaceDriverOptions options)
    : window_(window), options_(std::move(options)) {
  if (!options_.faceLog.empty()) log_.reset(host::OpenNewFile(options_.faceLog));
}

void FaceDriver::Settled(OneClickFace face) {
  if (closing_ || window_.Window() == nullptr) return;
  if (log_) {
    std::fprintf(log_.get(), "%s %d\n", OneClickFaceName(face),
                 window_.Form().FwUpdatBar.Position());
    std::fflush(log_.get());
  }
  if (face == OneClickFace::Ready && options_.clickYes && !clicked_) {
    clicked_ = true;
    ::PostMessageA(window_.ChildFor("EraseButton"), BM_CLICK, 0, 0);
    return;
  }
  if (options_.quitWhenDoneMs < 0) return;
  const bool ended = face == OneClickFace::Done || face == OneClickFace::Failed ||
                     face == OneClickFace::NothingToDo ||
                     (face == OneClickFace::Ready && !options_.clickYes);
  if (ended) {
    closing_ = true;
    ::SetTimer(window_.Window(), kCloseTimerId, static_cast<UINT>(options_.quitWhenDoneMs),
               &CloseLater);
  }
}

void CALLBACK FaceDriver::CloseLater(HWND window, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(window, id);
  ::PostMessageA(window, WM_CLOSE, 0, 0);
}

}  // namespace fwtool::win32
