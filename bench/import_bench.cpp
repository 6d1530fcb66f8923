// Time to import hostile learned-data backups and text-shortcut files of the largest size
// accepted, and for the engine to load the stores such an import can leave. Every backup built
// here is at most the 2,000,000-byte cap; each must import in under 2 s.
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "persistence.h"
#include "settings/DataBackup.h"
#include "settings/TextShortcutFile.h"

namespace {

using tolvani::AppSettings::importUserData;
using tolvani::AppSettings::maxImportedUserDataBytes;

constexpr std::size_t kCap = static_cast<std::size_t>(maxImportedUserDataBytes);

// n combining marks whose canonical order is the reverse of their written order, in pairs: the
// worst input for canonical reordering, which sorts each run of marks.
std::string reversedMarks(std::size_t pairs) {
  std::string out;
  out.reserve(pairs * 4);
  for (std::size_t i = 0; i < pairs; ++i) out += "\u0301\u0316";  // classes 230, then 220
  return out;
}

std::string entryOf(const std::string& key, const std::string& value) {
  return "\"" + key + "\":" + value;
}

// n marks of one class and then n of a lower class: each of the later ones must move past all of
// the earlier ones, twice the work of reversedMarks.
std::string blockReversedMarks(std::size_t n) {
  std::string out;
  out.reserve(n * 4);
  for (std::size_t i = 0; i < n; ++i) out += "\u0301";
  for (std::size_t i = 0; i < n; ++i) out += "\u0316";
  return out;
}

// {"dictionary": {"words": {"a" + marks: ..., "আমি": ...}}} with the first word as long as the
// size allows.
std::string oneLongWord(std::size_t bytes) {
  const std::string head = R"({"dictionary":{"words":{"a)";
  const std::string tail = R"(":{"frequency":1},"আমি":{"frequency":3}}}})";
  return head + reversedMarks((bytes - head.size() - tail.size()) / 4) + tail;
}

// As many dictionary words of `wordBytes` bytes of reversed marks as the cap holds (each made
// distinct by its first letters), and one ordinary word.
std::string manyMarkWords(std::size_t wordBytes, bool blocks = false) {
  std::string doc = R"({"dictionary":{"words":{"আমি":{"frequency":3})";
  const std::string marks =
      blocks ? blockReversedMarks(wordBytes / 4) : reversedMarks(wordBytes / 4);
  for (int i = 0;; ++i) {
    const std::string entry =
        "," + entryOf(std::to_string(i) + marks, R"({"frequency":1,"last_used":5})");
    if (doc.size() + entry.size() + 8 > kCap) break;
    doc += entry;
  }
  return doc + "}}}";
}

// Every store filled with keys and texts of reversed marks, `keyBytes` long, in even shares.
std::string everyStoreOfMarks(std::size_t keyBytes) {
  const std::string marks = reversedMarks(keyBytes / 4);
  const std::size_t share = kCap / 6 - 4'000;
  std::string doc = "{";
  const auto store = [&](const char* key, const char* section, auto entry) {
    std::string body;
    for (int i = 0; body.size() < share; ++i) body += (i ? "," : "") + entry(std::to_string(i));
    doc += std::string(doc.size() > 1 ? "," : "") + "\"" + key + "\":{\"" + section + "\":{" +
           body + "}}";
  };
  store("dictionary", "words",
        [&](const std::string& i) { return entryOf(i + marks, R"({"frequency":2})"); });
  store("bigrams", "pairs", [&](const std::string& i) {
    return entryOf(i + marks, "{" + entryOf("x" + marks, R"({"frequency":2})") + "}");
  });
  store("trigrams", "triples", [&](const std::string& i) {
    return entryOf(i + marks + "\\t" + marks, "{" + entryOf(marks, "2") + "}");
  });
  store("rejections", "entries",
        [&](const std::string& i) { return entryOf(i + marks, "{" + entryOf(marks, "2") + "}"); });
  store("selection_memory", "selections", [&](const std::string& i) {
    return entryOf(i + marks, R"({"count":2,"text":")" + i + marks + "\"}");
  });
  // English words are bounded at 24 characters (288 bytes).
  const std::string englishMarks = reversedMarks(std::min<std::size_t>(keyBytes, 280) / 4);
  store("english_pairs", "pairs", [&](const std::string& i) {
    return entryOf(i + englishMarks, "{" + entryOf(englishMarks, "2") + "}");
  });
  return doc + "}";
}

