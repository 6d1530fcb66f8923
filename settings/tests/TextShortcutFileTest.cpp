#include "settings/TextShortcutFile.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <QStringList>
#include <cstdlib>
#include <initializer_list>
#include <utility>

#include "settings/StoredText.h"

namespace tolvani::TextShortcutFile {
namespace {

// "code=text|code=text skipped N", codes in order.
std::string parsed(const QByteArray& data) {
  const ParseResult result = parse(data);
  QStringList entries;
  for (auto it = result.shortcuts.cbegin(); it != result.shortcuts.cend(); ++it)
    entries << it.key() + u'=' + it.value();
  return (entries.join(u'|') + QStringLiteral(" skipped %1").arg(result.skipped)).toStdString();
}

// A property list of the given plist value, binary or XML, made by the library itself.
QByteArray propertyList(plist_t root, bool binary) {
  char* bytes = nullptr;
  uint32_t length = 0;
  (binary ? plist_to_bin : plist_to_xml)(root, &bytes, &length);
  QByteArray data(bytes, static_cast<qsizetype>(length));
  std::free(bytes);
  plist_free(root);
  return data;
}

plist_t records(
    std::initializer_list<std::initializer_list<std::pair<const char*, const char*>>> entries) {
  plist_t array = plist_new_array();
  for (const auto& entry : entries) {
    plist_t record = plist_new_dict();
    for (const auto& [key, value] : entry)
      plist_dict_set_item(record, key, plist_new_string(value));
    plist_array_append_item(array, record);
  }
  return array;
}

TEST(TextShortcutFileTest, StoredTextRule) {
  for (char32_t unsafe : {0x00u, 0x09u, 0x0Au, 0x0Du, 0x1Fu, 0x7Fu, 0x80u, 0x85u, 0x9Fu, 0x202Au,
                          0x202Bu, 0x202Cu, 0x202Du, 0x202Eu, 0x2066u, 0x2067u, 0x2068u, 0x2069u}) {
    EXPECT_TRUE(isUnsafeInStoredText(unsafe)) << std::hex << std::uint32_t(unsafe);
  }
  for (char32_t safe :
       {0x20u, 0x7Eu, 0xA0u, 0x09BCu, 0x200Bu, 0x200Cu, 0x200Du, 0x200Eu, 0x200Fu, 0x2028u, 0x2029u,
        0x2065u, 0x206Au, 0x202Fu, 0xFEFFu, 0x1F600u, 0x10FFFFu}) {
    EXPECT_FALSE(isUnsafeInStoredText(safe)) << std::hex << std::uint32_t(safe);
  }
  EXPECT_FALSE(containsUnsafeStoredText(QStringLiteral("ক্\u200Dষ 😀")));
  EXPECT_TRUE(containsUnsafeStoredText(QStringLiteral("ok\u2068")));
  EXPECT_TRUE(containsUnsafeStoredText(QString(QChar(0xD800)) + u'a'));  // a lone surrogate
  EXPECT_TRUE(containsUnsafeStoredText(QStringLiteral("a") + QChar(0xDC00)));
}

TEST(TextShortcutFileTest, CodesAndExpansionsAreNormalisedOrRefused) {
  const std::pair<QString, QString> codes[] = {
      {QStringLiteral("brb"), QStringLiteral("brb")},
      {QStringLiteral(" \tBrB2\n"), QStringLiteral("brb2")},
      {QString(24, u'z'), QString(24, u'z')},
      {QStringLiteral("\u212A"), QStringLiteral("k")},
      {QStringLiteral("ajj"), QStringLiteral("ajj")}};
  for (const auto& [given, expected] : codes)
    EXPECT_EQ(normalizedCode(given), expected) << given.toStdString();
  // Too long, not letters and digits of ASCII, or reserved.
  for (const QString& refused :
       {QString(25, u'z'), QStringLiteral("b-r"), QStringLiteral("b r"), QStringLiteral("বা"),
        QStringLiteral("é"), QStringLiteral(" "), QStringLiteral("aj"), QStringLiteral("BONGABDO")})
    EXPECT_EQ(normalizedCode(refused), std::nullopt) << refused.toStdString();

  const QString ki = QStringLiteral("কি");  // one character of two UTF-16 units
  const std::pair<QString, QString> texts[] = {
      {QStringLiteral("  inner  spaces \n"), QStringLiteral("inner  spaces")},
      {QStringLiteral("ক্\u200Dষ"), QStringLiteral("ক্\u200Dষ")},
      {ki.repeated(500), ki.repeated(500)}};
  for (const auto& [given, expected] : texts)
    EXPECT_EQ(normalizedExpansion(given), expected) << given.toStdString();
  for (const QString& refused :
       {ki.repeated(501), QString(501, u'x'), QStringLiteral(" \t\n"), QStringLiteral("a\nb"),
        QStringLiteral("a\tb"), QStringLiteral("a\u202Eb")})
    EXPECT_EQ(normalizedExpansion(refused), std::nullopt) << refused.toStdString();
}

TEST(TextShortcutFileTest, EveryFileForm) {
  const std::pair<QByteArray, std::string> rows[] = {
      // JSON object: values that are not strings and refused codes count as skipped.
      {R"({"BRB": "be right back", "n": 5, "aj": "x", "x": "a\u202eb", "d": "1", "d": "2"})",
       "brb=be right back|d=2 skipped 3"},
      // JSON array of records: the preferred key with a string value wins.
      {R"([{"shortcut": "a", "phrase": "A"}, {"code": "b", "expansion": "B", "phrase": "P"},
           {"key": "c", "value": "C"}, {"shortcut": 5, "code": "d", "text": "D"},
           {"phrase": "no code"}, {"shortcut": "e"}])",
       "a=A|b=P|c=C|d=D skipped 2"},
      {R"(["a", "b"])", " skipped 0"},
      {R"([{"shortcut": "a", "phrase": "A"}, 1])", " skipped 0"},
      {"{\"bom\": \"\xEF\xBB\xBFx\"}", "bom=\uFEFFx skipped 0"},  // U+FEFF first stays
      {"[]", " skipped 0"},
      {"{}", " skipped 0"},
      // A top-level number or string is not JSON here and is read as text lines.
      {"42", " skipped 1"},
      {R"("a=b")", "a=b\" skipped 0"},
      // Text lines: tab, "=" and ",", CSV quoting, comments, CR LF, a header row.
      {"Shortcut,Phrase\r\n# comment\r\n\r\nq,\"hello, world\"\r\ndq,\"say \"\"hi\"\"\"\r\n"
       "e=a=b\nt\tx, y\n  sp  =  padded text  \nnosep\n\"quoted\" = \"\"\n",
       "dq=say \"hi\"|e=a=b|q=hello, world|sp=padded text|t=x, y skipped 2"},
      {"\"\"=x\n\"=\"\n", " skipped 2"},
      {"nosep\nkey,value\n", "key=value skipped 1"},
      {"KEY\tTEXT\na,b\n", "a=b skipped 0"},
      {"\xEF\xBB\xBFshortcut,phrase\nbom,x\n", "bom=x skipped 0"},
      {"a=b\u2028c=d\u0085e=f", "a=b|c=d|e=f skipped 0"},
      {"a=\xff\n", " skipped 0"},          // not UTF-8
      {"a=\xed\xa0\x80\n", " skipped 0"},  // an encoded surrogate
      {"x=\"a\u202eb\"\ny=\"\"\n", " skipped 2"},
  };
  for (const auto& [data, expected] : rows) {
    EXPECT_EQ(parsed(data), expected) << data.toStdString();
  }
  EXPECT_EQ(parsed(QByteArray("a=b\0c\n", 6)), " skipped 1");  // NUL is a control character
}

