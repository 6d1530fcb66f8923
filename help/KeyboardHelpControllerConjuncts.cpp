// The conjunct tab: for each conjunct letter, the phonetic input that types it, the letter, the
// consonants it joins and a word that holds it.
#include <QStringView>
#include <span>

#include "help/KeyboardHelpController.h"

namespace tolvani {
namespace {

constexpr int kRuleLength = 50;
constexpr int kInputColumn = 14;
constexpr int kComponentsColumn = 18;

struct ConjunctRow {
  QStringView input;       // case matters: "Ngk" and "NGc" differ
  QStringView conjunct;    // consonants joined by U+09CD, no joiners
  QStringView components;  // "   (" + the consonants joined by "+" + ")"
  QStringView example;     // empty for a few rows
};

struct ConjunctGroup {
  QStringView title;
  std::span<const ConjunctRow> rows;
};

// ক-বর্গ
constexpr ConjunctRow kKaGroup[] = {
    {u"kkh", u"ক্ষ", u"   (ক+ষ)", u"পরীক্ষা"},    {u"kt", u"ক্ত", u"   (ক+ত)", u"শক্তি"},
    {u"kr", u"ক্র", u"   (ক+র)", u"চক্র"},        {u"kk", u"ক্ক", u"   (ক+ক)", u""},
    {u"ks", u"ক্স", u"   (ক+স)", u""},           {u"km", u"ক্ম", u"   (ক+ম)", u""},
    {u"kkhm", u"ক্ষ্ম", u"   (ক+ষ+ম)", u"লক্ষ্মী"},
};

// গ-বর্গ
constexpr ConjunctRow kGaGroup[] = {
    {u"gdh", u"গ্ধ", u"   (গ+ধ)", u"দুগ্ধ"}, {u"gn", u"গ্ন", u"   (গ+ন)", u"অগ্নি"},
    {u"gr", u"গ্র", u"   (গ+র)", u"গ্রাম"}, {u"Ngg", u"ঙ্গ", u"   (ঙ+গ)", u"অঙ্গ"},
    {u"Ngk", u"ঙ্ক", u"   (ঙ+ক)", u"অঙ্ক"}, {u"Ngkkh", u"ঙ্ক্ষ", u"   (ঙ+ক+ষ)", u"আকাঙ্ক্ষা"},
};

// চ-বর্গ
constexpr ConjunctRow kCaGroup[] = {
    {u"cc", u"চ্চ", u"   (চ+চ)", u"উচ্চ"},   {u"NGc", u"ঞ্চ", u"   (ঞ+চ)", u"কাঞ্চন"},
    {u"NGch", u"ঞ্ছ", u"   (ঞ+ছ)", u""},    {u"NGj", u"ঞ্জ", u"   (ঞ+জ)", u"গঞ্জ"},
    {u"jNG", u"জ্ঞ", u"   (জ+ঞ)", u"জ্ঞান"},
};

// ট-বর্গ
constexpr ConjunctRow kTtaGroup[] = {
    {u"TT", u"ট্ট", u"   (ট+ট)", u"চট্টগ্রাম"},
    {u"ND", u"ণ্ড", u"   (ণ+ড)", u"খণ্ড"},
    {u"NDh", u"ণ্ঢ", u"   (ণ+ঢ)", u""},
    {u"NT", u"ণ্ট", u"   (ণ+ট)", u"ঘণ্টা"},
};

// ত-বর্গ
constexpr ConjunctRow kTaGroup[] = {
    {u"tt", u"ত্ত", u"   (ত+ত)", u"উত্তর"}, {u"tr", u"ত্র", u"   (ত+র)", u"মন্ত্র"},
    {u"tn", u"ত্ন", u"   (ত+ন)", u"রত্ন"},  {u"nt", u"ন্ত", u"   (ন+ত)", u"অন্ত"},
    {u"nd", u"ন্দ", u"   (ন+দ)", u"ছন্দ"},  {u"ndh", u"ন্ধ", u"   (ন+ধ)", u"অন্ধ"},
    {u"nn", u"ন্ন", u"   (ন+ন)", u"অন্ন"},  {u"nth", u"ন্থ", u"   (ন+থ)", u"গ্রন্থ"},
    {u"ns", u"ন্স", u"   (ন+স)", u""},
};

// প-বর্গ
constexpr ConjunctRow kPaGroup[] = {
    {u"pt", u"প্ত", u"   (প+ত)", u"সপ্ত"},  {u"pr", u"প্র", u"   (প+র)", u"প্রভাত"},
    {u"pn", u"প্ন", u"   (প+ন)", u"স্বপ্ন"}, {u"bd", u"ব্দ", u"   (ব+দ)", u"শব্দ"},
    {u"br", u"ব্র", u"   (ব+র)", u"ব্রত"},  {u"mp", u"ম্প", u"   (ম+প)", u""},
    {u"mb", u"ম্ব", u"   (ম+ব)", u""},     {u"mr", u"ম্র", u"   (ম+র)", u""},
};

// অন্যান্য
constexpr ConjunctRow kOtherGroup[] = {
    {u"st", u"স্ত", u"   (স+ত)", u"বস্তু"},  {u"sth", u"স্থ", u"   (স+থ)", u"স্থান"},
    {u"sk", u"স্ক", u"   (স+ক)", u"স্কুল"},  {u"sr", u"স্র", u"   (স+র)", u"স্রোত"},
    {u"shr", u"শ্র", u"   (শ+র)", u"শ্রম"}, {u"ShT", u"ষ্ট", u"   (ষ+ট)", u"কষ্ট"},
    {u"ShN", u"ষ্ণ", u"   (ষ+ণ)", u"কৃষ্ণ"}, {u"ll", u"ল্ল", u"   (ল+ল)", u"উল্লাস"},
    {u"lp", u"ল্প", u"   (ল+প)", u"অল্প"},  {u"rrk", u"র্ক", u"   (র+ক)", u"তর্ক"},
    {u"hn", u"হ্ন", u"   (হ+ন)", u"চিহ্ন"}, {u"hm", u"হ্ম", u"   (হ+ম)", u"ব্রহ্ম"},
};

constexpr ConjunctGroup kGroups[] = {
    {u"ক-বর্গ", kKaGroup}, {u"গ-বর্গ", kGaGroup}, {u"চ-বর্গ", kCaGroup},     {u"ট-বর্গ", kTtaGroup},
    {u"ত-বর্গ", kTaGroup}, {u"প-বর্গ", kPaGroup}, {u"অন্যান্য", kOtherGroup},
};

HelpText row(const ConjunctRow& entry) {
  HelpText line;
  line.append(padded(entry.input.toString(), kInputColumn), TextStyle::keyStyle);
  line.append(entry.conjunct.toString(), TextStyle::glyphStyle);
  line.append(padded(entry.components.toString(), kComponentsColumn), TextStyle::noteStyle);
  if (!entry.example.isEmpty()) line.append(entry.example.toString(), TextStyle::exampleStyle);
  line.append(QStringLiteral("\n"), TextStyle::bodyStyle);
  return line;
}

}  // namespace

HelpText KeyboardHelpController::buildConjunctContent() {
  HelpText text;
  text.append(QStringLiteral("যুক্তবর্ণ (Conjunct Letters)\n"), TextStyle::titleStyle);
  text.append(QStringLiteral("ফোনেটিকে ,, (দুটি কমা) দিয়ে হসন্ত যোগ করুন\n"), TextStyle::noteStyle);
  for (const ConjunctGroup& group : kGroups) {
    text.header(group.title.toString(), kRuleLength);
    for (const ConjunctRow& entry : group.rows) text.append(row(entry));
  }
  text.append(QStringLiteral("রেফ: ব্যঞ্জনবর্ণের আগে rr দিন। যেমন: bOrrD → বোর্ড।\n"
                             "দুটি কমা (,,) দৃশ্যমান হসন্ত দেয়; যুক্তবর্ণ তৈরির জন্য উপরের বানান "
                             "ব্যবহার করুন।\n"),
              TextStyle::bodyStyle);
  return text;
}

}  // namespace tolvani
