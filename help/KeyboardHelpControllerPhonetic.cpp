// The phonetic tab: which Latin keys give which Bangla letters, marks, sample conjuncts and whole
// words, and the tips on the keys that drive the input method.
#include <QStringView>
#include <iterator>
#include <span>

#include "help/KeyboardHelpController.h"

namespace tolvani {
namespace {

constexpr int kRuleLength = 40;
constexpr int kKeyColumn = 12;

// Nukta letters are written decomposed (base letter + U+09BC) throughout.
struct PhoneticRow {
  QStringView key;
  QStringView output;
  QStringView note;  // empty for most rows
};

struct PhoneticSection {
  QStringView title;
  std::span<const PhoneticRow> rows;
};

// স্বরবর্ণ (Vowels)
constexpr PhoneticRow kVowels[] = {
    {u"a", u"আ / া", u"স্বাধীন / নির্ভরশীল"},
    {u"i", u"ই / ি", u""},
    {u"I, ee", u"ঈ / ী", u"দীর্ঘ ই"},
    {u"u, oo", u"উ / ু", u""},
    {u"U", u"ঊ / ূ", u"দীর্ঘ উ"},
    {u"e", u"এ / ে", u""},
    {u"`o", u"অ", u"স্বাধীন অ"},
    {u"O", u"ও / ো", u"বড় হাতের O"},
    {u"OI", u"ঐ / ৈ", u"বড় হাতের OI"},
    {u"OU", u"ঔ / ৌ", u"বড় হাতের OU"},
    {u"rri", u"ঋ / ৃ", u""},
};

// ব্যঞ্জনবর্ণ (Consonants)
constexpr PhoneticRow kConsonants[] = {
    {u"k", u"ক", u""},
    {u"kh", u"খ", u""},
    {u"g", u"গ", u""},
    {u"gh", u"ঘ", u""},
    {u"Ng", u"ঙ", u""},
    {u"NG", u"ঞ", u""},
    {u"c", u"চ", u""},
    {u"ch, chh", u"ছ", u""},
    {u"j", u"জ", u""},
    {u"jh", u"ঝ", u""},
    {u"T", u"ট", u""},
    {u"Th", u"ঠ", u""},
    {u"D", u"ড", u""},
    {u"Dh", u"ঢ", u""},
    {u"N", u"ণ", u""},
    {u"t", u"ত", u""},
    {u"th", u"থ", u""},
    {u"d", u"দ", u""},
    {u"dh", u"ধ", u""},
    {u"n", u"ন", u""},
    {u"p", u"প", u""},
    {u"ph, f", u"ফ", u""},
    {u"b", u"ব", u""},
    {u"bh, v", u"ভ", u""},
    {u"m", u"ম", u""},
    {u"z", u"য", u""},
    {u"y", u"ইয়", u"শব্দের শুরুতে; ব্যঞ্জনের পরে য-ফলা"},
    {u"Y", u"য়", u"বড় হাতের Y"},
    {u"r", u"র", u""},
    {u"R", u"ড়", u""},
    {u"Rh", u"ঢ়", u""},
    {u"l", u"ল", u""},
    {u"sh, S", u"শ", u""},
    {u"Sh", u"ষ", u""},
    {u"s", u"স", u""},
    {u"h, H", u"হ", u""},
    {u"w", u"ও", u"ব্যঞ্জনের পরে ব-ফলা"},
    {u"ng", u"ং", u"অনুস্বার"},
};

// চিহ্ন (Marks & Punctuation)
constexpr PhoneticRow kMarks[] = {
    {u"t``", u"ৎ", u"t-এর পরে দুটি ব্যাকটিক"},
    {u",,", u"্\u200C", u"দৃশ্যমান হসন্ত; যুক্তবর্ণ ভাঙে"},
    {u"^, ~", u"ঁ", u"চন্দ্রবিন্দু"},
    {u":", u"ঃ", u"বিসর্গ"},
    {u".`", u".", u"ডট"},
    {u":`", u":", u"কোলন"},
    {u"^`", u"^", u"ক্যারেট"},
    {u".", u"।", u"দাঁড়ি"},
    {u"..", u"॥", u"ডবল দাঁড়ি"},
};

// যুক্তবর্ণ (Conjuncts)
constexpr PhoneticRow kConjuncts[] = {
    {u"kkh", u"ক্ষ", u"ক+ষ"},
    {u"nd", u"ন্দ", u"ন+দ"},
    {u"st", u"স্ত", u"স+ত"},
    {u"Ngg", u"ঙ্গ", u"ঙ+গ"},
    {u"shr", u"শ্র", u"শ+র"},
    {u"rrk", u"র্ক", u"রেফ: rr + ব্যঞ্জনবর্ণ"},
    {u"bOrrD", u"বোর্ড", u"O = ো, rr = রেফ, D = ড"},
};

// বিশেষ শব্দ (Word Overrides)
constexpr PhoneticRow kWords[] = {
    {u"ami", u"আমি", u""},          {u"tumi", u"তুমি", u""},     {u"apni", u"আপনি", u""},
    {u"amar", u"আমার", u""},        {u"tomar", u"তোমার", u""},  {u"kintu", u"কিন্তু", u""},
    {u"valo", u"ভালো", u""},        {u"keno", u"কেনো", u""},    {u"jonno", u"জন্য", u""},
    {u"dhonnobad", u"ধন্যবাদ", u""}, {u"shundor", u"সুন্দর", u""}, {u"aw", u"অ", u""},
};

constexpr PhoneticSection kSections[] = {
    {u"স্বরবর্ণ (Vowels)", kVowels},
    {u"ব্যঞ্জনবর্ণ (Consonants)", kConsonants},
    {u"চিহ্ন (Marks & Punctuation)", kMarks},
    {u"যুক্তবর্ণ (Conjuncts)", kConjuncts},
};

constexpr QStringView kTips[] = {
    u"• বড় হাতের অক্ষর দিয়ে মহাপ্রাণ/মূর্ধন্য বর্ণ পাওয়া যায় (T=ট, D=ড, N=ণ)",
    u"• স্পেস বা এন্টার চাপলে শব্দ কমিট হয়",
    u"• Escape চাপলে ইংরেজিতে কমিট হয়",
    u"• Tab চাপলে প্রথম সাজেশন নির্বাচিত হয়",
    u"• ১-৫ নম্বর দিয়ে সাজেশন বেছে নিন",
    u"• Ctrl+Shift+Space দিয়ে লে-আউট পরিবর্তন করুন",
    u"• বাংলিশ লেখা সিলেক্ট করে Ctrl+Alt+B চাপলে তা বাংলায় বদলে যায়",
    u"• fcitx5-এ Ctrl+Space fcitx5-এর নিজের কী: Tolvani আর আপনার কীবোর্ড লে-আউটের মধ্যে বদলায়, "
    u"লে-আউটে ইংরেজি লেখা হয় (ইংরেজি পাসথ্রু ইনপুট মেনুতে); Ctrl+Shift+Space, Ctrl+Alt+S ও "
    u"Ctrl+Alt+B fcitx5-এও একই কাজ করে",
    u"• tarikh/aj, shomoy বা bdate/btarikh/bongabdo লিখে Escape, তারপর স্পেস চাপলে আজকের তারিখ, সময় "
    u"বা বঙ্গাব্দের তারিখ বসে",
};

HelpText row(const PhoneticRow& entry) {
  HelpText line;
  line.append(padded(entry.key.toString(), kKeyColumn), TextStyle::keyStyle);
  line.append(QStringLiteral("→  "), TextStyle::mutedStyle);
  line.append(entry.output.toString(), TextStyle::outputStyle);
  if (!entry.note.isEmpty())
    line.append(QStringLiteral("   ") + entry.note.toString(), TextStyle::noteStyle);
  line.append(QStringLiteral("\n"), TextStyle::bodyStyle);
  return line;
}

}  // namespace

HelpText KeyboardHelpController::buildPhoneticContent() {
  HelpText text;
  text.append(QStringLiteral("ফোনেটিক লে-আউট রেফারেন্স\n"), TextStyle::titleStyle);
  text.append(QStringLiteral("রোমান হরফ দিয়ে বাংলা টাইপ করুন\n"), TextStyle::introStyle);
  for (const PhoneticSection& section : kSections) {
    text.header(section.title.toString(), kRuleLength);
    for (const PhoneticRow& entry : section.rows) text.append(row(entry));
  }
  text.header(QStringLiteral("বিশেষ শব্দ (Word Overrides)"), kRuleLength);
  text.append(QStringLiteral("এই শব্দগুলো সরাসরি রূপান্তরিত হয়:\n"), TextStyle::introStyle);
  for (const PhoneticRow& entry : kWords) text.append(row(entry));
  text.header(QStringLiteral("টিপস"), kRuleLength);
  QString tips;
  for (QStringView tip : kTips) {
    if (!tips.isEmpty()) tips += u'\n';
    tips += tip;
  }
  text.append(tips, TextStyle::bodyStyle);
  return text;
}

}  // namespace tolvani
