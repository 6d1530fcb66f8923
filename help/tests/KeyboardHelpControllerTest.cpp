// The keyboard help window and its four tabs: the texts, columns and rules the tabs are built from,
// the layout documents as the build installs them and as a broken bundle may hold them, and the
// window itself under the offscreen platform, with screenshots of every tab.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QVector>
#include <QtTest/QTest>
#include <algorithm>
#include <map>
#include <ostream>

#include "help/KeyboardHelpController.h"
#include "platform/Bundle.h"
#include "platform/testing/WindowTesting.h"

namespace tolvani {

void PrintTo(const TextFragment& fragment, std::ostream* os) {
  *os << "{\"" << fragment.text.toStdString() << "\", style " << static_cast<int>(fragment.style)
      << "}";
}

namespace {

namespace bundle = platform::bundle;

const QChar kVirama(0x09CD);
const QString kRule40 = QString(40, QChar(0x2500)) + u'\n';
const QString kRule50 = QString(50, QChar(0x2500)) + u'\n';

// Nukta letters are written as base letter + U+09BC everywhere in the help.
bool hasPrecomposedNukta(const QString& text) {
  return text.contains(QChar(0x09DC)) || text.contains(QChar(0x09DD)) ||
         text.contains(QChar(0x09DF));
}

QString spaces(int count) { return QString(count, QLatin1Char(' ')); }

std::vector<QString> textsOf(const HelpText& text, TextStyle style) {
  std::vector<QString> result;
  for (const TextFragment& fragment : text.fragments()) {
    if (fragment.style == style) result.push_back(fragment.text);
  }
  return result;
}

// The lines of the text that hold a row: the ones with a key fragment.
std::vector<QString> rowLines(const HelpText& text) {
  std::vector<QString> rows;
  QString line;
  bool hasKey = false;
  for (const TextFragment& fragment : text.fragments()) {
    for (QChar c : fragment.text) {
      line += c;
      if (c == u'\n') {
        if (hasKey) rows.push_back(line);
        line.clear();
        hasKey = false;
      } else if (fragment.style == TextStyle::keyStyle) {
        hasKey = true;
      }
    }
  }
  return rows;
}

TEST(KeyboardHelpControllerTest, ColumnRulePadsAndCutsInUtf16Units) {
  const QString emoji = QString::fromUtf16(u"\U0001F600");
  const struct {
    QString text;
    int length;
    QString expected;
  } cases[] = {
      {"", 3, "   "},
      {"ab", 3, "ab "},
      {"abc", 3, "abc"},
      {"abcd", 3, "abc"},
      {QString::fromUtf16(u"ড\u09BC"), 4, QString::fromUtf16(u"ড\u09BC  ")},
      {"a" + emoji, 3, "a" + emoji},
      {"ab" + emoji, 3, "ab "},  // the pair is never split
      {"ab" + emoji, 4, "ab" + emoji},
  };
  for (const auto& c : cases) {
    const QString result = padded(c.text, c.length);
    EXPECT_EQ(result, c.expected) << c.text.toStdString() << " to " << c.length;
    EXPECT_EQ(result.size(), c.length);
  }
}

TEST(KeyboardHelpControllerTest, PhoneticCardHasItsRowsHeadingsAndTips) {
  const HelpText card = KeyboardHelpController::buildPhoneticContent();
  const QString plain = card.plainText();
  EXPECT_TRUE(plain.startsWith(QStringLiteral("ফোনেটিক লে-আউট রেফারেন্স\n"
                                              "রোমান হরফ দিয়ে বাংলা টাইপ করুন\n"
                                              "\nস্বরবর্ণ (Vowels)\n") +
                               kRule40));
  EXPECT_TRUE(plain.endsWith(QStringLiteral("বঙ্গাব্দের তারিখ বসে")));

  EXPECT_EQ(textsOf(card, TextStyle::noteStyle).size(), 27u);
  const std::vector<QString> headings = {
      "\nস্বরবর্ণ (Vowels)\n",    "\nব্যঞ্জনবর্ণ (Consonants)\n",      "\nচিহ্ন (Marks & Punctuation)\n",
      "\nযুক্তবর্ণ (Conjuncts)\n", "\nবিশেষ শব্দ (Word Overrides)\n", "\nটিপস\n"};
  EXPECT_EQ(textsOf(card, TextStyle::sectionStyle), headings);
  for (const QString& muted : textsOf(card, TextStyle::mutedStyle)) {
    EXPECT_TRUE(muted == kRule40 || muted == QStringLiteral("→  ")) << muted.toStdString();
  }

  const std::vector<QString> rows = rowLines(card);
  ASSERT_EQ(rows.size(), 77u);
  EXPECT_EQ(rows[0], "a" + spaces(11) + QStringLiteral("→  আ / া   স্বাধীন / নির্ভরশীল\n"));
  EXPECT_EQ(rows[1], "i" + spaces(11) + QStringLiteral("→  ই / ি\n"));
  EXPECT_EQ(rows[18], "ch, chh" + spaces(5) + QStringLiteral("→  ছ\n"));
  EXPECT_EQ(rows[43], "sh, S" + spaces(7) + QStringLiteral("→  শ\n"));
  EXPECT_EQ(rows[46], "h, H" + spaces(8) + QStringLiteral("→  হ\n"));
  EXPECT_EQ(rows[50], ",," + spaces(10) + QStringLiteral("→  ") + QChar(0x09CD) + QChar(0x200C) +
                          QStringLiteral("   দৃশ্যমান হসন্ত; যুক্তবর্ণ ভাঙে\n"));
  EXPECT_EQ(rows[49], "t``" + spaces(9) + QStringLiteral("→  ৎ   t-এর পরে দুটি ব্যাকটিক\n"));
  EXPECT_EQ(rows[65], "ami" + spaces(9) + QStringLiteral("→  আমি\n"));
  EXPECT_EQ(rows[76], "aw" + spaces(10) + QStringLiteral("→  অ\n"));
  for (const QString& row : rows) {
    EXPECT_FALSE(row.endsWith(QStringLiteral(" \n"))) << row.toStdString();
  }
  EXPECT_FALSE(hasPrecomposedNukta(plain));
}

TEST(KeyboardHelpControllerTest, ConjunctRowsSplitAtTheViramaEqualTheirComponents) {
  const HelpText card = KeyboardHelpController::buildConjunctContent();
  EXPECT_EQ(textsOf(card, TextStyle::sectionStyle),
            (std::vector<QString>{"\nক-বর্গ\n", "\nগ-বর্গ\n", "\nচ-বর্গ\n", "\nট-বর্গ\n", "\nত-বর্গ\n",
                                  "\nপ-বর্গ\n", "\nঅন্যান্য\n"}));
  EXPECT_EQ(textsOf(card, TextStyle::mutedStyle), std::vector<QString>(7, kRule50));

  const std::vector<QString> glyphs = textsOf(card, TextStyle::glyphStyle);
  std::vector<QString> components = textsOf(card, TextStyle::noteStyle);
  ASSERT_EQ(components.front(), QStringLiteral("ফোনেটিকে ,, (দুটি কমা) দিয়ে হসন্ত যোগ করুন\n"));
  components.erase(components.begin());
  ASSERT_EQ(glyphs.size(), 51u);
  ASSERT_EQ(components.size(), 51u);
  int threeConsonants = 0;
  for (size_t i = 0; i < glyphs.size(); ++i) {
    const QStringList consonants = glyphs[i].split(kVirama);
    threeConsonants += consonants.size() == 3;
    EXPECT_EQ(components[i], padded("   (" + consonants.join(u'+') + ")", 18)) << i;
    EXPECT_FALSE(glyphs[i].contains(QChar(0x200C)) || glyphs[i].contains(QChar(0x200D)));
  }
  EXPECT_EQ(threeConsonants, 2);

  const std::vector<QString> rows = rowLines(card);
  ASSERT_EQ(rows.size(), 51u);
  EXPECT_EQ(rows[0], "kkh" + spaces(11) + QStringLiteral("ক্ষ   (ক+ষ)") + spaces(10) +
                         QStringLiteral("পরীক্ষা\n"));
  EXPECT_EQ(rows[3], "kk" + spaces(12) + QStringLiteral("ক্ক   (ক+ক)") + spaces(10) + "\n");
  EXPECT_EQ(rows[12], "Ngkkh" + spaces(9) + QStringLiteral("ঙ্ক্ষ   (ঙ+ক+ষ)") + spaces(8) +
                          QStringLiteral("আকাঙ্ক্ষা\n"));
  EXPECT_EQ(textsOf(card, TextStyle::exampleStyle).size(), 42u);
  EXPECT_FALSE(hasPrecomposedNukta(card.plainText()));

  // The closing note follows the last row at once.
  EXPECT_TRUE(card.plainText().endsWith(
      QStringLiteral("ব্রহ্ম\nরেফ: ব্যঞ্জনবর্ণের আগে rr দিন। যেমন: bOrrD → বোর্ড।\n"
                     "দুটি কমা (,,) দৃশ্যমান হসন্ত দেয়; যুক্তবর্ণ তৈরির জন্য উপরের বানান "
                     "ব্যবহার করুন।\n")));
}

class LayoutTabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(QDir(dir_.path()).mkpath("layouts"));
    bundle::testSetResourcesDir(dir_.path());
  }
  void TearDown() override { bundle::testSetResourcesDir(std::nullopt); }

