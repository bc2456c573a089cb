// SPDX-License-Identifier: GPL-2.0-or-later
// The only code that sends blocks to devices: one block, one optional data
// phase, one result. A call stands alone (the backend opens and closes the
// device around it) unless a DeviceSession (device_session.h) holds the
// path open for an operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace fwtool {

class HeldNode;
class PassThroughBackend;

inline constexpr size_t kTransferAlignment = 8192;

// Time-outs in seconds.
inline constexpr uint32_t kDataInTimeout = 10;
inline constexpr uint32_t kDataOutTimeout = 50;
inline constexpr uint32_t kLongDataOutTimeout = 100;  // chip erase, whole-chip write

// Sends the block with a data-in phase of `length` bytes into `buffer`.
// Returns 1 on success, 0 on failure. `transferred` (may be null) receives
// the bytes the driver reports as moved; it is left untouched when the
// device cannot be opened. The caller's buffer receives `length` bytes even
// when the command fails.
int SendCommandIn(std::string_view path, const uint8_t* block, int blockLength, void* buffer,
                  uint32_t length, uint32_t* transferred);
// Sends the block with a data-out phase of `length` bytes from `buffer`
// (null with length 0 for commands without data).
int SendCommandOut(std::string_view path, const uint8_t* block, int blockLength, const void* buffer,
                   uint32_t length, uint32_t* transferred);

// While it lives, every command sent from this thread goes to `backend`
// on `held` (whatever path it names) and is left out of the command trace:
// the privileged helper asks a unit, on the node a session holds, with the
// program's own commands, and those are not the program's commands. Routes
// nest; the innermost applies.
class ScopedCommandRoute {
 public:
  ScopedCommandRoute(PassThroughBackend& backend, std::shared_ptr<HeldNode> held);
  ~ScopedCommandRoute();
  ScopedCommandRoute(const ScopedCommandRoute&) = delete;
  ScopedCommandRoute& operator=(const ScopedCommandRoute&) = delete;

 private:
  friend struct RouteAccess;
  PassThroughBackend& backend_;
  std::shared_ptr<HeldNode> held_;
  ScopedCommandRoute* outer_;
};

// The pass-through time-out for a data-out block: 100 s for a block whose
// byte 2 is 0x13 (chip erase) or whose byte 1 is 3 and byte 11 is 0xFB
// (whole-chip write), else 50 s.
uint32_t DataOutTimeout(const uint8_t* block, int blockLength);
// 2 when the caller asks for exactly 1 byte, otherwise the caller's count.
uint32_t EffectiveLength(uint32_t length);

// Raw zero-filled block of size + alignment bytes (null when it cannot be had).
void* AllocAligned(size_t size, size_t alignment);
// The first address at or after raw that is a multiple of alignment (a power of two).
void* AlignUp(void* raw, size_t alignment);
// Frees a raw block from AllocAligned; null does nothing.
void FreeAligned(void* raw);

// Owns a zero-filled buffer that starts on an alignment boundary.
class AlignedBuffer {
 public:
  AlignedBuffer() = default;
  explicit AlignedBuffer(size_t size, size_t alignment = kTransferAlignment);
  ~AlignedBuffer() { FreeAligned(raw_); }
  AlignedBuffer(AlignedBuffer&& other) noexcept;
  AlignedBuffer& operator=(AlignedBuffer&& other) noexcept;
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // False when the allocation failed.
  explicit operator bool() const { return data_ != nullptr; }
  uint8_t& operator[](size_t i) { return data_[i]; }
  const uint8_t& operator[](size_t i) const { return data_[i]; }
  uint8_t* begin() { return data_; }
  uint8_t* end() { return data_ + size_; }
  const uint8_t* begin() const { return data_; }
  const uint8_t* end() const { return data_ + size_; }

 private:
  void* raw_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace fwtool
