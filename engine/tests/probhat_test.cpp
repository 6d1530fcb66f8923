// The fixed layouts as the user meets them: which layer a key reaches, the fallbacks, the custom
// overrides read from a real custom-layout.json, hostile files, typing through the C interface,
// and reloads racing with typing in other sessions.
#include "probhat.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <latch>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "engine_client.h"
#include "layout_test_util.h"
#include "session.h"
#include "utf8.h"

namespace tolvani::engine::probhat {
namespace {

using layout_test::code_points;
using testing::EngineClient;

constexpr uint32_t kShift = TOLVANI_MODIFIER_SHIFT;
constexpr uint32_t kOption = TOLVANI_MODIFIER_OPTION;

// "k" typed on the default layer, overridden: ক্ষ.
constexpr const char* kKsa = "\u0995\u09CD\u09B7";
const std::string kGoodOverrides =
    std::string(R"({"overrides": {"default": {"k": ")") + kKsa + R"("}}})";

// Each test gets an empty user-data folder of its own (ctest runs tests in parallel processes),
// and leaves the process with no overrides and the variable as it found it.
class ProbhatTest : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return dir_ / "custom-layout.json"; }

  void write(std::string_view bytes) const { write_to(file(), bytes); }

  // Whole-file replacement, as an editor saving the file does.
  void replace(std::string_view bytes) const {
    const std::filesystem::path tmp = dir_ / "custom-layout.json.tmp";
    write_to(tmp, bytes);
    std::filesystem::rename(tmp, file());
  }

