// The Unijoy layout through the C interface, as a host types it: every key on each of its four
// levels, the link key `g` with every key that may follow it, and the layout's worked examples.
// The tables are typed here by code point, apart from the layout document the engine carries.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine_client.h"
#include "layout_test_util.h"
#include "probhat.h"
#include "utf8.h"

namespace tolvani::engine {
namespace {

using layout_test::code_points;
using testing::EngineClient;

constexpr uint32_t kUnijoy = 3;

// In key sequences: the next key with AltGr, Backspace, Enter, Tab. A capital or a shifted US
// symbol is that key with Shift, as the front end sends it.
constexpr char32_t kAltGr = U'⇮';
constexpr char32_t kBackspace = U'⌫';
constexpr char32_t kEnter = U'↵';
constexpr char32_t kTab = U'⇥';

bool shifted(char32_t c) {
  return (c >= U'A' && c <= U'Z') ||
         std::u32string_view(U"~!@#$%^&*()_+{}|:\"<>?").find(c) != std::u32string_view::npos;
}

struct Row {
  std::u32string_view keys;
  const char* text;  // committed by the keys and a Space, the Space left out
};

// Each key with each of its assignments, and the 24 key-and-Shift combinations that type their US
// character. Shift+AltGr keys are written with their shifted character, as the front end sends it.
const Row kKeys[] = {
    // Unshifted.
    {U"`", "\u200C"},
    {U"1", "\u09E7"},
    {U"2", "\u09E8"},
    {U"3", "\u09E9"},
    {U"4", "\u09EA"},
    {U"5", "\u09EB"},
    {U"6", "\u09EC"},
    {U"7", "\u09ED"},
    {U"8", "\u09EE"},
    {U"9", "\u09EF"},
    {U"0", "\u09E6"},
    {U"q", "\u0999"},
    {U"w", "\u09AF"},
    {U"e", "\u09A1"},
    {U"r", "\u09AA"},
    {U"t", "\u099F"},
    {U"y", "\u099A"},
    {U"u", "\u099C"},
    {U"i", "\u09B9"},
    {U"o", "\u0997"},
    {U"p", "\u09A1\u09BC"},
    {U"\\", "\u0983"},
    {U"a", "\u09C3"},
    {U"s", "\u09C1"},
    {U"d", "\u09BF"},
    {U"f", "\u09BE"},
    {U"g", "\u09CD"},
    {U"h", "\u09AC"},
    {U"j", "\u0995"},
    {U"k", "\u09A4"},
    {U"l", "\u09A6"},
    {U"z", "\u09CD\u09B0"},
    {U"x", "\u09CB"},
    {U"c", "\u09C7"},
    {U"v", "\u09B0"},
    {U"b", "\u09A8"},
    {U"n", "\u09B8"},
    {U"m", "\u09AE"},
    // With Shift.
    {U"~", "\u200D"},
    {U"$", "\u09F3"},
    {U"^", "\u00F7"},
    {U"&", "\u0981"},
    {U"*", "\u00D7"},
    {U"Q", "\u0982"},
    {U"W", "\u09AF\u09BC"},
    {U"E", "\u09A2"},
    {U"R", "\u09AB"},
    {U"T", "\u09A0"},
    {U"Y", "\u099B"},
    {U"U", "\u099D"},
    {U"I", "\u099E"},
    {U"O", "\u0998"},
    {U"P", "\u09A2\u09BC"},
    {U"|", "\u09CE"},
    {U"A", "\u09B0\u09CD"},
    {U"S", "\u09C2"},
    {U"D", "\u09C0"},
    {U"F", "\u0985"},
    {U"G", "\u0964"},
    {U"H", "\u09AD"},
    {U"J", "\u0996"},
    {U"K", "\u09A5"},
    {U"L", "\u09A7"},
    {U"Z", "\u09CD\u09AF"},
    {U"X", "\u09CC"},
    {U"C", "\u09C8"},
    {U"V", "\u09B2"},
    {U"B", "\u09A3"},
    {U"N", "\u09B7"},
    {U"M", "\u09B6"},
    // AltGr.
    {U"⇮=", "\u2260"},
    {U"⇮e", "\u0988"},
    {U"⇮u", "\u098A"},
    {U"⇮i", "\u0990"},
    {U"⇮o", "\u0994"},
    {U"⇮a", "\u098B"},
    {U"⇮s", "\u0989"},
    {U"⇮d", "\u0987"},
    {U"⇮f", "\u0986"},
    {U"⇮g", "\u09CD"},
    {U"⇮h", "\u09F0"},
    {U"⇮x", "\u0993"},
    {U"⇮c", "\u098F"},
    {U"⇮v", "\u09F1"},
    {U"⇮.", "\u09BC"},
    // Shift+AltGr.
    {U"⇮!", "\u09F4"},
    {U"⇮@", "\u09F5"},
    {U"⇮#", "\u09F6"},
    {U"⇮$", "\u09F7"},
    {U"⇮%", "\u09F2"},
    {U"⇮&", "\u09FA"},
    {U"⇮)", "\u09F8"},
    {U"⇮_", "\u09F9"},
    {U"⇮Q", "\u098C"},
    {U"⇮W", "\u09E1"},
    {U"⇮I", "\u09BD"},
    {U"⇮Z", "\u09E2"},
    {U"⇮X", "\u09D7"},
    {U"⇮C", "\u09E0"},
    {U"⇮V", "\u09E3"},
    {U"⇮B", "\u09C4"},
    {U"⇮<", "\u2264"},
    {U"⇮>", "\u2265"},
    // No assignment: the US character.
    {U"-", "-"},
    {U"=", "="},
    {U"[", "["},
    {U"]", "]"},
    {U";", ";"},
    {U"'", "'"},
    {U",", ","},
    {U".", "."},
    {U"/", "/"},
    {U"!", "!"},
    {U"@", "@"},
    {U"#", "#"},
    {U"%", "%"},
    {U"(", "("},
    {U")", ")"},
    {U"_", "_"},
    {U"+", "+"},
    {U"{", "{"},
    {U"}", "}"},
    {U":", ":"},
    {U"\"", "\""},
    {U"<", "<"},
    {U">", ">"},
    {U"?", "?"},
};

// The link key with what may follow it, and the worked examples.
const Row kSequences[] = {
    // The link key and a vowel-sign key: the independent vowel, no virama.
    {U"gf", "\u0986"},
    {U"gd", "\u0987"},
    {U"gD", "\u0988"},
    {U"gs", "\u0989"},
    {U"gS", "\u098A"},
    {U"ga", "\u098B"},
    {U"gc", "\u098F"},
    {U"gC", "\u0990"},
    {U"gx", "\u0993"},
    {U"gX", "\u0994"},
    {U"gG", "\u0965"},
    {U"jgf", "\u0995\u0986"},
    // Any other key keeps the virama and does what it does alone.
    {U"jgN", "\u0995\u09CD\u09B7"},
    {U"gg", "\u09CD\u09CD"},
    {U"ggf", "\u09CD\u0986"},
    {U"g1", "\u09CD\u09E7"},
    {U"gA", "\u09CD\u09B0\u09CD"},
    {U"gz", "\u09CD\u09CD\u09B0"},
    {U"gZ", "\u09CD\u09CD\u09AF"},
    {U"g⇮f", "\u09CD\u0986"},
    {U"g⇮.", "\u09BC\u09CD"},
    {U"g[", "\u09CD["},
    {U"g", "\u09CD"},
    {U"g↵", "\u09CD\n"},
    {U"g⇥", "\u09CD"},
    {U"jg↵", "\u0995\u09CD\n"},
    {U"jg⇥", "\u0995\u09CD"},
    {U"g⌫", ""},
    {U"jg⌫", "\u0995"},
    {U"g⌫f", "\u09BE"},
    {U"jgs⌫f", "\u0995\u09BE"},
    {U"jg`", "\u0995\u09CD\u200C"},
    {U"kg~", "\u09A4\u09CD\u200D"},
    // Only the link key holds, and only for the next key.
    {U"⇮gf", "\u09CD\u09BE"},
    {U"Af", "\u09B0\u09CD\u09BE"},
    {U"zf", "\u09CD\u09B0\u09BE"},
    {U"Zf", "\u09CD\u09AF\u09BE"},
    {U"g1f", "\u09CD\u09E7\u09BE"},
    // After a colon that began an emoji shortcode and was given up.
    {U":gf", ":\u0986"},
    // The worked examples.
    {U"jd", "\u0995\u09BF"},
    {U"jcmb", "\u0995\u09C7\u09AE\u09A8"},
    {U"hxb", "\u09AC\u09CB\u09A8"},
    {U"gfmd", "\u0986\u09AE\u09BF"},
    {U"gs|nh", "\u0989\u09CE\u09B8\u09AC"},
    {U"hfQVf", "\u09AC\u09BE\u0982\u09B2\u09BE"},
    {U"jgNmf", "\u0995\u09CD\u09B7\u09AE\u09BE"},
    {U"jAm", "\u0995\u09B0\u09CD\u09AE"},
    {U"hZhifv", "\u09AC\u09CD\u09AF\u09AC\u09B9\u09BE\u09B0"},
    {U"rzKm", "\u09AA\u09CD\u09B0\u09A5\u09AE"},
    {U"nbgLZf", "\u09B8\u09A8\u09CD\u09A7\u09CD\u09AF\u09BE"},
    {U"yf&l", "\u099A\u09BE\u0981\u09A6"},
    {U"ls\\J", "\u09A6\u09C1\u0983\u0996"},
    {U"hp", "\u09AC\u09A1\u09BC"},
    {U"v~Zfh", "\u09B0\u200D\u09CD\u09AF\u09BE\u09AC"},
};

class UnijoyTest : public ::testing::Test {
 protected:
  // Types `keys` and a Space into a fresh Unijoy session; returns all it committed.
  static std::string type(std::u32string_view keys) {
    EngineClient client;
    client.set_mode(kUnijoy);
    std::string committed;
    uint32_t altgr = 0;
    const auto take = [&](const std::optional<EngineState>& state) {
      if (state) committed += state->commit_text;
    };
    for (char32_t c : keys) {
      if (c == kAltGr) {
        altgr = TOLVANI_MODIFIER_OPTION;
        continue;
      }
      if (c == kBackspace) {
        take(client.key(TOLVANI_KEY_BACKSPACE, 0));
      } else if (c == kEnter) {
        take(client.key(TOLVANI_KEY_ENTER, '\n'));
      } else if (c == kTab) {
        take(client.key(TOLVANI_KEY_TAB, '\t'));
      } else {
        take(client.text(c, altgr | (shifted(c) ? TOLVANI_MODIFIER_SHIFT : 0)));
      }
      altgr = 0;
    }
    take(client.key(TOLVANI_KEY_SPACE, ' '));
    return committed;
  }