  void write(const QString& name, const QByteArray& bytes) {
    QFile file(dir_.path() + "/layouts/" + name + ".json");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }

  QTemporaryDir dir_;
};

TEST_F(LayoutTabTest, UnusableDocumentShowsTitleAndFailureLine) {
  const QByteArray documents[] = {
      "",
      "not json",
      "[1, 2]",
      R"({"metadata": {}})",
      R"({"layers": []})",
      R"({"layers": {"default": {"q": "দ"}} )",
  };
  const std::vector<TextFragment> expected = {
      {QStringLiteral("প্রভাত লে-আউট রেফারেন্স\n\n"), TextStyle::titleStyle},
      {QStringLiteral("লে-আউট লোড করা যায়নি।"), TextStyle::bodyStyle}};
  EXPECT_EQ(KeyboardHelpController::buildFixedLayoutContent("probhat").fragments(), expected)
      << "no file";
  for (const QByteArray& document : documents) {
    write("probhat", document);
    EXPECT_EQ(KeyboardHelpController::buildFixedLayoutContent("probhat").fragments(), expected)
        << document.toStdString();
  }
}

TEST_F(LayoutTabTest, EmptyOrMalformedLayersListEveryKeyAsItself) {
  for (const QByteArray& document :
       {QByteArray(R"({"layers": {}})"),
        QByteArray(R"({"layers": {"default": {"q": 1}, "shift": [], "alt": {"a": null}}})")}) {
    write("national", document);
    const HelpText tab = KeyboardHelpController::buildFixedLayoutContent("national");
    const QString plain = tab.plainText();
    EXPECT_TRUE(plain.startsWith(QStringLiteral("জাতীয় (National) লে-আউট রেফারেন্স\n\n"
                                                "\nসাধারণ (Default Layer)\n") +
                                 kRule50 + QStringLiteral("`  →`     1  →1     2  →2   ")));
    EXPECT_EQ(textsOf(tab, TextStyle::sectionStyle),
              (std::vector<QString>{"\nসাধারণ (Default Layer)\n", "\nশিফট (Shift Layer)\n"}));
    const std::vector<QString> rows = rowLines(tab);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[7], QStringLiteral("Z  →Z     X  →X     C  →C     V  →V     B  →B     N  →N     "
                                      "M  →M     <  →<     >  →>     ?  →?     \n"));
    EXPECT_TRUE(plain.endsWith(
        QStringLiteral("?     \n\nটিপ: হসন্ত (্) দিয়ে দুটি বর্ণ যুক্ত করুন, যেমন ক + ্ + ত = ক্ত\n")));
  }
}

