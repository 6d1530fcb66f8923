// The front end's interface texts in Bangla and English. Every function reads the interface
// language from the settings on each call, so a window that rebuilds its texts after a settings
// change shows the new language at once.
// Thread-safety: every function may be called on any thread.
#ifndef TOLVANI_SETTINGS_UISTRINGS_H_
#define TOLVANI_SETTINGS_UISTRINGS_H_

#include <QString>

namespace tolvani::UIStrings {

// Numbers are written with ASCII digits and no grouping in both languages.
// "3 of 10 words"; the Bangla text names the total first.
QString wordCount(qint64 shown, qint64 total);
// The notice after a file was written under `name`.
QString savedFile(const QString& name);
// 0 gives a sentence without a number.
QString learnedWordsImported(qint64 count);
// The skipped part appears only when `skipped` is 1 or more.
QString shortcutsImported(qint64 added, qint64 skipped);

// Title and setup window. The texts that name where input sources are added name GNOME's Keyboard
// Settings on GNOME and IBus Preferences elsewhere.
QString appTitle();
QString subtitle();
QString offlineBadge();
QString setupTitle();
QString setupTour();
QString setupOpenSettings();
QString setupRetry();
QString setupWorking();
QString setupDoneDetail();
QString setupEnableDetail();
// The source is enabled and IBus runs, but another step does not hold.
QString setupStepsLeft();
// Said when a restart of IBus that setup asked for left no daemon, and setup started it again.
QString setupIBusStartedAgain();
// What is left when the session runs no IBus daemon yet.
QString setupIBusNotRunning();
// Where fcitx5 is the framework, with its trigger key `key` (none set when empty).
// `chooseVirtualKeyboard`: KDE on Wayland, where KWin starts fcitx5 once chosen as its virtual
// keyboard. `statusArea` false: no panel shows fcitx5's icon and its menu.
QString setupFcitx5NotRunning(const QString& key, bool chooseVirtualKeyboard = false);
QString setupNoStatusAreaFcitx5();
QString setupDoneDetailFcitx5(const QString& key, bool statusArea = true);
QString setupSwitchBackFcitx5(const QString& key, bool statusArea = true);
// Setup is complete and the person types with another keyboard: how to switch back, through the
// shell's keyboard menu where only the shell switches (`byPerson`).
QString setupSwitchBack(bool byPerson);
// Only the person's choice of Tolvani in GNOME's keyboard menu is left.
QString setupChooseInTopBar();
// IBus runs, but no panel shows its input menu before the next login.
QString setupPanelMissing();
// A step of the setup did not answer in time.
QString setupNoAnswer();
QString setupSettingsPath();
QString setupReloadGuide();
QString setupGuideMissing();
QString setupGuideNotLoaded();
QString setupGuideUpdateFailed();
QString setupGuideStopped();

// Settings window
QString privacySection();
QString footnote();
QString suggestions();
QString suggestionsOn();
QString suggestionsOff();
QString autocorrect();
QString escapeEnglish();
QString panelSystem();
QString panelDark();
QString panelLight();
QString editDictionary();
QString typingStats();
QString openDataFolder();
QString resetLearnedWords();
QString customKeys();
QString userDictionary();
QString searchWords();
QString wordColumn();
QString usesColumn();
QString addWordPlaceholder();
QString addButton();
QString removeSelected();
QString shortcutTip();
QString confirmResetTitle();
QString confirmResetWords();
QString confirmResetButton();
QString cancelButton();
QString tabGeneral();
QString tabTyping();
QString tabData();
QString tabAbout();
QString back();
QString layoutSection();
QString defaultLayout();
QString interfaceLanguage();
QString showSuggestions();
QString candidatesShown();
QString panelTheme();
QString inputBehavior();
QString banglaDigits();
QString emojiSuggestions();
QString diagnostics();
QString preferModernSpellings();
QString spokenForms();
QString keepWhatIType();
QString suggestStandard();
QString nextWordPredictions();
QString correctionPreferences();
QString toolsSection();
QString customKeysEditor();
QString keyboardHelp();
QString learnedWords();
QString correctionExplanation();
QString chosenPrefix();
QString skippedPrefix();
QString forgetPreference();
QString couldNotSaveChanges();

// Input menu
QString menuKeyboardHelp();
QString menuSettings();
QString checkForUpdates();
QString menuLayouts();
QString menuQuickControls();
QString menuTools();
QString menuPrivacy();
QString menuEnglishPassthrough();
// The same texts as offlineBadge().
QString menuFullyOffline();

// About tab
QString facebookPage();
QString developerLabel();
QString developedBy();
QString developerWebsite();
QString dedication();
QString engineCredit();
QString installOnPhone();
QString installQrCode();
QString installScanHint();
QString shareInstallLink();
QString openInstallPage();

// Typing statistics
QString typingInsights();
QString typingInsightsSubtitle();
QString totalKeystrokes();
QString wordsCommitted();
QString autocorrections();
QString candidateSelections();
QString keystrokesSaved();
QString sessions();
QString trackingSince();
QString notYet();
QString resetStatistics();
QString confirmResetStats();

// Text-shortcut editor
QString textShortcuts();
QString textShortcutsSubtitle();
QString shortcutColumn();
QString expansionColumn();
QString addShortcutKeyPlaceholder();
QString addShortcutValuePlaceholder();
QString dynamicShortcutsHint();
QString restoreDefaults();
QString deleteShortcut();

// Banglish conversion
QString menuConvertBanglish();
QString convertSelectFirst();
QString convertSelectionUnavailable();
// Where a field never tells its selection (GTK's one-line fields through IBus).
QString convertSelectionHidden();
QString convertSelectionTooLong();
QString convertNothingToConvert();
QString convertSelectionChanged();
QString convertEngineUnavailable();

// Backup and import
QString backupSection();
QString backupDescription();
QString exportLearnedWords();
QString importLearnedWords();
QString exportTextShortcuts();
QString importTextShortcuts();
QString okButton();
QString exportFailed();
QString fileUnreadable();
QString learnedDataTooLarge();
QString learnedDataInvalid();
QString learnedDataImportFailed();
QString shortcutsTooLarge();
QString shortcutsNoneFound();
QString shortcutsFileFormats();

}  // namespace tolvani::UIStrings

#endif  // TOLVANI_SETTINGS_UISTRINGS_H_
