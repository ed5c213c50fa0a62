// Reading system.reg: one streaming pass over the file finds every key the
// lookup may need, so even a large prefix is read once, in blocks, with
// memory that does not grow with the file.
#include "version/system_reg.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "version/registry.h"

namespace {

constexpr char kSignature[] = "WINE REGISTRY Version 2";
constexpr std::size_t kBlockSize = std::size_t{64} * 1024;
// Value data beyond this is counted but not kept: it is far more than a
// returned value or a link target can use.
constexpr std::size_t kMaxKeptData = std::size_t{64} * 1024;
// Names longer than this cannot be a name the lookup asks for.
constexpr std::size_t kMaxKeptName = 256;
// Links followed in one lookup before the key is given up as not found, so a
// cycle of links ends.
constexpr int kMaxLinkHops = 16;
// A registry key lies at most 512 levels deep. A longer path, which chained
// links can build, names no key; without this bound a lookup's tree (built
// recursively, one level a step) would grow with every hop until the stack ran
// out.
constexpr std::size_t kMaxPathDepth = 512;

constexpr std::uint32_t kTypeSz = 1;
constexpr std::uint32_t kTypeExpandSz = 2;
constexpr std::uint32_t kTypeBinary = 3;
constexpr std::uint32_t kTypeDword = 4;
constexpr std::uint32_t kTypeLink = 6;
constexpr std::uint32_t kTypeMultiSz = 7;

char16_t FoldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EqualsFolded(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           return FoldAscii(x) == FoldAscii(y);
         });
}

std::u16string Widen(std::string_view text) {
  std::u16string wide;
  for (const char c : text) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
  return wide;
}

int HexDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The file's bytes with one byte of look-ahead, read a block at a time.
class Reader {
 public:
  Reader(RegistryFile& file, std::uint64_t offset)
      : file_(file), block_(new char[kBlockSize]), block_offset_(offset) {}

  bool failed() const { return failed_; }
  std::uint64_t offset() const { return block_offset_ + pos_; }

  // The next byte, or -1 at the end of the file.
  int Peek() {
    if (pos_ == end_ && !Fill()) return -1;
    return static_cast<unsigned char>(block_[pos_]);
  }
  int Next() {
    const int c = Peek();
    if (c >= 0) ++pos_;
    return c;
  }
  bool NextIs(char c) {
    if (Peek() != static_cast<unsigned char>(c)) return false;
    ++pos_;
    return true;
  }
  bool NextAre(std::string_view text) {
    for (const char c : text) {
      if (!NextIs(c)) return false;
    }
    return true;
  }
  bool AtLineStart() const {
    return (pos_ > 0 ? block_[pos_ - 1] : byte_before_block_) == '\n';
  }
  bool AtLineEnd() {
    const int c = Peek();
    return c < 0 || c == '\n';
  }

  // Whether the bytes ahead start with `prefix` (looked for in this block only).
  bool StartsWith(std::string_view prefix) const {
    return end_ - pos_ >= prefix.size() &&
           std::memcmp(&block_[pos_], prefix.data(), prefix.size()) == 0;
  }

  // Copies the bytes from `start` up to and including the next one, or clears
  // `*bytes` when they are not all in this block.
  void CopyFrom(std::uint64_t start, std::string* bytes) const {
    bytes->clear();
    if (start < block_offset_ || pos_ >= end_) return;
    const std::size_t from = static_cast<std::size_t>(start - block_offset_);
    bytes->assign(&block_[from], pos_ + 1 - from);
  }

  // Moves past the next line end.
  void SkipLine() {
    for (;;) {
      if (pos_ == end_ && !Fill()) return;
      const void* hit = std::memchr(&block_[pos_], '\n', end_ - pos_);
      if (hit) {
        pos_ = static_cast<std::size_t>(static_cast<const char*>(hit) -
                                        block_.get()) + 1;
        return;
      }
      pos_ = end_;
    }
  }

