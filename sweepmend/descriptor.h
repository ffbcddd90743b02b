// An open file descriptor, closed when its owner goes.
#pragma once

#include <unistd.h>

#include <utility>

class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  // Nothing can be done about a failed close: of a directory only read from, or of a lock
  // file, whose lock goes with the descriptor all the same.
  ~Descriptor() {
    if (fd_ >= 0) static_cast<void>(::close(fd_));
  }
  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ >= 0; }
  // Hands the descriptor to a new owner.
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};
