// The system's one unrecoverable failure inside a pipeline. It abandons the
// whole call; the pool carries it from a worker to the calling thread and the
// module surface raises it as PanicException with the message unchanged.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace quillmere {

class Stop : public std::exception {
 public:
  explicit Stop(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

}  // namespace quillmere