  // Moves to the next "[" that starts a line, or to the end of the file.
  void SkipToSection() {
    for (;;) {
      if (pos_ == end_ && !Fill()) return;
      const void* hit = std::memchr(&block_[pos_], '[', end_ - pos_);
      if (!hit) {
        pos_ = end_;
        continue;
      }
      pos_ = static_cast<std::size_t>(static_cast<const char*>(hit) -
                                      block_.get());
      const char before = pos_ > 0 ? block_[pos_ - 1] : byte_before_block_;
      if (before == '\n') return;
      ++pos_;
    }
  }

 private:
  bool Fill() {
    if (at_end_) return false;
    if (end_ > 0) byte_before_block_ = block_[end_ - 1];
    block_offset_ += end_;
    pos_ = end_ = 0;
    const long got = file_.ReadAt(block_offset_, block_.get(), kBlockSize);
    if (got <= 0) {
      failed_ = got < 0;
      at_end_ = true;
      return false;
    }
    end_ = static_cast<std::size_t>(got);
    return true;
  }

  RegistryFile& file_;
  std::unique_ptr<char[]> block_;  // Not cleared: only what was read is used.
  std::uint64_t block_offset_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  // Reading starts at the start of the file or of a section: a line start.
  char byte_before_block_ = '\n';
  bool at_end_ = false;
  bool failed_ = false;
};

enum class Decoded { kUnits, kEnd, kBad };

// Decodes the next character of an escaped string that ends with `end`, into
// one or two UTF-16 units. The line end, a NUL byte and the end of the file
// are never part of a string.
Decoded DecodeChar(Reader& in, char end, char16_t units[2], int* count) {
  *count = 1;
  int c = in.Peek();
  if (c < 0 || c == '\n' || c == 0) return Decoded::kBad;
  in.Next();
  if (c == static_cast<unsigned char>(end)) return Decoded::kEnd;
  if (c == '\\') {
    c = in.Peek();
    if (c < 0 || c == '\n' || c == 0) return Decoded::kBad;
    in.Next();
    switch (c) {
      case 'a': units[0] = u'\a'; return Decoded::kUnits;
      case 'b': units[0] = u'\b'; return Decoded::kUnits;
      case 'e': units[0] = 0x1b; return Decoded::kUnits;
      case 'f': units[0] = u'\f'; return Decoded::kUnits;
      case 'n': units[0] = u'\n'; return Decoded::kUnits;
      case 'r': units[0] = u'\r'; return Decoded::kUnits;
      case 't': units[0] = u'\t'; return Decoded::kUnits;
      case 'v': units[0] = u'\v'; return Decoded::kUnits;
      case 'x':
        if (HexDigit(in.Peek()) >= 0) {
          unsigned value = 0;
          for (int i = 0; i < 4 && HexDigit(in.Peek()) >= 0; ++i) {
            value = value * 16 + static_cast<unsigned>(HexDigit(in.Next()));
          }
          units[0] = static_cast<char16_t>(value);
          return Decoded::kUnits;
        }
        break;
      default:
        if (c >= '0' && c <= '7') {
          unsigned value = static_cast<unsigned>(c - '0');
          for (int i = 0; i < 2 && in.Peek() >= '0' && in.Peek() <= '7'; ++i) {
            value = value * 8 + static_cast<unsigned>(in.Next() - '0');
          }
          units[0] = static_cast<char16_t>(value);
          return Decoded::kUnits;
        }
        break;
    }
  }
  if (c < 0x80) {
    units[0] = static_cast<char16_t>(c);
    return Decoded::kUnits;
  }
  // UTF-8, as Wine reads it: the bytes of a sequence that is not well formed
  // are dropped, and reading goes on at the byte that broke it. Continuation
  // bytes are never ASCII, so no quote or line end is swallowed.
  *count = 0;
  int extra = 0;
  std::uint32_t code = 0;
  int low = 0x80, high = 0xbf;  // Allowed range of the first continuation.
  if (c >= 0xc2 && c <= 0xdf) {
    extra = 1, code = static_cast<std::uint32_t>(c & 0x1f);
  } else if (c >= 0xe0 && c <= 0xef) {
    extra = 2, code = static_cast<std::uint32_t>(c & 0x0f);
    if (c == 0xe0) low = 0xa0;  // Overlong.
    if (c == 0xed) high = 0x9f;  // Surrogates.
  } else if (c >= 0xf0 && c <= 0xf4) {
    extra = 3, code = static_cast<std::uint32_t>(c & 0x07);
    if (c == 0xf0) low = 0x90;
    if (c == 0xf4) high = 0x8f;
  } else {
    return Decoded::kUnits;
  }
  for (int i = 0; i < extra; ++i) {
    const int next = in.Peek();
    if (next < low || next > high) return Decoded::kUnits;
    low = 0x80, high = 0xbf;
    code = (code << 6) | static_cast<std::uint32_t>(next & 0x3f);
    in.Next();
  }
  if (code >= 0x10000) {
    code -= 0x10000;
    units[0] = static_cast<char16_t>(0xd800 + (code >> 10));
    units[1] = static_cast<char16_t>(0xdc00 + (code & 0x3ff));
    *count = 2;
  } else {
    units[0] = static_cast<char16_t>(code);
    *count = 1;
  }
  return Decoded::kUnits;
}