  static void write_to(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::remove_all(path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
  }

  static void reload(EngineClient& client) {
    testing::take(tolvani_engine_reload_user_data(client.get()));
  }

  // The raw buffer after one key typed into an empty composition in `mode`.
  static std::string one_key(EngineClient& client, uint32_t mode, char32_t c, uint32_t mods) {
    client.set_mode(mode);
    const auto state = client.text(c, mods);
    return state ? state->raw_text : "<null>";
  }

  layout_test::DataFolder folder_{"probhat"};
  const std::filesystem::path& dir_ = folder_.path();
};

// ---------------------------------------------------------------------------------------------
// Lookup

TEST_F(ProbhatTest, KeysReachTheirLayerOrFallBack) {
  struct Row {
    char layout;  // 'P' probhat, 'N' national
    char32_t c;
    bool shift;
    bool alt;
    const char* expected;
  };
  const Row rows[] = {
      {'P', U'k', false, false, "\u0995"},
      {'P', U'K', true, false, "\u0996"},
      {'P', U'a', false, true, "\u098C"},
      // Option on a key the alt layer lacks: the key's plain output.
      {'P', U'b', false, true, "\u09AC"},
      {'P', U'A', true, true, "\u09E0"},
      {'P', U'4', true, true, "\u09F2"},
      {'P', U'$', true, true, "\u09F2"},
      // Shift+Option on a letter shift_alt lacks: the default layer knows no capital.
      {'P', U'B', true, true, "B"},
      {'P', U'.', false, true, "\u09BC"},
      // Shift+Option on a digit shift_alt lacks: the digit's plain output.
      {'P', U'1', true, true, "\u09E7"},
      {'P', U'!', true, true, "!"},
      {'P', U'~', true, true, "~"},
      // A lowercase letter with Shift (Caps Lock and Shift together): the plain output.
      {'P', U'k', true, false, "\u0995"},
      // A capital with Option only: no alt entry, no default entry.
      {'P', U'K', false, true, "K"},
      {'P', U'z', false, false, "\u09AF\u09BC"},
      {'P', U'\\', false, false, "\u200C"},
      {'P', U'`', false, false, "\u200D"},
      {'P', U'|', true, false, "\u0965"},
      {'P', U'"', true, false, "\""},
      {'N', U'j', false, false, "\u0995"},
      {'N', U'J', true, false, "\u0996"},
      {'N', U'g', false, false, "\u09CD"},
      {'N', U'$', true, false, "\u09F3"},
      {'N', U'4', false, true, "\u09F3"},
      {'N', U'k', false, true, "\u09A4"},
      {'N', U'~', true, false, "\u200D"},
      {'N', U'~', true, true, "\u200D"},
      {'N', U'`', false, true, "\u200C"},
      {'N', U'^', true, true, "\u09CE"},
      {'N', U')', true, true, ")"},
      {'N', U'0', true, true, "\u09E6"},
      {'N', U'W', true, false, "\u09AF\u09BC"},
      {'N', U'P', true, false, "\u09A2\u09BC"},
      {'N', U'\\', false, false, "\\"},
      // Characters in no layer are typed as they are.
      {'P', U'\u20AC', false, false, "\u20AC"},
      {'P', U'\u20AC', true, false, "\u20AC"},
      {'P', U'\u20AC', false, true, "\u20AC"},
      {'P', U'\u20AC', true, true, "\u20AC"},
      {'N', U'\u20AC', false, false, "\u20AC"},
      {'N', U'\u20AC', true, false, "\u20AC"},
      {'N', U'\u20AC', false, true, "\u20AC"},
      {'N', U'\u20AC', true, true, "\u20AC"},
      {'P', U'\U0001F600', false, false, "\U0001F600"},
      {'N', U'\u0995', true, true, "\u0995"},
      // Not Unicode scalar values: nothing to type.
      {'P', static_cast<char32_t>(0xD800), false, false, ""},
      {'N', static_cast<char32_t>(0x110000), true, true, ""},
  };
  for (const Row& row : rows) {
    const std::string out = row.layout == 'P' ? map_char(row.c, row.shift, row.alt)
                                              : map_char_national(row.c, row.shift, row.alt);
    EXPECT_EQ(out, row.expected) << row.layout << " U+" << std::hex << static_cast<uint32_t>(row.c)
                                 << " shift " << row.shift << " alt " << row.alt << ": "
                                 << code_points(out);
  }
}

// Shift+Option sends the shifted character; shift_alt entries are written under the base key.
TEST_F(ProbhatTest, ShiftOptionFindsTheBaseKeyOfTheShiftedCharacter) {
  const std::pair<char32_t, char32_t> base_keys[] = {
      {'!', '1'},
      {'@', '2'},
      {'#', '3'},
      {'$', '4'},
      {'%', '5'},
      {'^', '6'},
      {'&', '7'},
      {'*', '8'},
      {'(', '9'},
      {')', '0'},
      {'_', '-'},
      {'+', '='},
      {'{', '['},
      {'}', ']'},
      {'|', '\\'},
      {':', ';'},
      {'"', '\''},
      {'<', ','},
      {'>', '.'},
      {'?', '/'},
      {'~', '`'},
      {'A', 'a'},
      {'M', 'm'},
      {'Z', 'z'},
      {'a', 'a'},
      {'1', '1'},
      {'`', '`'},
      {' ', ' '},
      {U'\u20AC', U'\u20AC'},
      {'[', '['},
  };
  for (const auto& [c, base] : base_keys) {
    EXPECT_EQ(base_key(c), base) << "U+" << std::hex << static_cast<uint32_t>(c);
  }

  struct Row {
    char layout;
    char32_t typed;
    const char* expected;
  };
  const Row rows[] = {
      {'P', U')', "\u09F9"}, {'P', U'$', "\u09F2"}, {'P', U'&', "\u09FA"}, {'P', U'A', "\u09E0"},
      {'P', U'D', "\u09E2"}, {'P', U'S', "\u09E3"}, {'N', U'~', "\u200D"}, {'N', U'$', "\u09F2"},
      {'N', U'^', "\u09CE"}, {'N', U'Q', "\u09E3"}, {'N', U'A', "\u09E0"}, {'N', U'S', "\u098A"},
      {'N', U'D', "\u0988"}, {'N', U'F', "\u09F1"}, {'N', U'L', "\u09E1"}, {'N', U'C', "\u0990"},
      {'N', U'X', "\u0994"},
  };
  for (const Row& row : rows) {
    const std::string out = row.layout == 'P' ? map_char(row.typed, true, true)
                                              : map_char_national(row.typed, true, true);
    EXPECT_EQ(out, row.expected) << row.layout << " " << static_cast<char>(row.typed) << ": "
                                 << code_points(out);
  }
}

// ---------------------------------------------------------------------------------------------
// Documents

TEST_F(ProbhatTest, DocumentsAreReadStrictly) {
  struct Row {
    const char* what;
    std::string document;  // "$F" stands for the field: "layers" or "overrides"
    const char* error;     // a part of the error; null when the document is good
    const char* key;       // good documents: "default" entry to check, and its value
    const char* value;
  };
  const Row rows[] = {
      {"good", R"({"metadata": {"name": "x"}, "$F": {"default": {"k": "1"}}})", nullptr, "k", "1"},
      {"no layers", R"({"$F": {}})", nullptr, "k", nullptr},
      {"empty layer", R"({"$F": {"default": {}}})", nullptr, "k", nullptr},
      {"repeated key keeps the last", R"({"$F": {"default": {"k": "1", "k": "2"}}})", nullptr, "k",
       "2"},
      {"repeated layer keeps the last", R"({"$F": {"default": {"k": "1"}, "default": {"j": "2"}}})",
       nullptr, "k", nullptr},
      {"other members skipped, even repeated or of any type",
       R"({"x": 1, "x": [null], "$F": {"default": {"k": "1"}}, "y": {"z": true}})", nullptr, "k",
       "1"},
      {"any layer name", R"({"$F": {"odd": {"k": "1"}, "default": {"k": "2"}}})", nullptr, "k",
       "2"},
      {"longer keys are kept", R"({"$F": {"default": {"kk": "1", "": "2"}}})", nullptr, "kk", "1"},
      {"escapes", R"({"$F": {"default": {"\u006b": "\u0995\u09bc\ud83d\ude00"}}})", nullptr, "k",
       "\u0995\u09BC\U0001F600"},
      {"missing field", R"({"metadata": {}})", "missing field `$F`", nullptr, nullptr},
      {"field named twice", R"({"$F": {}, "$F": {}})", "duplicate field `$F`", nullptr, nullptr},
      {"not an object", R"(["$F"])", "expected a record", nullptr, nullptr},
      {"a string", R"("$F")", "expected a record", nullptr, nullptr},
      {"null", "null", "expected a record", nullptr, nullptr},
      {"field is a list", R"({"$F": []})", "expected a map", nullptr, nullptr},
      {"layer is a list", R"({"$F": {"default": ["k"]}})", "expected a map", nullptr, nullptr},
      {"layer is a string", R"({"$F": {"shift": "k"}})", "expected a map", nullptr, nullptr},
      {"output is a number", R"({"$F": {"default": {"k": "1", "j": 5}}})", "expected a string",
       nullptr, nullptr},
      {"output is null", R"({"$F": {"alt": {"k": null}}})", "expected a string", nullptr, nullptr},
      {"output is a list", R"({"$F": {"alt": {"k": ["1"]}}})", "expected a string", nullptr,
       nullptr},
      {"empty", "", "", nullptr, nullptr},
      {"truncated", R"({"$F": {"default": {"k": "1")", "", nullptr, nullptr},
      {"trailing text", R"({"$F": {}} x)", "", nullptr, nullptr},
      {"NUL and text after the value", std::string(R"({"$F": {}})") + '\0' + "x", "", nullptr,
       nullptr},
      {"NUL inside", std::string(R"({"$F": {"default": {"k": "1"},)") + '\0' + "}}", "", nullptr,
       nullptr},
      {"invalid UTF-8", "{\"$F\": {\"default\": {\"k\": \"\xFF\"}}}", "", nullptr, nullptr},
      {"encoded surrogate", "{\"$F\": {\"default\": {\"k\": \"\xED\xA0\x80\"}}}", "", nullptr,
       nullptr},
      {"lone surrogate escape", R"({"$F": {"default": {"k": "\ud800"}}})", "", nullptr, nullptr},
      {"nested too deeply",
       R"({"x": )" + std::string(200, '[') + std::string(200, ']') + R"(, "$F": {}})", "", nullptr,
       nullptr},
  };
  for (const Row& row : rows) {
    for (const std::string field : {"layers", "overrides"}) {
      std::string doc = row.document;
      for (size_t at; (at = doc.find("$F")) != std::string::npos;) doc.replace(at, 2, field);
      std::string error;
      std::optional<Layers> layers;
      if (field == "layers") {
        std::optional<Layout> layout = parse_layout(doc, error);
        if (layout) layers = std::move(layout->layers);
      } else {
        layers = parse_custom_overrides(doc, error);
      }
      if (row.error != nullptr) {
        std::string expected_error = row.error;
        if (size_t at = expected_error.find("$F"); at != std::string::npos) {
          expected_error.replace(at, 2, field);
        }
        EXPECT_FALSE(layers) << row.what << " (" << field << ")";
        EXPECT_FALSE(error.empty()) << row.what << " (" << field << ")";
        EXPECT_NE(error.find(expected_error), std::string::npos)
            << row.what << " (" << field << "): " << error;
        continue;
      }
      ASSERT_TRUE(layers) << row.what << " (" << field << "): " << error;
      const auto layer = layers->find(std::string_view("default"));
      const std::string* value = nullptr;
      if (layer != layers->end()) {
        const auto entry = layer->second.find(std::string_view(row.key));
        if (entry != layer->second.end()) value = &entry->second;
      }
      if (row.value == nullptr) {
        EXPECT_EQ(value, nullptr) << row.what << " (" << field << ")";
      } else {
        ASSERT_NE(value, nullptr) << row.what << " (" << field << ")";
        EXPECT_EQ(*value, row.value) << row.what << " (" << field << ")";
      }
    }
  }
}

TEST_F(ProbhatTest, BrokenLayoutSaysSoOnceAndTypesKeysAsThemselves) {
  struct Row {
    const char* name;
    const char* document;
    const char* line;  // expected stderr
  };
  const Row rows[] = {
      {"probhat", R"({"layers": 5})",
       "[Tolvani] failed to parse probhat layout: invalid type: integer `5`, expected a map (in "
       "`layers`)\n"},
      {"national", R"({"metadata": {}})",
       "[Tolvani] failed to parse national layout: missing field `layers`\n"},
      {"probhat", R"({"layers": {"default": {"k": "x"}}})", ""},
      {"unijoy", R"({"layers": {"default": {"k": "x"}}, "link": {"key": "gg", "then": {}}})",
       "[Tolvani] failed to parse unijoy layout: the link key `gg` is not one character\n"},
      {"unijoy", R"({"layers": {"default": {"k": "x"}}, "link": {"key": "g", "then": {"f": 1}}})",
       "[Tolvani] failed to parse unijoy layout: invalid type: integer `1`, expected a string (in "
       "`link`)\n"},
  };
  for (const Row& row : rows) {
    ::testing::internal::CaptureStderr();
    const Layout layout = layout_or_empty(row.document, row.name);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), row.line) << row.document;
    if (*row.line == '\0') continue;
    EXPECT_TRUE(layout.layers.empty()) << row.document;
    for (const auto& [c, shift, alt] :
         {std::tuple{U'k', false, false}, std::tuple{U'K', true, false},
          std::tuple{U'$', true, true}, std::tuple{U'.', false, true}}) {
      std::string expected;
      utf8::append(expected, c);
      EXPECT_EQ(map_char_with_layout(layout, c, shift, alt), expected) << row.document;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Custom overrides, end to end

TEST_F(ProbhatTest, OverridesApplyInTheChosenLayerOnly) {
  write(std::string(R"({"overrides": {)") +                     //
        R"("default": {"k": ")" + kKsa + R"(", "kk": "X"},)" +  //
        R"("shift": {"A": "\u0986"},)" +                        //
        R"("alt": {},)" +                                       //
        R"("shift_alt": {"$": "\u09F3\u09F3", "4": "\u09F2\u09F2", "5": "\u0965\u0965"},)" +
        R"("odd": {"k": "Z"}}})");
  EngineClient client;  // reads the file as it starts
  struct Row {
    uint32_t mode;
    char32_t c;
    uint32_t mods;
    const char* expected;
  };
  const Row rows[] = {
      {1, U'k', 0, kKsa},
      {2, U'k', 0, kKsa},
      {3, U'k', 0, kKsa},
      // Option falls back to the layout's own default entry, not to the override.
      {1, U'k', kOption, "\u0995"},
      {2, U'k', kOption, "\u09A4"},
      {3, U'k', kOption, "\u09A4"},
      // A capital selects the shift layer with or without the Shift bit.
      {1, U'A', 0, "\u0986"},
      {1, U'A', kShift, "\u0986"},
      {2, U'A', 0, "\u0986"},
      {3, U'A', kShift, "\u0986"},
      {1, U'K', 0, "\u0996"},
      // An empty override layer leaves the layout's layer alone.
      {1, U'a', kOption, "\u098C"},
      // shift_alt: the character typed first, then its base key.
      {1, U'$', kShift | kOption, "\u09F3\u09F3"},
      {1, U'4', kShift | kOption, "\u09F2\u09F2"},
      {2, U'%', kShift | kOption, "\u0965\u0965"},
      {2, U'^', kShift | kOption, "\u09CE"},
      {1, U'j', 0, "\u099C"},
  };
  for (const Row& row : rows) {
    const std::string raw = one_key(client, row.mode, row.c, row.mods);
    EXPECT_EQ(raw, row.expected) << "mode " << row.mode << " " << static_cast<char>(row.c)
                                 << " mods " << row.mods << ": " << code_points(raw);
  }
}

TEST_F(ProbhatTest, ReloadReplacesTheOverridesOfEverySession) {
  const std::string kta = "\u0995\u09CD\u09A4";  // ক্ত
  struct Row {
    const char* what;
    std::optional<std::string> file;  // nothing: delete it
    std::string probhat_k;
    std::string national_k;
  };
  const Row rows[] = {
      {"first file", kGoodOverrides, kKsa, kKsa},
      {"changed", R"({"overrides": {"default": {"k": ")" + kta + R"("}}})", kta, kta},
      {"no layers", R"({"overrides": {}})", "\u0995", "\u09A4"},
      {"back", kGoodOverrides, kKsa, kKsa},
      {"without overrides", R"({"metadata": {"k": "x"}})", "\u0995", "\u09A4"},
      {"back again", kGoodOverrides, kKsa, kKsa},
      {"deleted", std::nullopt, "\u0995", "\u09A4"},
      {"deleted again", std::nullopt, "\u0995", "\u09A4"},
  };
  EngineClient reloader;
  EngineClient other;  // never reloads itself
  for (const Row& row : rows) {
    if (row.file) {
      write(*row.file);
    } else {
      std::filesystem::remove(file());
    }
    reload(reloader);
    EXPECT_EQ(one_key(reloader, 1, U'k', 0), row.probhat_k) << row.what;
    EXPECT_EQ(one_key(other, 2, U'k', 0), row.national_k) << row.what;
    EXPECT_EQ(one_key(other, 1, U'k', 0), row.probhat_k) << row.what;
  }
}

TEST_F(ProbhatTest, HostileFilesMeanNoOverridesAndTypingGoesOn) {
  enum class Kind { kFile, kFolder, kFifo };
  struct Row {
    const char* what;
    std::string bytes;
    std::string k;  // what "k" types afterwards
    bool diagnostic = false;
    Kind kind = Kind::kFile;
  };
  const auto padded = [](size_t size) {
    std::string doc = kGoodOverrides;
    doc.resize(size, ' ');
    return doc;
  };
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string head = R"({"overrides": {"default": {"k": ")" + std::string(kKsa) + R"(", )";
  const std::vector<Row> rows = {
      {"wrong output type", head + R"("j": 5}}})", "\u0995"},
      {"null output", head + R"("j": null}}})", "\u0995"},
      {"layer is a list", head + R"("j": "x"}, "alt": ["k"]}})", "\u0995"},
      {"layer is a string", head + R"("j": "x"}, "alt": "k"}})", "\u0995"},
      {"overrides is a list", R"({"overrides": []})", "\u0995"},
      {"overrides is null", R"({"overrides": null})", "\u0995"},
      {"overrides named twice",
       kGoodOverrides.substr(0, kGoodOverrides.size() - 1) + R"(, "overrides": {}})", "\u0995"},
      {"a list", "[" + kGoodOverrides + "]", "\u0995"},
      {"a string", R"("overrides")", "\u0995"},
      {"a number", "42", "\u0995"},
      {"empty", "", "\u0995"},
      {"white space", " \n\t", "\u0995"},
      {"truncated", kGoodOverrides.substr(0, kGoodOverrides.size() - 2), "\u0995"},
      {"trailing text", kGoodOverrides + " x", "\u0995"},
      {"trailing NUL", kGoodOverrides + std::string(1, '\0'), "\u0995"},
      {"invalid UTF-8 in an output", head + "\"j\": \"\xFF\"}}}", "\u0995"},
      {"invalid UTF-8 outside strings", kGoodOverrides + "\xC3", "\u0995"},
      {"overlong UTF-8 in a key", head + "\"\xC1\xAB\": \"x\"}}}", "\u0995"},
      {"encoded surrogate", head + "\"j\": \"\xED\xA0\x80\"}}}", "\u0995"},
      {"lone surrogate escape", head + R"("j": "\udc00"}}})", "\u0995"},
      {"deep nesting outside overrides", R"({"x": )" + deep + ", " + kGoodOverrides.substr(1),
       "\u0995"},
      {"deep nesting in a layer", head + R"("j": )" + deep + "}}}", "\u0995"},
      {"deep objects", std::string(100000, '{'), "\u0995"},
      {"larger than the cap", padded(kMaxCustomLayoutBytes + 1), "\u0995", true},
      {"a folder", "", "\u0995", false, Kind::kFolder},
      {"a FIFO", "", "\u0995", false, Kind::kFifo},
      // Still good: the cap itself, odd members around the field, escapes.
      {"at the cap", padded(kMaxCustomLayoutBytes), kKsa},
      {"odd members",
       R"({"version": 3, "v": [1, {}], "overrides": {"default": {"k": ")" + std::string(kKsa) +
           R"("}}, "v": null})",
       kKsa},
      {"escaped", R"({"overrides":{"default":{"\u006B":"\u0995\u09cd\u09B7"}}})", kKsa},
  };

  EngineClient client;
  for (const Row& row : rows) {
    // Start from working overrides, so that a bad file is seen to remove them.
    write(kGoodOverrides);
    reload(client);
    ASSERT_EQ(one_key(client, 1, U'k', 0), kKsa) << row.what;

    std::filesystem::remove_all(file());
    switch (row.kind) {
      case Kind::kFile:
        write(row.bytes);
        break;
      case Kind::kFolder:
        std::filesystem::create_directory(file());
        break;
      case Kind::kFifo:
        ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0) << row.what;
        break;
    }
    ::testing::internal::CaptureStderr();
    reload(client);
    const std::string said = ::testing::internal::GetCapturedStderr();
    if (row.diagnostic) {
      EXPECT_TRUE(said.starts_with("[Tolvani] ")) << row.what << ": " << said;
      EXPECT_NE(said.find("custom-layout.json"), std::string::npos) << row.what << ": " << said;
      EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << row.what << ": " << said;
    } else {
      EXPECT_EQ(said, "") << row.what;
    }

    EXPECT_EQ(one_key(client, 1, U'k', 0), row.k) << row.what;
    EXPECT_EQ(one_key(client, 2, U'k', 0), row.k == kKsa ? kKsa : "\u09A4") << row.what;
    client.set_mode(1);
    const auto typed = client.type(U"vmi");
    ASSERT_TRUE(typed) << row.what;
    EXPECT_EQ(typed->raw_text, "\u0986\u09AE\u09BF") << row.what;
  }
  std::filesystem::remove_all(file());
}

