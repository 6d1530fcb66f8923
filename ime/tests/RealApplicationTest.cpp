// Bangla typed into real applications: GTK 3, GTK 4 and Qt 6 text fields on a virtual X display,
// each using its toolkit's own IBus module (and through fcitx5's modules, with a real fcitx5
// daemon), receive X key events and hold the converted text, also where the keymap moves keys; a
// Banglish selection in them is replaced by Bangla, and nothing else is.
#include <gtest/gtest.h>
#include <ibus.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>
#include <ostream>

#include "ime/testing/MenuPanel.h"
#include "ime/testing/VirtualDesktop.h"

namespace tolvani {
namespace {

using testing::MenuPanel;
using testing::TextWindow;
using testing::VirtualDesktop;

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

struct FaceCase {
  const char* name;
  TextWindow::Toolkit toolkit;
  bool fcitx5;
};
void PrintTo(const FaceCase& c, std::ostream* os) { *os << c.name; }

class RealApplicationTest : public ::testing::TestWithParam<FaceCase> {};

// Waits until the engine has attached to a client's input context.
bool engineActive(VirtualDesktop& desktop) {
  return desktop.waitFor([&] {
    for (const QString& line : desktop.events()) {
      // Through fcitx5 too, the program hears of the field before any key.
      if (line.startsWith(QLatin1String("activate "))) return true;
    }
    return false;
  });
}

TEST_P(RealApplicationTest, SentenceTypedAsKeysLandsInTheFieldAsBangla) {
  const FaceCase& c = GetParam();
  // fcitx5 draws its own candidate list (its classic interface) where the panel would be.
  testing::Fcitx5DaemonHarness::Options fcitx5;
  fcitx5.addons << QStringLiteral("classicui");
  std::unique_ptr<VirtualDesktop> made =
      c.fcitx5 ? std::make_unique<VirtualDesktop>(fcitx5)
               : std::make_unique<VirtualDesktop>(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
  VirtualDesktop& desktop = *made;
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  TextWindow* window = desktop.open(
      c.toolkit, {QStringLiteral("--fields"), QStringLiteral("2"), QStringLiteral("--title"),
                  QString::fromLatin1(c.name) + QStringLiteral(" fields")});
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  ASSERT_EQ(window->fieldCount(), 2);
  ASSERT_TRUE(desktop.focus(*window, 0)) << window->errors().toStdString();
  ASSERT_TRUE(desktop.selectEngine("tolvani"));
  ASSERT_TRUE(engineActive(desktop)) << desktop.events().join('\n').toStdString();

  // Halfway through a word the candidate panel is open beside the field.
  ASSERT_TRUE(desktop.type(QStringLiteral("ami tomake bhalobashi. kemon ach")));
  EXPECT_TRUE(window->waitForText(0, u("আমি তোমাকে ভালোবাসি। কেমন ")))
      << window->text(0).toStdString();
  if (c.fcitx5) {
    EXPECT_TRUE(window->waitForPreedit(0, u("আছ"))) << window->preedit(0).toStdString();
    testing::waitUntil([] { return false; }, 300);
  } else {
    EXPECT_TRUE(desktop.waitForWindow(QStringLiteral("Tolvani")));
  }
  const QString shot = QStringLiteral(TOLVANI_TEST_BINARY_DIR) +
                       QStringLiteral("/screenshots/real-application-") +
                       QString::fromLatin1(c.name) + QStringLiteral(".png");
  EXPECT_TRUE(desktop.screenshot(shot, QRect(0, 0, 640, 360))) << shot.toStdString();

  ASSERT_TRUE(desktop.type(QStringLiteral("o? ")));
  EXPECT_TRUE(window->waitForText(0, u("আমি তোমাকে ভালোবাসি। কেমন আছো? ")))
      << window->text(0).toStdString();
  // The other field of the window got nothing.
  EXPECT_EQ(window->text(1), QString());
}

INSTANTIATE_TEST_SUITE_P(Toolkits, RealApplicationTest,
                         ::testing::Values(FaceCase{"gtk3", TextWindow::Toolkit::Gtk3, false},
                                           FaceCase{"qt6", TextWindow::Toolkit::Qt6, false},
                                           FaceCase{"gtk3_fcitx5", TextWindow::Toolkit::Gtk3, true},
                                           FaceCase{"qt6_fcitx5", TextWindow::Toolkit::Qt6, true},
                                           FaceCase{"gtk4_fcitx5", TextWindow::Toolkit::Gtk4,
                                                    true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A keymap that gives codes other symbols than the US layout does, as xmodmap does: "a" on
// Escape's code, "n" on BackSpace's and Space on x's. The keys type what the keymap says.
TEST(RemappedKeymapTest, KeysTypeWhatTheKeymapGivesThem) {
  VirtualDesktop desktop(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  QTemporaryDir dir;
  QFile keymap(dir.filePath(QStringLiteral("remapped.xkb")));
  ASSERT_TRUE(keymap.open(QIODevice::WriteOnly));
  keymap.write(R"xkb(xkb_keymap {
  xkb_keycodes { include "evdev+aliases(qwerty)" };
  xkb_types { include "complete" };
  xkb_compat { include "complete" };
  xkb_symbols {
    include "pc+us+inet(evdev)"
    key <ESC> { [ a, A ] };
    key <AC01> { [ Escape ] };
    key <BKSP> { [ n, N ] };
    key <AB06> { [ BackSpace ] };
    key <SPCE> { [ x, X ] };
    key <AB02> { [ space ] };
  };
};
)xkb");
  keymap.close();
  // Before any window, which reads the keymap as it starts.
  ASSERT_FALSE(desktop
                   .run(QStringLiteral("xkbcomp"), {QStringLiteral("-w"), QStringLiteral("0"),
                                                    keymap.fileName(), desktop.display()})
                   .isNull());
  TextWindow* window = desktop.open(TextWindow::Toolkit::Gtk3);
  ASSERT_NE(window, nullptr) << desktop.failure().toStdString();
  ASSERT_TRUE(desktop.focus(*window, 0)) << window->errors().toStdString();
  ASSERT_TRUE(desktop.selectEngine("tolvani"));
  ASSERT_TRUE(engineActive(desktop)) << desktop.events().join('\n').toStdString();
  ASSERT_TRUE(desktop.type(QStringLiteral("ami tomake bhalobashi. kemon acho? ")));
  EXPECT_TRUE(window->waitForText(0, u("আমি তোমাকে ভালোবাসি। কেমন আছো? ")))
      << window->text(0).toStdString();
}

// A word still being typed when the focus moves lands once in the application it was typed in,
// whatever takes the focus: another field of its window, a click in its own field, another
// program, a window with no field. One desktop runs every move in turn.
class FocusMoveTest : public ::testing::TestWithParam<FaceCase> {
 protected:
  void SetUp() override {
    const FaceCase& c = GetParam();
    desktop_ = c.fcitx5
                   ? std::make_unique<VirtualDesktop>(testing::Fcitx5DaemonHarness::Options{})
                   : std::make_unique<VirtualDesktop>(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
    ASSERT_TRUE(desktop_->ready()) << desktop_->failure().toStdString();
    const QString name = QString::fromLatin1(c.name);
    a_ = desktop_->open(c.toolkit, {QStringLiteral("--fields"), QStringLiteral("2"),
                                    QStringLiteral("--title"), name + QStringLiteral(" A")});
    ASSERT_NE(a_, nullptr) << desktop_->failure().toStdString();
    b_ = desktop_->open(c.toolkit, {QStringLiteral("--title"), name + QStringLiteral(" B"),
                                    QStringLiteral("--y"), QStringLiteral("360")});
    ASSERT_NE(b_, nullptr) << desktop_->failure().toStdString();
    none_ = desktop_->open(
        c.toolkit, {QStringLiteral("--fields"), QStringLiteral("0"), QStringLiteral("--title"),
                    name + QStringLiteral(" no field"), QStringLiteral("--x"),
                    QStringLiteral("560"), QStringLiteral("--y"), QStringLiteral("400")});
    ASSERT_NE(none_, nullptr) << desktop_->failure().toStdString();
    ASSERT_EQ(a_->fieldCount(), 2);
    ASSERT_FALSE(b_->field(0).intersects(a_->field(1)));
    // Qt's program: chosen while its field has the focus, as a person does, so that the daemon
    // does not name the toolkit of that context (Qt's module puts the word in itself when it
    // resets, and IBus must not do it again). GTK's: chosen first, so that its field is named; an
    // unnamed context's word follows when it has the focus again (IBusFocusTest).
    if (c.toolkit == TextWindow::Toolkit::Qt6) {
      ASSERT_TRUE(focus(*a_, kTyped));
    }
    ASSERT_TRUE(desktop_->selectEngine("tolvani"));
    if (c.toolkit != TextWindow::Toolkit::Qt6) {
      ASSERT_TRUE(focus(*a_, kTyped));
    }
    ASSERT_TRUE(engineActive(*desktop_)) << events();
  }
  void TearDown() override { desktop_.reset(); }

  // The word is typed in A's lower field: the candidate panel, below it, leaves the other free.
  static constexpr int kTyped = 1;
  static constexpr int kOther = 0;

  std::string events() const { return desktop_->events().join('\n').toStdString(); }
  bool focus(TextWindow& window, int field) {
    return desktop_->focus(window, field) ||
           (ADD_FAILURE() << window.errors().toStdString(), false);
  }
  // Types a sentence whose last word stays pending in A's field, as it shows there.
  void compose() {
    ASSERT_TRUE(desktop_->type(QStringLiteral("ami tomake bhalo")));
    ASSERT_TRUE(a_->waitForText(kTyped, u("আমি তোমাকে "))) << a_->text(kTyped).toStdString();
    ASSERT_TRUE(a_->waitForPreedit(kTyped, u("ভালো"))) << a_->preedit(kTyped).toStdString();
  }
  // Every field of every window, and no composition left in any.
  void expectFields(const QString& typed, const QString& other, const QString& b) {
    EXPECT_EQ(a_->text(kTyped), typed);
    EXPECT_EQ(a_->text(kOther), other);
    EXPECT_EQ(b_->text(0), b);
    EXPECT_EQ(a_->preedit(kTyped), QString());
    EXPECT_EQ(a_->preedit(kOther), QString());
    EXPECT_EQ(b_->preedit(0), QString());
  }
  void clear() {
    EXPECT_TRUE(a_->clear(kTyped));
    EXPECT_TRUE(a_->waitForText(kOther, QString()));
    EXPECT_TRUE(b_->clear(0));
  }

  std::unique_ptr<VirtualDesktop> desktop_;
  TextWindow* a_ = nullptr;
  TextWindow* b_ = nullptr;
  TextWindow* none_ = nullptr;
};

TEST_P(FocusMoveTest, PendingWordLandsOnceInTheApplicationItWasTypedIn) {
  const QString sentence = u("আমি তোমাকে ভালো");
  {
    SCOPED_TRACE("a click into the other field of the window");
    ASSERT_NO_FATAL_FAILURE(compose());
    const QString shot = QStringLiteral(TOLVANI_TEST_BINARY_DIR) +
                         QStringLiteral("/screenshots/focus-move-pending-") +
                         QString::fromLatin1(GetParam().name) + QStringLiteral(".png");
    EXPECT_TRUE(desktop_->screenshot(shot, QRect(0, 0, 1024, 480))) << shot.toStdString();
    ASSERT_TRUE(focus(*a_, kOther));
    ASSERT_TRUE(desktop_->type(QStringLiteral("kemon ")));
    EXPECT_TRUE(a_->waitForText(kOther, u("কেমন "))) << a_->text(kOther).toStdString();
    expectFields(sentence, u("কেমন "), QString());
    clear();
  }
  {
    SCOPED_TRACE("a click at the start of the field it is typed in");
    ASSERT_TRUE(focus(*a_, kTyped));
    ASSERT_NO_FATAL_FAILURE(compose());
    // Before the first letter: GTK takes clicks only past the field's padding.
    const QRect field = a_->field(kTyped);
    const int inset = GetParam().toolkit == TextWindow::Toolkit::Gtk3 ? 10 : 3;
    ASSERT_TRUE(desktop_->click(QPoint(field.left() + inset, field.center().y())));
    // fcitx5's modules tell no click before the caret has moved: the word goes in where the caret
    // is then, and what is typed next is a word of its own after it.
    const QString clicked = GetParam().fcitx5 ? u("ভালোকেমন আমি তোমাকে ") : u("কেমন ") + sentence;
    if (!GetParam().fcitx5) {
      EXPECT_TRUE(a_->waitForText(kTyped, sentence)) << a_->text(kTyped).toStdString();
      EXPECT_TRUE(a_->waitForPreedit(kTyped, QString())) << a_->preedit(kTyped).toStdString();
    }
    // What is typed next goes where the click put the caret.
    ASSERT_TRUE(desktop_->type(QStringLiteral("kemon ")));
    EXPECT_TRUE(a_->waitForText(kTyped, clicked)) << a_->text(kTyped).toStdString();
    expectFields(clicked, QString(), QString());
    clear();
  }
  {
    SCOPED_TRACE("another program, then back");
    ASSERT_TRUE(focus(*a_, kTyped));
    ASSERT_NO_FATAL_FAILURE(compose());
    ASSERT_TRUE(focus(*b_, 0));
    ASSERT_TRUE(desktop_->type(QStringLiteral("kemon ")));
    EXPECT_TRUE(b_->waitForText(0, u("কেমন "))) << b_->text(0).toStdString();
    // IBus may have dropped A's preedit, B's focus coming first; it is A's when A is back.
    ASSERT_TRUE(desktop_->focusWindow(*a_));
    EXPECT_TRUE(a_->waitForFocus(kTyped));
    if (GetParam().toolkit == TextWindow::Toolkit::Gtk3) {
      // GTK's module tells IBus of the focus as the window gets it.
      EXPECT_TRUE(a_->waitForText(kTyped, sentence)) << a_->text(kTyped).toStdString();
    }
    // Qt's may tell it only with the next key: the word comes before that key's text.
    ASSERT_TRUE(desktop_->type(QStringLiteral(" ki ")));
    EXPECT_TRUE(a_->waitForText(kTyped, sentence + u(" কি "))) << a_->text(kTyped).toStdString();
    expectFields(sentence + u(" কি "), QString(), u("কেমন "));
    clear();
  }
  {
    SCOPED_TRACE("a window with no field, then the other field");
    ASSERT_TRUE(focus(*a_, kTyped));
    ASSERT_NO_FATAL_FAILURE(compose());
    ASSERT_TRUE(desktop_->focusWindow(*none_));
    EXPECT_TRUE(a_->waitForFocus(-1));
    // Keys go in order: once the other field has the later ones, these went nowhere.
    ASSERT_TRUE(desktop_->type(QStringLiteral("kemon ")));
    ASSERT_TRUE(focus(*a_, kOther));
    ASSERT_TRUE(desktop_->type(QStringLiteral("ki ")));
    EXPECT_TRUE(a_->waitForText(kOther, u("কি "))) << a_->text(kOther).toStdString();
    expectFields(sentence, u("কি "), QString());
  }
}

INSTANTIATE_TEST_SUITE_P(Toolkits, FocusMoveTest,
                         ::testing::Values(FaceCase{"gtk3", TextWindow::Toolkit::Gtk3, false},
                                           FaceCase{"qt6", TextWindow::Toolkit::Qt6, false},
                                           FaceCase{"gtk3_fcitx5", TextWindow::Toolkit::Gtk3, true},
                                           FaceCase{"qt6_fcitx5", TextWindow::Toolkit::Qt6, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The status messages the program has shown near the caret, oldest first.
QStringList statuses(VirtualDesktop& desktop) {
  QStringList shown;
  for (const QString& line : desktop.ibus().events()) {
    if (line.startsWith(QLatin1String("status "))) shown << line.mid(7);
  }
  return shown;
}

// A desktop with one field of one program, focused after Tolvani was chosen (so that the daemon
// names the field's toolkit), whose tables are loaded.
class OneFieldDesktop {
 public:
  void start(TextWindow::Toolkit toolkit, bool multiline) {
    ASSERT_TRUE(desktop_.ready()) << desktop_.failure().toStdString();
    panel_ = std::make_unique<MenuPanel>(desktop_.ibus().bus());
    ASSERT_TRUE(panel_->owned());
    QStringList arguments{QStringLiteral("--title"), QStringLiteral("Selection")};
    if (multiline) arguments << QStringLiteral("--multiline");
    window_ = desktop_.open(toolkit, arguments);
    ASSERT_NE(window_, nullptr) << desktop_.failure().toStdString();
    ASSERT_TRUE(desktop_.selectEngine("tolvani"));
    ASSERT_TRUE(desktop_.focus(*window_, 0)) << window_->errors().toStdString();
    ASSERT_TRUE(engineActive(desktop_)) << desktop_.ibus().events().join('\n').toStdString();
    ASSERT_TRUE(desktop_.type(QStringLiteral("ami ")));
    ASSERT_TRUE(window_->waitForText(0, u("আমি "))) << window_->text(0).toStdString();
    ASSERT_TRUE(window_->clear(0));
  }
  VirtualDesktop& desktop() { return desktop_; }
  TextWindow& window() { return *window_; }
  MenuPanel& panel() { return *panel_; }
  // Types text into the empty field as keys, "⏎" as the Return key, with English passthrough on,
  // until the field holds it. A GTK 4 program puts keys that IBus passed back in after keys that
  // came meanwhile, so a key can land out of its place there, the likelier the busier the
  // machine: then the field is emptied and the text typed again a key at a time, each once the
  // field holds the one before.
  bool typeBanglish(const QString& text) {
    const QString expected = QString(text).replace(u'⏎', u'\n');
    if (!window_->clear(0) || !type(text, 25)) return false;
    if (window_->waitForText(0, expected, 2000)) return true;
    if (!window_->clear(0)) return false;
    QString held;
    for (const char32_t c : text.toUcs4()) {
      const QString key = QString::fromUcs4(&c, 1);
      held += c == U'⏎' ? QStringLiteral("\n") : key;
      // A character no key gives stays on its key until the field has it.
      const bool arrived =
          c > 0x7f && c != U'⏎'
              ? desktop_.typeUnbound(c, [&] { return window_->waitForText(0, held, 20); })
              : type(key, 0) && window_->waitForText(0, held, 5000);
      if (!arrived) {
        ADD_FAILURE() << "typed: " << window_->text(0).toStdString();
        return false;
      }
    }
    return true;
  }

 private:
  bool type(const QString& text, int delayMs) {
    const QStringList lines = text.split(u'⏎');
    for (qsizetype i = 0; i < lines.size(); ++i) {
      if (i > 0 && !desktop_.key(QStringLiteral("Return"))) return false;
      if (!lines[i].isEmpty() && !desktop_.type(lines[i], delayMs)) return false;
    }
    return true;
  }

  VirtualDesktop desktop_{QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR)};
  std::unique_ptr<MenuPanel> panel_;
  TextWindow* window_ = nullptr;
};

// "Can't read the selection in this app", in the interface language (Bangla at first).
constexpr const char* kUnreadable = "এই অ্যাপের সিলেকশন পড়া যায়নি";
// "Can't read the selection here; use a text editor".
constexpr const char* kHidden = "এই ফিল্ডের সিলেকশন পড়া যায় না; টেক্সট এডিটরে করুন";

struct SelectionFieldCase {
  const char* name;
  TextWindow::Toolkit toolkit;
  bool multiline;
  // What the key and the menu row say of every selection where the field's toolkit does not tell
  // it as it is (GTK 4's, through IBus, tells another; GTK 3's one-line fields tell none), or null
  // where it does.
  const char* refusal;
  // What a selection across two paragraphs gives: the message (in the interface language, Bangla
  // at first), or null where there are no paragraphs.
  const char* acrossParagraphs;
};
void PrintTo(const SelectionFieldCase& c, std::ostream* os) { *os << c.name; }

class BanglishSelectionTest : public ::testing::TestWithParam<SelectionFieldCase> {};

// Control-Alt-B replaced the selection with its Bangla and then removed as many characters again,
// or the text before it, or converted text the person never selected: each field's whole text
// shows that only the selection changed, or, where the toolkit does not tell the selection as it
// is, that nothing did.
TEST_P(BanglishSelectionTest, OnlyTheSelectionIsReplaced) {
  const SelectionFieldCase& field = GetParam();
  OneFieldDesktop session;
  ASSERT_NO_FATAL_FAILURE(session.start(field.toolkit, field.multiline));
  VirtualDesktop& desktop = session.desktop();
  TextWindow& window = session.window();
  const QString left = QStringLiteral("Left ");
  const QString right = QStringLiteral("Right ");
  const QString shiftLeft = QStringLiteral("shift+Left ");
  const QString shiftRight = QStringLiteral("shift+Right ");
  struct Case {
    const char* name;
    const char* typed;
    QString keys;  // from the end of the typed text
    const char* converted;
    bool multilineOnly = false;
  };
  const Case cases[] = {
      {"caret after, text on both sides", "hello friend ami tomake world",
       left.repeated(16) + shiftRight.repeated(3), "hello friend আমি tomake world"},
      {"caret before, text on both sides", "hello friend ami tomake world",
       left.repeated(6) + shiftLeft.repeated(10), "hello friend আমি তোমাকে world"},
      {"caret before, at the start", "ami hello world and more",
       QStringLiteral("Home ") + right.repeated(3) + shiftLeft.repeated(3),
       "আমি hello world and more"},
      {"caret at the end, not the text's", "hello ami tomake bhalobashi world",
       QStringLiteral("Home ") + right.repeated(6) + shiftRight.repeated(21),
       "hello আমি তোমাকে ভালোবাসি world"},
      {"an emoji before", "😀 ami tomake", left.repeated(10) + shiftRight.repeated(10),
       "😀 আমি তোমাকে"},
      {"the whole text, with Control+A", "ami", QStringLiteral("ctrl+a"), "আমি"},
      {"two paragraphs", "first ami⏎tomake end",
       QStringLiteral("ctrl+Home ") + right.repeated(6) + shiftRight.repeated(10), nullptr, true},
  };
  ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+space")));  // English passthrough: Banglish
  bool pictured = false;
  for (const Case& c : cases) {
    if (c.multilineOnly && !field.multiline) continue;
    SCOPED_TRACE(c.name);
    const QString typed = u(c.typed).replace(u'⏎', u'\n');
    ASSERT_TRUE(session.typeBanglish(u(c.typed)));
    ASSERT_TRUE(desktop.key(c.keys.trimmed()));
    const qsizetype told = statuses(desktop).size();
    ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+alt+b")));
    if (c.converted && !field.refusal) {
      EXPECT_TRUE(window.waitForText(0, u(c.converted))) << window.text(0).toStdString();
      EXPECT_EQ(statuses(desktop).mid(told).join(u'|').toStdString(), "")
          << "a conversion says nothing";
      continue;
    }
    // A refusal is told at once; a conversion would have been on its way before it.
    EXPECT_TRUE(desktop.ibus().waitFor([&] { return statuses(desktop).size() > told; }));
    if (c.converted == nullptr && field.acrossParagraphs) {
      EXPECT_EQ(statuses(desktop).mid(told).join(u'|').toStdString(), field.acrossParagraphs);
    }
    if (field.refusal) {
      // The key and the menu row give the same reason: the selection cannot be read here, not
      // that there is none.
      session.panel().choose("convertBanglishSelection");
      EXPECT_TRUE(desktop.ibus().waitFor([&] { return statuses(desktop).size() > told + 1; }));
      EXPECT_EQ(statuses(desktop).mid(told).join(u'|').toStdString(),
                std::string(field.refusal) + "|" + field.refusal);
      if (!pictured) {
        pictured = desktop.screenshot(
            QStringLiteral(TOLVANI_TEST_BINARY_DIR "/screenshots/conversion-refused-%1.png")
                .arg(QLatin1String(field.name)));
      }
    }
    desktop.ibus().settle();
    EXPECT_EQ(window.text(0).toStdString(), typed.toStdString());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BanglishSelectionTest,
    ::testing::Values(
        SelectionFieldCase{"qt6_line", TextWindow::Toolkit::Qt6, false, nullptr, nullptr},
        // "Can't read the selection in this app"
        SelectionFieldCase{"qt6_text", TextWindow::Toolkit::Qt6, true, nullptr,
                           "এই অ্যাপের সিলেকশন পড়া যায়নি"},
        // GTK 3 tells only the caret's paragraph, and no selection beyond it: "Select Banglish
        // text first".
        SelectionFieldCase{"gtk3_view", TextWindow::Toolkit::Gtk3, true, nullptr,
                           "আগে বাংলিশ লেখা সিলেক্ট করুন"},
        // A GTK 3 one-line field tells its caret alone, whatever is selected: never "Select
        // Banglish text first".
        SelectionFieldCase{"gtk3_line", TextWindow::Toolkit::Gtk3, false, kHidden, nullptr},
        SelectionFieldCase{"gtk4_view", TextWindow::Toolkit::Gtk4, true, kUnreadable, nullptr},
        SelectionFieldCase{"gtk4_line", TextWindow::Toolkit::Gtk4, false, kUnreadable, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// Selects from the edge before character `from` to the edge before `to` (GTK counts characters,
// Qt UTF-16 units) with a mouse drag, from inside the first character to inside the last: the
// nearest edges. Answers once the program tells that selection: a menu row chosen sooner could
// reach Tolvani before the program has told it, which no person is quick enough to do.
bool dragSelect(VirtualDesktop& desktop, TextWindow& window, int from, int to) {
  const QPoint start = window.characterPoint(0, from);
  const QPoint end = window.characterPoint(0, to);
  return !start.isNull() && !end.isNull() &&
         desktop.drag(start + QPoint(1, 0), end + QPoint(1, 0)) &&
         window.waitForSelection(0, from, to);
}

enum class Ask { key, menu };

void askToConvert(OneFieldDesktop& session, Ask ask) {
  if (ask == Ask::menu) {
    // A person takes a while to open the menu and pick the row: by then the program's reports of
    // the selection made have reached Tolvani. The key comes after them on the program's own
    // line to the daemon; the row comes on the panel's.
    session.desktop().ibus().settleAfterPause();
    session.panel().choose("convertBanglishSelection");
  } else {
    ASSERT_TRUE(session.desktop().key(QStringLiteral("ctrl+alt+b")));
  }
}

const char* name(Ask ask) { return ask == Ask::key ? "by the key" : "by the menu"; }

struct RepeatFieldCase {
  const char* name;
  TextWindow::Toolkit toolkit;
  bool multiline;
};
void PrintTo(const RepeatFieldCase& c, std::ostream* os) { *os << c.name; }

// A field that holds the text and the selection it held before an earlier conversion was taken
// for the field as that conversion left it (the caret after the Bangla, nothing selected): "Select
// Banglish text first", and nothing converted. The selection the field tells now is the one
// converted, by the key and by the menu.
class RepeatedConversion : public ::testing::TestWithParam<RepeatFieldCase> {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(session_.start(GetParam().toolkit, GetParam().multiline));
    ASSERT_TRUE(session_.desktop().key(QStringLiteral("ctrl+space")));  // English passthrough
  }
  // Asks for a conversion and waits for the field to hold `expected`; nothing may be said.
  void convertTo(Ask ask, const char* expected) {
    SCOPED_TRACE(name(ask));
    const qsizetype told = statuses(session_.desktop()).size();
    ASSERT_NO_FATAL_FAILURE(askToConvert(session_, ask));
    EXPECT_TRUE(session_.window().waitForText(0, u(expected)))
        << session_.window().text(0).toStdString()
        << " | said: " << statuses(session_.desktop()).mid(told).join(u'|').toStdString();
    EXPECT_EQ(statuses(session_.desktop()).mid(told).join(u'|').toStdString(), "");
  }
  OneFieldDesktop session_;
};

// Qt's undo puts back the text the conversion replaced, and in a one-line edit the selection too;
// in a text edit the same selection is made again with keys.
class UndoneConversionTest : public RepeatedConversion {};
TEST_P(UndoneConversionTest, IsDoneAgain) {
  VirtualDesktop& desktop = session_.desktop();
  ASSERT_TRUE(session_.typeBanglish(QStringLiteral("hello ami tomake world")));
  ASSERT_TRUE(desktop.key(QStringLiteral("Home ") + QStringLiteral("Right ").repeated(6) +
                          QStringLiteral("shift+Right ").repeated(10).trimmed()));
  for (const Ask ask : {Ask::key, Ask::key, Ask::menu}) {
    ASSERT_NO_FATAL_FAILURE(convertTo(ask, "hello আমি তোমাকে world"));
    ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+z")));
    ASSERT_TRUE(session_.window().waitForText(0, u("hello ami tomake world")))
        << session_.window().text(0).toStdString();
    if (GetParam().multiline) {
      ASSERT_TRUE(desktop.key(QStringLiteral("Left ").repeated(10) +
                              QStringLiteral("shift+Right ").repeated(10).trimmed()));
    }
    // The field as it was before the conversion, "ami tomake" selected.
    ASSERT_TRUE(session_.window().waitForSelection(0, 6, 16))
        << session_.window().selection(0).toStdString();
  }
}

// The same words in the next paragraph: the paragraph a toolkit tells holds the same text, with
// the selection at the same place in it.
class RepeatedPhraseTest : public RepeatedConversion {};
TEST_P(RepeatedPhraseTest, InTheNextParagraphIsConverted) {
  VirtualDesktop& desktop = session_.desktop();
  for (const Ask ask : {Ask::key, Ask::menu}) {
    ASSERT_TRUE(session_.typeBanglish(u("hello ami tomake world⏎hello ami tomake world")));
    ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+Home ") + QStringLiteral("Right ").repeated(6) +
                            QStringLiteral("shift+Right ").repeated(10).trimmed()));
    ASSERT_TRUE(session_.window().waitForSelection(0, 6, 16));
    ASSERT_NO_FATAL_FAILURE(convertTo(Ask::key, "hello আমি তোমাকে world\nhello ami tomake world"));
    // "ami tomake" of the second paragraph, which starts at 23; a click at its end first, so
    // that the press does not add up with the last drag's to a double click.
    const QPoint end = session_.window().characterPoint(0, 45);
    ASSERT_FALSE(end.isNull());
    ASSERT_TRUE(desktop.click(end));
    ASSERT_TRUE(dragSelect(desktop, session_.window(), 29, 39));
    ASSERT_NO_FATAL_FAILURE(convertTo(ask, "hello আমি তোমাকে world\nhello আমি তোমাকে world"));
  }
}

// The field emptied and the same text typed and selected again, three times.
class RepeatedSelectionTest : public RepeatedConversion {};
TEST_P(RepeatedSelectionTest, MadeAgainIsConverted) {
  for (const Ask ask : {Ask::key, Ask::key, Ask::menu}) {
    ASSERT_TRUE(session_.typeBanglish(QStringLiteral("hello ami tomake world")));
    // A click at the end first: a press where the last drag began would add up with it to a
    // double or triple click, which selects a word or the line.
    const QPoint end = session_.window().characterPoint(0, 22);
    ASSERT_FALSE(end.isNull());
    ASSERT_TRUE(session_.desktop().click(end));
    ASSERT_TRUE(dragSelect(session_.desktop(), session_.window(), 6, 9));
    ASSERT_NO_FATAL_FAILURE(convertTo(ask, "hello আমি tomake world"));
  }
}

const RepeatFieldCase kQtLine{"qt6_line", TextWindow::Toolkit::Qt6, false};
const RepeatFieldCase kQtText{"qt6_text", TextWindow::Toolkit::Qt6, true};
const RepeatFieldCase kGtkView{"gtk3_view", TextWindow::Toolkit::Gtk3, true};
const auto kFieldName = [](const auto& info) { return std::string(info.param.name); };
// GTK 3's fields undo nothing.
INSTANTIATE_TEST_SUITE_P(Fields, UndoneConversionTest, ::testing::Values(kQtLine, kQtText),
                         kFieldName);
INSTANTIATE_TEST_SUITE_P(Fields, RepeatedPhraseTest, ::testing::Values(kQtText, kGtkView),
                         kFieldName);
INSTANTIATE_TEST_SUITE_P(Fields, RepeatedSelectionTest,
                         ::testing::Values(kQtLine, kQtText, kGtkView), kFieldName);

// GTK 3 tells its selection only with key presses, and the menu comes without one: the row
// converted the selection of the last key, somewhere else in the text. It converts the selection
// the person made with the mouse, also when no key was pressed since the last conversion.
TEST(BanglishSelectionMenuTest, RowConvertsTheSelectionMadeWithTheMouse) {
  OneFieldDesktop session;
  ASSERT_NO_FATAL_FAILURE(session.start(TextWindow::Toolkit::Gtk3, /*multiline=*/true));
  VirtualDesktop& desktop = session.desktop();
  TextWindow& window = session.window();
  ASSERT_TRUE(desktop.key(QStringLiteral("ctrl+space")));
  ASSERT_TRUE(session.typeBanglish(QStringLiteral("hello ami tomake world")));
  ASSERT_TRUE(desktop.key(QStringLiteral("shift+Left ").repeated(5).trimmed()));
  ASSERT_TRUE(dragSelect(desktop, window, 7, 10));  // "mi "
  session.panel().choose("convertBanglishSelection");
  EXPECT_TRUE(window.waitForText(0, u("hello aমি tomake world"))) << window.text(0).toStdString();
  ASSERT_TRUE(dragSelect(desktop, window, 10, 16));  // "tomake", in characters
  session.panel().choose("convertBanglishSelection");
  EXPECT_TRUE(window.waitForText(0, u("hello aমি তোমাকে world"))) << window.text(0).toStdString();
  EXPECT_EQ(statuses(desktop).join(u'|').toStdString(), "");
}

// The harness itself: fields of two programs, focus by click and by Tab, and a window without a
// field, each field keeping only what was typed while it had the focus.
TEST(RealApplicationHarnessTest, EachFieldOfTwoProgramsHoldsWhatWasTypedInIt) {
  VirtualDesktop desktop(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR));
  ASSERT_TRUE(desktop.ready()) << desktop.failure().toStdString();
  TextWindow* gtk =
      desktop.open(TextWindow::Toolkit::Gtk3, {QStringLiteral("--fields"), QStringLiteral("2")});
  ASSERT_NE(gtk, nullptr) << desktop.failure().toStdString();
  TextWindow* qt =
      desktop.open(TextWindow::Toolkit::Qt6, {QStringLiteral("--y"), QStringLiteral("240")});
  ASSERT_NE(qt, nullptr) << desktop.failure().toStdString();
  TextWindow* empty =
      desktop.open(TextWindow::Toolkit::Gtk3,
                   {QStringLiteral("--fields"), QStringLiteral("0"), QStringLiteral("--title"),
                    QStringLiteral("No field"), QStringLiteral("--x"), QStringLiteral("600")});
  ASSERT_NE(empty, nullptr) << desktop.failure().toStdString();
  EXPECT_EQ(empty->fieldCount(), 0);
  EXPECT_TRUE(desktop.waitForWindow(QStringLiteral("No field")));
  EXPECT_FALSE(qt->field(0).intersects(gtk->field(1)));

  ASSERT_TRUE(desktop.focus(*gtk, 0));
  ASSERT_TRUE(desktop.selectEngine("tolvani"));
  ASSERT_TRUE(engineActive(desktop));
  ASSERT_TRUE(desktop.type(QStringLiteral("ami ")));
  ASSERT_TRUE(gtk->waitForText(0, u("আমি "))) << gtk->text(0).toStdString();
  ASSERT_TRUE(desktop.key(QStringLiteral("Tab")));
  ASSERT_TRUE(gtk->waitForFocus(1));
  ASSERT_TRUE(desktop.type(QStringLiteral("tumi ")));
  EXPECT_TRUE(gtk->waitForText(1, u("তুমি "))) << gtk->text(1).toStdString();
  ASSERT_TRUE(desktop.focus(*qt, 0));
  ASSERT_TRUE(desktop.type(QStringLiteral("se ")));
  EXPECT_TRUE(qt->waitForText(0, u("সে "))) << qt->text(0).toStdString();
  // Keys over a window with no field reach no field.
  ASSERT_TRUE(desktop.focusWindow(*empty));
  ASSERT_TRUE(desktop.click(QPoint(700, 20)));
  EXPECT_TRUE(qt->waitForFocus(-1));
  ASSERT_TRUE(desktop.type(QStringLiteral("ki ")));
  // Keys are delivered in order: once the next field has the later ones, those went nowhere.
  ASSERT_TRUE(desktop.focus(*qt, 0));
  ASSERT_TRUE(desktop.type(QStringLiteral("ar ")));
  EXPECT_TRUE(qt->waitForText(0, u("সে আর "))) << qt->text(0).toStdString();
  EXPECT_EQ(gtk->text(0), u("আমি "));
  EXPECT_EQ(gtk->text(1), u("তুমি "));
  // The program empties its fields on request.
  EXPECT_TRUE(gtk->clear(0));
  EXPECT_TRUE(gtk->waitForText(1, QString()));
}

}  // namespace
}  // namespace tolvani
