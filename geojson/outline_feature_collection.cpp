// Finds the features of a FeatureCollection text by their brackets alone, a
// pass far cheaper than parsing, so that the features can then be parsed
// apart from each other. It checks little: what it lets through is parsed
// by the JSON reader afterwards, piece by piece.
#include <cstdint>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "geojson.hpp"

namespace quillmere::geojson {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

bool is_whitespace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// The first index from i on that holds a, b or c, or the text's size. The
// bytes looked for are rare in coordinate text, so 16 at a time are skipped.
std::size_t find_any(std::string_view text, std::size_t i, char a, char b, char c) {
  const char* p = text.data();
  const std::size_t n = text.size();
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  const __m128i vc = _mm_set1_epi8(c);
  for (; i + 16 <= n; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)), _mm_cmpeq_epi8(x, vc));
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  while (i < n && p[i] != a && p[i] != b && p[i] != c) ++i;
  return i;
}

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  std::optional<FeatureCollectionOutline> outline() {
    FeatureCollectionOutline result;
    std::size_t i = skip_whitespace(0);
    if (!at(i, '{')) return std::nullopt;
    i = skip_whitespace(i + 1);
    std::size_t features_begin = kNone;
    std::size_t features_end = kNone;
    for (;;) {
      if (!at(i, '"')) return std::nullopt;
      bool escaped = false;
      const std::size_t key_end = end_of_string(i + 1, escaped);
      // An escaped key might spell "features" in another way.
      if (key_end == kNone || escaped) return std::nullopt;
      const std::string_view key = text_.substr(i + 1, key_end - i - 2);
      i = skip_whitespace(key_end);
      if (!at(i, ':')) return std::nullopt;
      i = skip_whitespace(i + 1);
      if (key == "features") {
        // With a repeated key the last one counts: left to the full parse.
        if (features_begin != kNone || !at(i, '[')) return std::nullopt;
        features_begin = i;
        i = scan_features(i, result.features);
        features_end = i;
      } else {
        i = end_of_value(i);
      }
      if (i == kNone) return std::nullopt;
      i = skip_whitespace(i);
      if (at(i, '}')) break;
      if (!at(i, ',')) return std::nullopt;
      i = skip_whitespace(i + 1);
    }
    if (features_begin == kNone) return std::nullopt;
    result.rest.reserve(text_.size() - (features_end - features_begin) + 2);
    result.rest.append(text_.substr(0, features_begin));
    result.rest.append("[]");
    result.rest.append(text_.substr(features_end));
    return result;
  }

 private:
  bool at(std::size_t i, char c) const { return i < text_.size() && text_[i] == c; }

  std::size_t skip_whitespace(std::size_t i) const {
    while (i < text_.size() && is_whitespace(text_[i])) ++i;
    return i;
  }

  // i is just after an opening quote; the index after the closing one.
  // Only the escape's backslash and the byte after it matter here: a
  // malformed escape is the parser's to find.
  std::size_t end_of_string(std::size_t i, bool& escaped) const {
    for (;;) {
      i = find_any(text_, i, '"', '\\', '"');
      if (i >= text_.size()) return kNone;
      if (text_[i] == '"') return i + 1;
      escaped = true;
      i += 2;
    }
  }

  // i is at '[' or '{'; the index after its closing bracket, counting every
  // kind of bracket alike (enough for a well-formed value).
  std::size_t end_of_container(std::size_t i) const {
    std::size_t depth = 0;
    bool escaped = false;
    for (; i < text_.size(); ++i) {
      const char c = text_[i];
      if (c == '"') {
        i = end_of_string(i + 1, escaped);
        if (i == kNone) return kNone;
        --i;
      } else if (c == '[' || c == '{') {
        ++depth;
      } else if (c == ']' || c == '}') {
        if (--depth == 0) return i + 1;
      }
    }
    return kNone;
  }

  // i is at '{'; the index after its closing brace. Square brackets, which
  // fill coordinate text, are skipped unseen: in a well-formed object the
  // braces alone balance.
  std::size_t end_of_object(std::size_t i) const {
    std::size_t depth = 0;
    bool escaped = false;
    for (;;) {
      i = find_any(text_, i, '{', '}', '"');
      if (i >= text_.size()) return kNone;
      const char c = text_[i];
      if (c == '"') {
        i = end_of_string(i + 1, escaped);
        if (i == kNone) return kNone;
        continue;
      }
      if (c == '{') {
        ++depth;
      } else if (--depth == 0) {
        return i + 1;
      }
      ++i;
    }
  }

  // The index after any value starting at i (the parser checks it later).
  std::size_t end_of_value(std::size_t i) const {
    if (i >= text_.size()) return kNone;
    const char c = text_[i];
    if (c == '"') {
      bool escaped = false;
      return end_of_string(i + 1, escaped);
    }
    if (c == '[' || c == '{') return end_of_container(i);
    while (i < text_.size() && !is_whitespace(text_[i]) && text_[i] != ',' && text_[i] != '}' && text_[i] != ']') ++i;
    return i;
  }

  // i is at the array's '['; the index after its ']'. Every element must be
  // an object; the separators are checked exactly as the parser would.
  std::size_t scan_features(std::size_t i, std::vector<std::pair<std::size_t, std::size_t>>& features) const {
    i = skip_whitespace(i + 1);
    if (at(i, ']')) return i + 1;
    for (;;) {
      if (!at(i, '{')) return kNone;
      const std::size_t end = end_of_object(i);
      if (end == kNone) return kNone;
      features.emplace_back(i, end);
      i = skip_whitespace(end);
      if (at(i, ']')) return i + 1;
      if (!at(i, ',')) return kNone;
      i = skip_whitespace(i + 1);
    }
  }

  std::string_view text_;
};

}  // namespace

std::optional<FeatureCollectionOutline> outline_feature_collection(std::string_view text) {
  return Scanner(text).outline();
}

}  // namespace quillmere::geojson
