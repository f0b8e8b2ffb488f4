// The pool's thread count from the environment's two variables.
#include <algorithm>

#include "pool.hpp"

namespace quillmere::pool {

std::optional<std::uint64_t> parse_count(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::size_t choose_num_threads(const char* rayon_num_threads, const char* rayon_rs_num_cpus,
                               const std::function<std::size_t()>& num_cpus) {
  constexpr std::uint64_t kMaxThreads = 65535;
  std::uint64_t count = 0;
  std::optional<std::uint64_t> primary = rayon_num_threads ? parse_count(rayon_num_threads) : std::nullopt;
  if (primary) {
    count = *primary;  // 0 selects the processor count, skipping the second variable
  } else if (rayon_rs_num_cpus) {
    count = parse_count(rayon_rs_num_cpus).value_or(0);
  }
  if (count == 0) count = num_cpus();
  return static_cast<std::size_t>(std::min(count, kMaxThreads));
}

}  // namespace quillmere::pool