// A value's data as stored: strings as UTF-16LE, with their NUL.
struct ValueData {
  std::uint32_t type = 0;
  std::uint64_t size = 0;  // All of it, even beyond what is kept.
  std::string kept;        // The first kMaxKeptData bytes.

  void Append(unsigned char byte) {
    if (kept.size() < kMaxKeptData) kept += static_cast<char>(byte);
    ++size;
  }
  void AppendUnit(char16_t unit) {
    Append(static_cast<unsigned char>(unit & 0xff));
    Append(static_cast<unsigned char>(unit >> 8));
  }
  bool complete() const { return kept.size() == size; }
};

// Reads an escaped string that ends with `end`, keeping its first `limit`
// units in `*text` and storing them all in `*data`, each when given.
bool ReadString(Reader& in, char end, std::u16string* text, std::size_t limit,
                ValueData* data) {
  for (;;) {
    char16_t units[2];
    int count = 0;
    const Decoded decoded = DecodeChar(in, end, units, &count);
    if (decoded == Decoded::kEnd) return true;
    if (decoded == Decoded::kBad) return false;
    for (int i = 0; i < count; ++i) {
      if (text && text->size() < limit) *text += units[i];
      if (data) data->AppendUnit(units[i]);
    }
  }
}

void SkipBlanks(Reader& in) {
  while (in.Peek() == ' ' || in.Peek() == '\t') in.Next();
}

void SkipSpaces(Reader& in) {
  for (int c = in.Peek(); c == ' ' || (c >= '\t' && c <= '\r' && c != '\n');
       c = in.Peek()) {
    in.Next();
  }
}

// Reads hex digits as a number, saturating beyond 64 bits.
bool ReadHexNumber(Reader& in, std::uint64_t* value) {
  if (HexDigit(in.Peek()) < 0) return false;
  *value = 0;
  bool overflow = false;
  while (HexDigit(in.Peek()) >= 0) {
    const auto digit = static_cast<std::uint64_t>(HexDigit(in.Next()));
    if (*value > (~std::uint64_t{0} >> 4)) overflow = true;
    *value = (*value << 4) | digit;
  }
  if (overflow) *value = ~std::uint64_t{0};
  return true;
}

