// SPDX-License-Identifier: GPL-2.0-or-later
// A pass-through backend for unit tests of the command layer: records every
// request it receives (with a copy of the data-out bytes) and answers from a
// script.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "pass_through.h"

namespace fwtool::testing {

struct CapturedCommand {
  PassThroughRequest request;    // data pointer is not kept
  std::vector<uint8_t> dataOut;  // what a data-out command carried
  uintptr_t dataAddress = 0;     // where the transport's buffer was
};

class CaptureBackend : public PassThroughBackend {
 public:
  // Called for every command; fills the data-in buffer and sets the result.
  using Responder = std::function<PassThroughResult(const PassThroughRequest&)>;

  PassThroughResult Execute(const PassThroughRequest& request) override {
    CapturedCommand command;
    command.request = request;
    command.request.data = nullptr;
    command.dataAddress = reinterpret_cast<uintptr_t>(request.data);
    if (request.direction == DataDirection::Out && request.data != nullptr)
      command.dataOut.assign(request.data, request.data + request.length);
    commands.push_back(std::move(command));
    if (responder) return responder(request);
    PassThroughResult ok;
    ok.opened = true;
    ok.callOk = true;
    ok.transferred = request.length;
    return ok;
  }

  std::vector<CapturedCommand> commands;
  Responder responder;
};

// A result for scripted answers: the device was opened and the call made.
inline PassThroughResult Answered(bool callOk = true, uint8_t scsiStatus = 0, int errorCode = 0,
                                  uint16_t hostStatus = 0) {
  PassThroughResult r;
  r.opened = true;
  r.callOk = callOk;
  r.scsiStatus = scsiStatus;
  r.errorCode = errorCode;
  r.hostStatus = hostStatus;
  return r;
}

// Installs a CaptureBackend as the platform backend for one test.
class ScopedCaptureBackend {
 public:
  ScopedCaptureBackend()
      : backend_(std::make_shared<CaptureBackend>()), previous_(SetPlatformBackend(backend_)) {}
  ~ScopedCaptureBackend() { SetPlatformBackend(previous_); }
  CaptureBackend* operator->() { return backend_.get(); }
  CaptureBackend& operator*() { return *backend_; }

 private:
  std::shared_ptr<CaptureBackend> backend_;
  std::shared_ptr<PassThroughBackend> previous_;
};

}  // namespace fwtool::testing