// An output past the bound, as long as the file allows or one character past it, is left out: its
// key types the layout's own output, the file's other overrides still apply, and a key at the
// bound, typed until the composition is full, leaves it within one output of the cap.
TEST_F(ProbhatTest, OverlongOutputsAreLeftOutAndTheCapHolds) {
  // Combining marks of falling classes, the order that canonical reordering works hardest on.
  const auto marks = [](size_t count) {
    std::string out;
    const char32_t falling[] = {U'\u0301', U'\u0316', U'\u0327', U'\u0334'};
    for (size_t i = 0; i < count; ++i) utf8::append(out, falling[i * 4 / count]);
    return out;
  };
  const std::string at_bound = marks(kMaxOverrideScalars);
  const std::string past_bound = "\u0995" + marks(kMaxOverrideScalars);
  const std::string huge = "\u0995" + marks(200000);
  write(R"({"overrides": {"default": {"k": ")" + huge + R"(", "j": ")" + at_bound + R"(", "g": ")" +
        past_bound + R"(", "x": ")" + kKsa + R"("}, "shift": {"J": ")" + past_bound + R"("}}})");
  ASSERT_GT(std::filesystem::file_size(file()), 400000u);

  // Read as the session starts and again at a reload, each time saying so in one line.
  ::testing::internal::CaptureStderr();
  EngineClient client;
  reload(client);
  const std::string said = ::testing::internal::GetCapturedStderr();
  const std::string line =
      "[Tolvani] custom-layout.json: 3 outputs longer than 64 characters ignored; those keys type "
      "the layout's own output\n";
  EXPECT_EQ(said, line + line);

  for (uint32_t mode : {1u, 2u}) {
    EXPECT_EQ(one_key(client, mode, U'k', 0), mode == 1 ? "\u0995" : "\u09A4") << mode;
    EXPECT_EQ(one_key(client, mode, U'g', 0), mode == 1 ? "\u0997" : "\u09CD") << mode;
    EXPECT_EQ(one_key(client, mode, U'J', 0), mode == 1 ? "\u099D" : "\u0996") << mode;
    EXPECT_EQ(one_key(client, mode, U'x', 0), kKsa) << mode;
    EXPECT_EQ(one_key(client, mode, U'j', 0), at_bound) << mode;
  }

  // Typed until the buffer refuses keys: the last one accepted began below the cap.
  client.set_mode(1);
  std::optional<EngineState> state;
  size_t keys = 0;
  for (; keys < 100; ++keys) {
    const size_t before = state ? state->raw_text.size() : 0;
    state = client.text(U'j');
    ASSERT_TRUE(state) << keys;
    if (state->raw_text.size() == before) break;
  }
  const size_t full = state->raw_text.size();
  EXPECT_GE(full, kRawBufferCap);
  EXPECT_LT(full, kRawBufferCap + at_bound.size());
  EXPECT_EQ(full % at_bound.size(), 0u);
  // Further keys, the long ones too, change nothing and answer with the composition shown.
  for (char32_t c : {U'j', U'k', U'g', U'x'}) {
    const auto again = client.text(c);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->raw_text, state->raw_text);
    EXPECT_EQ(again->preedit, state->preedit);
    EXPECT_EQ(again->commit_text, "");
  }
  // The marks are shown in canonical order, and one backspace takes one key's output.
  std::string ordered;
  const size_t each = full / at_bound.size() * kMaxOverrideScalars / 4;
  for (char32_t mark : {U'\u0334', U'\u0327', U'\u0316', U'\u0301'}) {
    for (size_t i = 0; i < each; ++i) utf8::append(ordered, mark);
  }
  EXPECT_EQ(state->preedit, ordered);
  const auto erased = client.key(TOLVANI_KEY_BACKSPACE, 0);
  ASSERT_TRUE(erased);
  EXPECT_EQ(erased->raw_text.size(), full - at_bound.size());
  const auto committed = client.key(TOLVANI_KEY_SPACE, ' ');
  ASSERT_TRUE(committed);
  EXPECT_EQ(committed->raw_text, "");
  EXPECT_FALSE(committed->commit_text.empty());
}