// Reads a list of hex bytes such as "01,ab,\" that may go on over the next
// lines; leaves the reader on the line end of its last line.
bool ReadHexList(Reader& in, ValueData* data) {
  for (;;) {
    std::uint64_t byte = 0;
    while (ReadHexNumber(in, &byte)) {
      if (byte > 0xff) return false;
      data->Append(static_cast<unsigned char>(byte));
      SkipSpaces(in);
      in.NextIs(',');
      SkipSpaces(in);
    }
    if (in.AtLineEnd()) return true;
    if (!in.NextIs('\\')) return false;
    // The list goes on at the next line, unless that line starts a section.
    in.SkipLine();
    if (in.Peek() == '[') return false;
    SkipSpaces(in);
  }
}

// Reads the data part of a value line, after the "=".
bool ReadValueData(Reader& in, ValueData* data) {
  std::uint64_t number = 0;
  if (in.NextIs('"')) {
    data->type = kTypeSz;
  } else if (in.NextAre("str(")) {
    // Only the string types that are not plain strings have this form.
    if (!ReadHexNumber(in, &number) || !in.NextAre("):\"") ||
        (number != kTypeExpandSz && number != kTypeMultiSz)) {
      return false;
    }
    data->type = static_cast<std::uint32_t>(number);
  } else if (in.NextAre("dword:")) {
    // Digits that cannot be read leave the number 0, the way Wine reads it.
    SkipSpaces(in);
    if (!ReadHexNumber(in, &number)) number = 0;
    data->type = kTypeDword;
    for (int shift = 0; shift < 32; shift += 8) {
      data->Append(static_cast<unsigned char>(number >> shift));
    }
    return true;
  } else if (in.NextAre("hex")) {
    data->type = kTypeBinary;
    if (in.NextIs('(')) {
      if (!ReadHexNumber(in, &number) || !in.NextIs(')')) return false;
      data->type = static_cast<std::uint32_t>(number);
    }
    return in.NextIs(':') && ReadHexList(in, data);
  } else {
    return false;
  }
  if (!ReadString(in, '"', nullptr, 0, data)) return false;
  data->AppendUnit(0);
  return true;
}

// Reads a value line ("name"=data or @=data). Returns false when the name or
// the "=" cannot be read; a line whose data cannot be read still makes a
// value, with no data. Leaves the reader at the start of the line after it.
bool ReadValueLine(Reader& in, std::u16string* name, ValueData* data) {
  name->clear();
  *data = ValueData{};
  bool named = in.NextIs('@');
  if (!named && in.NextIs('"')) {
    named = ReadString(in, '"', name, kMaxKeptName + 1, nullptr);
  }
  if (named) {
    SkipBlanks(in);
    named = in.NextIs('=');
  }
  if (named) {
    SkipBlanks(in);
    if (!ReadValueData(in, data)) *data = ValueData{};
  }
  // A hex list cut short by a section line has left the reader on that line;
  // any other line it went on to is used up.
  if (in.Peek() != '[' || !in.AtLineStart()) in.SkipLine();
  return named;
}

// One step of a lookup path. After a step that may be redirected, a key with a
// Wow6432Node child is continued inside that child.
struct Step {
  std::u16string name;
  bool redirect = false;
};

const std::u16string kWow6432Node = u"Wow6432Node";
const std::u16string kSymbolicLinkValue = u"SymbolicLinkValue";

// The keys a lookup may pass through, as a small tree: every path that the
// steps and their possible redirections can take.
struct Node {
  std::u16string name;
  int parent = -1;
  std::vector<int> children;
  bool exists = false;
  bool is_link = false;
  std::uint64_t first_section = RegistryFileKey::kNoSection;
  int step = -1;  // Index of the step this node stands for.
  bool wow = false;
  ValueData link_target;
  bool has_value = false;
  ValueData value;
};

class Tree {
 public:
  explicit Tree(const std::vector<Step>& steps) : steps_(steps) {
    nodes_.emplace_back();
    Grow(0, 0);
  }
  std::vector<Node>& nodes() { return nodes_; }
  Node& at(int index) { return nodes_[static_cast<std::size_t>(index)]; }