  static std::string keys_of(std::u32string_view keys) {
    std::string out;
    for (char32_t c : keys) utf8::append(out, c);
    return out;
  }

  layout_test::DataFolder folder_{"unijoy"};
  const std::filesystem::path& dir_ = folder_.path();
};

TEST_F(UnijoyTest, EveryKeyAndSequenceTypesItsText) {
  for (const auto& table : {std::span<const Row>(kKeys), std::span<const Row>(kSequences)}) {
    for (const Row& row : table) {
      const std::string expected = std::string(row.text) + " ";
      const std::string got = type(row.keys);
      EXPECT_EQ(got, expected) << "keys " << keys_of(row.keys) << ": " << code_points(got)
                               << "instead of " << code_points(expected);
    }
  }
}

// The held virama is shown, not committed, until the next key decides; a custom key that changes
// the link key's output makes it an ordinary key.
TEST_F(UnijoyTest, TheLinkKeyIsHeldInTheCompositionAndCustomKeysReplaceIt) {
  {
    EngineClient client;
    client.set_mode(kUnijoy);
    client.text(U'j');
    const auto held = client.text(U'g');
    ASSERT_TRUE(held);
    EXPECT_EQ(held->preedit, "\u0995\u09CD");
    EXPECT_EQ(held->commit_text, "");
    const auto vowel = client.text(U'f');
    ASSERT_TRUE(vowel);
    EXPECT_EQ(vowel->preedit, "\u0995\u0986");
  }

  std::ofstream(dir_ / "custom-layout.json")
      << R"({"overrides": {"default": {"g": "\u09CD\u09B7", "j": "\u0996"}}})";
  EngineClient reader;  // reads the file as it starts
  EXPECT_EQ(type(U"gf"), "\u09CD\u09B7\u09BE ");
  EXPECT_EQ(type(U"jd"), "\u0996\u09BF ");
}

}  // namespace
}  // namespace tolvani::engine
