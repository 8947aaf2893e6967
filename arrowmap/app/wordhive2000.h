// The translator of the viewer's texts: a table from keys to sentences, read from the
// language file beside the program. A key it does not know is its own translation.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "platform/forms/forms.h"

namespace arrowmap {

// A language file holds text records "[" key "]=" value "|$$", with anything between
// records ignored. It is read within these bounds, so a hostile file costs little.
inline constexpr std::size_t kMaxLanguageFileBytes = 1 << 20;
inline constexpr std::size_t kMaxKeyBytes = 256;
inline constexpr std::size_t kMaxValueBytes = 16 << 10;
inline constexpr std::size_t kMaxRecords = 4096;

class TWordhive2000 {
 public:
  // The text for `key`; the key itself when no translation is known.
  std::string Translate(const std::string& key) const;
  // Translates the caption of every control owned by `root` that carries the marker "WH_",
  // and the list items with that marker.
  void TranslateComponents(forms::TComponent& root) const;

  // Adds the records of a language file's text. A record whose key is empty or too long,
  // or whose value is too long, is skipped; an unfinished record at the end is dropped;
  // of a key given twice the first value counts. Carriage returns before line feeds go.
  void LoadFromText(std::string_view text);
  // Reads the file at `path` (its first kMaxLanguageFileBytes); false when it cannot be
  // read, leaving the table as it was.
  bool LoadFromFile(const std::string& path);
  // The language file of the running program: beside it, named after it, ".itl".
  static std::string LanguageFilePath();

  std::size_t Count() const { return table_.size(); }
  bool Knows(const std::string& key) const { return table_.contains(key); }

 private:
  std::map<std::string, std::string, std::less<>> table_;
};

}  // namespace arrowmap