  int Child(int parent, std::u16string_view name) {
    for (const int child : at(parent).children) {
      if (EqualsFolded(at(child).name, name)) return child;
    }
    return -1;
  }

  // Marks `index` and everything above it as existing.
  void MarkExists(int index) {
    for (; index >= 0 && !at(index).exists; index = at(index).parent) {
      at(index).exists = true;
    }
  }

  std::vector<std::u16string> PathOf(int index) {
    std::vector<std::u16string> path;
    for (; index > 0; index = at(index).parent) path.push_back(at(index).name);
    std::reverse(path.begin(), path.end());
    return path;
  }

 private:
  int Add(int parent, const std::u16string& name, int step, bool wow) {
    Node node;
    node.name = name;
    node.parent = parent;
    node.step = step;
    node.wow = wow;
    nodes_.push_back(std::move(node));
    const int index = static_cast<int>(nodes_.size()) - 1;
    at(parent).children.push_back(index);
    return index;
  }

  void Grow(int parent, std::size_t step) {
    if (step == steps_.size()) return;
    const int child = Add(parent, steps_[step].name, static_cast<int>(step), false);
    Grow(child, step + 1);
    if (steps_[step].redirect && step + 1 < steps_.size() &&
        !EqualsFolded(steps_[step + 1].name, kWow6432Node)) {
      const int wow = Add(child, kWow6432Node, static_cast<int>(step), true);
      Grow(wow, step + 1);
    }
  }

  const std::vector<Step>& steps_;
  std::vector<Node> nodes_;
};

// Checks that the rest of a section line closes its name with "]".
bool SectionNameCloses(Reader& in) {
  for (;;) {
    const int c = in.Next();
    if (c < 0 || c == '\n' || c == 0) return false;
    if (c == ']') return true;
    if (c == '\\') {
      const int escaped = in.Peek();
      if (escaped < 0 || escaped == '\n' || escaped == 0) return false;
      in.Next();
    }
  }
}

// Reads a section line "[path] <seconds>" and returns the tree node that is
// exactly its key, or -1. Nodes it lies at or below are marked as existing.
// Names are matched a unit at a time, so most lines are given up after a few
// bytes: the first unit that no name of the tree can have. Those bytes are kept
// in `*known_prefix`: a file's sections come sorted, and the next line that
// starts with them is given up at once.
int ReadSectionLine(Reader& in, Tree& tree, std::string* known_prefix) {
  in.Next();  // "["
  if (!known_prefix->empty() && in.StartsWith(*known_prefix)) return -1;
  const std::uint64_t start = in.offset();
  int node = 0;
  std::size_t length = 0;  // Units of the current name read so far.
  std::uint32_t alive = 0;  // The children of `node` that still match.
  const auto start_name = [&] {
    length = 0;
    alive = (std::uint32_t{1} << tree.at(node).children.size()) - 1;
  };
  // The child whose whole name has been read, or -1.
  const auto matched_child = [&] {
    const std::vector<int>& children = tree.at(node).children;
    for (std::size_t i = 0; i < children.size(); ++i) {
      if ((alive >> i & 1) && tree.at(children[i]).name.size() == length) {
        return children[i];
      }
    }
    return -1;
  };
  start_name();
  for (;;) {
    char16_t units[2];
    int count = 0;
    const Decoded decoded = DecodeChar(in, ']', units, &count);
    if (decoded == Decoded::kBad) return -1;
    bool diverged = false;
    if (decoded == Decoded::kEnd) {
      if (length > 0) {
        const int child = matched_child();
        if (child < 0) {
          diverged = true;
        } else {
          node = child;
        }
      }
    } else {
      for (int u = 0; u < count && !diverged; ++u) {
        if (units[u] == u'\\') {
          if (length == 0) continue;  // Empty names are skipped.
          const int child = matched_child();
          if (child < 0) {
            diverged = true;
          } else {
            node = child;
            start_name();
          }
          continue;
        }
        const std::vector<int>& children = tree.at(node).children;
        for (std::size_t i = 0; i < children.size(); ++i) {
          const std::u16string& name = tree.at(children[i]).name;
          if (length >= name.size() ||
              FoldAscii(name[length]) != FoldAscii(units[u])) {
            alive &= ~(std::uint32_t{1} << i);
          }
        }
        ++length;
        diverged = alive == 0;
      }
    }
    if (diverged) {
      // The key lies below `node`; what that shows is only news when `node`
      // is not yet known to exist, so the rest of the line is usually skipped.
      const bool closed = decoded == Decoded::kEnd;
      // The decoding of what was read depends on one byte more at the most.
      if (node == 0 || tree.at(node).exists) in.CopyFrom(start, known_prefix);
      if (node > 0 && !tree.at(node).exists &&
          (closed || SectionNameCloses(in))) {
        tree.MarkExists(node);
      }
      return -1;
    }
    if (decoded == Decoded::kEnd) break;
  }
  if (node == 0) return -1;
  tree.MarkExists(node);
  return node;
}

