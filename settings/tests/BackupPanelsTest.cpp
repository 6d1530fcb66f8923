// The backup and shortcut file panels on real files: what each command asks and reports, in order,
// with the dialogs answered by a script; the size limits checked before a file is read; a backup
// and a shortcut file exported and imported again through the panels; the desktop's own dialogs
// and alert driven under the offscreen platform; and screenshots of an alert in both languages.
#include "settings/BackupPanels.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <deque>

#include "platform/testing/WindowTesting.h"
#include "settings/DataBackup.h"
#include "settings/TextShortcutFile.h"
#include "settings/TextShortcuts.h"
#include "settings/UIStrings.h"
#include "settings/tests/SettingsTestSupport.h"

namespace tolvani {
namespace {

using BackupPanels::Alert;
using BackupPanels::AlertStyle;

const QString kShortcutFilters = QStringLiteral("*.json *.plist *.csv *.tsv *.txt *.text");

// Answers each dialog from a script (a path, or none for Cancel) and records every dialog, every
// alert and every run of the learned-data saver, in order.
class ScriptedDialogs final : public BackupPanels::Dialogs {
 public:
  std::deque<std::optional<QString>> answers;
  QStringList events;
  std::vector<Alert> alerts;

  std::optional<QString> chooseSaveFile(QWidget*, const QString& name,
                                        const QStringList& filters) override {
    events << "save " + name + " " + filters.join('|');
    return next();
  }
  std::optional<QString> chooseOpenFile(QWidget*, const QStringList& filters) override {
    events << "open " + filters.join('|');
    return next();
  }
  void showAlert(QWidget*, const Alert& alert) override {
    alerts.push_back(alert);
    events << QString(alert.style == AlertStyle::warning ? "warning: " : "info: ") + alert.text +
                  " [" + alert.button + "]";
  }
  bool confirm(QWidget*, const dialogs::Confirmation&) override {
    ADD_FAILURE() << "no backup command asks for a confirmation";
    return false;
  }