// A binary property list laid out by hand (two-byte references and offsets), for files the
// library would never write.
struct HandMadeList {
  std::vector<QByteArray> objects;

  static QByteArray bigEndian(std::uint64_t value, int width) {
    QByteArray bytes;
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) bytes.append(char(value >> shift));
    return bytes;
  }
  static QByteArray ref(std::uint64_t object) { return bigEndian(object, 2); }
  static QByteArray sized(unsigned type, std::uint64_t count) {
    if (count < 15) return QByteArray(1, char(type << 4 | count));
    return QByteArray(1, char(type << 4 | 0x0F)) + char(0x13) + bigEndian(count, 8);
  }
  int add(const QByteArray& object) {
    objects.push_back(object);
    return static_cast<int>(objects.size()) - 1;
  }
  int ascii(const QByteArray& text) { return add(sized(0x5, text.size()) + text); }
  int array(std::initializer_list<int> elements) {
    QByteArray object = sized(0xA, elements.size());
    for (int element : elements) object += ref(element);
    return add(object);
  }
  QByteArray bytes(std::uint64_t root = 0) const {
    QByteArray data("bplist00");
    std::vector<std::uint64_t> offsets;
    for (const QByteArray& object : objects) {
      offsets.push_back(data.size());
      data += object;
    }
    const std::uint64_t table = data.size();
    for (std::uint64_t offset : offsets) data += bigEndian(offset, 4);
    return data + QByteArray(6, '\0') + char(4) + char(2) + bigEndian(objects.size(), 8) +
           bigEndian(root, 8) + bigEndian(table, 8);
  }
};