// Reads the lines of a section that belongs to `node`, up to the next section.
void ReadSection(Reader& in, Node& node, const std::u16string* value_name) {
  std::u16string name;
  ValueData data;
  for (int c = in.Peek(); c >= 0 && c != '['; c = in.Peek()) {
    if (c == '"' || c == '@') {
      if (!ReadValueLine(in, &name, &data)) continue;
      if (EqualsFolded(name, kSymbolicLinkValue)) node.link_target = data;
      if (value_name && EqualsFolded(name, *value_name)) {
        node.value = std::move(data);
        node.has_value = true;
      }
      continue;
    }
    if (in.NextAre("#link")) node.is_link = true;
    in.SkipLine();
  }
}

// Reads the whole file from `offset` (a file start or a section start) and
// fills in what `tree` needs to know. `value_name`, when given, is collected
// at the tree's leaves. Returns false when the file is no registry file or
// cannot be read.
bool ScanFile(RegistryFile& file, std::uint64_t offset, Tree& tree,
              const std::u16string* value_name) {
  Reader in(file, offset);
  if (offset == 0) {
    if (!in.NextAre(kSignature)) return false;
    in.NextIs('\r');
    if (!in.AtLineEnd()) return false;
  }
  std::string known_prefix;
  for (;;) {
    in.SkipToSection();
    if (in.Peek() < 0) break;
    const std::uint64_t section_offset = in.offset();
    const int index = ReadSectionLine(in, tree, &known_prefix);
    if (index < 0) continue;
    in.SkipLine();
    Node& node = tree.at(index);
    if (node.first_section == RegistryFileKey::kNoSection) {
      node.first_section = section_offset;
    }
    const bool leaf = node.children.empty();
    ReadSection(in, node, leaf ? value_name : nullptr);
  }
  return !in.failed();
}

std::vector<std::u16string> SplitPath(std::u16string_view path) {
  std::vector<std::u16string> elements;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) elements.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return elements;
}

// The key path a link names, relative to HKEY_LOCAL_MACHINE. Returns false for
// a link without a usable target, which then leads nowhere.
bool LinkTarget(const ValueData& value, std::vector<std::u16string>* path) {
  if (value.type != kTypeLink || !value.complete()) return false;
  std::u16string target;
  for (std::size_t i = 0; i + 1 < value.kept.size(); i += 2) {
    target += static_cast<char16_t>(
        static_cast<unsigned char>(value.kept[i]) |
        (static_cast<unsigned char>(value.kept[i + 1]) << 8));
  }
  const std::u16string_view machine = u"\\Registry\\Machine";
  if (target.size() < machine.size() ||
      !EqualsFolded(std::u16string_view(target).substr(0, machine.size()),
                    machine) ||
      (target.size() > machine.size() && target[machine.size()] != u'\\')) {
    return false;
  }
  *path = SplitPath(std::u16string_view(target).substr(machine.size()));
  return true;
}

