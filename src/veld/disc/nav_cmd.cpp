// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/disc/nav_cmd.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include <fmt/format.h>

namespace veld {
namespace {

enum class Kind {
  kBranch,        // option in byte 1, operands by the count in byte 0
  kIf,            // comparison in byte 2
  kSet,           // operation in byte 3
  kSetStream,     // byte 3 = 1
  kSetNVTimer,    // byte 3 = 2
  kSetButtonPage, // byte 3 = 3
  kButton,        // EnableButton, DisableButton
  kSetSystem,     // set-system commands without operands
  kSecondary,     // SetSecondaryStream: both operands kept as 32-bit values
};

struct Entry {
  std::string_view name;
  std::uint8_t byte0;
  std::uint8_t option;
  Kind kind;
};

// Command vocabulary; SetSecondaryStream uses set-system option 6 and carries its two operand words as
// they are.
constexpr Entry kVocabulary[] = {
    {"Nop", 0x00, 0, Kind::kBranch},
    {"GoTo", 0x20, 1, Kind::kBranch},
    {"Break", 0x00, 2, Kind::kBranch},
    {"JumpObject", 0x21, 0, Kind::kBranch},
    {"JumpTitle", 0x21, 1, Kind::kBranch},
    {"CallObject", 0x21, 2, Kind::kBranch},
    {"CallTitle", 0x21, 3, Kind::kBranch},
    {"Resume", 0x01, 4, Kind::kBranch},
    {"PlayPlaylist", 0x22, 0, Kind::kBranch},
    {"PlayPlaylistAtPlayItem", 0x42, 1, Kind::kBranch},
    {"PlayPlaylistAtMark", 0x42, 2, Kind::kBranch},
    {"TerminatePlaylist", 0x02, 3, Kind::kBranch},
    {"LinkPlayItem", 0x22, 4, Kind::kBranch},
    {"LinkMark", 0x22, 5, Kind::kBranch},
    {"If", 0x48, 0, Kind::kIf},
    {"Set", 0x50, 0, Kind::kSet},
    {"SetStream", 0x51, 1, Kind::kSetStream},
    {"SetNVTimer", 0x51, 2, Kind::kSetNVTimer},
    {"SetButtonPage", 0x51, 3, Kind::kSetButtonPage},
    {"EnableButton", 0x31, 4, Kind::kButton},
    {"DisableButton", 0x31, 5, Kind::kButton},
    {"SetSecondaryStream", 0x51, 6, Kind::kSecondary},
    {"PopUpMenuOff", 0x11, 7, Kind::kSetSystem},
    {"StillOn", 0x11, 8, Kind::kSetSystem},
    {"StillOff", 0x11, 9, Kind::kSetSystem},
};

// Comparisons of "If" (options 1..7) and operations of "Set" (options 1..15).
constexpr std::string_view kComparisons[] = {"&", "==", "!=", ">=", ">", "<=", "<"};
constexpr std::string_view kOperations[] = {"=",   "Swap", "+",      "-",        "x",  "/",  "%", "Random",
                                            "&",   "|",    "Xor",    "BitSet", "BitClear", "<<", ">>"};

constexpr std::uint8_t kImm1 = 0x80;  // byte 1: first operand immediate
constexpr std::uint8_t kImm2 = 0x40;  // byte 1: second operand immediate
constexpr std::string_view kFlagImm1 = "[imm1]";
constexpr std::string_view kFlagImm2 = "[imm2]";

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool istarts_with(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

std::vector<std::string_view> tokenize(std::string_view text) {
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::size_t j = i;
    while (j < text.size() && text[j] != ' ' && text[j] != '\t') ++j;
    std::string_view t = text.substr(i, j - i);
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.remove_prefix(1);
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.remove_suffix(1);
    if (!t.empty()) tokens.push_back(t);
    i = j;
  }
  return tokens;
}

struct Operand {
  enum Type { kImmediate, kGpr, kPsr } type = kImmediate;
  std::uint32_t number = 0;
  bool immediate() const { return type == kImmediate; }
  // The 32-bit operand word.
  std::uint32_t word() const {
    switch (type) {
      case kGpr: return number;
      case kPsr: return 0x80000000u | number;
      default: return number;
    }
  }
};

// Leading decimal digits of s as a number; nullopt when it does not fit 32 bits.
std::optional<std::uint32_t> leading_number(std::string_view s, bool* had_digits = nullptr) {
  std::uint64_t v = 0;
  std::size_t i = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + static_cast<std::uint64_t>(s[i] - '0');
    if (v > 0xFFFFFFFFull) return std::nullopt;
  }
  if (had_digits) *had_digits = i > 0;
  return static_cast<std::uint32_t>(v);
}

std::optional<Operand> parse_operand(std::string_view t) {
  if (istarts_with(t, "0x")) return std::nullopt;
  Operand op;
  auto reg = [&](std::string_view prefix, Operand::Type type, std::uint32_t limit) -> std::optional<Operand> {
    bool digits = false;
    auto n = leading_number(t.substr(prefix.size()), &digits);
    if (!n || !digits || *n >= limit) return std::nullopt;
    op.type = type;
    op.number = *n;
    return op;
  };
  if (istarts_with(t, "GPR")) return reg("GPR", Operand::kGpr, 4096);
  if (istarts_with(t, "PSR")) return reg("PSR", Operand::kPsr, 128);
  auto n = leading_number(t);
  if (!n) return std::nullopt;
  op.number = *n;
  return op;
}

void put_word(NavCommand& c, std::size_t at, std::uint32_t v) { store_be32(&c[at], v); }

// A 12-bit stream or register number behind a "set" flag in two bytes (SetStream fields).
bool put_flagged12(NavCommand& c, std::size_t at, const Operand& op) {
  if (op.type == Operand::kPsr || op.number > 0xFFF) return false;
  c[at] = static_cast<std::uint8_t>(0x80 | (op.number >> 8));
  c[at + 1] = static_cast<std::uint8_t>(op.number);
  return true;
}

bool is_unset(std::string_view t) { return iequals(t, "X"); }

bool assemble_set_stream(const std::vector<std::string_view>& args, NavCommand& c) {
  if (args.size() != 5) return false;
  std::optional<Operand> ops[5];
  for (int i = 0; i < 5; ++i) {
    if (is_unset(args[i])) continue;
    ops[i] = parse_operand(args[i]);
    if (!ops[i] || ops[i]->type == Operand::kPsr) return false;
  }
  const auto& audio = ops[0];
  const auto& pg = ops[1];
  const auto& flag = ops[2];
  const auto& ig = ops[3];
  const auto& angle = ops[4];
  if (audio && pg && audio->immediate() != pg->immediate()) return false;
  if (ig && angle && ig->immediate() != angle->immediate()) return false;
  if (flag && !flag->immediate()) return false;
  if (audio && !put_flagged12(c, 4, *audio)) return false;
  if (pg && !put_flagged12(c, 6, *pg)) return false;
  if (flag && flag->number != 0) c[6] |= 0x40;
  if (ig && !put_flagged12(c, 8, *ig)) return false;
  if (angle && !put_flagged12(c, 10, *angle)) return false;
  if ((audio && audio->immediate()) || (pg && pg->immediate())) c[1] |= kImm1;
  if ((ig && ig->immediate()) || (angle && angle->immediate())) c[1] |= kImm2;
  return true;
}

bool assemble_set_button_page(const std::vector<std::string_view>& args, NavCommand& c) {
  if (args.size() < 2 || args.size() > 3) return false;
  auto field = [&](std::string_view t, std::size_t at, std::uint8_t imm_bit) {
    if (is_unset(t)) return true;
    auto op = parse_operand(t);
    if (!op || op->type == Operand::kPsr || op->number > 0xFFFF) return false;
    c[at] |= 0x80;
    store_be16(&c[at + 2], static_cast<std::uint16_t>(op->number));
    if (op->immediate()) c[1] |= imm_bit;
    return true;
  };
  if (!field(args[0], 4, kImm1) || !field(args[1], 8, kImm2)) return false;
  if (args.size() == 3) {
    auto effect = parse_operand(args[2]);
    if (!effect || !effect->immediate()) return false;
    if (effect->number != 0) c[8] |= 0x40;
  }
  return true;
}

// Operands of branch, timer, button and secondary-stream commands.
bool assemble_plain_operands(const std::vector<std::string_view>& args, std::size_t count, bool allow_psr,
                             NavCommand& c) {
  if (args.size() != count) return false;
  for (std::size_t i = 0; i < count; ++i) {
    auto op = parse_operand(args[i]);
    if (!op || (!allow_psr && op->type == Operand::kPsr)) return false;
    put_word(c, 4 + 4 * i, op->word());
    if (op->immediate()) c[1] |= i == 0 ? kImm1 : kImm2;
  }
  return true;
}

template <std::size_t N>
int find_name(const std::string_view (&names)[N], std::string_view t) {
  for (std::size_t i = 0; i < N; ++i) {
    if (iequals(names[i], t)) return static_cast<int>(i) + 1;
  }
  return 0;
}

// ---- disassembly ----------------------------------------------------------------------------------

std::string operand_text(std::uint32_t word, bool immediate) {
  if (immediate) return fmt::format("{}", word);
  if (word & 0x80000000u) return fmt::format("PSR{}", word & 0x7F);
  return fmt::format("GPR{}", word & 0xFFF);
}

std::string flagged12_text(const NavCommand& c, std::size_t at, bool immediate) {
  if (!(c[at] & 0x80)) return "X";
  const std::uint32_t n = ((c[at] & 0x0Fu) << 8) | c[at + 1];
  return immediate ? fmt::format("{}", n) : fmt::format("GPR{}", n);
}

std::string button_page_text(const NavCommand& c, std::size_t at, bool immediate) {
  if (!(c[at] & 0x80)) return "X";
  const std::uint32_t n = load_be16(&c[at + 2]);
  return immediate ? fmt::format("{}", n) : fmt::format("GPR{}", n & 0xFFF);
}

const Entry* find_entry(const NavCommand& c) {
  for (const Entry& e : kVocabulary) {
    if (e.byte0 != c[0]) continue;
    switch (e.kind) {
      case Kind::kBranch:
        if ((c[1] & 0x0F) == e.option) return &e;
        break;
      case Kind::kIf:
      case Kind::kSet:
        return &e;
      default:
        if ((c[3] & 0x1F) == e.option) return &e;
        break;
    }
  }
  return nullptr;
}

std::string text_of(const NavCommand& c) {
  const Entry* e = find_entry(c);
  if (!e) return {};
  const bool imm1 = c[1] & kImm1;
  const bool imm2 = c[1] & kImm2;
  const std::uint32_t op1 = load_be32(&c[4]);
  const std::uint32_t op2 = load_be32(&c[8]);
  std::string text(e->name);
  switch (e->kind) {
    case Kind::kBranch: {
      const int count = c[0] >> 5;
      if (count >= 1) text += " " + operand_text(op1, imm1);
      if (count >= 2) text += " " + operand_text(op2, imm2);
      break;
    }
    case Kind::kIf: {
      const int cmp = c[2] & 0x0F;
      if (cmp < 1 || cmp > 7) return {};
      text += fmt::format(" {} {} {}", operand_text(op1, imm1), kComparisons[cmp - 1], operand_text(op2, imm2));
      break;
    }
    case Kind::kSet: {
      const int op = c[3] & 0x1F;
      if (op < 1 || op > 15) return {};
      text += fmt::format(" {} {} {}", operand_text(op1, false), kOperations[op - 1], operand_text(op2, imm2));
      break;
    }
    case Kind::kSetStream:
      text += fmt::format(" {} {} {} {} {}", flagged12_text(c, 4, imm1), flagged12_text(c, 6, imm1),
                          (c[6] & 0x40) ? 1 : 0, flagged12_text(c, 8, imm2), flagged12_text(c, 10, imm2));
      break;
    case Kind::kSetButtonPage:
      text += fmt::format(" {} {} {}", button_page_text(c, 4, imm1), button_page_text(c, 8, imm2),
                          (c[8] & 0x40) ? 1 : 0);
      break;
    case Kind::kSetNVTimer:
    case Kind::kSecondary:
      text += fmt::format(" {} {}", operand_text(op1, imm1), operand_text(op2, imm2));
      break;
    case Kind::kButton:
      text += " " + operand_text(op1, imm1);
      break;
    case Kind::kSetSystem:
      break;
  }
  return text;
}

}  // namespace

