// SPDX-License-Identifier: GPL-2.0-or-later
#include "transport.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "device_session.h"
#include "held_node.h"
#include "pass_through.h"

namespace fwtool {

struct RouteAccess {
  static thread_local ScopedCommandRoute* current;
  static PassThroughBackend& Backend(const ScopedCommandRoute& r) { return r.backend_; }
  static const std::shared_ptr<HeldNode>& Held(const ScopedCommandRoute& r) { return r.held_; }
};
thread_local ScopedCommandRoute* RouteAccess::current = nullptr;

ScopedCommandRoute::ScopedCommandRoute(PassThroughBackend& backend, std::shared_ptr<HeldNode> held)
    : backend_(backend), held_(std::move(held)), outer_(RouteAccess::current) {
  RouteAccess::current = this;
}

ScopedCommandRoute::~ScopedCommandRoute() {
  RouteAccess::current = outer_;
}

namespace {

int Send(DataDirection direction, std::string_view path, const uint8_t* block, int blockLength,
         uint8_t* inBuffer, const uint8_t* outBuffer, uint32_t length, uint32_t* transferred) {
  PassThroughRequest request;
  request.path = std::string(path);
  request.direction = direction;
  request.exclusive = direction == DataDirection::Out;
  const ScopedCommandRoute* route = RouteAccess::current;
  request.held = route != nullptr ? RouteAccess::Held(*route) : HeldNodeFor(path);
  auto report = [&](const PassThroughResult& result, int returned) {
    if (route == nullptr) detail::ReportCommand(request, result, length, returned);
  };
  const int cdbLength = std::clamp(blockLength, 0, 16);
  request.cdbLength = static_cast<uint8_t>(cdbLength);
  if (block != nullptr) std::copy_n(block, cdbLength, request.cdb.begin());
  request.length = EffectiveLength(length);
  request.timeoutSeconds = direction == DataDirection::In
                               ? kDataInTimeout
                               : DataOutTimeout(request.cdb.data(), cdbLength);

  // An operation whose unit is identified again before it writes: the
  // check runs before its first data-out command on each node, and once it
  // has failed no command of the operation goes out.
  if (request.held) {
    const std::string refusal = direction == DataDirection::Out ? request.held->CheckBeforeWrite()
                                                                : request.held->Refusal();
    if (!refusal.empty()) {
      PassThroughResult refused;
      refused.notSent = true;
      refused.detail = refusal;
      report(refused, 0);
      return 0;
    }
  }

  AlignedBuffer data;
  if (request.length != 0) {
    data = AlignedBuffer(request.length);
    // A buffer that cannot be had fails the command before the device is
    // touched, so the transferred count stays as it was.
    if (!data) {
      PassThroughResult refused;
      refused.notSent = true;
      refused.detail = "no memory for a transfer of " + std::to_string(request.length) + " bytes";
      report(refused, 0);
      return 0;
    }
    if (direction == DataDirection::Out && outBuffer != nullptr)
      std::memcpy(data.data(), outBuffer, length);
    request.data = data.data();
  }

  PassThroughBackend& backend =
      route != nullptr ? RouteAccess::Backend(*route) : BackendForPath(path);
  PassThroughResult result = backend.Execute(request);
  int returned = 0;
  if (result.opened) {
    if (direction == DataDirection::In && length > 0 && inBuffer != nullptr)
      std::memcpy(inBuffer, data.data(), length);
    if (transferred != nullptr) *transferred = result.transferred;
    returned = result.Succeeded() ? 1 : 0;
  }
  report(result, returned);
  return returned;
}

}  // namespace

uint32_t EffectiveLength(uint32_t length) {
  return length == 1 ? 2 : length;
}

uint32_t DataOutTimeout(const uint8_t* block, int blockLength) {
  auto byteAt = [&](int i) -> uint8_t { return i < blockLength ? block[i] : 0; };
  if (byteAt(2) == 0x13) return kLongDataOutTimeout;
  // A flash write's erase mode sits in the low three bits of byte 1; the
  // bit above them marks the MXIC part, whose whole-chip write erases the
  // chip as long as any other's.
  if (byteAt(11) == 0xFB && (byteAt(1) & 0x07) == 3) return kLongDataOutTimeout;
  return kDataOutTimeout;
}

int SendCommandIn(std::string_view path, const uint8_t* block, int blockLength, void* buffer,
                  uint32_t length, uint32_t* transferred) {
  return Send(DataDirection::In, path, block, blockLength, static_cast<uint8_t*>(buffer), nullptr,
              length, transferred);
}

int SendCommandOut(std::string_view path, const uint8_t* block, int blockLength, const void* buffer,
                   uint32_t length, uint32_t* transferred) {
  return Send(DataDirection::Out, path, block, blockLength, nullptr,
              static_cast<const uint8_t*>(buffer), length, transferred);
}

void* AllocAligned(size_t size, size_t alignment) {
  return std::calloc(size + alignment, 1);
}

void* AlignUp(void* raw, size_t alignment) {
  if (raw == nullptr) return nullptr;
  auto address = reinterpret_cast<uintptr_t>(raw);
  address = (address + alignment - 1) & ~(static_cast<uintptr_t>(alignment) - 1);
  return reinterpret_cast<void*>(address);
}

void FreeAligned(void* raw) {
  std::free(raw);
}

AlignedBuffer::AlignedBuffer(size_t size, size_t alignment)
    : raw_(AllocAligned(size, alignment)),
      data_(static_cast<uint8_t*>(AlignUp(raw_, alignment))),
      size_(raw_ != nullptr ? size : 0) {}

AlignedBuffer::AlignedBuffer(AlignedBuffer&& other) noexcept
    : raw_(std::exchange(other.raw_, nullptr)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

AlignedBuffer& AlignedBuffer::operator=(AlignedBuffer&& other) noexcept {
  if (this != &other) {
    FreeAligned(raw_);
    raw_ = std::exchange(other.raw_, nullptr);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

}  // namespace fwtool
