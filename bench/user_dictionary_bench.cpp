// What a large user dictionary costs the thread that serves typing: parsing it, opening the
// settings window and the dictionary editor over it, and adding and removing a word in the editor,
// with 10,000 words (the engine's cap), 20,000 and 50,000 (an imported or hand-edited file), and
// none for comparison.
//
// The windows run under Qt's offscreen platform in this process, as in the program, on a main loop
// that GLib drives. For each window action: "Time" is until the window shows the result, "CPU" the
// main thread's own time in it, and the counters "key_wait_ms" (the mean over the actions) and
// "worst_key_wait_ms" the longest a key would have waited for its answer meanwhile: a second
// thread hands the main loop a GLib source every millisecond, as the IBus connection hands it a
// key, and times how long each takes to run.
//
// Beside the editor's additions and removals, over as many words as the engine keeps, run the
// engine sessions of four input contexts, as in the program, which save and read the dictionary
// again after each edit; the keys go to one of them (and are timed for a while after the edit
// shows). BM_RemoveWordFromLargestDictionary removes a word from the largest dictionary the store
// accepts: 9,900 words and 10,000 tombstones, each about 1,140 bytes long.
//
// BM_ImportBackup imports a hostile backup of the largest size accepted through the Data tab's
// button, the file dialog answered with it, over 10,000 and 50,000 words; "Time" is until the
// alert reports the outcome. BM_ResetLearnedData resets them through the tab's button.
//
// BM_ExportLearnedWords exports the learned data through the tab's button, with the four input
// contexts' sessions beside it and the keys going to one of them, over the largest dictionary the
// store accepts and over as many ordinary words.
//
// BM_KeyAnswerWhileSettingsOpen does the same through the built program behind a private
// ibus-daemon: the settings row of the input menu is chosen, and for the next second an
// application sends a key every 5 ms and times each answer; with the second argument 0 the row is
// not chosen, for comparison. Its "Time" is the slowest answer of each second.
#include <benchmark/benchmark.h>
#include <glib.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ime/TolvaniInputController.h"
#include "ime/testing/IBusDaemonHarness.h"
#include "ime/testing/IBusTestKeys.h"
#include "largest_dictionary.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"
#include "settings/AppSettingsUserData.h"
#include "settings/BackupPanels.h"
#include "settings/DataBackup.h"
#include "settings/Dialogs.h"
#include "settings/UIStrings.h"
#include "store_bounds.h"
#include "windows/DataTab.h"
#include "windows/PreferencesWindowController.h"
#include "windows/SettingsRootView.h"
#include "windows/UserDictionaryEditor.h"

