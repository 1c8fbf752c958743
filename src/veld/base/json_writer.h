// SPDX-License-Identifier: GPL-3.0-or-later
// A small streaming JSON writer for the reports the core prints for scripts: objects, arrays, strings,
// integers, booleans and null, written with two-space indentation. Strings are escaped as JSON requires;
// bytes that are not valid UTF-8 (a file name on Linux may hold any) become U+FFFD.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veld {

class JsonWriter {
 public:
  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();
  // The key of the next member (inside an object only).
  JsonWriter& key(std::string_view name);
  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(std::int64_t number);
  JsonWriter& value(int number) { return value(static_cast<std::int64_t>(number)); }
  JsonWriter& value(unsigned number) { return value(static_cast<std::int64_t>(number)); }
  JsonWriter& value(std::uint64_t number);
  JsonWriter& value(bool flag);
  JsonWriter& null();
  // Shorthands for one member.
  template <typename T>
  JsonWriter& member(std::string_view name, const T& v) {
    key(name);
    return value(v);
  }

  // The text written so far, with a final newline once the outermost value is closed.
  const std::string& text() const { return out_; }

  // text as a JSON string literal, quotes included.
  static std::string Quote(std::string_view text);

 private:
  void before_value();
  void newline();

  std::string out_;
  struct Level {
    bool object = false;
    bool empty = true;
  };
  std::vector<Level> levels_;
  bool after_key_ = false;
};

}  // namespace veld