// ---------------------------------------------------------------------------------------------
// Typing through a session

TEST_F(ProbhatTest, SessionTypesTheLayoutAndShowsItNormalised) {
  struct Key {
    char32_t c;
    uint32_t mods = 0;
  };
  struct Row {
    const char* what;
    uint32_t mode;
    std::vector<Key> keys;
    const char* raw;
    const char* preedit;
  };
  const Row rows[] = {
      {"P vmi", 1, {{'v'}, {'m'}, {'i'}}, "\u0986\u09AE\u09BF", "\u0986\u09AE\u09BF"},
      {"P e-sign + aa-sign compose",
       1,
       {{'k'}, {'['}, {'a'}},
       "\u0995\u09C7\u09BE",
       "\u0995\u09CB"},
      {"P e-sign + au length mark compose",
       1,
       {{'k'}, {'['}, {']', kOption}},
       "\u0995\u09C7\u09D7",
       "\u0995\u09CC"},
      {"P nukta letters stay decomposed",
       1,
       {{'R', kShift}, {'z'}, {'X'}},
       "\u09A1\u09BC\u09AF\u09BC\u09A2\u09BC",
       "\u09A1\u09BC\u09AF\u09BC\u09A2\u09BC"},
      {"P nukta key after a letter", 1, {{'d'}, {'.', kOption}}, "\u09A1\u09BC", "\u09A1\u09BC"},
      {"P khanda ta from hasanta and joiner",
       1,
       {{'f'}, {'/'}, {'`'}},
       "\u09A4\u09CD\u200D",
       "\u09CE"},
      {"P Caps Lock capitals", 1, {{'K'}, {'B'}}, "\u0996\u09AD", "\u0996\u09AD"},
      {"P Shift+Option",
       1,
       {{'A', kShift | kOption}, {'$', kShift | kOption}},
       "\u09E0\u09F2",
       "\u09E0\u09F2"},
      {"P Caps Lock with Option", 1, {{'A', kOption}}, "\u09E0", "\u09E0"},
      {"N jgk", 2, {{'j'}, {'g'}, {'k'}}, "\u0995\u09CD\u09A4", "\u0995\u09CD\u09A4"},
      {"N e-sign + aa-sign compose",
       2,
       {{'j'}, {'c'}, {'h'}},
       "\u0995\u09C7\u09BE",
       "\u0995\u09CB"},
      {"N Caps Lock capitals", 2, {{'J'}, {'W'}}, "\u0996\u09AF\u09BC", "\u0996\u09AF\u09BC"},
      {"N taka", 2, {{'$', kShift}, {'4', kOption}}, "\u09F3\u09F3", "\u09F3\u09F3"},
      {"N Option falls back", 2, {{'k', kOption}, {'j', kOption}}, "\u09A4\u0995", "\u09A4\u0995"},
  };
  for (const Row& row : rows) {
    EngineClient client;
    client.set_mode(row.mode);
    std::optional<EngineState> state;
    for (const Key& key : row.keys) state = client.text(key.c, key.mods);
    ASSERT_TRUE(state) << row.what;
    EXPECT_EQ(state->raw_text, row.raw) << row.what << ": " << code_points(state->raw_text);
    EXPECT_EQ(state->preedit, row.preedit) << row.what << ": " << code_points(state->preedit);
    EXPECT_EQ(state->commit_text, "") << row.what;
  }
}