// 10,000 real-looking words spelt with the decomposed vowel sign ো (ে + া), and as many bigrams.
std::string decomposedWords() {
  std::string words;
  std::string pairs;
  for (int i = 0; i < 10'000; ++i) {
    const std::string word = "\u0995\u09C7\u09BE\u09A8" + std::to_string(i);
    words += (i ? "," : "") + entryOf(word, R"({"frequency":5,"last_used":10})");
    if (i < 5'000)
      pairs += (i ? "," : "") + entryOf(word, "{" + entryOf("আমি", R"({"frequency":2})") + "}");
  }
  return R"({"dictionary":{"words":{)" + words + R"(}},"bigrams":{"pairs":{)" + pairs + "}}}";
}

// The user-data folder of the benchmark: a fresh one for each case.
class Folder {
 public:
  Folder() { qputenv("TOLVANI_DATA_DIR", dir_.filePath(QStringLiteral("tolvani")).toUtf8()); }
  void clear() {
    QDir tolvani(dir_.filePath(QStringLiteral("tolvani")));
    tolvani.removeRecursively();
  }
  std::filesystem::path stores() const {
    return std::filesystem::path(dir_.path().toStdString()) / "tolvani";
  }

 private:
  QTemporaryDir dir_;
};

void runImport(benchmark::State& state, const std::string& document) {
  if (document.size() > kCap) {
    state.SkipWithError("the document is over the cap");
    return;
  }
  const QByteArray data = QByteArray::fromStdString(document);
  Folder folder;
  for (auto _ : state) {
    state.PauseTiming();
    folder.clear();
    state.ResumeTiming();
    const tolvani::LearnedDataImportResult result = importUserData(data);
    benchmark::DoNotOptimize(result.words);
    if (result.kind != tolvani::LearnedDataImportResult::Kind::imported) {
      state.SkipWithError("the import failed");
      break;
    }
  }
  state.counters["bytes"] = static_cast<double>(document.size());
}

// The issue's backup: one grapheme cluster of 40,000 pairs of marks in a 640 KB file.
void BM_ImportOneLongWord640K(benchmark::State& state) { runImport(state, oneLongWord(640'000)); }
BENCHMARK(BM_ImportOneLongWord640K)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ImportOneLongWord2M(benchmark::State& state) { runImport(state, oneLongWord(kCap)); }
BENCHMARK(BM_ImportOneLongWord2M)->Unit(benchmark::kMillisecond)->Iterations(1);

// Many words of marks, each of the given length in bytes: at the word bound (1,152 bytes), just
// below, and a quarter of it.
void BM_ImportManyMarkWords(benchmark::State& state) {
  runImport(state, manyMarkWords(static_cast<std::size_t>(state.range(0))));
}
BENCHMARK(BM_ImportManyMarkWords)
    ->Arg(288)
    ->Arg(1'148)
    ->Arg(1'536)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The same with the marks in two reversed blocks.
void BM_ImportManyBlockMarkWords(benchmark::State& state) {
  runImport(state, manyMarkWords(static_cast<std::size_t>(state.range(0)), true));
}
BENCHMARK(BM_ImportManyBlockMarkWords)->Arg(1'148)->Unit(benchmark::kMillisecond)->Iterations(3);

// Trigram contexts as long as two words and their TAB may be (2,305 bytes), each word of marks in
// two reversed blocks, and one honest entry.
void BM_ImportLongContexts(benchmark::State& state) {
  const std::string marks = blockReversedMarks(1'144 / 4);
  std::string doc = R"({"trigrams":{"triples":{"আমি\tভাত":{"খাই":2})";
  for (int i = 0;; ++i) {
    const std::string entry =
        "," + entryOf(std::to_string(i) + marks + "\\t" + marks, "{" + entryOf(marks, "1") + "}");
    if (doc.size() + entry.size() + 8 > kCap) break;
    doc += entry;
  }
  runImport(state, doc + "}}}");
}
BENCHMARK(BM_ImportLongContexts)->Unit(benchmark::kMillisecond)->Iterations(3);

// All six stores with keys and texts of marks up to the word bound.
void BM_ImportEveryStoreOfMarks(benchmark::State& state) {
  runImport(state, everyStoreOfMarks(static_cast<std::size_t>(state.range(0))));
}
BENCHMARK(BM_ImportEveryStoreOfMarks)
    ->Arg(96)
    ->Arg(1'148)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// An honest large backup whose words are not in normal form.
void BM_ImportDecomposedWords(benchmark::State& state) { runImport(state, decomposedWords()); }
BENCHMARK(BM_ImportDecomposedWords)->Unit(benchmark::kMillisecond)->Iterations(3);

// Text-shortcut files of the largest size read.
constexpr std::size_t kShortcutCap =
    static_cast<std::size_t>(tolvani::TextShortcutFile::maxFileBytes);

void runShortcuts(benchmark::State& state, const std::string& file) {
  if (file.size() > kShortcutCap) {
    state.SkipWithError("the file is over the cap");
    return;
  }
  const QByteArray data = QByteArray::fromStdString(file);
  for (auto _ : state) {
    const tolvani::TextShortcutFile::ParseResult result = tolvani::TextShortcutFile::parse(data);
    benchmark::DoNotOptimize(result.skipped);
  }
  state.counters["bytes"] = static_cast<double>(file.size());
}

void BM_ShortcutsOneLongText(benchmark::State& state) {
  const std::string head = R"({"brb":"a)";
  runShortcuts(state, head + reversedMarks((kShortcutCap - head.size() - 2) / 4) + "\"}");
}
BENCHMARK(BM_ShortcutsOneLongText)->Unit(benchmark::kMillisecond);

void BM_ShortcutsManyLongTexts(benchmark::State& state) {
  std::string file = "{";
  const std::string marks = reversedMarks(static_cast<std::size_t>(state.range(0)) / 4);
  for (int i = 0;; ++i) {
    const std::string entry =
        (i ? "," : "") + entryOf("c" + std::to_string(i), "\"a" + marks + "\"");
    if (file.size() + entry.size() + 1 > kShortcutCap) break;
    file += entry;
  }
  runShortcuts(state, file + "}");
}
BENCHMARK(BM_ShortcutsManyLongTexts)->Arg(400)->Arg(4'000)->Unit(benchmark::kMillisecond);

// Text lines: a code, a tab and a text of marks, one shortcut per line.
void BM_ShortcutsTextLinesOfMarks(benchmark::State& state) {
  std::string file;
  const std::string marks = reversedMarks(1'000);
  for (int i = 0;; ++i) {
    const std::string line = "c" + std::to_string(i) + "\ta" + marks + "\n";
    if (file.size() + line.size() > kShortcutCap) break;
    file += line;
  }
  runShortcuts(state, file);
}
BENCHMARK(BM_ShortcutsTextLinesOfMarks)->Unit(benchmark::kMillisecond);

// Arrays nested as deep as the size allows, as JSON and as an XML property list.
void BM_ShortcutsDeeplyNested(benchmark::State& state) {
  const std::size_t depth = kShortcutCap / 2 - 1;
  runShortcuts(state, std::string(depth, '[') + std::string(depth, ']'));
}
BENCHMARK(BM_ShortcutsDeeplyNested)->Unit(benchmark::kMillisecond);

void BM_ShortcutsDeeplyNestedPropertyList(benchmark::State& state) {
  const std::string head = R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0">)";
  const std::size_t depth = (kShortcutCap - head.size() - 8) / 15;
  std::string file = head;
  for (std::size_t i = 0; i < depth; ++i) file += "<array>";
  for (std::size_t i = 0; i < depth; ++i) file += "</array>";
  runShortcuts(state, file + "</plist>");
}
BENCHMARK(BM_ShortcutsDeeplyNestedPropertyList)->Unit(benchmark::kMillisecond);

// The engine loading a user dictionary whose file holds the given document.
void runEngineLoad(benchmark::State& state, const std::string& document) {
  Folder folder;
  std::filesystem::create_directories(folder.stores());
  const std::filesystem::path path = folder.stores() / "user-dictionary.json";
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << document;
    state.ResumeTiming();
    tolvani::engine::LearnedStores stores =
        tolvani::engine::LearnedStores::load_all(folder.stores());
    benchmark::DoNotOptimize(stores.user_dictionary.words().size());
  }
  state.counters["bytes"] = static_cast<double>(document.size());
}

// The store a hostile import used to leave: one word of 40,000 pairs of marks.
void BM_EngineLoadOneLongWord640K(benchmark::State& state) {
  runEngineLoad(
      state, R"({"words":{"a)" + reversedMarks(40'000) + R"(":{"frequency":1}},"tombstones":{}})");
}
BENCHMARK(BM_EngineLoadOneLongWord640K)->Unit(benchmark::kMillisecond)->Iterations(1);

// Many words of marks at the word bound, as a file of the engine's own might hold them; the
// second argument puts the marks in two reversed blocks.
void BM_EngineLoadManyMarkWords(benchmark::State& state) {
  std::string doc = manyMarkWords(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
  doc = doc.substr(std::string(R"({"dictionary":)").size());
  doc.pop_back();
  runEngineLoad(state, doc);
}
BENCHMARK(BM_EngineLoadManyMarkWords)
    ->Args({1'148, 0})
    ->Args({1'148, 1})
    ->Args({1'536, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