TEST_F(LayoutTabTest, RowsShowJoinersByNameCutLongOutputsAndSortTheAltLine) {
  write("other", QStringLiteral(R"({"layers": {
      "default": {"`": "\u200c", "1": "\u200d", "2": "ক্ষত্রিয়", "3": "\u09a1\u09bc", " ": "SPACE"},
      "shift": {"~": "ঁ"},
      "alt": {"a": "ঌ", "0": "৸", "`": "\u200c", ".": "়", "b": "\u200d"}}})")
                     .toUtf8());
  const HelpText tab = KeyboardHelpController::buildFixedLayoutContent("other");
  EXPECT_TRUE(tab.plainText().startsWith(QStringLiteral("জাতীয় (National) লে-আউট রেফারেন্স")));
  const std::vector<QString> rows = rowLines(tab);
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_TRUE(rows[0].startsWith(QStringLiteral("`  →ZWNJ  1  →ZWJ   2  →ক্ষত  3  →") +
                                 QChar(0x09A1) + QChar(0x09BC) + QStringLiteral("    4  →4     ")))
      << rows[0].toStdString();
  EXPECT_TRUE(rows[4].startsWith(QStringLiteral("~  →ঁ     !  →!     ")));
  EXPECT_EQ(rows[8], QStringLiteral(".  →়     0  →৸     `  →") + QChar(0x200C) +
                         QStringLiteral("     a  →ঌ     b  →") + QChar(0x200D) +
                         QStringLiteral("     \n"));
  EXPECT_EQ(textsOf(tab, TextStyle::sectionStyle).back(), QStringLiteral("\nAltGr Layer\n"));
  EXPECT_FALSE(tab.plainText().contains(QStringLiteral("SPAC")));
}