 private:
  std::optional<QString> next() {
    if (answers.empty()) {
      ADD_FAILURE() << "a dialog nobody answers";
      return std::nullopt;
    }
    std::optional<QString> answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

const QByteArray kBackup = testing::kBackup;

// The import as a command of its own, merging at once.
void importLearnedWords(QWidget* parent) { (void)BackupPanels::importLearnedWords(parent); }

std::string repeated(const std::string& text, std::size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += text;
  return out;
}

class BackupPanelsTest : public testing::LearnedDataTest {
 protected:
  void SetUp() override {
    LearnedDataTest::SetUp();
    ASSERT_TRUE(files_.isValid());
    AppSettings::setUiLanguage(1);
    AppSettings::resetTextShortcuts();
    BackupPanels::testSetDialogs(&dialogs_);
    BackupPanels::setLearnedDataSaver([this] { dialogs_.events << "learned data saved"; });
    posts_.clear();
  }
  void TearDown() override {
    EXPECT_TRUE(dialogs_.answers.empty()) << "unused answers";
    BackupPanels::setLearnedDataSaver(nullptr);
    BackupPanels::testSetDialogs(nullptr);
    AppSettings::setUiLanguage(1);
    LearnedDataTest::TearDown();
  }

  QString file(const QString& name) const { return files_.filePath(name); }
  QString writeFile(const QString& name, const QByteArray& bytes) {
    testing::writeBytes(file(name), bytes.toStdString());
    return file(name);
  }
  static std::string stores() {
    return testing::folderState(AppSettings::supportDirectoryURL(), {QStringLiteral("*.json")});
  }
  // Runs `command` with the dialogs answered by `answers`; the events it caused.
  QStringList run(void (*command)(QWidget*),
                  std::initializer_list<std::optional<QString>> answers) {
    dialogs_.events.clear();
    dialogs_.answers.assign(answers);
    command(nullptr);
    return dialogs_.events;
  }

  QTemporaryDir files_;
  ScriptedDialogs dialogs_;
};

TEST_F(BackupPanelsTest, CancellingAPanelDoesNothingElse) {
  ASSERT_EQ(run(importLearnedWords, {writeFile("seed.json", kBackup)}).last(),
            "info: Imported 1 learned word. [OK]");
  const std::string storesBefore = stores();
  const QMap<QString, QString> shortcutsBefore = AppSettings::textShortcuts();
  const std::vector<bool> postsBefore = posts_;
  const struct {
    void (*command)(QWidget*);
    QStringList events;
  } rows[] = {
      {BackupPanels::exportLearnedWords, {"learned data saved", "save tolvani-backup.json *.json"}},
      {importLearnedWords, {"open *.json"}},
      {BackupPanels::exportTextShortcuts, {"save Tolvani Shortcuts.json *.json"}},
      {BackupPanels::importTextShortcuts, {"open " + kShortcutFilters}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(run(row.command, {std::nullopt}), row.events);
    EXPECT_EQ(run(row.command, {QString()}), row.events);  // a dialog that chose nothing
  }
  EXPECT_EQ(stores(), storesBefore);
  EXPECT_EQ(AppSettings::textShortcuts(), shortcutsBefore);
  EXPECT_EQ(posts_, postsBefore);
  EXPECT_EQ(QDir(files_.path()).entryList(QDir::Files), QStringList{"seed.json"});
}

// The size is asked of the file system first: a file over the limit is refused without being
// read, even one far too large to read at all; a file at the limit is read and imported.
TEST_F(BackupPanelsTest, FilesOverTheLimitAreRefusedBeforeTheyAreRead) {
  const QString learnedTooLarge =
      "warning: The file is too large. Choose a backup under 2 MB. [OK]";
  const QString shortcutsTooLarge = "warning: The file is too large. Choose one under 200 KB. [OK]";
  auto padded = [](QByteArray bytes, qsizetype size, char pad) {
    return bytes + QByteArray(size - bytes.size(), pad);
  };
  QFile huge(file("huge.json"));
  ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 36));  // sparse
  huge.close();
  const struct {
    void (*command)(QWidget*);
    QString path;
    QString alert;
  } rows[] = {
      {importLearnedWords, writeFile("2000001.json", padded(kBackup, 2000001, ' ')),
       learnedTooLarge},
      {importLearnedWords, huge.fileName(), learnedTooLarge},
      {BackupPanels::importTextShortcuts, writeFile("200001.txt", padded("a=b\n", 200001, '#')),
       shortcutsTooLarge},
      {BackupPanels::importTextShortcuts, huge.fileName(), shortcutsTooLarge},
      {importLearnedWords, writeFile("2000000.json", padded(kBackup, 2000000, ' ')),
       "info: Imported 1 learned word. [OK]"},
      {BackupPanels::importTextShortcuts, writeFile("200000.txt", padded("a=b\n", 200000, '#')),
       "info: Imported 1 shortcut. [OK]"},
  };
  for (const auto& row : rows) {
    const QStringList events = run(row.command, {row.path});
    ASSERT_EQ(events.size(), 2) << row.path.toStdString();
    EXPECT_EQ(events[1], row.alert) << row.path.toStdString();
  }
  // Only the two files at the limit reached the stores (learned data to be reloaded, shortcuts
  // not); the import's own size check never ran.
  EXPECT_EQ(posts_, (std::vector<bool>{true, false}));
  for (const QString& line : log_.lines())
    EXPECT_FALSE(line.contains("oversized")) << line.toStdString();
}

TEST_F(BackupPanelsTest, EachImportResultHasItsAlert) {
  const QString comments = writeFile("comments.txt", "# one\n# two\n");
  const QString one = writeFile("one.csv", "zz,a single one\n");
  const QString notJson = writeFile("text.json", "hello");
  const QString noStores = writeFile("empty.json", R"({"version": 2})");
  const struct {
    int language;
    void (*command)(QWidget*);
    QString path;
    QString alert;
  } rows[] = {
      {1, BackupPanels::importTextShortcuts, comments,
       "warning: No usable shortcuts were found in the file. [OK]"},
      {1, BackupPanels::importTextShortcuts, one, "info: Imported 1 shortcut. [OK]"},
      {1, importLearnedWords, notJson,
       "warning: This is not an Tolvani backup, or it has no usable data. [OK]"},
      {0, importLearnedWords, noStores,
       "warning: এটি তোলভানির ব্যাকআপ ফাইল নয়, অথবা এতে ব্যবহারযোগ্য ডেটা নেই। [ঠিক আছে]"},
      {1, importLearnedWords, files_.path(), "warning: The file could not be opened. [OK]"},
      {1, importLearnedWords, file("gone.json"), "warning: The file could not be opened. [OK]"},
      {1, BackupPanels::importTextShortcuts, "/dev/zero",
       "warning: The file could not be opened. [OK]"},
      {1, importLearnedWords, writeFile("backup.json", kBackup),
       "info: Imported 1 learned word. [OK]"},
  };
  for (const auto& row : rows) {
    AppSettings::setUiLanguage(row.language);
    const QStringList events = run(row.command, {row.path});
    ASSERT_EQ(events.size(), 2) << row.path.toStdString();
    EXPECT_EQ(events[1], row.alert) << row.path.toStdString();
  }
  AppSettings::setUiLanguage(1);

  // A store on disk that cannot be merged fails the import before anything is written.
  testing::writeBytes(AppSettings::userDictionaryURL(), "{");
  EXPECT_EQ(run(importLearnedWords, {file("backup.json")}).last(),
            "warning: The imported data could not be saved. Your existing data was not changed. "
            "[OK]");

  // When the stores could not all be put back, the alert does not claim that nothing changed.
  ASSERT_TRUE(QFile::remove(AppSettings::userDictionaryURL()));
  testing::FaultFileSystem faults;
  AppSettings::testSetStoreFileSystem(&faults);
  for (int language : {1, 0}) {
    AppSettings::setUiLanguage(language);
    testing::writeBytes(AppSettings::userRejectionsURL(), R"({"entries":{"x":{"y":2}}})");
    // Rejections are replaced and then cannot be put back when selection memory fails.
    faults.failRenameTo = {{"selection-memory.json", 0}, {"rejections.json", 1}};
    EXPECT_EQ(run(importLearnedWords, {file("backup.json")}).last(),
              language == 1 ? "warning: The imported data could not be saved. [OK]"
                            : "warning: ইমপোর্ট করা ডেটা সংরক্ষণ করা যায়নি। [ঠিক আছে]");
  }
}

// A backup file whose long word is one character of marks in the order that canonical reordering
// must reverse (normalising it once took minutes), at 640 KB and at the 2 MB limit: that word and
// every text past its bound is dropped unread, the rest is imported. A word at the bound (1,152
// bytes) stays; one byte more and it goes.
TEST_F(BackupPanelsTest, ABackupWithAWordOfEndlessMarksImportsTheRest) {
  const std::string atBound = "12" + repeated("\u0301", 575);
  ASSERT_EQ(atBound.size(), 1'152u);
  const std::string head = R"({"dictionary":{"words":{"a)";
  const std::string tail =
      R"(":{"frequency":9},")" + atBound + R"(":{"frequency":2},"3)" + atBound +
      R"(":{"frequency":2},"আমি":{"frequency":3,"last_used":10}}},)"
      R"("bigrams":{"pairs":{"আমি":{"ভাত":{"frequency":2,"last_used":10},"b)" +
      repeated("\u0301\u0316", 2'000) +
      R"(":{"frequency":1}}}},"english_pairs":{"pairs":{"good":{"morning":5,"x)" +
      repeated("\u0301", 144) + R"(":1}}}})";
  for (const qsizetype size : {qsizetype{640'000}, AppSettings::maxImportedUserDataBytes}) {
    QDir(AppSettings::supportDirectoryURL()).removeRecursively();
    const std::size_t room = static_cast<std::size_t>(size) - head.size() - tail.size();
    std::string document = head + repeated("\u0301\u0316", room / 4) + tail;
    document += std::string(static_cast<std::size_t>(size) - document.size(), ' ');
    ASSERT_EQ(document.size(), static_cast<std::size_t>(size));
    EXPECT_EQ(
        run(importLearnedWords, {writeFile("hostile.json", QByteArray::fromStdString(document))})
            .last(),
        "info: Imported 2 learned words. [OK]");
    EXPECT_EQ(stores(),
              R"(english-pairs.json={"pairs":{"good":{"morning":5}}})"
              "\n"
              R"(user-bigrams.json={"pairs":{"আমি":{"ভাত":{"frequency":2,"last_used":10}}}})"
              "\n"
              R"(user-dictionary.json={"tombstones":{},"words":{")" +
                  atBound +
                  R"(":{"frequency":2},"আমি":{"frequency":3,"last_used":10}}})"
                  "\n")
        << size;
  }
}

