// The deepest accepted texts must be handled in far less stack than a
// worker thread's 2 MiB: every recursion is bounded by the nesting limit.
#include <gtest/gtest.h>
#include <pthread.h>

#include <string>
#include <variant>

#include "geojson/geojson.hpp"

namespace quillmere::geojson {
namespace {

void run_with_stack(std::size_t bytes, void (*body)()) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, bytes);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void* f) -> void* {
                  reinterpret_cast<void (*)()>(f)();
                  return nullptr;
                },
                reinterpret_cast<void*>(body)),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

std::string g_outcome;

void deepest_texts() {
  // 127 open containers, alternating objects and arrays, as one bad feature
  // list element: parsed, then shown in full in the error.
  std::string nest;
  for (int i = 0; i < 63; ++i) nest += "{\"k\":[";
  nest += "1";
  for (int i = 0; i < 63; ++i) nest += "]}";
  std::string text = "{\"type\":\"FeatureCollection\",\"features\":" + nest + "}";
  auto decoded = from_str(text);
  g_outcome = std::holds_alternative<Error>(decoded) ? std::get<Error>(decoded).debug() : "decoded";
  auto parsed = json::from_str(nest);
  g_outcome += "|" + std::to_string(json::to_string(std::get<json::Document>(parsed).root()).size());

  // Geometry collections nested as deep as the limit allows.
  std::string geometry = R"({"type":"Point","coordinates":[1,2]})";
  for (int i = 0; i < 62; ++i) geometry = R"({"type":"GeometryCollection","geometries":[)" + geometry + "]}";
  auto nested = from_str(geometry);
  g_outcome += std::holds_alternative<GeoJson>(nested) ? "|ok" : "|" + std::get<Error>(nested).debug();
}

// Sanitizer builds grow every frame several times over; a quarter of a
// worker's stack still shows the margin there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kSmallStack = 512 * 1024;
#else
constexpr std::size_t kSmallStack = 256 * 1024;
#endif

TEST(StackDepth, DeepestTextsFitInASmallStack) {
  run_with_stack(kSmallStack, deepest_texts);
  std::string expected_array = "ExpectedArrayValue(\"Object\")";
  EXPECT_EQ(g_outcome, expected_array + "|" + std::to_string(63 * 8 + 1) + "|ok");
}

}  // namespace
}  // namespace quillmere::geojson