// The build lays the engine's layout documents out beside the program, where the bundle finds them.
TEST(KeyboardHelpControllerTest, ProbhatTabShowsTheInstalledLayout) {
  const HelpText tab = KeyboardHelpController::buildFixedLayoutContent("probhat");
  const std::vector<QString> rows = rowLines(tab);
  ASSERT_EQ(rows.size(), 9u);  // four default rows, four shift rows, the alt line
  EXPECT_EQ(rows[0], QStringLiteral("`  →ZWJ   1  →১     2  →২     3  →৩     4  →৪     5  →৫     "
                                    "6  →৬     7  →৭     8  →৮     9  →৯     0  →০     -  →-     "
                                    "=  →=     \n"));
  EXPECT_EQ(textsOf(tab, TextStyle::mutedStyle).size(), 3u + 47 + 47 + 11);
}

// Unijoy's tab: its keys, and the link key's pairs in the order of what they give.
TEST(KeyboardHelpControllerTest, UnijoyTabShowsItsKeysAndTheLinkKey) {
  const HelpText tab = KeyboardHelpController::buildFixedLayoutContent("unijoy");
  EXPECT_TRUE(tab.plainText().startsWith(QStringLiteral("ইউনিজয় (Unijoy) লে-আউট রেফারেন্স")));
  const std::vector<QString> rows = rowLines(tab);
  ASSERT_EQ(rows.size(), 10u);  // four default rows, four shift rows, the AltGr and link lines
  EXPECT_EQ(rows[2], QStringLiteral("a  →ৃ     s  →ু     d  →ি     f  →া     g  →্     h  →ব     "
                                    "j  →ক     k  →ত     l  →দ     ;  →;     '  →'     \n"));
  EXPECT_EQ(rows[9], QStringLiteral("gf →আ     gd →ই     gD →ঈ     gs →উ     gS →ঊ     ga →ঋ     "
                                    "gc →এ     gC →ঐ     gx →ও     gX →ঔ     gG →॥     \n"));
  EXPECT_EQ(textsOf(tab, TextStyle::sectionStyle).back(),
            QStringLiteral("\nলিংক কী (Link Key) g\n"));
}

// Fonts the window's columns depend on: they must be installed, or the columns drift.
TEST(KeyboardHelpControllerTest, StylesResolveToInstalledFonts) {
  const QPalette palette;
  const QFontInfo mono(textFormat(TextStyle::keyStyle, palette).font());
  EXPECT_TRUE(mono.fixedPitch());
  EXPECT_EQ(mono.family(), QStringLiteral("DejaVu Sans Mono"));
  const QFontInfo body(textFormat(TextStyle::bodyStyle, palette).font());
  EXPECT_EQ(body.family(), QStringLiteral("Noto Sans"));
  EXPECT_FALSE(textFormat(TextStyle::monoStyle, palette).hasProperty(QTextFormat::ForegroundBrush));
  EXPECT_EQ(textFormat(TextStyle::titleStyle, palette).font().pixelSize(), 17);
  EXPECT_EQ(textFormat(TextStyle::introStyle, palette).font().weight(), QFont::DemiBold);
}

QTextEdit* tabView(QTabWidget* tabs, int index) {
  return qobject_cast<QTextEdit*>(tabs->widget(index));
}

// Where the character at `position` of the view's document is drawn, from the view's left.
int xOf(QTextEdit* view, int position) {
  QTextCursor cursor(view->document());
  cursor.setPosition(position);
  return view->cursorRect(cursor).left();
}

