#include "settings/UIStrings.h"

#include "platform/Desktop.h"
#include "settings/AppSettings.h"

namespace tolvani::UIStrings {
namespace {

// The texts are literals with static storage, so they are handed out without a copy.
QString pick(QStringView english, QStringView bangla) {
  const QStringView text = AppSettings::isBanglaUI() ? bangla : english;
  return QString::fromRawData(text.data(), text.size());
}

// The setup texts name the window where this desktop lists input sources: GNOME's Keyboard
// Settings, elsewhere IBus Preferences (by its own name in both languages).
QString pickForDesktop(QStringView gnomeEnglish, QStringView gnomeBangla, QStringView english,
                       QStringView bangla) {
  return platform::desktop::isGnome() ? pick(gnomeEnglish, gnomeBangla) : pick(english, bangla);
}

// Where fcitx5 is the framework, its configuration tool is that window, on any desktop.
QString pickForFramework(QStringView fcitx5English, QStringView fcitx5Bangla,
                         QStringView gnomeEnglish, QStringView gnomeBangla, QStringView english,
                         QStringView bangla) {
  if (platform::desktop::fcitx5IsFramework()) return pick(fcitx5English, fcitx5Bangla);
  return pickForDesktop(gnomeEnglish, gnomeBangla, english, bangla);
}

// With the person's fcitx5 trigger key `key`; where the person set none, the texts that say so
// and where one is set.
QString withKey(QStringView english, QStringView bangla, QStringView noKeyEnglish,
                QStringView noKeyBangla, const QString& key) {
  if (key.isEmpty()) {
    return pick(noKeyEnglish, noKeyBangla) + u' ' +
           pick(
               u"No key is set to switch input methods: set one in Fcitx 5 Configuration "
               u"(Global Options → Trigger Input Method).",
               u"ইনপুট মেথড বদলানোর কোনো কী ঠিক করা নেই: Fcitx 5 Configuration-এ (Global "
               u"Options → Trigger Input Method) একটি কী ঠিক করে দিন।");
  }
  return pick(english, bangla).arg(key);
}

}  // namespace

QString wordCount(qint64 shown, qint64 total) {
  if (AppSettings::isBanglaUI()) {
    return QString::number(total) + QStringLiteral(" টির মধ্যে ") + QString::number(shown) +
           QStringLiteral(" টি শব্দ");
  }
  return QString::number(shown) + QStringLiteral(" of ") + QString::number(total) +
         QStringLiteral(" words");
}

QString savedFile(const QString& name) {
  if (AppSettings::isBanglaUI()) {
    return QStringLiteral("“") + name + QStringLiteral("” ফাইলে সংরক্ষণ করা হয়েছে।");
  }
  return QStringLiteral("Saved to “") + name + QStringLiteral("”.");
}

QString learnedWordsImported(qint64 count) {
  if (AppSettings::isBanglaUI()) {
    if (count == 0) return QStringLiteral("শেখা ডেটা ইমপোর্ট হয়েছে।");
    return QString::number(count) + QStringLiteral(" টি শেখা শব্দ ইমপোর্ট হয়েছে।");
  }
  if (count == 0) return QStringLiteral("Imported learned data.");
  return QStringLiteral("Imported ") + QString::number(count) + QStringLiteral(" learned word") +
         (count == 1 ? QString() : QStringLiteral("s")) + QStringLiteral(".");
}

QString shortcutsImported(qint64 added, qint64 skipped) {
  if (AppSettings::isBanglaUI()) {
    QString text = QString::number(added) + QStringLiteral(" টি শর্টকাট আনা হয়েছে");
    if (skipped >= 1) {
      return text + QStringLiteral("; ") + QString::number(skipped) +
             QStringLiteral(" টি বাদ গেছে।");
    }
    return text + QStringLiteral("।");
  }
  QString text = QStringLiteral("Imported ") + QString::number(added) +
                 QStringLiteral(" shortcut") + (added == 1 ? QString() : QStringLiteral("s"));
  if (skipped >= 1) {
    return text + QStringLiteral("; skipped ") + QString::number(skipped) + QStringLiteral(".");
  }
  return text + QStringLiteral(".");
}

// Title and setup window
QString appTitle() { return pick(u"Tolvani", u"তোলভানি"); }
QString subtitle() {
  return pick(u"Privacy-first Bangla typing for Linux", u"লিনাক্সের জন্য গোপনীয়তা-প্রথম বাংলা টাইপিং");
}
QString offlineBadge() { return pick(u"Fully Offline", u"সম্পূর্ণ অফলাইন"); }
QString setupTitle() { return pick(u"Keyboard Setup", u"কীবোর্ড সেটআপ"); }
QString setupTour() { return pick(u"Keyboard Tour", u"কীবোর্ড ঘুরে দেখুন"); }
QString setupOpenSettings() {
  return pickForFramework(u"Open Fcitx 5 Configuration", u"Fcitx 5 Configuration খুলুন",
                          u"Open Keyboard Settings", u"কীবোর্ড সেটিংস খুলুন", u"Open IBus Preferences",
                          u"IBus Preferences খুলুন");
}
QString setupRetry() { return pick(u"Retry Setup", u"আবার চেষ্টা করুন"); }
QString setupWorking() { return pick(u"Setting up Tolvani…", u"তোলভানি চালু করা হচ্ছে…"); }
QString setupDoneDetail() {
  return pick(
      u"You’re all set. Tolvani is in your input menu; press Super-Space (usually) to switch "
      u"keyboards.",
      u"সব তৈরি। তোলভানি আপনার ইনপুট মেনুতে আছে; কীবোর্ড বদলাতে সাধারণত Super-Space চাপুন।");
}
QString setupEnableDetail() {
  return pickForFramework(
      u"Retry setup, or add Tolvani under Bangla in Fcitx 5 Configuration.",
      u"আবার চেষ্টা করুন, অথবা Fcitx 5 Configuration-এ Bangla থেকে তোলভানি যোগ করুন।",
      u"Retry setup, or add Tolvani under Bangla in Keyboard Settings.",
      u"আবার চেষ্টা করুন, অথবা কীবোর্ড সেটিংসে Bangla থেকে তোলভানি যোগ করুন।",
      u"Retry setup, or add Tolvani under Bangla in IBus Preferences.",
      u"আবার চেষ্টা করুন, অথবা IBus Preferences-এ Bangla থেকে তোলভানি যোগ করুন।");
}
QString setupStepsLeft() {
  return pick(u"Some steps are not done yet. Retry Setup to finish them.",
              u"কিছু ধাপ এখনো বাকি। শেষ করতে আবার চেষ্টা করুন।");
}
QString setupSwitchBack(bool byPerson) {
  if (byPerson)
    return pick(
        u"Tolvani is set up, and you are typing with another keyboard now. To switch back, "
        u"choose Tolvani in the keyboard menu in the top bar, or press Super+Space.",
        u"তোলভানি চালু হয়ে গেছে, এখন আপনি অন্য একটি কীবোর্ডে লিখছেন। তোলভানিতে ফিরতে ওপরের "
        u"বারের কীবোর্ড মেনু থেকে তোলভানি বেছে নিন, অথবা Super+Space চাপুন।");
  return pick(
      u"Tolvani is set up, and you are typing with another keyboard now. Press Super+Space "
      u"to switch back to Tolvani.",
      u"তোলভানি চালু হয়ে গেছে, এখন আপনি অন্য একটি কীবোর্ডে লিখছেন। তোলভানিতে ফিরতে "
      u"Super+Space চাপুন।");
}
QString setupChooseInTopBar() {
  return pick(u"Almost done: choose Tolvani in the keyboard menu in the top bar.",
              u"প্রায় শেষ: ওপরের বারের কীবোর্ড মেনু থেকে তোলভানি বেছে নিন।");
}
QString setupPanelMissing() {
  return pick(
      u"Tolvani is added. The input menu needs IBus’s panel, which starts with your next login: "
      u"log out and in again.",
      u"তোলভানি যোগ করা হয়েছে। ইনপুট মেনুর জন্য IBus-এর প্যানেল দরকার, যা পরের বার লগ ইন করলে "
      u"চালু হবে: লগ আউট করে আবার লগ ইন করুন।");
}
QString setupNoAnswer() {
  return pick(u"Setup got no answer in time. Retry Setup to try again.",
              u"সময়মতো কোনো সাড়া আসেনি। আবার চেষ্টা করুন।");
}
QString setupIBusStartedAgain() {
  return pick(u"IBus did not come back after its restart, so Tolvani started it again.",
              u"রিস্টার্টের পর IBus ফিরে আসেনি, তাই তোলভানি এটি আবার চালু করেছে।");
}
QString setupIBusNotRunning() {
  return pickForDesktop(
      u"Tolvani is added. IBus is not running in this session yet: log out and in again; then "
      u"Super+Space switches to Tolvani.",
      u"তোলভানি যোগ করা হয়েছে। এই সেশনে IBus এখনো চালু হয়নি: লগ আউট করে আবার লগ ইন করুন; তারপর "
      u"Super+Space চাপলে তোলভানিতে বদলাবে।",
      u"Tolvani is added. IBus is not running in this session yet: choose it once with "
      u"\"im-config -n ibus\", then log out and in again; then Super+Space switches to Tolvani.",
      u"তোলভানি যোগ করা হয়েছে। এই সেশনে IBus এখনো চালু হয়নি: একবার \"im-config -n ibus\" দিয়ে "
      u"IBus বেছে নিন, তারপর লগ আউট করে আবার লগ ইন করুন; তারপর Super+Space চাপলে তোলভানিতে "
      u"বদলাবে।");
}
QString setupFcitx5NotRunning(const QString& key, bool chooseVirtualKeyboard) {
  if (chooseVirtualKeyboard)
    return withKey(
        u"Tolvani is added. fcitx5 is not running in this session yet: choose System Settings → "
        u"Virtual Keyboard → “Fcitx 5”; then %1 switches to Tolvani.",
        u"তোলভানি যোগ করা হয়েছে। এই সেশনে fcitx5 এখনো চালু হয়নি: System Settings → Virtual "
        u"Keyboard → “Fcitx 5” বেছে নিন; তারপর %1 চাপলে তোলভানিতে বদলাবে।",
        u"Tolvani is added. fcitx5 is not running in this session yet: choose System Settings → "
        u"Virtual Keyboard → “Fcitx 5”.",
        u"তোলভানি যোগ করা হয়েছে। এই সেশনে fcitx5 এখনো চালু হয়নি: System Settings → Virtual "
        u"Keyboard → “Fcitx 5” বেছে নিন।",
        key);
  return withKey(
      u"Tolvani is added. fcitx5 is not running in this session yet: log out and in "
      u"again; then %1 switches to Tolvani.",
      u"তোলভানি যোগ করা হয়েছে। এই সেশনে fcitx5 এখনো চালু হয়নি: লগ আউট করে আবার লগ ইন "
      u"করুন; তারপর %1 চাপলে তোলভানিতে বদলাবে।",
      u"Tolvani is added. fcitx5 is not running in this session yet: log out and in again.",
      u"তোলভানি যোগ করা হয়েছে। এই সেশনে fcitx5 এখনো চালু হয়নি: লগ আউট করে আবার লগ ইন করুন।", key);
}
QString setupNoStatusAreaFcitx5() {
  return pick(
      u"No panel shows fcitx5’s icon here: open Tolvani’s windows from its entry in your "
      u"application launcher, and switch its layouts with Control+Shift+Space.",
      u"এখানে কোনো প্যানেলে fcitx5-এর আইকন দেখা যায় না: অ্যাপ্লিকেশন লঞ্চারে তোলভানি থেকে এর "
      u"উইন্ডোগুলো খুলুন, আর Control+Shift+Space দিয়ে এর লেআউট বদলান।");
}
QString setupDoneDetailFcitx5(const QString& key, bool statusArea) {
  if (!statusArea)
    return withKey(
               u"You’re all set. Tolvani is in fcitx5’s input methods; press %1 to switch "
               u"between your keyboard and Tolvani.",
               u"সব তৈরি। তোলভানি fcitx5-এর ইনপুট মেথডে আছে; আপনার কীবোর্ড আর তোলভানির মধ্যে "
               u"বদলাতে %1 চাপুন।",
               u"Tolvani is in fcitx5’s input methods.", u"তোলভানি fcitx5-এর ইনপুট মেথডে আছে।",
               key) +
           u' ' + setupNoStatusAreaFcitx5();
  return withKey(
      u"You’re all set. Tolvani is in fcitx5’s input methods; press %1 to switch "
      u"between your keyboard and Tolvani.",
      u"সব তৈরি। তোলভানি fcitx5-এর ইনপুট মেথডে আছে; আপনার কীবোর্ড আর তোলভানির মধ্যে "
      u"বদলাতে %1 চাপুন।",
      u"You’re all set. Tolvani is in fcitx5’s input methods; choose it in the menu of fcitx5’s "
      u"icon.",
      u"সব তৈরি। তোলভানি fcitx5-এর ইনপুট মেথডে আছে; fcitx5-এর আইকনের মেনু থেকে এটি বেছে নিন।", key);
}
QString setupSwitchBackFcitx5(const QString& key, bool statusArea) {
  if (!statusArea)
    return withKey(
               u"Tolvani is set up, and you are typing with another keyboard now. Press %1 to "
               u"switch back to Tolvani.",
               u"তোলভানি চালু হয়ে গেছে, এখন আপনি অন্য একটি কীবোর্ডে লিখছেন। তোলভানিতে ফিরতে %1 "
               u"চাপুন।",
               u"Tolvani is set up, and you are typing with another keyboard now.",
               u"তোলভানি চালু হয়ে গেছে, এখন আপনি অন্য একটি কীবোর্ডে লিখছেন।", key) +
           u' ' + setupNoStatusAreaFcitx5();
  return withKey(
      u"Tolvani is set up, and you are typing with another keyboard now. Press %1 to "
      u"switch back to Tolvani.",
      u"তোলভানি চালু হয়ে গেছে, এখন আপনি অন্য একটি কীবোর্ডে লিখছেন। তোলভানিতে ফিরতে %1 "
      u"চাপুন।",
      u"Tolvani is set up, and you are typing with another keyboard now. Choose Tolvani in the "
      u"menu of fcitx5’s icon to switch back.",
      u"তোলভানি চালু হয়ে গেছে, এখন আপনি অন্য একটি কীবোর্ডে লিখছেন। তোলভানিতে ফিরতে fcitx5-এর "
      u"আইকনের মেনু থেকে তোলভানি বেছে নিন।",
      key);
}
QString setupSettingsPath() {
  return pickForFramework(u"Fcitx 5 Configuration → Input Method → Bangla → তোলভানি",
                          u"Fcitx 5 Configuration → Input Method → Bangla → তোলভানি",
                          u"Settings → Keyboard → Input Sources → + → Bangla → তোলভানি",
                          u"Settings → Keyboard → Input Sources → + → Bangla → তোলভানি",
                          u"IBus Preferences → Input Method → Add → Bangla → তোলভানি",
                          u"IBus Preferences → Input Method → Add → Bangla → তোলভানি");
}
QString setupReloadGuide() { return pick(u"Reload Guide", u"গাইড আবার খুলুন"); }
QString setupGuideMissing() {
  return pickForFramework(u"The setup guide is missing. Use Fcitx 5 Configuration to add Tolvani.",
                          u"সেটআপ গাইডটি পাওয়া যায়নি। Fcitx 5 Configuration থেকে তোলভানি যোগ করুন।",
                          u"The setup guide is missing. Use Keyboard Settings to add Tolvani.",
                          u"সেটআপ গাইডটি পাওয়া যায়নি। কীবোর্ড সেটিংস থেকে তোলভানি যোগ করুন।",
                          u"The setup guide is missing. Use IBus Preferences to add Tolvani.",
                          u"সেটআপ গাইডটি পাওয়া যায়নি। IBus Preferences থেকে তোলভানি যোগ করুন।");
}
QString setupGuideNotLoaded() {
  return pick(u"The animated guide did not load. You can still add the keyboard below.",
              u"অ্যানিমেটেড গাইডটি লোড হয়নি। তবুও নিচের বোতাম দিয়ে কীবোর্ড যোগ করতে পারবেন।");
}
QString setupGuideUpdateFailed() {
  return pick(u"The guide could not update. Use the controls below to finish keyboard setup.",
              u"গাইডটি হালনাগাদ করা যায়নি। নিচের বোতামগুলো দিয়ে কীবোর্ড সেটআপ শেষ করুন।");
}
QString setupGuideStopped() {
  return pickForFramework(
      u"The setup guide stopped. Reload the guide or add Tolvani in Fcitx 5 Configuration.",
      u"সেটআপ গাইডটি বন্ধ হয়ে গেছে। গাইডটি আবার খুলুন, অথবা Fcitx 5 Configuration-এ তোলভানি যোগ করুন।",
      u"The setup guide stopped. Reload the guide or add Tolvani in Keyboard Settings.",
      u"সেটআপ গাইডটি বন্ধ হয়ে গেছে। গাইডটি আবার খুলুন, অথবা কীবোর্ড সেটিংসে তোলভানি যোগ করুন।",
      u"The setup guide stopped. Reload the guide or add Tolvani in IBus Preferences.",
      u"সেটআপ গাইডটি বন্ধ হয়ে গেছে। গাইডটি আবার খুলুন, অথবা IBus Preferences-এ তোলভানি যোগ করুন।");
}

// Settings window
QString privacySection() { return pick(u"Memory & Privacy", u"মেমরি ও গোপনীয়তা"); }
QString footnote() {
  return pick(
      u"No uploaded data or third-party analytics, no tracking, and no cloud sync. Everything in "
      u"this window controls only local behavior on this computer.",
      u"কোনো ডেটা আপলোড বা তৃতীয়-পক্ষের অ্যানালিটিক্স নেই, কোনো ট্র্যাকিং নেই, কোনো ক্লাউড সিংক নেই। এই "
      u"উইন্ডোর সবকিছু শুধু এই কম্পিউটারের স্থানীয় আচরণ নিয়ন্ত্রণ করে।");
}
QString suggestions() { return pick(u"Suggestions", u"সাজেশন"); }
QString suggestionsOn() { return pick(u"Suggestions on", u"সাজেশন চালু"); }
QString suggestionsOff() { return pick(u"Suggestions off", u"সাজেশন বন্ধ"); }
QString autocorrect() { return pick(u"Autocorrect", u"স্বয়ংক্রিয় সংশোধন"); }
QString escapeEnglish() {
  return pick(u"Escape commits English text", u"Escape চাপলে ইংরেজি কমিট হবে");
}
QString panelSystem() { return pick(u"System (Auto)", u"সিস্টেম (স্বয়ংক্রিয়)"); }
QString panelDark() { return pick(u"Always Dark", u"সবসময় ডার্ক"); }
QString panelLight() { return pick(u"Always Light", u"সবসময় লাইট"); }
QString editDictionary() { return pick(u"Edit Dictionary...", u"অভিধান সম্পাদনা..."); }
QString typingStats() { return pick(u"Typing Stats...", u"টাইপিং পরিসংখ্যান..."); }
QString openDataFolder() { return pick(u"Open Data Folder", u"ডেটা ফোল্ডার খুলুন"); }
QString resetLearnedWords() { return pick(u"Reset Learned Data", u"শেখা ডেটা মুছুন"); }
QString customKeys() { return pick(u"Custom Keys...", u"কাস্টম কী..."); }
QString userDictionary() { return pick(u"User Dictionary", u"ব্যবহারকারীর অভিধান"); }
QString searchWords() { return pick(u"Search words...", u"শব্দ খুঁজুন..."); }
QString wordColumn() { return pick(u"Word", u"শব্দ"); }
QString usesColumn() { return pick(u"Uses", u"ব্যবহার"); }
QString addWordPlaceholder() { return pick(u"Add a word...", u"একটি শব্দ যোগ করুন..."); }
QString addButton() { return pick(u"Add", u"যোগ"); }
QString removeSelected() { return pick(u"Remove Selected", u"নির্বাচিত মুছুন"); }
QString shortcutTip() {
  return pick(
      u"Tip: Ctrl+Space toggles English, Ctrl+Shift+Space changes mode, Ctrl+Alt+S toggles "
      u"suggestions, Ctrl+Alt+B converts selected Banglish to Bangla",
      u"টিপ: Ctrl+Space ইংরেজি/বাংলা, Ctrl+Shift+Space মোড, Ctrl+Alt+S সাজেশন, Ctrl+Alt+B সিলেক্ট "
      u"করা বাংলিশ থেকে বাংলা");
}
QString confirmResetTitle() { return pick(u"Are you sure?", u"আপনি কি নিশ্চিত?"); }
QString confirmResetWords() {
  return pick(
      u"This will permanently delete learned words, candidate choices, and personal ranking. This "
      u"action cannot be undone.",
      u"এটি শেখা শব্দ, প্রার্থী পছন্দ এবং ব্যক্তিগত র\u200D্যাঙ্কিং স্থায়ীভাবে মুছে ফেলবে। এই ক্রিয়া "
      u"পূর্বাবস্থায় ফেরানো যাবে না।");
}
QString confirmResetButton() { return pick(u"Reset", u"রিসেট"); }
QString cancelButton() { return pick(u"Cancel", u"বাতিল"); }
QString tabGeneral() { return pick(u"General", u"সাধারণ"); }
QString tabTyping() { return pick(u"Typing", u"টাইপিং"); }
QString tabData() { return pick(u"Data", u"ডেটা"); }
QString tabAbout() { return pick(u"About", u"সম্পর্কে"); }
QString back() { return pick(u"Back", u"ফিরে যান"); }
QString layoutSection() { return pick(u"Layout", u"লেআউট"); }
QString defaultLayout() { return pick(u"Default layout", u"ডিফল্ট লেআউট"); }
QString interfaceLanguage() { return pick(u"Interface language", u"ভাষা (ইন্টারফেস)"); }
QString showSuggestions() { return pick(u"Show suggestions", u"সাজেশন দেখান"); }
QString candidatesShown() { return pick(u"Candidates shown", u"প্রার্থীর সংখ্যা"); }
QString panelTheme() { return pick(u"Panel theme", u"প্যানেল থিম"); }
QString inputBehavior() { return pick(u"Input behavior", u"লিখনরীতি"); }
QString banglaDigits() { return pick(u"Bangla digits ০-৯", u"বাংলা সংখ্যা ০-৯"); }
QString emojiSuggestions() { return pick(u"Emoji suggestions", u"ইমোজি সাজেশন"); }
QString diagnostics() { return pick(u"Diagnostics", u"ডায়াগনস্টিকস"); }
QString preferModernSpellings() {
  return pick(u"Prefer modern spellings", u"আধুনিক বানান পছন্দ করুন");
}
QString spokenForms() { return pick(u"Spoken forms (করতেছি)", u"কথ্য রূপ (করতেছি)"); }
QString keepWhatIType() { return pick(u"Keep what I type", u"যেমন লিখি তেমন"); }
QString suggestStandard() { return pick(u"Suggest standard", u"প্রমিত রূপ সাজেস্ট করুন"); }
QString nextWordPredictions() { return pick(u"Next-word predictions", u"পরের শব্দের সাজেশন"); }
QString correctionPreferences() { return pick(u"Correction Preferences", u"সংশোধনের পছন্দ"); }
QString toolsSection() { return pick(u"Tools", u"টুলস"); }
QString customKeysEditor() { return pick(u"Custom Keys Editor", u"কাস্টম কী এডিটর"); }
QString keyboardHelp() { return pick(u"Keyboard Help", u"কীবোর্ড সহায়িকা"); }
QString learnedWords() { return pick(u"Learned words", u"শেখা শব্দ"); }
QString correctionExplanation() {
  return pick(
      u"Review the words you chose and the suggestions you skipped. Forget an entry to stop using "
      u"that preference.",
      u"আপনার বেছে নেওয়া শব্দ ও এড়িয়ে যাওয়া সাজেশন এখানে দেখা যায়। ভুল পছন্দ ভুলে যেতে পারেন।");
}
QString chosenPrefix() { return pick(u"Chosen: ", u"পছন্দ: "); }
QString skippedPrefix() { return pick(u"Skipped: ", u"এড়ানো: "); }
QString forgetPreference() { return pick(u"Forget this preference", u"এই পছন্দ ভুলে যান"); }
QString couldNotSaveChanges() { return pick(u"Could not save changes", u"সংরক্ষণ করা যায়নি"); }

// Input menu
QString menuKeyboardHelp() { return pick(u"Keyboard Help...", u"কীবোর্ড সাহায্য..."); }
QString menuSettings() { return pick(u"Settings...", u"সেটিংস..."); }
QString checkForUpdates() { return pick(u"Check for Updates...", u"নতুন সংস্করণ আছে কি না দেখুন..."); }
QString menuLayouts() { return pick(u"Layouts", u"লেআউট"); }
QString menuQuickControls() { return pick(u"Quick Controls", u"দ্রুত নিয়ন্ত্রণ"); }
QString menuTools() { return pick(u"Tools", u"টুলস"); }
QString menuPrivacy() { return pick(u"Privacy", u"গোপনীয়তা"); }
QString menuEnglishPassthrough() { return pick(u"English Passthrough", u"ইংরেজি পাসথ্রু"); }

// About tab
QString facebookPage() { return pick(u"Facebook Page", u"Facebook পেজ"); }
QString developerLabel() { return pick(u"Developer", u"ডেভেলপার"); }
QString developedBy() { return pick(u"The Tolvani project, Dhaka", u"তোলভানি প্রকল্প, ঢাকা"); }
QString developerWebsite() { return pick(u"tolvani.org", u"tolvani.org"); }
QString dedication() {
  return pick(u"For everyone who writes in Bangla.", u"বাংলায় যাঁরা লেখেন, তাঁদের সবার জন্য।");
}
QString engineCredit() { return pick(u"Engine: C++ • 559K+ words", u"ইঞ্জিন: C++ • ৫৫৯K+ শব্দ"); }
QString installOnPhone() { return pick(u"Install on iPhone", u"iPhone-এ ইনস্টল করুন"); }
QString installQrCode() {
  return pick(u"QR code for the iPhone install page", u"iPhone install পেজের QR কোড");
}
QString installScanHint() {
  return pick(
      u"Scan with an iPhone or send the link to a friend. The same page will install from the App "
      u"Store when the listing is live.",
      u"iPhone দিয়ে স্ক্যান করুন বা বন্ধুকে লিংক পাঠান। App Store link প্রকাশ হলে একই পেজ থেকে ইনস্টল "
      u"হবে।");
}
QString shareInstallLink() { return pick(u"Share Install Link", u"ইনস্টল লিংক শেয়ার করুন"); }
QString openInstallPage() { return pick(u"Open Install Page", u"ইনস্টল পেজ খুলুন"); }

// Typing statistics
QString typingInsights() { return pick(u"Typing Insights", u"টাইপিং পরিসংখ্যান"); }
QString typingInsightsSubtitle() {
  return pick(u"All data stays on this computer", u"সব তথ্য শুধুমাত্র এই কম্পিউটারে সংরক্ষিত");
}
QString totalKeystrokes() { return pick(u"Total keystrokes", u"মোট কীস্ট্রোক"); }
QString wordsCommitted() { return pick(u"Words committed", u"লেখা শব্দ"); }
QString autocorrections() { return pick(u"Autocorrections", u"স্বয়ংক্রিয় সংশোধন"); }
QString candidateSelections() { return pick(u"Candidate selections", u"প্রার্থী নির্বাচন"); }
QString keystrokesSaved() { return pick(u"Keystrokes saved", u"সাশ্রয় হওয়া কীস্ট্রোক"); }
QString sessions() { return pick(u"Sessions", u"সেশন"); }
QString trackingSince() { return pick(u"Tracking since", u"গণনা শুরু"); }
QString notYet() { return pick(u"Not yet", u"এখনো নয়"); }
QString resetStatistics() { return pick(u"Reset Statistics", u"পরিসংখ্যান রিসেট করুন"); }
QString confirmResetStats() {
  return pick(u"All typing statistics will be erased.", u"সব টাইপিং পরিসংখ্যান মুছে যাবে।");
}

// Text-shortcut editor
QString textShortcuts() { return pick(u"Text Shortcuts", u"টেক্সট শর্টকাট"); }
QString textShortcutsSubtitle() {
  return pick(u"Type a shortcut and press Space to insert the full phrase.",
              u"শর্টকাট টাইপ করে স্পেস চাপলে পুরো লেখাটি বসে যাবে।");
}
QString shortcutColumn() { return pick(u"Shortcut", u"শর্টকাট"); }
QString expansionColumn() { return pick(u"Expansion", u"সম্প্রসারণ"); }
QString addShortcutKeyPlaceholder() { return pick(u"Shortcut (e.g. brb)", u"শর্টকাট (যেমন brb)"); }
QString addShortcutValuePlaceholder() { return pick(u"Expanded text", u"সম্প্রসারিত লেখা"); }
QString dynamicShortcutsHint() {
  return pick(
      u"Dynamic: type tarikh or aj (today's date), shomoy (current time), or bdate, btarikh or "
      u"bongabdo (Bangla calendar date), press Escape to keep it in English, then press Space.",
      u"গতিশীল: tarikh বা aj (আজকের তারিখ), shomoy (এখনকার সময়), bdate, btarikh বা bongabdo "
      u"(বঙ্গাব্দের তারিখ) লিখে Escape চেপে ইংরেজিতে রাখুন, তারপর স্পেস চাপুন।");
}
QString restoreDefaults() { return pick(u"Restore Defaults", u"ডিফল্ট ফিরিয়ে আনুন"); }
QString deleteShortcut() { return pick(u"Delete", u"মুছুন"); }

// Banglish conversion
QString menuConvertBanglish() {
  return pick(u"Convert Banglish Selection (Ctrl+Alt+B)",
              u"সিলেক্ট করা বাংলিশ বাংলায় রূপান্তর (Ctrl+Alt+B)");
}
QString convertSelectFirst() {
  return pick(u"Select Banglish text first", u"আগে বাংলিশ লেখা সিলেক্ট করুন");
}
QString convertSelectionUnavailable() {
  return pick(u"Can't read the selection in this app", u"এই অ্যাপের সিলেকশন পড়া যায়নি");
}
QString convertSelectionHidden() {
  return pick(u"Can't read the selection here; use a text editor",
              u"এই ফিল্ডের সিলেকশন পড়া যায় না; টেক্সট এডিটরে করুন");
}
QString convertSelectionTooLong() {
  return pick(u"The selection is too long", u"সিলেকশনটি অনেক বড়");
}
QString convertNothingToConvert() {
  return pick(u"No Banglish in the selection", u"সিলেকশনে বাংলিশ নেই");
}
QString convertSelectionChanged() {
  return pick(u"Selection changed, try again", u"সিলেকশন বদলে গেছে, আবার চেষ্টা করুন");
}
QString convertEngineUnavailable() {
  return pick(u"Could not start the engine", u"ইঞ্জিন চালু করা যায়নি");
}

// Backup and import
QString backupSection() { return pick(u"Backup", u"ব্যাকআপ"); }
QString backupDescription() {
  return pick(
      u"Files work with Tolvani on iPhone too. Importing adds the file's data to what is already "
      u"on this computer instead of replacing it.",
      u"iPhone-এর তোলভানি অ্যাপের সাথে একই ফাইল চলে। ইমপোর্ট করলে ফাইলের ডেটা এই কম্পিউটারের ডেটার "
      u"সাথে যোগ হয়, আগের কিছু মুছে যায় না।");
}
QString exportLearnedWords() { return pick(u"Export Learned Words…", u"শেখা শব্দ এক্সপোর্ট…"); }
QString importLearnedWords() { return pick(u"Import Learned Words…", u"শেখা শব্দ ইমপোর্ট…"); }
QString exportTextShortcuts() { return pick(u"Export Text Shortcuts…", u"টেক্সট শর্টকাট এক্সপোর্ট…"); }
QString importTextShortcuts() { return pick(u"Import Text Shortcuts…", u"টেক্সট শর্টকাট ইমপোর্ট…"); }
QString okButton() { return pick(u"OK", u"ঠিক আছে"); }
QString exportFailed() {
  return pick(u"The file could not be saved.", u"ফাইলটি সংরক্ষণ করা যায়নি।");
}
QString fileUnreadable() { return pick(u"The file could not be opened.", u"ফাইলটি খোলা যায়নি।"); }
QString learnedDataTooLarge() {
  return pick(u"The file is too large. Choose a backup under 2 MB.",
              u"ফাইলটি অনেক বড়। ২ মেগাবাইটের ছোট ব্যাকআপ বেছে নিন।");
}
QString learnedDataInvalid() {
  return pick(u"This is not an Tolvani backup, or it has no usable data.",
              u"এটি তোলভানির ব্যাকআপ ফাইল নয়, অথবা এতে ব্যবহারযোগ্য ডেটা নেই।");
}
QString learnedDataImportFailed() {
  return pick(u"The imported data could not be saved. Your existing data was not changed.",
              u"ইমপোর্ট করা ডেটা সংরক্ষণ করা যায়নি। আগের ডেটা অপরিবর্তিত আছে।");
}
QString shortcutsTooLarge() {
  return pick(u"The file is too large. Choose one under 200 KB.",
              u"ফাইলটি অনেক বড়। ২০০ কিলোবাইটের ছোট ফাইল বেছে নিন।");
}
QString shortcutsNoneFound() {
  return pick(u"No usable shortcuts were found in the file.",
              u"ফাইলে কোনো ব্যবহারযোগ্য শর্টকাট পাওয়া যায়নি।");
}
QString shortcutsFileFormats() {
  return pick(u"Import JSON, CSV or text files, or text replacements files.",
              u"JSON, CSV, লেখা ফাইল বা Text Replacements ফাইল আনা যায়।");
}

QString menuFullyOffline() { return offlineBadge(); }

}  // namespace tolvani::UIStrings