// A shortcut file of the largest size read whose one text is a character of 100,000 marks: that
// shortcut is skipped unread, the others are stored.
TEST_F(BackupPanelsTest, AShortcutFileWithATextOfEndlessMarksImportsTheRest) {
  const std::size_t size = static_cast<std::size_t>(TextShortcutFile::maxFileBytes);
  std::string file = "# shortcuts\nhi\tহাই\nbye,\"বিদায়\"\nlong\ta";
  file += repeated("\u0301", (size - file.size()) / 2);
  file += std::string(size - file.size(), '\n');  // blank lines
  ASSERT_EQ(file.size(), static_cast<std::size_t>(TextShortcutFile::maxFileBytes));
  EXPECT_EQ(run(BackupPanels::importTextShortcuts,
                {writeFile("shortcuts.txt", QByteArray::fromStdString(file))})
                .last(),
            "info: Imported 2 shortcuts; skipped 1. [OK]");
  const QMap<QString, QString> stored = AppSettings::textShortcuts();
  EXPECT_EQ(stored.value("hi"), "হাই");
  EXPECT_EQ(stored.value("bye"), "বিদায়");
  EXPECT_FALSE(stored.contains("long"));
}

TEST_F(BackupPanelsTest, ExportedBackupAndShortcutsImportBackUnchanged) {
  ASSERT_EQ(run(importLearnedWords, {writeFile("seed.json", kBackup)}).last(),
            "info: Imported 1 learned word. [OK]");
  const std::string before = stores();
  ASSERT_NE(before.find("user-trigrams.json"), std::string::npos);

  EXPECT_EQ(run(BackupPanels::exportLearnedWords, {file("mine.json")}),
            QStringList({"learned data saved", "save tolvani-backup.json *.json",
                         "info: Saved to “mine.json”. [OK]"}));
  EXPECT_EQ(testing::readBytes(file("mine.json")), AppSettings::exportUserData()->toStdString());
  EXPECT_EQ(run(importLearnedWords, {file("mine.json")}),
            QStringList({"open *.json", "info: Imported 1 learned word. [OK]"}));
  EXPECT_EQ(stores(), before);

  const QMap<QString, QString> shortcuts = {{"brb", "be right back"}, {"nm", "নমস্কার"}};
  AppSettings::setTextShortcuts(shortcuts);
  EXPECT_EQ(run(BackupPanels::exportTextShortcuts, {file("shortcuts.json")}).last(),
            "info: Saved to “shortcuts.json”. [OK]");
  AppSettings::setTextShortcuts({});
  EXPECT_EQ(run(BackupPanels::importTextShortcuts, {file("shortcuts.json")}).last(),
            "info: Imported 2 shortcuts. [OK]");
  EXPECT_EQ(AppSettings::textShortcuts(), shortcuts);

  // A write that fails is logged and reported, and leaves no file behind.
  EXPECT_EQ(run(BackupPanels::exportTextShortcuts, {file("missing/shortcuts.json")}).last(),
            "warning: The file could not be saved. [OK]");
  EXPECT_TRUE(log_.lines().last().startsWith("[Tolvani] export failed: "))
      << log_.lines().last().toStdString();
  EXPECT_EQ(run(BackupPanels::exportLearnedWords, {files_.path()}).last(),
            "warning: The file could not be saved. [OK]");
  EXPECT_TRUE(log_.lines().last().startsWith("[Tolvani] export failed: "));
  EXPECT_EQ(QDir(files_.path()).entryList(QDir::Files, QDir::Name),
            QStringList({"mine.json", "seed.json", "shortcuts.json"}));
}

