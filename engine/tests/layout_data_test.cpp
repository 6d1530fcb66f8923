// Checks the embedded probhat and national documents (and the shape of unijoy's) against key tables
// typed here by code point, so a wrong character, a lost or misplaced key, or an entry in the wrong
// layer fails by name.
#include "json_reader.h"
#include "layout_test_util.h"
#include "probhat.h"
#include "utf8.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace tolvani::engine::probhat {
namespace {

using layout_test::code_points;

struct Entry {
  const char* key;
  const char* output;
};

// Document order throughout.
const Entry kProbhatDefault[] = {
    {" ", " "},      {"'", "'"},      {",", ","},      {"-", "-"},
    {".", "\u0964"}, {"/", "\u09CD"}, {"0", "\u09E6"}, {"1", "\u09E7"},
    {"2", "\u09E8"}, {"3", "\u09E9"}, {"4", "\u09EA"}, {"5", "\u09EB"},
    {"6", "\u09EC"}, {"7", "\u09ED"}, {"8", "\u09EE"}, {"9", "\u09EF"},
    {";", ";"},      {"=", "="},      {"[", "\u09C7"}, {"\\", "\u200C"},
    {"]", "\u09CB"}, {"`", "\u200D"}, {"a", "\u09BE"}, {"b", "\u09AC"},
    {"c", "\u099A"}, {"d", "\u09A1"}, {"e", "\u09C0"}, {"f", "\u09A4"},
    {"g", "\u0997"}, {"h", "\u09B9"}, {"i", "\u09BF"}, {"j", "\u099C"},
    {"k", "\u0995"}, {"l", "\u09B2"}, {"m", "\u09AE"}, {"n", "\u09A8"},
    {"o", "\u0993"}, {"p", "\u09AA"}, {"q", "\u09A6"}, {"r", "\u09B0"},
    {"s", "\u09B8"}, {"t", "\u099F"}, {"u", "\u09C1"}, {"v", "\u0986"},
    {"w", "\u09C2"}, {"x", "\u09B6"}, {"y", "\u098F"}, {"z", "\u09AF\u09BC"},
};

const Entry kProbhatShift[] = {
    {" ", " "},      {"!", "!"},
    {"\"", "\""},    {"#", "#"},
    {"$", "\u09F3"}, {"%", "%"},
    {"&", "\u099E"}, {"(", "("},
    {")", ")"},      {"*", "\u09CE"},
    {"+", "+"},      {":", ":"},
    {"<", "\u09C3"}, {">", "\u0981"},
    {"?", "?"},      {"@", "@"},
    {"A", "\u0985"}, {"B", "\u09AD"},
    {"C", "\u099B"}, {"D", "\u09A2"},
    {"E", "\u0988"}, {"F", "\u09A5"},
    {"G", "\u0998"}, {"H", "\u0983"},
    {"I", "\u0987"}, {"J", "\u099D"},
    {"K", "\u0996"}, {"L", "\u0982"},
    {"M", "\u0999"}, {"N", "\u09A3"},
    {"O", "\u0994"}, {"P", "\u09AB"},
    {"Q", "\u09A7"}, {"R", "\u09A1\u09BC"},
    {"S", "\u09B7"}, {"T", "\u09A0"},
    {"U", "\u0989"}, {"V", "\u098B"},
    {"W", "\u098A"}, {"X", "\u09A2\u09BC"},
    {"Y", "\u0990"}, {"Z", "\u09AF"},
    {"^", "^"},      {"_", "_"},
    {"{", "\u09C8"}, {"|", "\u0965"},
    {"}", "\u09CC"}, {"~", "~"},
};

const Entry kProbhatAlt[] = {
    {"0", "\u09F8"}, {"1", "\u09F4"}, {"2", "\u09F5"}, {"3", "\u09F6"},
    {"4", "\u09F7"}, {"a", "\u098C"}, {"d", "\u09C4"}, {"h", "\u09BD"},
    {"s", "\u09E1"}, {".", "\u09BC"}, {"]", "\u09D7"},
};

const Entry kProbhatShiftAlt[] = {
    {"0", "\u09F9"}, {"4", "\u09F2"}, {"7", "\u09FA"},
    {"a", "\u09E0"}, {"d", "\u09E2"}, {"s", "\u09E3"},
};

const Entry kNationalDefault[] = {
    {" ", " "},      {"`", "\u200C"}, {"1", "\u09E7"}, {"2", "\u09E8"},
    {"3", "\u09E9"}, {"4", "\u09EA"}, {"5", "\u09EB"}, {"6", "\u09EC"},
    {"7", "\u09ED"}, {"8", "\u09EE"}, {"9", "\u09EF"}, {"0", "\u09E6"},
    {"-", "-"},      {"=", "="},      {"q", "\u0999"}, {"w", "\u09AF"},
    {"e", "\u09A1"}, {"r", "\u09AA"}, {"t", "\u099F"}, {"y", "\u099A"},
    {"u", "\u099C"}, {"i", "\u09B9"}, {"o", "\u0997"}, {"p", "\u09A1\u09BC"},
    {"[", "["},      {"]", "]"},      {"\\", "\\"},    {"a", "\u09C3"},
    {"s", "\u09C1"}, {"d", "\u09BF"}, {"f", "\u09AC"}, {"g", "\u09CD"},
    {"h", "\u09BE"}, {"j", "\u0995"}, {"k", "\u09A4"}, {"l", "\u09A6"},
    {";", ";"},      {"'", "'"},      {"z", "\u0981"}, {"x", "\u09CB"},
    {"c", "\u09C7"}, {"v", "\u09B0"}, {"b", "\u09A8"}, {"n", "\u09B8"},
    {"m", "\u09AE"}, {",", ","},      {".", "."},      {"/", "/"},
};

const Entry kNationalShift[] = {
    {" ", " "},      {"~", "\u200D"}, {"!", "!"},      {"@", "@"},
    {"#", "#"},      {"$", "\u09F3"}, {"%", "%"},      {"^", "^"},
    {"&", "&"},      {"*", "*"},      {"(", "("},      {")", ")"},
    {"_", "_"},      {"+", "+"},      {"Q", "\u0982"}, {"W", "\u09AF\u09BC"},
    {"E", "\u09A2"}, {"R", "\u09AB"}, {"T", "\u09A0"}, {"Y", "\u099B"},
    {"U", "\u099D"}, {"I", "\u099E"}, {"O", "\u0998"}, {"P", "\u09A2\u09BC"},
    {"{", "{"},      {"}", "}"},      {"|", "|"},      {"A", "\u09D7"},
    {"S", "\u09C2"}, {"D", "\u09C0"}, {"F", "\u09AD"}, {"G", "\u0964"},
    {"H", "\u0985"}, {"J", "\u0996"}, {"K", "\u09A5"}, {"L", "\u09A7"},
    {":", ":"},      {"\"", "\""},    {"Z", "\u0983"}, {"X", "\u09CC"},
    {"C", "\u09C8"}, {"V", "\u09B2"}, {"B", "\u09A3"}, {"N", "\u09B7"},
    {"M", "\u09B6"}, {"<", "<"},      {">", ">"},      {"?", "?"},
};

const Entry kNationalAlt[] = {
    {"`", "\u200C"}, {"1", "\u09F4"}, {"2", "\u09F5"}, {"3", "\u09F6"}, {"4", "\u09F3"},
    {"5", "\u09F7"}, {"6", "\u09F8"}, {"0", "\u09F9"}, {"q", "\u09E2"}, {"e", "\u09C4"},
    {"a", "\u098B"}, {"s", "\u0989"}, {"d", "\u0987"}, {"f", "\u09F0"}, {"g", "\u0965"},
    {"h", "\u0986"}, {"i", "\u09BD"}, {"l", "\u098C"}, {"z", "\u09FA"}, {"x", "\u0993"},
    {"c", "\u098F"},
};

const Entry kNationalShiftAlt[] = {
    {"`", "\u200D"}, {"4", "\u09F2"}, {"6", "\u09CE"}, {"q", "\u09E3"},
    {"a", "\u09E0"}, {"s", "\u098A"}, {"d", "\u0988"}, {"f", "\u09F1"},
    {"l", "\u09E1"}, {"c", "\u0990"}, {"x", "\u0994"},
};

struct LayerTable {
  const char* layout;
  std::string_view (*document)();
  const Layout& (*built)();
  const char* layer;
  size_t count;  // entries the layer must hold
  std::span<const Entry> entries;
  bool shift;
  bool alt;
};

const LayerTable kLayers[] = {
    {"probhat", probhat_document, probhat_layout, "default", 48, kProbhatDefault, false, false},
    {"probhat", probhat_document, probhat_layout, "shift", 48, kProbhatShift, true, false},
    {"probhat", probhat_document, probhat_layout, "alt", 11, kProbhatAlt, false, true},
    {"probhat", probhat_document, probhat_layout, "shift_alt", 6, kProbhatShiftAlt, true, true},
    {"national", national_document, national_layout, "default", 48, kNationalDefault, false, false},
    {"national", national_document, national_layout, "shift", 48, kNationalShift, true, false},
    {"national", national_document, national_layout, "alt", 21, kNationalAlt, false, true},
    {"national", national_document, national_layout, "shift_alt", 11, kNationalShiftAlt, true,
     true},
};

const json::Value* member(const json::Value& object, std::string_view name) {
  const json::Value* found = nullptr;
  for (const auto& [key, value] : object.members) {
    if (key == name) found = &value;
  }
  return found;
}

TEST(LayoutDataTest, EveryLayerHoldsExactlyItsTableInDocumentOrder) {
  for (const LayerTable& t : kLayers) {
    SCOPED_TRACE(std::string(t.layout) + " " + t.layer);
    ASSERT_EQ(t.entries.size(), t.count) << "table typed here";
    json::Value root;
    std::string error;
    ASSERT_TRUE(json::parse(t.document(), root, error)) << error;
    const json::Value* layers = member(root, "layers");
    ASSERT_NE(layers, nullptr);
    const json::Value* layer = member(*layers, t.layer);
    ASSERT_NE(layer, nullptr);
    ASSERT_EQ(layer->members.size(), t.count);
    for (size_t i = 0; i < t.count; ++i) {
      const auto& [key, value] = layer->members[i];
      EXPECT_EQ(key, t.entries[i].key) << "entry " << i;
      ASSERT_EQ(value.kind, json::Value::Kind::kString) << "entry " << i;
      EXPECT_EQ(value.string, t.entries[i].output)
          << "entry " << i << " key " << t.entries[i].key << ": " << code_points(value.string)
          << "instead of " << code_points(t.entries[i].output);
    }
    // What the engine built: the same entries, none lost to a repeated key.
    const Layout& built = t.built();
    ASSERT_EQ(built.layers.count(t.layer), 1u);
    const Layer& map = built.layers.at(t.layer);
    EXPECT_EQ(map.size(), t.count);
    for (const Entry& e : t.entries) {
      const auto it = map.find(std::string_view(e.key));
      ASSERT_NE(it, map.end()) << "key " << e.key;
      EXPECT_EQ(it->second, e.output) << "key " << e.key;
    }
  }
}

TEST(LayoutDataTest, DocumentsHoldFourLayersAndTheirNames) {
  struct Row {
    std::string_view (*document)();
    const char* name;
    uint64_t version;
  };
  for (const Row& row :
       {Row{probhat_document, "Probhat", 1}, Row{national_document, "National (Jatiya)", 2},
        Row{unijoy_document, "Unijoy", 1}}) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(utf8::is_valid(row.document()));
    json::Value root;
    std::string error;
    ASSERT_TRUE(json::parse(row.document(), root, error)) << error;
    json::Record top(root, {"metadata", "layers"});
    ASSERT_TRUE(top.ok()) << top.error();
    json::Record metadata(*top.get("metadata"), {"name", "version", "source"});
    std::string name;
    std::string source;
    EXPECT_TRUE(metadata.string("name", name) && metadata.string("source", source))
        << metadata.error();
    EXPECT_EQ(name, row.name);
    EXPECT_FALSE(source.empty());
    const json::Value* version = metadata.get("version");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->kind, json::Value::Kind::kUint);
    EXPECT_EQ(version->uint_value, row.version);
    ASSERT_EQ(top.get("layers")->members.size(), 4u);
    const char* names[] = {"default", "shift", "alt", "shift_alt"};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(top.get("layers")->members[i].key, names[i]);
  }
}

// Every entry through the lookup, with the flags that choose its layer and no overrides. The
// shift_alt keys are the base keys, which are also what the lookup uses for them.
TEST(LayoutDataTest, EveryEntryIsWhatItsKeyTypes) {
  // The process-wide overrides read from an empty folder, so none apply.
  const layout_test::DataFolder folder("layout-data");
  for (const LayerTable& t : kLayers) {
    for (const Entry& e : t.entries) {
      size_t pos = 0;
      const char32_t c = utf8::decode_next(e.key, pos);
      const std::string out = std::string_view(t.layout) == "probhat"
                                  ? map_char(c, t.shift, t.alt)
                                  : map_char_national(c, t.shift, t.alt);
      EXPECT_EQ(out, e.output) << t.layout << " " << t.layer << " key " << e.key << ": "
                               << code_points(out);
    }
  }
}

}  // namespace
}  // namespace tolvani::engine::probhat
