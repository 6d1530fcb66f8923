// A scripted typing engine behind the engine seam, for the input controller's tests: by default
// each Latin letter composes one Bangla consonant, the candidates are the preedit and the preedit
// with a vowel sign, Space commits with a space, Return and Tab commit without one, Escape
// cancels and Delete takes a letter back. A test changes any answer through the hooks. Every call
// is logged. Thread-safety: the test's thread.
#ifndef TOLVANI_IME_TESTS_SCRIPTEDENGINE_H_
#define TOLVANI_IME_TESTS_SCRIPTEDENGINE_H_

#include <QString>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ime/EngineBridge.h"
#include "ime/EngineSeam.h"

namespace tolvani::testing {

// The packed record of `state`, as the engine writes it.
inline std::vector<uint8_t> packState(const EngineState& state) {
  std::vector<uint8_t> bytes;
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  auto str = [&](const std::string& s) {
    u32(static_cast<uint32_t>(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
  };
  u32(state.status_flags);
  u32(state.replace_before);
  u32(static_cast<uint32_t>(state.candidates.size()));
  str(state.preedit);
  str(state.raw_text);
  str(state.commit_text);
  for (const EngineCandidate& c : state.candidates) {
    str(c.text);
    u32(static_cast<uint32_t>(c.score));
    bytes.push_back(c.kind);
  }
  str(state.ghost_text);
  u32(static_cast<uint32_t>(state.predictions.size()));
  for (const std::string& p : state.predictions) str(p);
  str(state.spelling_offer);
  str(state.spelling_offer_for);
  return bytes;
}

struct ScriptedEngine {
  std::string raw;
  std::vector<std::string> calls;
  // Replaces the answer to a key when set. Given the key, the raw input before it and the default
  // answer (already taken into `raw`).
  std::function<EngineState(const CKeyEvent&, const std::string& rawBefore, EngineState answer)>
      onKey;
  std::vector<std::string> commonEnglish;

  // "ক" for a, "খ" for b, and so on.
  static std::string compose(const std::string& raw) {
    std::u32string out;
    for (char c : raw) {
      const bool isLetter = std::isalpha(static_cast<unsigned char>(c)) != 0;
      out += isLetter ? static_cast<char32_t>(0x0995 + (std::tolower(c) - 'a') % 20)
                      : static_cast<char32_t>(c);
    }
    return QString::fromUcs4(out.data(), static_cast<qsizetype>(out.size())).toStdString();
  }
  // The composing state of `raw`.
  static EngineState composing(const std::string& raw) {
    EngineState s;
    if (raw.empty()) return s;
    s.status_flags = 1;
    s.raw_text = raw;
    s.preedit = compose(raw);
    s.candidates = {{s.preedit, 10, 0}, {s.preedit + "\u09BF", 5, 2}};
    return s;
  }
  static EngineState committed(const std::string& text) {
    EngineState s;
    s.status_flags = 2;
    s.commit_text = text;
    return s;
  }

  EngineState key(const CKeyEvent& e) {
    calls.push_back("key " + std::to_string(e.kind) + " " + std::to_string(e.key_code) + " " +
                    std::to_string(e.modifiers) + " " + std::to_string(e.codepoint));
    const std::string before = raw;
    EngineState answer = defaultAnswer(e, before);
    return onKey ? onKey(e, before, std::move(answer)) : answer;
  }
  EngineState defaultAnswer(const CKeyEvent& e, const std::string& before) {
    switch (e.kind) {
      case 0:
        raw += static_cast<char>(e.codepoint);
        return composing(raw);
      case 1:
      case 3: {
        raw.clear();
        if (before.empty()) return e.codepoint == ' ' ? committed(" ") : EngineState{};
        return committed(compose(before) + (e.codepoint == ' ' ? " " : ""));
      }
      case 5:
        raw.clear();
        return {};
      case 6:
        if (!raw.empty()) raw.pop_back();
        return composing(raw);
      default:
        return composing(raw);
    }
  }
};

inline ScriptedEngine*& currentScriptedEngine() {
  static ScriptedEngine* engine = nullptr;
  return engine;
}

inline CResult resultOf(const EngineState& state) {
  const std::vector<uint8_t> bytes = packState(state);
  auto* buffer = new uint8_t[bytes.size()];
  std::memcpy(buffer, bytes.data(), bytes.size());
  return {buffer, static_cast<uint32_t>(bytes.size())};
}

// The seam that routes every engine call to currentScriptedEngine().
inline const EngineSeam& scriptedSeam() {
  static const EngineSeam seam = [] {
    EngineSeam s;
    s.create = []() { return reinterpret_cast<TolvaniEngine*>(currentScriptedEngine()); };
    s.destroy = [](TolvaniEngine*) {};
    s.handleKeyEvent = [](TolvaniEngine*, CKeyEvent e) {
      return resultOf(currentScriptedEngine()->key(e));
    };
    s.freeResult = [](uint8_t* p, uint32_t) { delete[] p; };
    s.reset = [](TolvaniEngine*) {
      currentScriptedEngine()->raw.clear();
      currentScriptedEngine()->calls.push_back("reset");
    };
    s.setMode = [](TolvaniEngine*, uint32_t mode) {
      currentScriptedEngine()->calls.push_back("mode " + std::to_string(mode));
    };
    s.updateConfig = [](TolvaniEngine*, uint32_t, uint32_t) {
      return resultOf(ScriptedEngine::composing(currentScriptedEngine()->raw));
    };
    // The script ranks with each key; nothing is ever pending.
    s.rank = [](TolvaniEngine*) { return CResult{nullptr, 0}; };
    s.selectMatching = [](TolvaniEngine*, const char* raw, const char* text) {
      currentScriptedEngine()->calls.push_back(std::string("select ") + raw + " " + text);
      currentScriptedEngine()->raw.clear();
      return resultOf(ScriptedEngine::committed(text));
    };
    s.noteCommittedWord = [](TolvaniEngine*, const char* word) {
      currentScriptedEngine()->calls.push_back(std::string("note ") + word);
      return resultOf({});
    };
    s.seedPredictionContext = [](TolvaniEngine*, const char* word) {
      currentScriptedEngine()->calls.push_back(std::string("seed ") + word);
      return resultOf({});
    };
    s.acceptSpellingOffer = [](TolvaniEngine*) {
      currentScriptedEngine()->calls.push_back("accept");
      return resultOf({});
    };
    s.reloadUserData = [](TolvaniEngine*) { return resultOf({}); };
    s.takeReloadedStores = [](TolvaniEngine*) { return false; };
    s.warmCaches = [] {};
    s.snapshot = [](TolvaniEngine* h) { return reinterpret_cast<TolvaniSnapshot*>(h); };
    s.snapshotWrite = [](TolvaniSnapshot*) { return true; };
    s.snapshotFree = [](TolvaniSnapshot*) {};
    s.isCommonEnglish = [](const char* word) {
      const auto& list = currentScriptedEngine()->commonEnglish;
      return std::find(list.begin(), list.end(), word) != list.end();
    };
    s.persistenceFailures = []() -> uint64_t { return 0; };
    return s;
  }();
  return seam;
}

}  // namespace tolvani::testing

#endif  // TOLVANI_IME_TESTS_SCRIPTEDENGINE_H_
