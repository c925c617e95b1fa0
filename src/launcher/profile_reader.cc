#include "launcher/profile_reader.h"

#include <optional>
#include <vector>

namespace tvl {


namespace {

// The blanks of the system reader: ASCII white space and ^Z (a DOS end of
// file). The separators 0x1C-0x1F and no-break space are not blanks.
bool isBlank(unsigned char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x1A; }

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && isBlank(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && isBlank(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

struct Key {
  std::string name;
  std::optional<std::string> value;
};

struct Section {
  std::string name;  // empty for the keys before the first header
  std::vector<Key> keys;
};

std::vector<Section> parse(const std::string& text) {
  std::vector<Section> sections(1);
  size_t pos = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  bool havePrevKey = false;
  while (pos < text.size()) {
    size_t nl = text.find_first_of("\r\n", pos);
    size_t lineEnd = (nl == std::string::npos) ? text.size() : nl;
    size_t next = (nl == std::string::npos) ? text.size() : nl + 1;
    size_t b = pos, e = lineEnd;
    pos = next;
    while (b < e && isBlank(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && isBlank(static_cast<unsigned char>(text[e - 1]))) --e;
    if (b >= e) continue;

    if (text[b] == '[') {
      size_t close = text.rfind(']', e - 1);
      if (close != std::string::npos && close > b) {
        sections.push_back(Section{trimmed(text.substr(b + 1, close - b - 1)), {}});
        havePrevKey = false;
        continue;
      }
      // No closing bracket: the line is read as a key.
    }

    size_t nameEnd = e;
    std::optional<std::string> value;
    size_t eq = text.find('=', b);
    if (eq != std::string::npos && eq < e) {
      nameEnd = eq;
      while (nameEnd > b && isBlank(static_cast<unsigned char>(text[nameEnd - 1]))) --nameEnd;
      size_t v = eq + 1;
      while (v < e && isBlank(static_cast<unsigned char>(text[v]))) ++v;
      value = text.substr(v, e - v);
    }
    std::string name = text.substr(b, nameEnd - b);
    std::vector<Key>& keys = sections.back().keys;
    // A run of nameless keys is kept as one.
    if (!name.empty() || !havePrevKey || !keys.back().name.empty()) {
      keys.push_back(Key{name, value});
      havePrevKey = true;
    }
  }
  return sections;
}

const Key* find(const std::vector<Section>& sections, const std::string& section, const std::string& key) {
  std::string s = trimmed(section), k = trimmed(key);
  for (const Section& sec : sections) {
    if (sec.name.empty() || !equalNoCase(sec.name, s)) continue;
    for (const Key& entry : sec.keys)
      if (equalNoCase(entry.name, k)) return &entry;
    return nullptr;  // later sections of the same name are not searched
  }
  return nullptr;
}

// Copies value into a buffer of bufferSize characters, dropping a pair of
// enclosing quotes the way the system reader does (including its quirk of
// keeping the closing quote when the value does not fit).
std::string copyEntry(const std::string& value, size_t bufferSize) {
  if (bufferSize == 0) return std::string();
  size_t start = 0;
  bool quoted = false;
  if (value.size() >= 2 && (value[0] == '\'' || value[0] == '"') && value.back() == value[0]) {
    quoted = true;
    start = 1;
  }
  size_t rest = value.size() - start;
  std::string out = value.substr(start, std::min(rest, bufferSize - 1));
  if (quoted && bufferSize >= rest && !out.empty()) out.pop_back();
  return out;
}

std::string stripTrailingSpaces(const std::string& s) {
  size_t e = s.size();
  while (e > 0 && s[e - 1] == ' ') --e;
  return s.substr(0, e);
}

}  // namespace

std::string profileGetString(const std::string* fileText, const std::string& section, const std::string& key,
                             const std::string& defaultValue, size_t bufferSize) {
  // A missing file reads like an empty one.
  static const std::string kNoText;
  std::string def = stripTrailingSpaces(defaultValue);
  std::vector<Section> sections = parse(fileText ? *fileText : kNoText);
  const Key* k = find(sections, section, key);
  return copyEntry((k && k->value) ? *k->value : def, bufferSize);
}

}  // namespace tvl