TEST(TextShortcutFileTest, PropertyListsOfTheSystemAndOfUsers) {
  auto replacements = [] {
    return records({{{"phrase", "On my way!"}, {"shortcut", "omw"}},
                    {{"shortcut", "BRB"}, {"phrase", "আমি আসছি"}},
                    {{"shortcut", "x"}}});
  };
  EXPECT_EQ(parsed(propertyList(replacements(), true)), "brb=আমি আসছি|omw=On my way! skipped 1");
  EXPECT_EQ(parsed(propertyList(replacements(), false)), "brb=আমি আসছি|omw=On my way! skipped 1");

  plist_t dictionary = plist_new_dict();
  plist_dict_set_item(dictionary, "gm", plist_new_string("শুভ সকাল"));
  plist_dict_set_item(dictionary, "n", plist_new_uint(5));
  EXPECT_EQ(parsed(propertyList(plist_copy(dictionary), true)), "gm=শুভ সকাল skipped 1");
  EXPECT_EQ(parsed(propertyList(dictionary, false)), "gm=শুভ সকাল skipped 1");

  // Strings that claim to be ASCII or UTF-16 but are not text count like values that are not
  // strings, and so do values that have no string form.
  HandMadeList malformed;
  malformed.add(QByteArray("\xD3\x00\x01\x00\x02\x00\x03\x00\x04\x00\x05\x00\x06", 13));
  malformed.ascii("ok");
  malformed.ascii("a");
  malformed.ascii("b");
  malformed.ascii("fine");
  malformed.ascii("caf\xE9");
  malformed.add(QByteArray("\x62\x00\x61\xD8\x00", 5));  // "a" and a lone surrogate
  EXPECT_EQ(parsed(malformed.bytes()), "ok=fine skipped 2");
  EXPECT_EQ(parsed("<?xml version=\"1.0\"?><plist><dict><key>d</key><date>2024-01-01T00:00:00Z"
                   "</date><key>i</key><integer>x</integer><key>ok</key><string>fine</string>"
                   "</dict></plist>"),
            "ok=fine skipped 2");

  // A broken binary list is read as text lines like any other data.
  const QByteArray whole = propertyList(plist_new_string("x\nab=cd\n"), true);
  ASSERT_TRUE(whole.contains("\nab=cd\n"));
  EXPECT_EQ(parsed(whole), " skipped 0");  // a lone string holds no shortcuts
  EXPECT_EQ(parsed(whole.left(whole.size() - 5)), "ab=cd skipped 2");
  EXPECT_EQ(parsed("<?xml version=\"1.0\"?>\n<plist><dict><key>a</key>\na=b\n"), "a=b skipped 2");
}