bool IsStringType(std::uint32_t type) {
  return type == kTypeSz || type == kTypeExpandSz || type == kTypeMultiSz;
}

}  // namespace

long OpenRegistryFileKey(RegistryFile& file, std::string_view path,
                         RegistryFileKey* key) {
  std::vector<Step> steps;
  for (std::u16string& element : SplitPath(Widen(path))) {
    steps.push_back({std::move(element), true});
  }
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    if (steps.size() > kMaxPathDepth) return kRegistryNotFound;
    Tree tree(steps);
    if (!ScanFile(file, 0, tree, nullptr)) return kRegistryNotFound;
    // Walk the steps through what the scan found.
    int node = 0;
    std::vector<Step> rest;
    for (std::size_t i = 0; i < steps.size() && rest.empty(); ++i) {
      node = tree.Child(node, steps[i].name);
      if (node < 0 || !tree.at(node).exists) return kRegistryNotFound;
      bool redirect = steps[i].redirect;
      if (!tree.at(node).is_link && redirect) {
        const int wow = tree.Child(node, kWow6432Node);
        if (wow >= 0 && tree.at(wow).exists) {
          node = wow;
          redirect = false;
        }
      }
      if (!tree.at(node).is_link) continue;
      // Go on from the key the link names, in a new scan.
      std::vector<std::u16string> target;
      if (!LinkTarget(tree.at(node).link_target, &target)) {
        return kRegistryNotFound;
      }
      for (std::u16string& element : target) {
        rest.push_back({std::move(element), false});
      }
      if (!rest.empty()) rest.back().redirect = redirect;
      rest.insert(rest.end(), steps.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                  steps.end());
      if (rest.empty()) return kRegistryNotFound;  // A link to the root.
    }
    if (rest.empty()) {
      key->path = tree.PathOf(node);
      key->first_section = tree.at(node).first_section;
      return kRegistrySuccess;
    }
    steps = std::move(rest);
  }
  return kRegistryNotFound;
}

long QueryRegistryFileValue(RegistryFile& file, const RegistryFileKey& key,
                            std::string_view name, unsigned char* data,
                            std::uint32_t* size) {
  if (key.first_section == RegistryFileKey::kNoSection) {
    return kRegistryNotFound;
  }
  std::vector<Step> steps;
  for (const std::u16string& element : key.path) steps.push_back({element, false});
  Tree tree(steps);
  const std::u16string value_name = Widen(name);
  if (!ScanFile(file, key.first_section, tree, &value_name)) {
    return kRegistryNotFound;
  }
  const Node& leaf = tree.nodes().back();
  if (!leaf.has_value) return kRegistryNotFound;
  const ValueData& value = leaf.value;
  // Like RegQueryValueExA, data that does not fit still tells the size it
  // needs.
  const auto too_long = [size](std::uint64_t needed) {
    *size = static_cast<std::uint32_t>(std::min<std::uint64_t>(needed, ~std::uint32_t{0}));
    return kRegistryMoreData;
  };

  if (IsStringType(value.type)) {
    // One narrow byte per UTF-16 unit; an odd last byte is not a unit.
    const std::uint64_t units = value.size / 2;
    if (units > *size || units * 2 > value.kept.size()) return too_long(units);
    for (std::size_t i = 0; i < units; ++i) {
      const unsigned unit = static_cast<unsigned char>(value.kept[2 * i]) |
                            (static_cast<unsigned char>(value.kept[2 * i + 1]) << 8);
      data[i] = static_cast<unsigned char>(unit < 0x80 ? unit : '?');
    }
    *size = static_cast<std::uint32_t>(units);
    return kRegistrySuccess;
  }
  if (value.size > *size || !value.complete()) return too_long(value.size);
  std::memcpy(data, value.kept.data(), value.kept.size());
  *size = static_cast<std::uint32_t>(value.size);
  return kRegistrySuccess;
}
