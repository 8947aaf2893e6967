#include "arrowmap/app/wordhive2000.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/paths.h"

namespace arrowmap {
namespace {

constexpr std::string_view kKeyOpen = "[";
constexpr std::string_view kKeyClose = "]=";
constexpr std::string_view kRecordEnd = "|$$";

constexpr std::string_view kCaptionMarker = "WH_";

std::string withoutCarriageReturns(std::string_view value) {
  std::string text;
  text.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') continue;
    text += value[i];
  }
  return text;
}

}  // namespace

std::string TWordhive2000::Translate(const std::string& key) const {
  const auto found = table_.find(key);
  return found == table_.end() ? key : found->second;
}

void TWordhive2000::TranslateComponents(forms::TComponent& root) const {
  for (int i = 0; i < root.ComponentCount(); ++i) {
    forms::TComponent* component = root.Components(i);
    auto* control = dynamic_cast<forms::TControl*>(component);
    if (control != nullptr && control->Caption().starts_with(kCaptionMarker)) {
      control->SetCaption(Translate(control->Caption()));
    }
    if (auto* list = dynamic_cast<forms::TComboBox*>(component)) {
      std::vector<std::string> items = list->Items;
      for (std::string& item : items) {
        if (item.starts_with(kCaptionMarker)) item = Translate(item);
      }
      if (items != list->Items) list->SetItems(std::move(items));
    }
  }
}

void TWordhive2000::LoadFromText(std::string_view text) {
  std::size_t records = 0;
  for (;;) {
    const std::size_t open = text.find(kKeyOpen);
    if (open == std::string_view::npos) return;
    text.remove_prefix(open + kKeyOpen.size());
    const std::size_t close = text.find(kKeyClose);
    if (close == std::string_view::npos) return;
    const std::string_view key = text.substr(0, close);
    const std::size_t end = text.find(kRecordEnd, close + kKeyClose.size());
    if (end == std::string_view::npos) return;  // unfinished: the file was cut
    const std::string_view value =
        text.substr(close + kKeyClose.size(), end - close - kKeyClose.size());
    text.remove_prefix(end + kRecordEnd.size());
    if (key.empty() || key.size() > kMaxKeyBytes || value.size() > kMaxValueBytes) continue;
    if (++records > kMaxRecords) return;
    table_.try_emplace(std::string(key), withoutCarriageReturns(value));
  }
}

bool TWordhive2000::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string text(kMaxLanguageFileBytes, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return false;
  text.resize(static_cast<std::size_t>(in.gcount()));
  LoadFromText(text);
  return true;
}

std::string TWordhive2000::LanguageFilePath() {
  return (std::filesystem::path(platform::programDirectory()) / (platform::programName() + ".itl"))
      .string();
}

}  // namespace arrowmap
