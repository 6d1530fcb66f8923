#include "platform/PropertyList.h"

#include <gtest/gtest.h>

#include <QFile>
#include <cmath>

namespace tolvani::platform {
namespace {

QByteArray sourceFile(const char* relative) {
  QFile file(QStringLiteral(TOLVANI_SOURCE_DIR "/") + QLatin1String(relative));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray bigEndian(quint64 value, int width) {
  QByteArray bytes;
  for (int i = width - 1; i >= 0; --i) bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
  return bytes;
}

// A binary property list of `objects` (object 0 on top), with one-byte references.
QByteArray bplist(const QList<QByteArray>& objects) {
  QByteArray file = "bplist00";
  QByteArray table;
  for (const QByteArray& object : objects) {
    table += bigEndian(static_cast<quint64>(file.size()), 2);
    file += object;
  }
  const quint64 tableOffset = static_cast<quint64>(file.size());
  file += table;
  file += QByteArray(6, '\0') + char(2) + char(1);
  file += bigEndian(static_cast<quint64>(objects.size()), 8) + bigEndian(0, 8) +
          bigEndian(tableOffset, 8);
  return file;
}

TEST(PropertyListTest, FilesOfAnotherWriterReadInBothForms) {
  // Written by Python's plistlib (platform/fuzz/corpus/defaults).
  const QVariantMap expected{
      {QStringLiteral("defaultMode"), qint64{1}},
      {QStringLiteral("suggestionCount"), qint64{-7}},
      {QStringLiteral("banglaDigits"), true},
      {QStringLiteral("autocorrect"), false},
      {QStringLiteral("ratio"), 2.5},
      {QStringLiteral("uiLanguage"), qint64{0}},
      {QStringLiteral("name"), QStringLiteral("বাংলা")},
      {QStringLiteral("textShortcuts"), QByteArray("\0\1{}", 4)},
      {QStringLiteral("list"), QVariantList{qint64{1}, QStringLiteral("a"), QVariantList{true},
                                            QVariantMap{{QStringLiteral("k"), QByteArray()}}}},
      {QStringLiteral("nested"),
       QVariantMap{{QStringLiteral("deep"),
                    QVariantMap{{QStringLiteral("deeper"), QVariantList{1.0e300, -0.0}}}}}}};
  for (const char* file : {"platform/fuzz/corpus/defaults/all_types.bplist",
                           "platform/fuzz/corpus/defaults/all_types.xml"}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(propertylist::parseDictionary(sourceFile(file)), expected);
  }
  EXPECT_EQ(
      propertylist::parseDictionary(bplist({"\xd1\x01\x02", "Qa", "\x33" + QByteArray(8, 0)})),
      QVariantMap{});  // a date is left out
}

TEST(PropertyListTest, DamagedFilesReadAsNothing) {
  const QByteArray good = bplist({"\xd1\x01\x02", "Qa", "\x10\x01"});
  ASSERT_EQ(propertylist::parseDictionary(good), (QVariantMap{{QStringLiteral("a"), qint64{1}}}));
  // Forty arrays, each holding the next one twice: 2^40 values if shared objects were expanded.
  QList<QByteArray> doubling;
  for (int i = 0; i < 40; ++i) doubling.append(QByteArray("\xa2") + char(i + 3) + char(i + 3));
  doubling.append("\x10\x01");
  QList<QByteArray> deep;
  for (int i = 0; i < 100; ++i) deep.append(QByteArray("\xa1") + char(i + 3));
  deep.append("\x10\x01");
  const std::pair<const char*, QByteArray> rows[] = {
      {"key is an integer", bplist({"\xd1\x02\x02", "Qa", "\x10\x01"})},
      {"dictionary holds itself", bplist({"\xd1\x01\x00", "Qa"})},
      {"reference past the objects", bplist({"\xd1\x01\x07", "Qa"})},
      {"string longer than the file", bplist({"\xd1\x01\x02", "\x5f\x13\x7f", "\x10\x01"})},
      {"unknown marker", bplist({"\xd1\x01\x02", "Qa", "\x70"})},
      {"shared objects multiply", bplist(QList<QByteArray>{"\xd1\x01\x02", "Qa"} + doubling)},
      {"nested too deep", bplist(QList<QByteArray>{"\xd1\x01\x02", "Qa"} + deep)},
      {"truncated", good.left(good.size() - 1)},
      {"offset table past the end", good.left(good.size() - 1) + char(0x7f)},
      {"xml not closed", "<plist><dict><key>a</key><integer>1</integer></dict>"},
      {"xml value without key", "<plist><dict><integer>1</integer></dict></plist>"},
      {"xml key without value", "<plist><dict><key>a</key></dict></plist>"},
      {"xml two values", "<plist><dict/><dict/></plist>"},
      {"xml unknown element", "<plist><dict><key>a</key><number>1</number></dict></plist>"},
      {"xml element in a string", "<plist><dict><key>a</key><string><b/></string></dict></plist>"},
      {"xml array on top", "<plist><array/></plist>"},
      {"xml declaring an entity",
       "<!DOCTYPE plist [<!ENTITY e \"x\">]><plist><dict><key>a</key><string>&e;</string>"
       "</dict></plist>"},
      {"not a property list", "{\"a\": 1}"},
  };
  for (const auto& [name, bytes] : rows)
    EXPECT_EQ(propertylist::parseDictionary(bytes), std::nullopt) << name;
}

TEST(PropertyListTest, OptionsMarkWhatIsLeftOutAndBoundWhatIsBuilt) {
  // Keys "a" to "e": a date, an ASCII string with a byte past ASCII, a lone surrogate, an
  // identifier and a string; the key "\xe9" reads as Latin-1 either way.
  const QByteArray binary =
      bplist({"\xd6\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c", "Qa", "Qb", "Qc", "Qd", "Qe",
              "Q\xe9", "\x33" + QByteArray(8, 0), "Rx\xe9", QByteArray("\x61\xd8\x00", 3),
              "\x80\x01", "Qs", "Qt"});
  const QVariantMap read{{QStringLiteral("b"), QStringLiteral("x\u00e9")},
                         {QStringLiteral("c"), QStringLiteral("?")},
                         {QStringLiteral("e"), QStringLiteral("s")},
                         {QStringLiteral("\u00e9"), QStringLiteral("t")}};
  EXPECT_EQ(propertylist::parse(binary), QVariant(read));
  QVariantMap marked = read;
  for (const char* key : {"a", "b", "c", "d"}) marked.insert(QLatin1String(key), QVariant());
  const propertylist::ReadOptions markAll{.markUnreadable = true};
  EXPECT_EQ(propertylist::parse(binary, markAll), QVariant(marked));
  EXPECT_EQ(propertylist::parse("<plist><array><date>2001-01-01T00:00:00Z</date><integer>z"
                                "</integer><string>s</string></array></plist>",
                                markAll),
            QVariant(QVariantList{QVariant(), QVariant(), QStringLiteral("s")}));

  // XML in UTF-7 can spell lone surrogates (+2AA- is U+D800), in keys and strings alike: they
  // read as writing stores them, so that the file written back reads the same.
  const QByteArray utf7 =
      "<?xml version=\"1.0\" encoding=\"UTF-7\"?><plist><dict><key>k+2AA-</key>"
      "<string>+2AA-x</string></dict></plist>";
  const QVariantMap repaired{{QStringLiteral("k?"), QStringLiteral("?x")}};
  EXPECT_EQ(propertylist::parse(utf7), QVariant(repaired));
  const std::optional<QByteArray> written = propertylist::toBinary(repaired);
  ASSERT_TRUE(written);
  EXPECT_EQ(propertylist::parseDictionary(*written), repaired);
  EXPECT_EQ(propertylist::parse(utf7, markAll),
            QVariant(QVariantMap{{QStringLiteral("k?"), QVariant()}}));

  // Two keys and two values, "ab" shared by both values: 12 bytes once read.
  const QByteArray shared = bplist({"\xd2\x01\x02\x03\x03", "Qa", "Qb", "Rab"});
  EXPECT_TRUE(propertylist::parse(shared, {.maxContentBytes = 12}));
  EXPECT_FALSE(propertylist::parse(shared, {.maxContentBytes = 11}));
  const QByteArray xml = "<plist><dict><key>a</key><string>bc</string></dict></plist>";
  EXPECT_TRUE(propertylist::parse(xml, {.maxContentBytes = 6}));
  EXPECT_FALSE(propertylist::parse(xml, {.maxContentBytes = 5}));
}

TEST(PropertyListTest, WrittenValuesReadBackExactly) {
  const QVariantMap values{{QStringLiteral("min"), std::numeric_limits<qint64>::min()},
                           {QStringLiteral("max"), std::numeric_limits<qint64>::max()},
                           {QStringLiteral("minusOne"), qint64{-1}},
                           {QStringLiteral("tiny"), 5e-324},
                           {QStringLiteral("emoji"), QStringLiteral("a😀ক")},
                           {QStringLiteral("empty"), QString()},
                           {QStringLiteral("ক"), QVariantList{}}};
  EXPECT_EQ(propertylist::parseDictionary(propertylist::toBinary(values).value_or("")), values);
  const std::optional<QVariantMap> nan =
      propertylist::parseDictionary(*propertylist::toBinary({{QStringLiteral("n"), std::nan("")}}));
  EXPECT_TRUE(nan && std::isnan(nan->value(QStringLiteral("n")).toDouble()));
}

}  // namespace
}  // namespace tolvani::platform