namespace {

using namespace tolvani;
using Clock = std::chrono::steady_clock;

// `words` learned words as the engine writes them, all used lately (the engine drops words unused
// for a month).
std::string dictionaryDocument(int words, const std::string& prefix = "") {
  static const char* const kLetters[] = {"ক", "খ", "গ", "ত", "দ", "ন", "প", "ব", "ম", "র",
                                         "ল", "স", "হ", "া", "ি", "ে", "ো", "ু",  "ং", "য়"};
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  std::string doc = R"({"reset_id":"4B1C6E7A-2F0D-4E8B-9C1A-3D5E7F9A1B2C","tombstones":{},)"
                    R"("words":{)";
  for (int i = 0; i < words; ++i) {
    std::string word = prefix;
    for (int n = i + 1; n > 0; n /= 20) word += kLetters[n % 20];
    word += "ন";
    doc += (i ? ",\"" : "\"") + word + R"(":{"frequency":)" + std::to_string(1 + i % 97) +
           R"(,"last_decay":0,"last_used":)" + std::to_string(now - i) + "}";
  }
  return doc + "}}";
}

void writeDictionary(const std::string& bytes) {
  std::ofstream(AppSettings::userDictionaryURL().toStdString(), std::ios::binary) << bytes;
}

// Serves the main loop, asleep between events, until `done` holds; false after 60 s.
bool serveUntil(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  // Wakes the loop to look again even when nothing else comes.
  QTimer wake;
  wake.start(2);
  while (!done()) {
    if (timer.elapsed() > 60'000) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// The longest wait of a source that a second thread attaches to the main context every
// millisecond, as the IBus connection attaches one for each message it receives.
class KeyWaitMeter {
 public:
  // `key`, when given, is what each source does on the main thread, as a key's answer does.
  void start(std::function<void()> key = {}) {
    worst_ = 0;
    stop_ = false;
    key_ = std::move(key);
    thread_ = std::thread([this] { run(); });
  }
  // The longest wait since start(), in milliseconds.
  double stop() {
    stop_ = true;
    // The last source sent may still wait for the loop.
    serveUntil([this] { return !pending_; });
    thread_.join();
    return worst_;
  }

 private:
  struct Ping {
    KeyWaitMeter* meter;
    Clock::time_point sent;
  };
  static gboolean answer(gpointer data) {
    auto* ping = static_cast<Ping*>(data);
    if (ping->meter->key_) ping->meter->key_();
    const double waited =
        std::chrono::duration<double, std::milli>(Clock::now() - ping->sent).count();
    KeyWaitMeter* meter = ping->meter;
    delete ping;
    {
      std::lock_guard lock(meter->mu_);
      meter->worst_ = std::max(meter->worst_, waited);
      meter->pending_ = false;
    }
    meter->answered_.notify_one();
    return G_SOURCE_REMOVE;
  }
  void run() {
    while (!stop_) {
      {
        std::lock_guard lock(mu_);
        pending_ = true;
      }
      GSource* source = g_idle_source_new();
      g_source_set_priority(source, G_PRIORITY_DEFAULT);
      g_source_set_callback(source, answer, new Ping{this, Clock::now()}, nullptr);
      g_source_attach(source, nullptr);
      g_source_unref(source);
      {
        std::unique_lock lock(mu_);
        answered_.wait(lock, [this] { return !pending_; });
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  std::thread thread_;
  std::function<void()> key_;  // used on the main thread only
  std::atomic<bool> stop_{false};
  std::mutex mu_;
  std::condition_variable answered_;
  bool pending_ = false;  // guarded by mu_
  double worst_ = 0;      // guarded by mu_ while the thread runs
};

// Times one window action per iteration: `prepare` runs untimed, `act` starts the action and
// `shown` says when the window shows its result.
void timeWindowAction(benchmark::State& state, const std::function<void()>& prepare,
                      const std::function<void()>& act, const std::function<bool()>& shown) {
  KeyWaitMeter meter;
  double worstWait = 0;
  double totalWait = 0;
  for (auto _ : state) {
    state.PauseTiming();
    prepare();
    meter.start();
    state.ResumeTiming();
    act();
    if (!serveUntil(shown)) state.SkipWithError("the window never showed the result");
    state.PauseTiming();
    const double waited = meter.stop();
    state.ResumeTiming();
    worstWait = std::max(worstWait, waited);
    totalWait += waited;
  }
  state.counters["key_wait_ms"] = totalWait / static_cast<double>(state.iterations());
  state.counters["worst_key_wait_ms"] = worstWait;
}

// Each benchmark's own folders and dictionary: of `words` words, or the document `dictionary`.
struct Folders {
  explicit Folders(int words) : Folders(dictionaryDocument(words)) {}
  explicit Folders(const std::string& dictionary) {
    qputenv("TOLVANI_DATA_DIR", data.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    platform::Defaults::testResetStandard();
    AppSettings::setUiLanguage(1);
    writeDictionary(dictionary);
  }
  QTemporaryDir data;
  QTemporaryDir config;
};

void BM_LoadEntries(benchmark::State& state) {
  const Folders folders(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const auto loaded = AppSettings::loadUserDictionaryEntries();
    if (!loaded.value || loaded.value->size() != static_cast<std::size_t>(state.range(0)))
      state.SkipWithError("not the words written");
  }
}
BENCHMARK(BM_LoadEntries)->Arg(10'000)->Arg(20'000)->Arg(50'000)->Unit(benchmark::kMillisecond);

// For comparison: the same document parsed with a parser callback watching the top-level keys,
// which nlohmann's parser follows with a walk of the parent object at the end of each member.
void BM_CallbackParseForComparison(benchmark::State& state) {
  using Json = nlohmann::json;
  const std::string doc = dictionaryDocument(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::set<std::string> keys;
    const Json::parser_callback_t note = [&](int depth, Json::parse_event_t event, Json& parsed) {
      if (event == Json::parse_event_t::key && depth == 1) keys.insert(parsed.get<std::string>());
      return true;
    };
    benchmark::DoNotOptimize(Json::parse(doc, note, false));
  }
}
BENCHMARK(BM_CallbackParseForComparison)
    ->Arg(10'000)
    ->Arg(20'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

QString countShown(int words) { return QLocale::system().toString(words); }

void BM_OpenSettingsWindow(benchmark::State& state) {
  const int words = static_cast<int>(state.range(0));
  const Folders folders(words);
  PreferencesWindowController& controller = PreferencesWindowController::shared();
  timeWindowAction(
      state, [] {}, [&] { controller.showWindow(); },
      [&] {
        auto* count = controller.rootView()->findChild<QLabel*>(QStringLiteral("learnedWordCount"));
        return count->text() == countShown(words);
      });
  controller.window()->close();
}
BENCHMARK(BM_OpenSettingsWindow)
    ->Arg(0)
    ->Arg(10'000)
    ->Arg(20'000)
    ->Arg(50'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

template <typename T>
T* child(QWidget* window, const char* name) {
  return window->findChild<T*>(QLatin1String(name));
}

bool editorShows(int shown, int total) {
  QWidget* editor = UserDictionaryEditorController::shared().window();
  return child<QLabel>(editor, "count")->text() == UIStrings::wordCount(shown, total);
}

void BM_OpenDictionaryEditor(benchmark::State& state) {
  const int words = static_cast<int>(state.range(0));
  const Folders folders(words);
  UserDictionaryEditorController& controller = UserDictionaryEditorController::shared();
  timeWindowAction(
      state,
      [&] {
        // Shown as something else first, so that the opening has to show the file's count.
        writeDictionary(dictionaryDocument(1, "x"));
        controller.showWindow();
        serveUntil([] { return editorShows(1, 1); });
        writeDictionary(dictionaryDocument(words));
        controller.window()->close();
      },
      [&] { controller.showWindow(); }, [&] { return editorShows(words, words); });
  controller.window()->close();
}
BENCHMARK(BM_OpenDictionaryEditor)
    ->Arg(0)
    ->Arg(10'000)
    ->Arg(20'000)
    ->Arg(50'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What the program that serves IBus holds beside its windows: the controllers of the input
// contexts that had the focus (one for each application), each with its engine session, which
// follow the windows' edits of the learned data as the program's do. Keys go to the first.
class InputContexts {
 public:
  explicit InputContexts(int count) {
    for (int i = 0; i < count; ++i) {
      controllers_.push_back(std::make_unique<TolvaniInputController>(nullptr));
      controllers_.back()->activateServer(nullptr);
    }
    // The sessions' stores are in before anything is timed, with the word the first learns later.
    typeWord();
    for (const auto& controller : controllers_) (void)controller->testEngine()->sync();
  }
  ~InputContexts() {
    controllers_.clear();
    // What they learned is written before the folders go.
    (void)EngineBridge::waitForReleasedWrites(std::chrono::seconds(30));
  }
  // A key the first session answers, changing nothing.
  void key() {
    constexpr std::uint16_t kEscapeCode = 53;
    (void)first().send(EngineKeyKind::escape, kEscapeCode, 0);
  }
  // Types a word and a space: the first session learns one more use of it, and has that to save.
  void typeWord() {
    for (const char* letter : {"a", "m", "i"})
      (void)first().send(EngineKeyKind::text, 0, 0, QString::fromLatin1(letter));
    constexpr std::uint16_t kSpaceCode = 49;
    (void)first().send(EngineKeyKind::space, kSpaceCode, 0);
  }

 private:
  EngineBridge& first() { return *controllers_.front()->testEngine(); }

  std::vector<std::unique_ptr<TolvaniInputController>> controllers_;
};

constexpr int kInputContexts = 4;

// Adds a word through the field and Return, or removes it again by its row and the button, over
// the dictionary `document` of `words` words; each until the count line shows it. Over as many
// words as the engine keeps, the keys meanwhile go to an input context's engine session, and after
// the action they are timed for kAfterEdit more (untimed itself), while the sessions take the
// edit in. A larger file (an import, a hand edit) the engine would cut down at its first save, so
// there the window runs alone.
constexpr auto kAfterEdit = std::chrono::milliseconds(1'500);

void addOrRemoveWord(benchmark::State& state, int words, bool adding, std::string document) {
  const Folders folders(document);
  std::optional<InputContexts> contexts;
  if (words <= static_cast<int>(store_io::bounds::kDictionaryWords)) {
    contexts.emplace(kInputContexts);
    // The sessions have written the file in their own form, a few words of the same normal form
    // merged: the editor shows the words it holds now.
    std::ifstream file(AppSettings::userDictionaryURL().toStdString(), std::ios::binary);
    document.assign(std::istreambuf_iterator<char>(file), {});
    const int written = AppSettings::learnedWordCount();
    if (written < words * 99 / 100) {
      state.SkipWithError("the sessions dropped words");
      return;
    }
    words = written;
  }
  UserDictionaryEditorController& controller = UserDictionaryEditorController::shared();
  controller.showWindow();
  QWidget* editor = controller.window();
  serveUntil([&] { return editorShows(words, words); });
  auto* field = child<QLineEdit>(editor, "addWord");
  auto* table = child<QTableView>(editor, "words");
  auto* search = child<QLineEdit>(editor, "search");
  const QString word = QStringLiteral("নতুনশব্দ");
  search->setText(word);
  KeyWaitMeter meter;
  double worstWait = 0;
  double totalWait = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (contexts) contexts->typeWord();
    if (!adding) {
      // The word to remove, added and selected outside the time.
      field->setText(word);
      QMetaObject::invokeMethod(field, "returnPressed");
      serveUntil([&] { return editorShows(1, words + 1); });
      table->selectRow(0);
    }
    meter.start(contexts ? std::function<void()>([&contexts] { contexts->key(); })
                         : std::function<void()>());
    state.ResumeTiming();
    if (adding) {
      field->setText(word);
      QMetaObject::invokeMethod(field, "returnPressed");
    } else {
      child<QPushButton>(editor, "removeSelected")->click();
    }
    if (!serveUntil([&] { return editorShows(adding ? 1 : 0, adding ? words + 1 : words); }))
      state.SkipWithError("the editor never showed the change");
    state.PauseTiming();
    if (contexts) {
      const auto settled = Clock::now() + kAfterEdit;
      serveUntil([&] { return Clock::now() >= settled; });
    }
    const double waited = meter.stop();
    worstWait = std::max(worstWait, waited);
    totalWait += waited;
    if (adding) {
      // Back to the file's words outside the time.
      (void)AppSettings::removeUserWord(word);
      writeDictionary(document);
      controller.showWindow();
      serveUntil([&] { return editorShows(0, words); });
    }
    state.ResumeTiming();
  }
  state.counters["key_wait_ms"] = totalWait / static_cast<double>(state.iterations());
  state.counters["worst_key_wait_ms"] = worstWait;
  search->clear();
  editor->close();
}

void BM_AddAndRemoveWord(benchmark::State& state) {
  const int words = static_cast<int>(state.range(0));
  addOrRemoveWord(state, words, state.range(1) == 1, dictionaryDocument(words));
}
BENCHMARK(BM_AddAndRemoveWord)
    ->ArgNames({"words", "add"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({10'000, 1})
    ->Args({10'000, 0})
    ->Args({20'000, 1})
    ->Args({20'000, 0})
    ->Args({50'000, 1})
    ->Args({50'000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

using bench::kLargestCaseWordBytes;
using bench::kLargestCaseWords;

void BM_RemoveWordFromLargestDictionary(benchmark::State& state) {
  const std::string document =
      bench::userDictionary(kLargestCaseWords, bench::kLargestTombstones, kLargestCaseWordBytes);
  if (document.size() > store_io::bounds::kUserDictionaryFileBytes) {
    state.SkipWithError("larger than the store accepts");
    return;
  }
  addOrRemoveWord(state, kLargestCaseWords, /*adding=*/false, document);
  state.counters["file_mb"] = static_cast<double>(document.size()) / 1e6;
}
BENCHMARK(BM_RemoveWordFromLargestDictionary)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// Backups of the largest size accepted, as hostile as the cleaner lets through: dictionary words,
// or tombstones, each a long shared run of combining marks in the reverse of their canonical
// order with a number at its end, so that every word needs its marks sorted and every comparison
// of two words walks the whole run.
std::string hostileBackup(bool tombstones) {
  std::string marks;
  for (int i = 0; i < 280; ++i) marks += "\u0301\u0316";  // classes 230, then 220
  // A dictionary with no words section is no dictionary.
  std::string doc = R"({"dictionary":{"words":{"আমি":{"frequency":3})";
  if (tombstones) doc += R"(},"tombstones":{"তুমি":5)";
  const auto cap = static_cast<std::size_t>(AppSettings::maxImportedUserDataBytes);
  for (int i = 0;; ++i) {
    const std::string entry = ",\"ক" + marks + std::to_string(i) +
                              "\":" + (tombstones ? std::string("5") : R"({"frequency":1})");
    if (doc.size() + entry.size() + 4 > cap) break;
    doc += entry;
  }
  return doc + "}}}";
}

// The file dialog answered with one file; each alert's text noted.
class AnsweringDialogs final : public dialogs::Dialogs {
 public:
  explicit AnsweringDialogs(QString file) : file_(std::move(file)) {}
  std::optional<QString> chooseSaveFile(QWidget*, const QString&, const QStringList&) override {
    return std::nullopt;
  }
  std::optional<QString> chooseOpenFile(QWidget*, const QStringList&) override { return file_; }
  void showAlert(QWidget*, const dialogs::Alert& alert) override { alerts << alert.text; }
  bool confirm(QWidget*, const dialogs::Confirmation&) override { return true; }

  QStringList alerts;

 private:
  QString file_;
};

void BM_ImportBackup(benchmark::State& state) {
  const int words = static_cast<int>(state.range(0));
  const Folders folders(words);
  const QString backup = folders.config.filePath(QStringLiteral("backup.json"));
  std::ofstream(backup.toStdString(), std::ios::binary) << hostileBackup(state.range(1) == 1);
  AnsweringDialogs answers(backup);
  dialogs::testSetDialogs(&answers);
  PreferencesWindowController& controller = PreferencesWindowController::shared();
  controller.showWindow();
  controller.rootView()->tabs()->setCurrentIndex(2);
  auto* button = child<QPushButton>(controller.window(), "importLearnedWords");
  timeWindowAction(
      state,
      [&] {
        writeDictionary(dictionaryDocument(words));
        answers.alerts.clear();
      },
      [&] { button->click(); }, [&] { return !answers.alerts.isEmpty(); });
  controller.window()->close();
  dialogs::testSetDialogs(nullptr);
  if (!answers.alerts.value(0).startsWith(QStringLiteral("Imported")))
    state.SkipWithError(answers.alerts.value(0).toStdString().c_str());
}
BENCHMARK(BM_ImportBackup)
    ->ArgNames({"words", "tombstones"})
    ->Args({10'000, 0})
    ->Args({10'000, 1})
    ->Args({50'000, 0})
    ->Args({50'000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Resets the learned data through the Data tab's button and its confirmation, until the count
// shows 0.
void BM_ResetLearnedData(benchmark::State& state) {
  const int words = static_cast<int>(state.range(0));
  const Folders folders(words);
  AnsweringDialogs answers({});
  dialogs::testSetDialogs(&answers);
  PreferencesWindowController& controller = PreferencesWindowController::shared();
  controller.showWindow();
  controller.rootView()->tabs()->setCurrentIndex(2);
  QWidget* window = controller.window();
  auto* count = child<QLabel>(window, "learnedWordCount");
  timeWindowAction(
      state,
      [&] {
        writeDictionary(dictionaryDocument(words));
        controller.rootView()->findChild<DataTab*>()->reload();
        serveUntil([&] { return count->text() == countShown(words); });
      },
      [&] { child<QPushButton>(window, "resetLearnedData")->click(); },
      [&] { return count->text() == countShown(0); });
  window->close();
  dialogs::testSetDialogs(nullptr);
}
BENCHMARK(BM_ResetLearnedData)
    ->Arg(10'000)
    ->Arg(50'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The save dialog answered with one path, and when it was asked noted; each alert's text noted.
class SavingDialogs final : public dialogs::Dialogs {
 public:
  explicit SavingDialogs(QString file) : file_(std::move(file)) {}
  std::optional<QString> chooseSaveFile(QWidget*, const QString&, const QStringList&) override {
    saveAsked = Clock::now();
    return file_;
  }
  std::optional<QString> chooseOpenFile(QWidget*, const QStringList&) override {
    return std::nullopt;
  }
  void showAlert(QWidget*, const dialogs::Alert& alert) override { alerts << alert.text; }
  bool confirm(QWidget*, const dialogs::Confirmation&) override { return false; }

  std::optional<Clock::time_point> saveAsked;
  QStringList alerts;

 private:
  QString file_;
};

// Exports the learned data through the Data tab's button, with the sessions of four input
// contexts beside the window, one of them with a word typed just before the click to save first,
// and the keys going to it. With the argument 1 over the largest dictionary the store accepts,
// with 0 over as many ordinary words. "Time" is until the alert tells the file saved, the counter
// "until_dialog_ms" until the save dialog is asked.
void BM_ExportLearnedWords(benchmark::State& state) {
  const bool largest = state.range(0) == 1;
  const Folders folders(largest
                            ? bench::userDictionary(kLargestCaseWords, bench::kLargestTombstones,
                                                    kLargestCaseWordBytes)
                            : dictionaryDocument(kLargestCaseWords));
  InputContexts contexts(kInputContexts);
  BackupPanels::setLearnedDataSaver([] { EngineBridge::syncAllForShutdown(); });
  const QString backup = folders.config.filePath(QStringLiteral("backup.json"));
  SavingDialogs answers(backup);
  dialogs::testSetDialogs(&answers);
  PreferencesWindowController& controller = PreferencesWindowController::shared();
  controller.showWindow();
  controller.rootView()->tabs()->setCurrentIndex(2);
  auto* button = child<QPushButton>(controller.window(), "exportLearnedWords");
  KeyWaitMeter meter;
  double worstWait = 0;
  double totalWait = 0;
  double untilDialog = 0;
  for (auto _ : state) {
    state.PauseTiming();
    contexts.typeWord();
    answers.alerts.clear();
    answers.saveAsked.reset();
    meter.start([&contexts] { contexts.key(); });
    const auto clicked = Clock::now();
    state.ResumeTiming();
    button->click();
    if (!serveUntil([&] { return !answers.alerts.isEmpty(); }))
      state.SkipWithError("the export never ended");
    state.PauseTiming();
    const double waited = meter.stop();
    worstWait = std::max(worstWait, waited);
    totalWait += waited;
    if (answers.saveAsked)
      untilDialog +=
          std::chrono::duration<double, std::milli>(*answers.saveAsked - clicked).count();
    state.ResumeTiming();
  }
  controller.window()->close();
  dialogs::testSetDialogs(nullptr);
  BackupPanels::setLearnedDataSaver(nullptr);
  const auto rounds = static_cast<double>(state.iterations());
  state.counters["key_wait_ms"] = totalWait / rounds;
  state.counters["worst_key_wait_ms"] = worstWait;
  state.counters["until_dialog_ms"] = untilDialog / rounds;
  if (!answers.alerts.value(0).startsWith(QStringLiteral("Saved")))
    state.SkipWithError(answers.alerts.value(0).toStdString().c_str());
}
BENCHMARK(BM_ExportLearnedWords)
    ->ArgName("largest")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// Milliseconds from sending a key to its answer, through the daemon and the program.
double answerTime(testing::TestInputContext& context, unsigned keyval, unsigned keycode) {
  const auto sent = Clock::now();
  context.sendKey(keyval, keycode, 0);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
  context.sendKey(keyval, keycode, IBUS_RELEASE_MASK);
  return ms;
}

void BM_KeyAnswerWhileSettingsOpen(benchmark::State& state) {
  const int words = static_cast<int>(state.range(0));
  const bool opening = state.range(1) == 1;
  QTemporaryDir data;
  {
    std::ofstream(data.filePath(QStringLiteral("user-dictionary.json")).toStdString(),
                  std::ios::binary)
        << dictionaryDocument(words);
  }
  testing::IBusDaemonHarness harness(
      testing::IBusDaemonHarness::Options{QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR),
                                          {},
                                          /*quiet=*/true,
                                          /*firstStart=*/false,
                                          {QStringLiteral("TOLVANI_DATA_DIR=") + data.path()}});
  if (!harness.ready()) {
    state.SkipWithError("no daemon");
    return;
  }
  qputenv("XDG_CONFIG_HOME", harness.configHome().toUtf8());
  platform::Defaults::testResetStandard();
  AppSettings::setUiLanguage(1);
  testing::TestInputContext context(harness, "bench");
  context.focusIn();
  context.selectEngine("tolvani");
  if (!harness.waitFor([&] { return !context.menu.isEmpty(); })) {
    state.SkipWithError("the program never came");
    return;
  }
  const unsigned k = testing::usKey('k').first;
  constexpr unsigned kBackSpaceCode = 14;
  // The first keys load the engine's tables and the dictionary.
  for (int i = 0; i < 20; ++i) {
    answerTime(context, 'k', k);
    answerTime(context, IBUS_KEY_BackSpace, kBackSpaceCode);
  }
  std::vector<double> answers;
  double worst = 0;
  for (auto _ : state) {
    if (opening) context.activateProperty("openPreferences");
    const auto end = Clock::now() + std::chrono::seconds(1);
    double slowest = 0;
    for (bool letter = true; Clock::now() < end; letter = !letter) {
      const double ms = letter ? answerTime(context, 'k', k)
                               : answerTime(context, IBUS_KEY_BackSpace, kBackSpaceCode);
      answers.push_back(ms);
      slowest = std::max(slowest, ms);
      harness.settle();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    state.SetIterationTime(slowest / 1000);
    worst = std::max(worst, slowest);
  }
  std::sort(answers.begin(), answers.end());
  state.counters["median_answer_ms"] = answers[answers.size() / 2];
  state.counters["worst_answer_ms"] = worst;
}
// Only as many words as the engine keeps: it trims a larger file when it next saves.
BENCHMARK(BM_KeyAnswerWhileSettingsOpen)
    ->ArgNames({"words", "open"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({10'000, 0})
    ->Args({10'000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // The main loop GLib drives, as in the program that serves IBus.
  qunsetenv("QT_NO_GLIB");
  QApplication app(argc, argv);
  // The offscreen platform's word on every raise() would drown the figures.
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
