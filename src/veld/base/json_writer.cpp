// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/json_writer.h"

#include <fmt/format.h>

namespace veld {
namespace {

// Length of the valid UTF-8 sequence starting at s[i], 0 when it is not one.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  std::size_t n = 0;
  std::uint32_t min = 0;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) {
    n = 2;
    min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3;
    min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  std::uint32_t cp = c & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string JsonWriter::Quote(std::string_view text) {
  std::string q = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '"':
          q += "\\\"";
          break;
        case '\\':
          q += "\\\\";
          break;
        case '\n':
          q += "\\n";
          break;
        case '\r':
          q += "\\r";
          break;
        case '\t':
          q += "\\t";
          break;
        default:
          if (c < 0x20) {
            q += fmt::format("\\u{:04x}", c);
          } else {
            q += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      q += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
    } else {
      q.append(text.substr(i, n));
      i += n;
    }
  }
  q += '"';
  return q;
}

void JsonWriter::newline() {
  out_ += '\n';
  out_.append(levels_.size() * 2, ' ');
}

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (levels_.empty()) return;
  if (!levels_.back().empty) out_ += ',';
  levels_.back().empty = false;
  newline();
}

JsonWriter& JsonWriter::begin_object() {
  before_value();
  out_ += '{';
  levels_.push_back({true, true});
  return *this;
}

JsonWriter& JsonWriter::end_object() {
  const bool empty = levels_.empty() || levels_.back().empty;
  if (!levels_.empty()) levels_.pop_back();
  if (!empty) newline();
  out_ += '}';
  if (levels_.empty()) out_ += '\n';
  return *this;
}

JsonWriter& JsonWriter::begin_array() {
  before_value();
  out_ += '[';
  levels_.push_back({false, true});
  return *this;
}

JsonWriter& JsonWriter::end_array() {
  const bool empty = levels_.empty() || levels_.back().empty;
  if (!levels_.empty()) levels_.pop_back();
  if (!empty) newline();
  out_ += ']';
  if (levels_.empty()) out_ += '\n';
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  before_value();
  out_ += Quote(name);
  out_ += ": ";
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
  before_value();
  out_ += Quote(text);
  return *this;
}

JsonWriter& JsonWriter::value(std::int64_t number) {
  before_value();
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(std::uint64_t number) {
  before_value();
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
  before_value();
  out_ += flag ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null() {
  before_value();
  out_ += "null";
  return *this;
}

}  // namespace veld