using testing::answerModal;

TEST_F(BackupPanelsTest, TheDesktopsDialogsAndAlert) {
  BackupPanels::testSetDialogs(nullptr);
  AppSettings::setTextShortcuts({{"brb", "be right back"}});
  const QString target = file("<b>mine.json");
  QStringList seen;
  answerModal<QFileDialog>([&](QFileDialog* dialog) {
    seen << QString::number(dialog->acceptMode()) + " " + dialog->nameFilters().join('|') + " " +
                QFileInfo(dialog->selectedFiles().value(0)).fileName();
    answerModal<QMessageBox>([&](QMessageBox* box) {
      seen << QString::number(box->icon()) + " " + box->text() + " " +
                  QString::number(box->textFormat()) + " " + box->buttons().value(0)->text();
      EXPECT_EQ(box->buttons().size(), 1);
      EXPECT_TRUE(box->informativeText().isEmpty());
      box->buttons().value(0)->click();
    });
    dialog->selectFile(target);
    static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
  });
  BackupPanels::exportTextShortcuts();
  EXPECT_EQ(seen,
            QStringList({"1 *.json Tolvani Shortcuts.json", "1 Saved to “<b>mine.json”. 0 OK"}));
  EXPECT_EQ(testing::readBytes(target), AppSettings::exportTextShortcuts().toStdString());

  // Cancelling the open dialog brings up nothing more.
  seen.clear();
  answerModal<QFileDialog>([&](QFileDialog* dialog) {
    seen << QString::number(dialog->fileMode()) + " " + dialog->nameFilters().join('|');
    dialog->reject();
  });
  BackupPanels::importTextShortcuts();
  EXPECT_EQ(seen, QStringList({"1 " + kShortcutFilters}));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// Three shortcuts taken, an unsafe one and an empty one skipped, in both languages.
TEST_F(BackupPanelsTest, AlertScreenshotsInBothLanguages) {
  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  writeFile("mixed.txt",
            "brb=be right back\nty=thank you\nomw=on my way\nx=\"a\u202eb\"\ny=\"\"\n");
  for (int language : {0, 1}) {
    AppSettings::setUiLanguage(language);
    EXPECT_EQ(run(BackupPanels::importTextShortcuts, {file("mixed.txt")}).value(1),
              language == 0 ? "info: 3 টি শর্টকাট আনা হয়েছে; 2 টি বাদ গেছে। [ঠিক আছে]"
                            : "info: Imported 3 shortcuts; skipped 2. [OK]");
    const auto box = dialogs::makeAlertBox(nullptr, dialogs_.alerts.back());
    box->show();
    QApplication::processEvents();
    for (QLabel* label : box->findChildren<QLabel*>()) {
      EXPECT_GE(label->width(), label->minimumSizeHint().width()) << label->text().toStdString();
      EXPECT_GE(label->height(), label->heightForWidth(label->width()));
    }
    const QString path =
        folder + (language == 0 ? "/backup-alert-bangla.png" : "/backup-alert-english.png");
    EXPECT_TRUE(box->grab().save(path)) << path.toStdString();
  }
}

}  // namespace
}  // namespace tolvani