TEST_F(ProbhatTest, BackspaceRemovesOneKeystrokeWithItsNukta) {
  struct Key {
    char32_t c;
    uint32_t mods = 0;
  };
  struct Row {
    const char* what;
    uint32_t mode;
    std::vector<Key> keys;
    std::vector<const char*> after_each_backspace;
  };
  const Row rows[] = {
      {"P", 1, {{'k'}, {'z'}, {'d'}, {'.', kOption}}, {"\u0995\u09AF\u09BC", "\u0995", ""}},
      {"P two nukta keys", 1, {{'k'}, {'d'}, {'.', kOption}, {'.', kOption}}, {"\u0995", ""}},
      {"P nukta first is a keystroke of its own", 1, {{'.', kOption}, {'k'}}, {"\u09BC", ""}},
      {"N", 2, {{'j'}, {'W', kShift}, {'p'}}, {"\u0995\u09AF\u09BC", "\u0995", ""}},
      {"N two-character keystroke", 2, {{'P'}, {'j'}}, {"\u09A2\u09BC", ""}},
  };
  for (const Row& row : rows) {
    EngineClient client;
    client.set_mode(row.mode);
    for (const Key& key : row.keys) client.text(key.c, key.mods);
    for (size_t i = 0; i < row.after_each_backspace.size(); ++i) {
      const auto state = client.key(TOLVANI_KEY_BACKSPACE, 0);
      ASSERT_TRUE(state) << row.what;
      EXPECT_EQ(state->raw_text, row.after_each_backspace[i])
          << row.what << " backspace " << i + 1 << ": " << code_points(state->raw_text);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Concurrency

// Sessions type while another rewrites the file and reloads. Every keystroke must see one whole
// set of overrides or the other; a torn or empty map would show as the layout's own output.
TEST_F(ProbhatTest, ConcurrentReloadWhileOtherSessionsType) {
  const std::string kta = "\u0995\u09CD\u09A4";
  const std::string files[] = {kGoodOverrides,
                               R"({"overrides": {"default": {"k": ")" + kta + R"("}}})"};
  replace(files[0]);

  constexpr int kTypists = 4;
  constexpr int kReloads = 200;
  constexpr int kMinKeys = 200;
  constexpr int kMaxKeys = 20000;
  std::latch start(kTypists + 1);
  std::atomic<bool> reloads_done{false};
  std::vector<std::string> faults(kTypists);
  std::vector<int> keys_typed(kTypists, 0);

  // ICU builds its normaliser on first use, behind synchronisation ThreadSanitizer cannot see
  // in the uninstrumented library; build it here, before the threads, so only our locks remain.
  EngineClient reloader;
  ASSERT_EQ(one_key(reloader, 1, U'k', 0), kKsa);

  std::vector<std::thread> typists;
  for (int t = 0; t < kTypists; ++t) {
    typists.emplace_back([&, t] {
      EngineClient client;
      client.set_mode(t % 2 == 0 ? 1 : 2);
      start.arrive_and_wait();
      for (int i = 0; i < kMaxKeys && (i < kMinKeys || !reloads_done.load()); ++i) {
        const auto typed = client.text(U'k');
        const std::string raw = typed ? typed->raw_text : "<null>";
        if (raw != kKsa && raw != kta && faults[t].empty()) {
          faults[t] = "key " + std::to_string(i) + " typed " + code_points(raw);
        }
        const auto erased = client.key(TOLVANI_KEY_BACKSPACE, 0);
        if ((!erased || !erased->raw_text.empty()) && faults[t].empty()) {
          faults[t] = "backspace " + std::to_string(i) + " left something";
        }
        keys_typed[t] = i + 1;
      }
    });
  }

  start.arrive_and_wait();
  for (int i = 0; i < kReloads; ++i) {
    replace(files[i % 2]);
    reload(reloader);
  }
  reloads_done.store(true);
  for (std::thread& t : typists) t.join();

  for (int t = 0; t < kTypists; ++t) {
    EXPECT_EQ(faults[t], "") << "typist " << t;
    EXPECT_GE(keys_typed[t], kMinKeys) << "typist " << t;
  }
  // The last reload read files[1].
  EXPECT_EQ(one_key(reloader, 1, U'k', 0), kta);
}

}  // namespace
}  // namespace tolvani::engine::probhat