TEST(KeyboardHelpControllerTest, WindowIsBuiltOnceWithFiveSelectableTabs) {
  KeyboardHelpController& controller = KeyboardHelpController::shared();
  EXPECT_EQ(&controller, &KeyboardHelpController::shared());
  QWidget* window = controller.window();
  EXPECT_EQ(window->windowTitle(), QStringLiteral("কীবোর্ড লে-আউট সাহায্য"));
  EXPECT_EQ(window->size(), QSize(680, 620));
  EXPECT_EQ(window->minimumSize(), QSize(550, 400));

  auto* tabs = window->findChild<QTabWidget*>();
  ASSERT_NE(tabs, nullptr);
  ASSERT_EQ(tabs->count(), 5);
  const HelpText contents[] = {KeyboardHelpController::buildPhoneticContent(),
                               KeyboardHelpController::buildFixedLayoutContent("probhat"),
                               KeyboardHelpController::buildFixedLayoutContent("national"),
                               KeyboardHelpController::buildFixedLayoutContent("unijoy"),
                               KeyboardHelpController::buildConjunctContent()};
  const char* identifiers[] = {"phonetic", "probhat", "national", "unijoy", "conjunct"};
  const QString labels[] = {"ফোনেটিক", "প্রভাত", "জাতীয়", "ইউনিজয়", "যুক্তবর্ণ"};
  controller.showWindow();
  for (int i = 0; i < 5; ++i) {
    QTextEdit* view = tabView(tabs, i);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->objectName(), identifiers[i]);
    EXPECT_EQ(tabs->tabText(i), labels[i]);
    EXPECT_TRUE(view->isReadOnly());
    EXPECT_TRUE(view->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_EQ(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    // Joiners and every other code point reach the view unchanged.
    EXPECT_EQ(view->document()->toPlainText(), contents[i].plainText()) << identifiers[i];
  }
  EXPECT_EQ(tabs->currentIndex(), 0);

  // Selectable and copyable, not editable.
  QTextEdit* conjunct = tabView(tabs, 4);
  conjunct->selectAll();
  conjunct->copy();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), contents[4].plainText());
  QTest::keyClick(conjunct, Qt::Key_Delete);
  QTest::keyClick(conjunct, Qt::Key_A);
  EXPECT_EQ(conjunct->toPlainText(), contents[4].plainText());
  conjunct->moveCursor(QTextCursor::Start);
  const QTextDocument* shownDocument = conjunct->document();

  // A narrower window rewraps without horizontal scrolling and keeps the 8-point margin.
  window->resize(400, 300);
  QCoreApplication::processEvents();
  window->layout()->activate();
  EXPECT_EQ(window->size(), QSize(550, 400));
  EXPECT_EQ(tabs->geometry(), QRect(8, 8, 550 - 16, 400 - 16));
  window->resize(680, 620);

  // The phonetic keys are padded in a monospaced font, so every arrow stands in one column.
  QTextEdit* phonetic = tabView(tabs, 0);
  tabs->setCurrentIndex(0);
  std::vector<int> arrowColumns;
  for (QTextBlock block = phonetic->document()->begin(); block.isValid(); block = block.next()) {
    const int arrow = block.text().indexOf(QStringLiteral("→  "));
    if (arrow == 12) arrowColumns.push_back(xOf(phonetic, block.position() + arrow));
  }
  ASSERT_EQ(arrowColumns.size(), 77u);
  EXPECT_EQ(*std::min_element(arrowColumns.begin(), arrowColumns.end()),
            *std::max_element(arrowColumns.begin(), arrowColumns.end()));

  // In the fixed layouts' tabs each row of the keyboard stands on one line, so its columns line
  // up; only the alt and link lines, which follow the last row, may wrap.
  for (int i : {1, 2, 3}) {
    tabs->setCurrentIndex(i);
    QTextEdit* view = tabView(tabs, i);
    QCoreApplication::processEvents();
    int rows = 0;
    QStringList wrapped;
    for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
      if (!block.text().contains(QStringLiteral("→")) || !block.next().isValid()) continue;
      if (!block.next().text().contains(QStringLiteral("→")) &&
          block.previous().text().contains(QStringLiteral("─"))) {
        continue;  // the alt or link line
      }
      ++rows;
      if (block.layout()->lineCount() != 1) wrapped << block.text();
    }
    EXPECT_EQ(rows, 8) << identifiers[i];
    EXPECT_TRUE(wrapped.isEmpty()) << identifiers[i] << ": " << wrapped.join('\n').toStdString();
  }

  // Showing again, or after closing, brings back the same window with the tab the user left.
  tabs->setCurrentIndex(2);
  window->close();
  controller.showWindow();
  EXPECT_EQ(controller.window(), window);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(tabs->currentIndex(), 2);
  EXPECT_EQ(tabs->count(), 5);
  EXPECT_EQ(tabView(tabs, 4)->document(), shownDocument);

  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  for (int i = 0; i < 5; ++i) {
    tabs->setCurrentIndex(i);
    const QString path = folder + "/keyboard-help-" + identifiers[i];
    EXPECT_TRUE(window->grab().save(path + ".png")) << path.toStdString();
    QScrollBar* scroller = tabView(tabs, i)->verticalScrollBar();
    scroller->setValue(scroller->maximum());
    EXPECT_TRUE(window->grab().save(path + "-end.png")) << path.toStdString();
    scroller->setValue(0);
  }
}

