#include "core/punycode.hpp"

#include "core/utf8.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

namespace quorvex::punycode {

namespace {

constexpr std::uint32_t base = 36, tMin = 1, tMax = 26, skew = 38, damp = 700;
constexpr std::uint32_t initialBias = 72, initialN = 128;

std::vector<std::uint32_t> codePoints(std::string_view text) {
  std::vector<std::uint32_t> points;
  for (std::size_t i = 0; i < text.size();) {
    const std::optional<char32_t> point = utf8::nextCodePoint(text, i);
    if (!point) throw std::invalid_argument("Not UTF-8 text: " + std::string(text));
    points.push_back(*point);
  }
  return points;
}

char digit(std::uint32_t value) {
  return static_cast<char>(value < 26 ? 'a' + value : '0' + (value - 26));
}

std::uint32_t adapt(std::uint32_t delta, std::uint32_t points, bool first) {
  delta = first ? delta / damp : delta / 2;
  delta += delta / points;
  std::uint32_t k = 0;
  while (delta > ((base - tMin) * tMax) / 2) {
    delta /= base - tMin;
    k += base;
  }
  return k + (base - tMin + 1) * delta / (delta + skew);
}

} // namespace

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string encode(std::string_view text) {
  const std::vector<std::uint32_t> points = codePoints(text);
  std::string out;
  for (auto point : points)
    if (point < 0x80) out += static_cast<char>(point);
  const auto basic = static_cast<std::uint32_t>(out.size());
  if (basic > 0) out += '-';
  std::uint32_t n = initialN, delta = 0, bias = initialBias, handled = basic;
  while (handled < points.size()) {
    std::uint32_t next = UINT32_MAX;
    for (auto point : points)
      if (point >= n) next = std::min(next, point);
    delta += (next - n) * (handled + 1);
    n = next;
    for (auto point : points) {
      if (point < n) ++delta;
      if (point != n) continue;
      std::uint32_t q = delta;
      for (std::uint32_t k = base;; k += base) {
        std::uint32_t t = k <= bias ? tMin : k >= bias + tMax ? tMax : k - bias;
        if (q < t) break;
        out += digit(t + (q - t) % (base - t));
        q = (q - t) / (base - t);
      }
      out += digit(q);
      bias = adapt(delta, handled + 1, handled == basic);
      delta = 0;
      ++handled;
    }
    ++delta;
    ++n;
  }
  return out;
}

} // namespace quorvex::punycode
