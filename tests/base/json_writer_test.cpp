// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/json_writer.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace veld {
namespace {

TEST(JsonWriter, NestsAndSeparatesMembers) {
  JsonWriter j;
  j.begin_object();
  j.member("a", 1).member("b", "two").member("c", true);
  j.key("d").begin_array().value(std::int64_t{-3}).null().begin_object().end_object().begin_array().end_array().end_array();
  j.key("e").begin_object().member("f", std::uint64_t{18446744073709551615u}).end_object();
  j.end_object();
  EXPECT_EQ(j.text(), R"({
  "a": 1,
  "b": "two",
  "c": true,
  "d": [
    -3,
    null,
    {},
    []
  ],
  "e": {
    "f": 18446744073709551615
  }
}
)");
  const auto parsed = nlohmann::json::parse(j.text());
  EXPECT_EQ(parsed["d"][0], -3);
  EXPECT_EQ(parsed["e"]["f"], 18446744073709551615u);
}

TEST(JsonWriter, EscapesStringsAndReplacesInvalidUtf8) {
  struct Case {
    std::string in;
    std::string quoted;
  };
  const Case cases[] = {
      {"plain", R"("plain")"},
      {"quote \" and \\", R"("quote \" and \\")"},
      {"tab\tline\ncr\r", R"("tab\tline\ncr\r")"},
      {std::string("nul\0x", 5), R"("nul\u0000x")"},
      {"\x1f", R"("\u001f")"},
      {"\xE8\x8F\x9C\xE5\x8D\x95", "\"\xE8\x8F\x9C\xE5\x8D\x95\""},  // UTF-8 passes through
      {"bad\xFFz", "\"bad\xEF\xBF\xBDz\""},                            // a stray byte
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                    // overlong form
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},    // a surrogate
      {"\xE8\x8F", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                    // cut sequence
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JsonWriter::Quote(c.in), c.quoted);
    EXPECT_NO_THROW(nlohmann::json::parse(c.quoted)) << c.quoted;
  }
}

}  // namespace
}  // namespace veld
