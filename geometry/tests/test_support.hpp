// Helpers shared by the geometry tests: bitwise comparison of coordinates
// (NaN payloads and signed zeros included) and running code on a thread with
// a chosen stack size.
#pragma once

#include <pthread.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <ostream>
#include <span>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/geometry.hpp"

namespace quillmere {

inline void PrintTo(const Coord& c, std::ostream* os) { *os << "(" << c.x << " " << c.y << ")"; }

namespace testing_support {

inline bool same_bits(Coord a, Coord b) {
  return std::bit_cast<std::uint64_t>(a.x) == std::bit_cast<std::uint64_t>(b.x) &&
         std::bit_cast<std::uint64_t>(a.y) == std::bit_cast<std::uint64_t>(b.y);
}

inline ::testing::AssertionResult same_bits(std::span<const Coord> actual,
                                            std::span<const Coord> expected) {
  if (actual.size() != expected.size()) {
    return ::testing::AssertionFailure()
           << "size " << actual.size() << ", expected " << expected.size();
  }
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (!same_bits(actual[i], expected[i])) {
      return ::testing::AssertionFailure()
             << "point " << i << " is (" << actual[i].x << " " << actual[i].y << "), expected ("
             << expected[i].x << " " << expected[i].y << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

// Runs f on a new thread whose stack is stack_bytes, rethrowing its exception.
template <class F>
void run_with_stack(std::size_t stack_bytes, F&& f) {
  struct Context {
    F* f;
    std::exception_ptr error;
  } context{&f, nullptr};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  if (pthread_attr_setstacksize(&attr, stack_bytes) != 0) {
    throw std::runtime_error("pthread_attr_setstacksize failed");
  }
  pthread_t thread;
  const int created = pthread_create(
      &thread, &attr,
      [](void* arg) -> void* {
        auto* c = static_cast<Context*>(arg);
        try {
          (*c->f)();
        } catch (...) {
          c->error = std::current_exception();
        }
        return nullptr;
      },
      &context);
  pthread_attr_destroy(&attr);
  if (created != 0) throw std::runtime_error("pthread_create failed");
  pthread_join(thread, nullptr);
  if (context.error) std::rethrow_exception(context.error);
}

}  // namespace testing_support
}  // namespace quillmere