// Every colour the text is drawn in, with the number of characters drawn in it.
std::map<QRgb, int> textColors(QTextEdit* view) {
  std::map<QRgb, int> colors;
  for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat format = it.fragment().charFormat();
      if (format.hasProperty(QTextFormat::ForegroundBrush))
        colors[format.foreground().color().rgba()] += it.fragment().length();
    }
  }
  return colors;
}

// Under a dark palette the text is drawn light on the dark background, and back again.
TEST(KeyboardHelpControllerTest, TextFollowsThePalette) {
  KeyboardHelpController& controller = KeyboardHelpController::shared();
  controller.showWindow();
  QWidget* window = controller.window();
  auto* tabs = window->findChild<QTabWidget*>();
  ASSERT_NE(tabs, nullptr);
  const QPalette original = QApplication::palette();
  const QString folder = QStringLiteral(TOLVANI_TEST_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  const QPalette dark = testing::darkPalette();
  for (const QPalette* palettePointer : {&dark, &original}) {
    const QPalette& palette = *palettePointer;
    QApplication::setPalette(palette);
    QCoreApplication::processEvents();
    for (int i = 0; i < tabs->count(); ++i) {
      QTextEdit* view = tabView(tabs, i);
      const QColor base = view->palette().color(QPalette::Base);
      EXPECT_EQ(base, palette.color(QPalette::Base));
      const std::map<QRgb, int> colors = textColors(view);
      // The body text is in the palette's own text colour; everything opaque stands out.
      EXPECT_GT(colors.count(palette.color(QPalette::Text).rgba()), 0u) << i;
      for (const auto& [rgba, count] : colors) {
        const QColor color = QColor::fromRgba(rgba);
        if (color.alpha() == 255)
          EXPECT_GE(testing::contrastRatio(color, base), 3.0)
              << i << " " << color.name().toStdString();
        else
          EXPECT_GE(testing::contrastRatio(color, base), 1.5)
              << i << " " << color.name().toStdString();
      }
      EXPECT_GE(testing::contrastRatio(palette.color(QPalette::Text), base), 7.0);
    }
    if (palettePointer == &original) break;
    for (int i = 0; i < tabs->count(); ++i) {
      tabs->setCurrentIndex(i);
      const QString path =
          folder + "/keyboard-help-" + tabView(tabs, i)->objectName() + "-dark.png";
      EXPECT_TRUE(window->grab().save(path)) << path.toStdString();
    }
  }
  tabs->setCurrentIndex(0);
}

// What a person does in the window: a click on a tab's label shows that tab, and Control+A then
// Control+C copy the whole text shown.
TEST(KeyboardHelpControllerTest, TabsAreChosenByClickAndTheirTextCopiedByKeys) {
  KeyboardHelpController& controller = KeyboardHelpController::shared();
  controller.showWindow();
  QWidget* window = controller.window();
  auto* tabs = window->findChild<QTabWidget*>();
  ASSERT_NE(tabs, nullptr);
  QTabBar* bar = tabs->tabBar();
  for (int i : {4, 1, 3, 2, 0}) {
    SCOPED_TRACE(i);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
    EXPECT_EQ(tabs->currentIndex(), i);
    QTextEdit* view = tabView(tabs, i);
    ASSERT_TRUE(view->isVisible());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), view->document()->toPlainText());
  }
}

}  // namespace
}  // namespace tolvani