const std::vector<std::string_view>& nav_mnemonics() {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> v;
    for (const Entry& e : kVocabulary) v.push_back(e.name);
    return v;
  }();
  return names;
}

namespace {

// Trailing "[imm1]" / "[imm2]" tokens: immediate flags of operands the command does not use. Removes
// them from tokens and returns their bits; each may appear once.
std::uint8_t take_flag_tokens(std::vector<std::string_view>& tokens, bool& ok) {
  std::uint8_t flags = 0;
  while (tokens.size() > 1) {
    std::uint8_t bit = 0;
    if (iequals(tokens.back(), kFlagImm1)) bit = kImm1;
    if (iequals(tokens.back(), kFlagImm2)) bit = kImm2;
    if (bit == 0) break;
    if (flags & bit) ok = false;
    flags |= bit;
    tokens.pop_back();
  }
  return flags;
}

bool assemble_named(const std::vector<std::string_view>& tokens, NavCommand& c) {
  const Entry* entry = nullptr;
  for (const Entry& e : kVocabulary) {
    if (iequals(e.name, tokens[0])) entry = &e;
  }
  if (!entry) return false;
  const std::vector<std::string_view> args(tokens.begin() + 1, tokens.end());
  c[0] = entry->byte0;
  bool ok = true;
  switch (entry->kind) {
    case Kind::kBranch:
      c[1] = entry->option;
      ok = entry->byte0 >> 5 == 0 || assemble_plain_operands(args, entry->byte0 >> 5, true, c);
      break;
    case Kind::kIf: {
      if (args.size() != 3) return c.fill(0), false;
      auto a = parse_operand(args[0]);
      const int cmp = find_name(kComparisons, args[1]);
      auto b = parse_operand(args[2]);
      ok = a && b && cmp != 0;
      if (ok) {
        c[2] = static_cast<std::uint8_t>(cmp);
        put_word(c, 4, a->word());
        put_word(c, 8, b->word());
        if (a->immediate()) c[1] |= kImm1;
        if (b->immediate()) c[1] |= kImm2;
      }
      break;
    }
    case Kind::kSet: {
      if (args.size() != 3) return c.fill(0), false;
      auto a = parse_operand(args[0]);
      const int op = find_name(kOperations, args[1]);
      auto b = parse_operand(args[2]);
      ok = a && a->type == Operand::kGpr && op != 0 && b;
      if (ok && op == 2 && b->immediate()) ok = false;  // Swap exchanges two registers
      if (ok) {
        c[3] = static_cast<std::uint8_t>(op);
        put_word(c, 4, a->word());
        put_word(c, 8, b->word());
        if (b->immediate()) c[1] |= kImm2;
      }
      break;
    }
    case Kind::kSetStream:
      c[3] = entry->option;
      ok = assemble_set_stream(args, c);
      break;
    case Kind::kSetNVTimer:
      c[3] = entry->option;
      ok = assemble_plain_operands(args, 2, false, c);
      break;
    case Kind::kSetButtonPage:
      c[3] = entry->option;
      ok = assemble_set_button_page(args, c);
      break;
    case Kind::kButton:
      c[3] = entry->option;
      ok = assemble_plain_operands(args, 1, true, c);
      break;
    case Kind::kSecondary:
      c[3] = entry->option;
      ok = assemble_plain_operands(args, 2, true, c);
      break;
    case Kind::kSetSystem:
      c[3] = entry->option;
      break;
  }
  if (!ok) c.fill(0);
  return ok;
}

}  // namespace