TEST(TextShortcutFileTest, SizeAndCountLimits) {
  QByteArray file = "ok=fine\n";
  file += QByteArray(maxFileBytes - file.size(), '#');
  ASSERT_EQ(file.size(), 200000);
  EXPECT_EQ(parsed(file), "ok=fine skipped 0");
  EXPECT_EQ(parsed(file + "#"), " skipped 0");

  QByteArray lines;
  for (int i = 0; i < 600; ++i)
    lines += QStringLiteral("c%1=t%1\n").arg(i, 3, 10, QChar(u'0')).toUtf8();
  ParseResult result = parse(lines);
  EXPECT_EQ(result.shortcuts.size(), 500);
  EXPECT_EQ(result.skipped, 100);
  EXPECT_EQ(result.shortcuts.firstKey() + result.shortcuts.lastKey(), "c000c499");
  EXPECT_EQ(merging(result.shortcuts, {}).added, 500);
  // Records past the limit are skipped unread, valid or not.
  result = parse("bad code=x\n" + lines + "also bad\n");
  EXPECT_EQ(result.shortcuts.size() * 1000 + result.skipped, 500'102);

  // "added skipped size", of merging into 495 shortcuts (e000..e494) and more.
  QMap<QString, QString> existing;
  for (int i = 0; i < 495; ++i)
    existing.insert(QStringLiteral("e%1").arg(i, 3, 10, QChar(u'0')), "x");
  auto merged = [&](const QMap<QString, QString>& imported) {
    const MergeResult r = merging(imported, existing);
    return QStringLiteral("%1 %2 %3").arg(r.added).arg(r.skipped).arg(r.shortcuts.size());
  };
  QMap<QString, QString> ten;
  for (int i = 9; i >= 0; --i) ten.insert(QStringLiteral("n%1").arg(i), "y");
  EXPECT_EQ(merged(ten), "5 5 500");
  EXPECT_TRUE(merging(ten, existing).shortcuts.contains("n4"));
  EXPECT_FALSE(merging(ten, existing).shortcuts.contains("n5"));
  // A full list still takes replacements, which count as added even when unchanged.
  existing = merging(ten, existing).shortcuts;
  EXPECT_EQ(merged({{"e000", "x"}, {"e001", "new"}, {"zz", "z"}}), "2 1 500");
  EXPECT_EQ(merging({{"e001", "new"}}, existing).shortcuts.value("e001"), "new");
  // A list already over the limit loses nothing.
  for (int i = 0; i < 20; ++i) existing.insert(QStringLiteral("o%1").arg(i), "o");
  EXPECT_EQ(merged({{"o1", "p"}, {"a", "a"}}), "1 1 520");
}

// A code or text longer than its limit could ever allow, at 12 UTF-16 units per character (288
// for a code, 6,000 for a text), is skipped unread: it is not trimmed, lower-cased or counted.
// One character may hold any number of marks, and a file of 200,000 bytes holds 100,000 of them.
TEST(TextShortcutFileTest, TextsPastTheStoredTextBoundAreSkippedUnread) {
  const QString letter = u'a' + QString(11, QChar(0x0301));  // one character, 12 units
  const QString atBound = letter.repeated(500);
  ASSERT_EQ(atBound.size(), 6'000);
  EXPECT_EQ(normalizedExpansion(atBound), atBound);
  EXPECT_EQ(normalizedExpansion(atBound + QChar(0x0301)), std::nullopt);
  EXPECT_EQ(normalizedExpansion(u' ' + atBound), std::nullopt);  // the bound comes before trimming
  EXPECT_EQ(normalizedExpansion(u'a' + QString(99'000, QChar(0x0301))), std::nullopt);
  EXPECT_EQ(normalizedCode(QString(286, u' ') + "AB"), "ab");
  EXPECT_EQ(normalizedCode(QString(287, u' ') + "AB"), std::nullopt);

  // In each file form: the text at the bound is read, the longer ones are skipped.
  const QByteArray kept = atBound.toUtf8();
  const QByteArray marks = QString(60'000, QChar(0x0301)).toUtf8();
  const QByteArray files[] = {
      "{\"ok\":\"" + kept + "\",\"long\":\"a" + marks + "\",\"pad\":\" " + kept + "\"}",
      "ok=" + kept + "\nlong=a" + marks + "\n",
      propertyList(records({{{"shortcut", "ok"}, {"phrase", kept.constData()}},
                            {{"shortcut", "long"}, {"phrase", ("a" + marks).constData()}}}),
                   false),
  };
  for (const QByteArray& file : files) {
    ASSERT_LE(file.size(), maxFileBytes);
    const ParseResult result = parse(file);
    EXPECT_EQ(result.shortcuts.keys(), QStringList{"ok"}) << file.left(20).toStdString();
    EXPECT_EQ(result.shortcuts.value("ok"), atBound);
    EXPECT_EQ(result.skipped, file.startsWith('{') ? 2 : 1);
  }
}

TEST(TextShortcutFileTest, HostileFilesAreAnsweredWithoutACrash) {
  const int deep = 60000;
  EXPECT_EQ(parsed(QByteArray(deep, '[') + QByteArray(deep, ']')), " skipped 0");
  EXPECT_EQ(parsed(QByteArray(deep, '[')), " skipped 1");
  QByteArray nested =
      "{\"a\": \"b\", \"c\": " + QByteArray(deep, '[') + QByteArray(deep, ']') + "}";
  EXPECT_EQ(parsed(nested), "a=b skipped 1");
  EXPECT_EQ(parsed("{\"a\": \"\xff\"}"), " skipped 0");

  // Too deep for the property-list reader, so read as text: the "=" of the prolog splits a line.
  const QByteArray xml = "<?xml version=\"1.0\"?><plist>" + QByteArray("<array>").repeated(12000) +
                         QByteArray("</array>").repeated(12000) + "</plist>";
  EXPECT_EQ(parsed(xml), " skipped 1");

  HandMadeList bomb;  // each array holds the next one twice: 2^60 copies when expanded
  for (int i = 0; i < 60; ++i) bomb.array({i + 1, i + 1});
  bomb.ascii("x");
  HandMadeList loop;
  loop.array({0});
  HandMadeList huge;
  huge.add(HandMadeList::sized(0xA, std::uint64_t{1} << 62) + HandMadeList::ref(1));
  huge.ascii("x");
  HandMadeList tower;  // arrays 25,000 deep
  for (int i = 0; i < 25000; ++i) tower.array({i + 1});
  tower.ascii("x");
  const QByteArray tall = tower.bytes();
  ASSERT_LE(tall.size(), maxFileBytes);
  for (const QByteArray& data : {bomb.bytes(), loop.bytes(), huge.bytes(), tall}) {
    EXPECT_EQ(parsed(data), " skipped 0");  // read as text, and binary data are not UTF-8
  }
  // A key with a NUL in it is a refused code; one that is no string spoils the list.
  const std::pair<QByteArray, std::string> keys[] = {{QByteArray("Sa\0b", 4), " skipped 1"},
                                                     {QByteArray("\x62\0a\0\0", 5), " skipped 1"},
                                                     {QByteArray("\x10\x05", 2), " skipped 0"}};
  for (const auto& [key, expected] : keys) {
    HandMadeList keyed;
    keyed.add(QByteArray("\xD1\0\x01\0\x02", 5));
    keyed.add(key);
    keyed.ascii("text");
    EXPECT_EQ(parsed(keyed.bytes()), expected) << key.toHex().toStdString();
  }
  // 60,000 records sharing one 60,000-character text would take gigabytes once read.
  HandMadeList shared;
  QByteArray sharing = HandMadeList::sized(0xA, 60000);
  for (int i = 0; i < 60000; ++i) sharing += HandMadeList::ref(1);
  shared.add(sharing);
  shared.add(QByteArray("\xD2\x00\x02\x00\x03\x00\x04\x00\x05", 9));
  shared.ascii("shortcut");
  shared.ascii("phrase");
  shared.ascii("ab");
  shared.ascii(QByteArray(60000, 'x'));
  const QByteArray wide = shared.bytes();
  ASSERT_LE(wide.size(), maxFileBytes);
  EXPECT_EQ(parsed(wide), " skipped 0");  // read as text: not UTF-8
  // Declared entities could blow a small XML file up as much.
  const QByteArray entities = "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY e \"" +
                              QByteArray(4000, 'x') + "\">]><plist><dict><key>ab</key><string>" +
                              QByteArray("&e;").repeated(60000) + "</string></dict></plist>";
  EXPECT_EQ(parsed(entities), " skipped 1");
  HandMadeList badRoot;
  badRoot.ascii("x");
  EXPECT_EQ(parsed(badRoot.bytes(7)), " skipped 1");  // all ASCII: one line without a separator
}

TEST(TextShortcutFileTest, ExportIsSortedIndentedJsonThatReadsBack) {
  EXPECT_EQ(exportData({}), "{}");
  EXPECT_EQ(exportData({{"gm", "শুভ সকাল"}, {"brb", "a\"b\\c/d"}}),
            "{\n  \"brb\": \"a\\\"b\\\\c/d\",\n  \"gm\": \"শুভ সকাল\"\n}");
  QMap<QString, QString> shortcuts;
  for (int i = 0; i < 500; ++i) {
    shortcuts.insert(QStringLiteral("k%1").arg(i * 7919 % 1000),
                     QStringLiteral("ক্\u200Dষ \"%1\"").arg(i));
  }
  const ParseResult result = parse(exportData(shortcuts));
  EXPECT_EQ(result.shortcuts, shortcuts);
  EXPECT_EQ(result.skipped, 0);
}

}  // namespace
}  // namespace tolvani::TextShortcutFile
