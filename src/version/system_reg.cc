// The lookup in system.reg: the tree of every path a key's name can take
// through 32-bit redirection, matched against section lines in one pass over
// the file, and links followed by a new pass from the key they name.
#include "version/system_reg.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "version/code_page_1252.h"
#include "version/registry.h"
#include "version/system_reg_blocks.h"
#include "version/system_reg_grammar.h"

namespace {

// Links followed in one lookup before the key is given up as not found, so a
// cycle of links ends.
constexpr int kMaxLinkHops = 16;
// A registry key lies at most 512 levels deep. A longer path, which chained
// links can build, names no key; without this bound a lookup's tree (built
// recursively, one level a step) would grow with every hop until the stack ran
// out.
constexpr std::size_t kMaxPathDepth = 512;

std::u16string Widen(std::string_view text) {
  std::u16string wide;
  for (const char c : text) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
  return wide;
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
      if (!at(child).wow && EqualsFolded(at(child).name, name)) return child;
    }
    return -1;
  }

  // The Wow6432Node child a 32-bit view is redirected to, or -1.
  int RedirectChild(int parent) {
    for (const int child : at(parent).children) {
      if (at(child).wow) return child;
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
  int Add(int parent, const std::u16string& name, bool wow) {
    Node node;
    node.name = name;
    node.parent = parent;
    node.wow = wow;
    nodes_.push_back(std::move(node));
    const int index = static_cast<int>(nodes_.size()) - 1;
    at(parent).children.push_back(index);
    return index;
  }

  // Below a Wow6432Node, whether named in the path or entered by redirection,
  // nothing is redirected again; a step the path itself continues into
  // Wow6432Node is not redirected either. The last step is.
  void Grow(int parent, std::size_t step, bool inside_wow = false) {
    if (step == steps_.size()) return;
    const bool named_wow = EqualsFolded(steps_[step].name, kWow6432Node);
    const int child = Add(parent, steps_[step].name, false);
    Grow(child, step + 1, inside_wow || named_wow);
    if (steps_[step].redirect && !inside_wow && !named_wow &&
        (step + 1 == steps_.size() || !EqualsFolded(steps_[step + 1].name, kWow6432Node))) {
      const int wow = Add(child, kWow6432Node, true);
      Grow(wow, step + 1, true);
    }
  }

  const std::vector<Step>& steps_;
  std::vector<Node> nodes_;
};

// Reads a section line "[path] <seconds>" and returns the tree node that is
// exactly its key, or -1. Nodes it lies at or below are marked as existing.
// Names are matched a unit at a time, so most lines are given up after a few
// bytes: the first unit that no name of the tree can have. Those bytes are kept
// in `*known_prefix`: a file's sections come sorted, and the next lines that
// start with them are given up at once (after an empty line, the block reader
// does not even stop at them).
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
              UpperCaseOf(name[length]) != UpperCaseOf(units[u])) {
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
// Lines may start with blanks.
void ReadSection(Reader& in, Node& node, const std::u16string* value_name) {
  std::u16string name;
  ValueData data;
  for (;;) {
    SkipSpaces(in);
    const int c = in.Peek();
    if (c < 0 || c == '[') return;
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

// Where lines are read again from: a line start, and whether value lines there
// belong to a key (values after a section line that is no key are not read).
struct LinePoint {
  std::uint64_t offset = RegistryFileKey::kNoSection;
  bool keyed = false;
};

// Whether the "[" at `target` is not a section line but part of a value's data
// that a line before it carried over with "\\", reading the lines from `*from`
// on (a section line, or where the last such read ended). Only needed where the
// sections between are skipped unread; it is rare, so the lines are read
// again, but each once: a value that takes in "[" lines moves `*from` past its
// end.
bool InsideValue(RegistryFile& file, LinePoint* from, std::uint64_t target) {
  if (target < from->offset) return true;
  Reader in(file, from->offset);
  std::u16string name;
  ValueData data;
  bool keyed = from->keyed;
  for (;;) {
    SkipSpaces(in);
    const int c = in.Peek();
    if (c < 0 || in.offset() >= target) return false;
    if (c == '[') {
      in.Next();
      keyed = SectionNameCloses(in);
    } else if (keyed && (c == '"' || c == '@')) {
      ReadValueLine(in, &name, &data);
      if (in.offset() > target) {
        *from = {in.offset(), keyed};
        return true;
      }
      continue;
    }
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
  LinePoint rescan;  // None before the first section line.
  if (offset != 0) rescan.offset = offset;
  bool read_through = offset != 0;  // The lines before were read.
  for (;;) {
    const std::uint64_t passed = in.SkipToSection(known_prefix);
    if (passed != RegistryFileKey::kNoSection) {
      rescan = {passed, false};
      read_through = false;
    }
    if (in.Peek() < 0) break;
    const std::uint64_t section_offset = in.offset();
    if (!read_through && rescan.offset != RegistryFileKey::kNoSection &&
        in.PreviousLineMayContinue() && InsideValue(file, &rescan, section_offset)) {
      in.SkipLine();
      continue;
    }
    rescan = {section_offset, false};
    read_through = false;
    const int index = ReadSectionLine(in, tree, &known_prefix);
    if (index < 0) continue;
    read_through = true;
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
  // Wine reads the data as UTF-16 whatever its type, a NUL included.
  if (!value.complete()) return false;
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
      // A link is redirected as any key is, before it is followed.
      if (redirect) {
        const int wow = tree.RedirectChild(node);
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
      if (rest.empty()) {
        // A link to HKEY_LOCAL_MACHINE itself, which has no values here.
        key->path.clear();
        key->first_section = RegistryFileKey::kNoSection;
        return kRegistrySuccess;
      }
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
    // One narrow byte per UTF-16 unit, as a single-byte code page gives; an
    // odd last byte is not a unit.
    const std::uint64_t units = value.size / 2;
    if (units > *size || units * 2 > value.kept.size()) return too_long(units);
    for (std::size_t i = 0; i < units; ++i) {
      const unsigned unit = static_cast<unsigned char>(value.kept[2 * i]) |
                            (static_cast<unsigned char>(value.kept[2 * i + 1]) << 8);
      data[i] = NarrowToCodePage1252(static_cast<char16_t>(unit));
    }
    *size = static_cast<std::uint32_t>(units);
    return kRegistrySuccess;
  }
  if (value.size > *size || !value.complete()) return too_long(value.size);
  std::memcpy(data, value.kept.data(), value.kept.size());
  *size = static_cast<std::uint32_t>(value.size);
  return kRegistrySuccess;
}