bool assemble(std::string_view text, NavCommand& c) {
  c.fill(0);
  std::vector<std::string_view> tokens = tokenize(text);
  if (tokens.empty()) return false;
  bool ok = true;
  const std::uint8_t flags = take_flag_tokens(tokens, ok);
  if (!ok || !assemble_named(tokens, c)) return c.fill(0), false;
  if (flags == 0) return true;
  // A flag token is only for an operand the text does not show: it must not be set already, and
  // setting it must not change how the operands read.
  const std::string plain = text_of(c);
  NavCommand flagged = c;
  flagged[1] |= flags;
  if ((c[1] & flags) != 0 || text_of(flagged) != plain) return c.fill(0), false;
  c = flagged;
  return true;
}

std::string disassemble(const NavCommand& cmd) {
  const std::string text = text_of(cmd);
  NavCommand back{};
  if (!text.empty() && assemble(text, back)) {
    if (back == cmd) return text;
    // Immediate flags of operands the command does not use: named after the operands.
    const std::uint8_t extra = static_cast<std::uint8_t>(cmd[1] & (kImm1 | kImm2) & ~back[1]);
    back[1] |= extra;
    if (extra != 0 && back == cmd) {
      std::string flagged = text;
      if (extra & kImm1) flagged += fmt::format(" {}", kFlagImm1);
      if (extra & kImm2) flagged += fmt::format(" {}", kFlagImm2);
      return flagged;
    }
  }
  return fmt::format("Raw {:08X} {:08X} {:08X}", load_be32(&cmd[0]), load_be32(&cmd[4]), load_be32(&cmd[8]));
}

Bytes store_nav_cmds(const CNavCmds& cmds) {
  Bytes out;
  ByteWriter w(out);
  w.u32(static_cast<std::uint32_t>(cmds.commands.size()));
  for (const NavCommand& c : cmds.commands) {
    w.u32(0);
    w.bytes(c);
  }
  return out;
}

bool load_nav_cmds(ByteSpan archive, CNavCmds& cmds) {
  try {
    ByteReader r(archive, "CNavCmds");
    const std::uint32_t count = r.u32();
    r.need(std::size_t{count} * 16);
    std::vector<NavCommand> list(count);
    for (NavCommand& c : list) {
      r.skip(4);
      ByteSpan b = r.bytes(12);
      std::copy(b.begin(), b.end(), c.begin());
    }
    cmds.commands = std::move(list);
    return true;
  } catch (const ParseError&) {
    return false;
  }
}

}  // namespace veld
