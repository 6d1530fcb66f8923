// The document format of custom-layout.json, apart from the file: what the fuzz harness reads.
#include <nlohmann/json.hpp>

#include "settings/CustomLayoutFile.h"

namespace tolvani::CustomLayoutFile {
namespace {

using Json = nlohmann::json;

QString fromJson(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::optional<Overrides> parse(const QByteArray& bytes) {
  if (bytes.size() > kMaxBytes) return std::nullopt;
  const Json document = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (!document.is_object()) return std::nullopt;
  const auto overrides = document.find("overrides");
  if (overrides == document.end() || !overrides->is_object()) return std::nullopt;
  Overrides result;
  for (const auto& [layer, keys] : overrides->items()) {
    if (!keys.is_object()) return std::nullopt;
    std::map<QString, QString>& target = result[fromJson(layer)];
    for (const auto& [key, output] : keys.items()) {
      if (!output.is_string()) return std::nullopt;
      target[fromJson(key)] = fromJson(output.get<std::string>());
    }
  }
  return result;
}

QByteArray encode(const Overrides& overrides) {
  Json layers = Json::object();
  for (const auto& [layer, keys] : overrides) {
    Json map = Json::object();
    for (const auto& [key, output] : keys) map[key.toStdString()] = output.toStdString();
    layers[layer.toStdString()] = std::move(map);
  }
  // nlohmann's objects keep their keys sorted; an invalid UTF-16 text is written replaced.
  const std::string text =
      Json{{"overrides", std::move(layers)}}.dump(2, ' ', false, Json::error_handler_t::replace);
  return QByteArray::fromStdString(text + "\n");
}

}  // namespace tolvani::CustomLayoutFile
