// Types text through the engine's C interface, as a host would, and prints what it commits.
//
//   tolvani-type [--trace] [--mode phonetic|probhat|national|unijoy] [--count N] [--flags N]
//                [TEXT...]
//
// Each character of TEXT (or of each line of standard input when no TEXT is given) is sent as a
// text key, a space as a space key; a final commit ends the line. A capital or a shifted symbol of
// the US keyboard is sent with Shift, as a host sends what was typed with Shift. With --trace every
// decoded composition record is printed on standard error.
//
// Like a host it warms the engine's tables before the first key, and it writes what the session
// learned before it exits, however the typing ends (end of input, an interrupt or termination).
#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "composition_record.h"
#include "tolvani_engine.h"
#include "tolvani_record_format.h"

namespace {

struct Options {
  bool trace = false;
  uint32_t mode = 0;
  std::optional<uint32_t> count;
  std::optional<uint32_t> flags;
  std::string text;
  bool has_text = false;
};

int usage() {
  std::cerr << "usage: tolvani-type [--trace] [--mode phonetic|probhat|national|unijoy] "
               "[--count N] [--flags N] [TEXT...]\n";
  return 2;
}

std::optional<uint32_t> parse_u32(const char* s) {
  try {
    size_t used = 0;
    const unsigned long long v = std::stoull(s, &used, 0);
    if (s[used] != '\0' || v > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(v);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// Splits UTF-8 into scalars; an ill-formed byte becomes U+FFFD.
std::u32string scalars(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char b = s[i];
    const int n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    char32_t cp = n == 1 ? b : b & (0x7F >> n);
    for (int k = 1; k < n; ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += n;
  }
  return out;
}

std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void trace_state(std::string_view what, const tolvani::EngineState& s) {
  std::cerr << what << "\n  raw " << quoted(s.raw_text) << " preedit " << quoted(s.preedit)
            << " commit " << quoted(s.commit_text) << " status " << s.status_flags;
  static constexpr std::pair<uint32_t, const char*> kFlags[] = {
      {TOLVANI_STATUS_SHOW_CANDIDATES, "show"},
      {TOLVANI_STATUS_COMMITTED, "committed"},
      {TOLVANI_STATUS_CANCELLED, "cancelled"},
      {TOLVANI_STATUS_AUTOCORRECTED, "autocorrected"},
      {TOLVANI_STATUS_REREAD, "reread"}};
  for (const auto& [bit, name] : kFlags) {
    if (s.status_flags & bit) std::cerr << " " << name;
  }
  std::cerr << "\n";
  for (size_t i = 0; i < s.candidates.size(); ++i) {
    const auto& c = s.candidates[i];
    std::cerr << "  " << i + 1 << ". " << quoted(c.text) << " "
              << tolvani::candidate_kind_label(c.kind) << " " << c.score << "\n";
  }
  if (!s.predictions.empty()) {
    std::cerr << "  predictions:";
    for (const auto& p : s.predictions) std::cerr << " " << quoted(p);
    std::cerr << " (ghost " << quoted(s.ghost_text) << ")\n";
  }
  if (!s.spelling_offer.empty()) {
    std::cerr << "  offer " << quoted(s.spelling_offer) << " for " << quoted(s.spelling_offer_for)
              << "\n";
  }
}

// Takes ownership of `result`, decodes it and frees it. Nothing on a null result.
std::optional<tolvani::EngineState> take(CResult result) {
  if (result.ptr == nullptr) return std::nullopt;
  auto state = tolvani::decode_engine_state(result.ptr, result.len);
  tolvani_engine_free_result(result.ptr, result.len);
  return state;
}

class Typist {
 public:
  Typist(TolvaniEngine* engine, bool trace) : engine_(engine), trace_(trace) {}

  // Types one line and returns everything it committed.
  std::string type_line(std::string_view line) {
    std::string committed;
    for (char32_t c : scalars(line)) {
      const uint32_t kind = c == U' ' ? TOLVANI_KEY_SPACE : TOLVANI_KEY_TEXT;
      const uint32_t modifiers = typed_with_shift(c) ? TOLVANI_MODIFIER_SHIFT : 0;
      committed += send({kind, 0, modifiers, static_cast<uint32_t>(c)}, describe(c));
    }
    // The final commit inserts no space of its own.
    committed += send({TOLVANI_KEY_SPACE, 0, 0, 0}, "commit");
    return committed;
  }

  void show(std::string_view what, CResult result) {
    if (auto state = take(result); state && trace_) trace_state(what, *state);
  }

 private:
  std::string send(CKeyEvent event, const std::string& what) {
    auto state = take(tolvani_engine_handle_key_event(engine_, event));
    if (!state) {
      std::cerr << "[Tolvani] no composition record for " << what << "\n";
      return {};
    }
    if (trace_) trace_state(what, *state);
    return state->commit_text;
  }

  // The fixed layouts' shift layers hold the shifted symbols too ("|" is ৎ in Unijoy).
  static bool typed_with_shift(char32_t c) {
    return (c >= U'A' && c <= U'Z') ||
           std::u32string_view(U"~!@#$%^&*()_+{}|:\"<>?").find(c) != std::u32string_view::npos;
  }

  static std::string describe(char32_t c) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "key U+%04X", static_cast<unsigned>(c));
    return buf;
  }

  TolvaniEngine* engine_;
  bool trace_;
};

// Makes SIGINT, SIGTERM and SIGHUP end the reading of input (the blocked read fails with EINTR)
// instead of the process, so that the learning is still written.
void end_input_on_signals() {
  struct sigaction action = {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the read returns
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// Writes the session's learning now; false (with a message) when a store could not be written.
bool save_learning(TolvaniEngine* engine) {
  if (tolvani_snapshot_write(tolvani_engine_snapshot(engine))) return true;
  std::cerr << "[Tolvani] the learned words could not all be saved\n";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--trace") {
      opt.trace = true;
    } else if (arg == "--mode" && i + 1 < argc) {
      const std::string_view mode = argv[++i];
      if (mode == "phonetic") {
        opt.mode = 0;
      } else if (mode == "probhat") {
        opt.mode = 1;
      } else if (mode == "national") {
        opt.mode = 2;
      } else if (mode == "unijoy") {
        opt.mode = 3;
      } else {
        return usage();
      }
    } else if ((arg == "--count" || arg == "--flags") && i + 1 < argc) {
      const auto value = parse_u32(argv[++i]);
      if (!value) return usage();
      (arg == "--count" ? opt.count : opt.flags) = value;
    } else if (arg.starts_with("--")) {
      return usage();
    } else {
      if (opt.has_text) opt.text += ' ';
      opt.text += arg;
      opt.has_text = true;
    }
  }

  tolvani_engine_warm_caches();
  TolvaniEngine* engine = tolvani_engine_create();
  if (engine == nullptr) {
    std::cerr << "[Tolvani] cannot create an engine session\n";
    return 1;
  }
  end_input_on_signals();
  Typist typist(engine, opt.trace);
  tolvani_engine_set_mode(engine, opt.mode);
  if (opt.count || opt.flags) {
    // Hosts start from the session defaults: count 5, Bangla digits and English passthrough.
    typist.show("config",
                tolvani_engine_update_config(engine, opt.count.value_or(5),
                                             opt.flags.value_or(TOLVANI_FLAG_BANGLA_DIGITS |
                                                                TOLVANI_FLAG_ENGLISH_PASSTHROUGH)));
  }

  if (opt.has_text) {
    std::cout << typist.type_line(opt.text) << "\n";
  } else {
    std::string line;
    while (std::getline(std::cin, line)) std::cout << typist.type_line(line) << std::endl;
  }
  const bool saved = save_learning(engine);
  tolvani_engine_destroy(engine);
  return saved ? 0 : 1;
}
