// The setup guide's script. It speaks only the setup protocol: it posts "ready" once, then
// messages that echo the session of the last snapshot, and it draws each snapshot handed to
// window.setup.render. Every text from the program or the user is inserted as text, never as
// markup. Without the program's channel (a plain browser) it records what it would post in
// window.setup.posted.
(function () {
  'use strict';

  const TEXTS = {
    en: {
      brand: 'Tolvani',
      languageSwitch: 'বাংলা',
      setupHeading: 'Set up your Bangla keyboard',
      setupLead: 'Tolvani joins your input sources in three steps. Nothing leaves your computer.',
      rowAdd: 'Add Tolvani to your input sources',
      rowAddDetail: 'IBus learns about the keyboard and lists it.',
      rowShow: 'Show the input menu',
      rowShowDetail: 'The IBus icon in the panel lets you switch keyboards.',
      rowShowDetailGnome: 'GNOME’s keyboard menu in the top bar lets you switch keyboards.',
      rowShowDetailTop: 'The IBus icon in the panel at the top of the screen lets you switch keyboards.',
      rowShowDetailBottom: 'The IBus icon in the panel at the bottom of the screen lets you switch keyboards.',
      rowSelect: 'Switch to Tolvani',
      rowSelectDetail: 'Tolvani becomes the keyboard you type with.',
      rowSelectDetailByPerson: 'Choose Tolvani in the keyboard menu in the top bar.',
      statePending: 'Waiting',
      stateWorking: 'Working…',
      stateDone: 'Done',
      stateFailed: 'Needs attention',
      phaseWorking: 'Setting up Tolvani…',
      phaseDone: 'You’re all set. Press Super+Space to switch keyboards.',
      phaseLeft: 'Some steps are not done yet. Retry Setup to finish them.',
      phaseChoose: 'Almost done: choose Tolvani in the keyboard menu in the top bar.',
      phasePanel: 'Tolvani is added. The input menu needs IBus’s panel, which starts with your next login: log out and in again.',
      phaseAway: 'Tolvani is set up, and you are typing with another keyboard now. Press Super+Space to switch back to Tolvani.',
      phaseAwayByPerson: 'Tolvani is set up, and you are typing with another keyboard now. To switch back, choose Tolvani in the keyboard menu in the top bar, or press Super+Space.',
      stateWaiting: 'After IBus starts',
      phaseFailed: 'Setup could not finish. Retry, or add Tolvani in Keyboard Settings.',
      phaseFailedElsewhere: 'Setup could not finish. Retry, or add Tolvani in IBus Preferences.',
      phaseWaiting: 'IBus is not running in this session yet. Log out and in again; then Super+Space switches to Tolvani.',
      phaseWaitingElsewhere: 'IBus is not running in this session yet. Choose it once with "im-config -n ibus", then log out and in again; then Super+Space switches to Tolvani.',
      retry: 'Retry Setup',
      settings: 'Open Keyboard Settings',
      settingsElsewhere: 'Open IBus Preferences',
      rowAddDetailFcitx5: 'fcitx5 learns about the keyboard and lists it after your layouts.',
      rowShowDetailFcitx5: 'The fcitx5 icon in the panel (on KDE Plasma, its input-method indicator) lets you switch keyboards.',
      stateWaitingFcitx5: 'After fcitx5 starts',
      phaseDoneFcitx5: 'You’re all set. Press {key} to switch between your keyboard and Tolvani.',
      phaseAwayFcitx5: 'Tolvani is set up, and you are typing with another keyboard now. Press {key} to switch back to Tolvani.',
      phaseFailedFcitx5: 'Setup could not finish. Retry, or add Tolvani in Fcitx 5 Configuration.',
      phaseWaitingFcitx5: 'fcitx5 is not running in this session yet. Log out and in again; then {key} switches to Tolvani.',
      phaseDoneFcitx5NoKey: 'You’re all set. Choose Tolvani in the menu of fcitx5’s icon. No key is set to switch input methods: set one in Fcitx 5 Configuration (Global Options → Trigger Input Method).',
      phaseAwayFcitx5NoKey: 'Tolvani is set up, and you are typing with another keyboard now. Choose Tolvani in the menu of fcitx5’s icon to switch back. No key is set to switch input methods: set one in Fcitx 5 Configuration (Global Options → Trigger Input Method).',
      phaseWaitingFcitx5NoKey: 'fcitx5 is not running in this session yet. Log out and in again. No key is set to switch input methods: set one in Fcitx 5 Configuration (Global Options → Trigger Input Method).',
      settingsFcitx5: 'Open Fcitx 5 Configuration',
      stateNone: 'No panel',
      rowShowDetailFcitx5NoHost: 'No panel shows fcitx5’s icon here: open Tolvani’s windows from its entry in your application launcher, and switch its layouts with Control+Shift+Space.',
      phaseDoneFcitx5NoKeyNoHost: 'Tolvani is in fcitx5’s input methods. No key is set to switch input methods: set one in Fcitx 5 Configuration (Global Options → Trigger Input Method).',
      phaseAwayFcitx5NoKeyNoHost: 'Tolvani is set up, and you are typing with another keyboard now. No key is set to switch input methods: set one in Fcitx 5 Configuration (Global Options → Trigger Input Method).',
      phaseWaitingFcitx5Kwin: 'fcitx5 is not running in this session yet. Choose System Settings → Virtual Keyboard → “Fcitx 5”; then {key} switches to Tolvani.',
      phaseWaitingFcitx5NoKeyKwin: 'fcitx5 is not running in this session yet. Choose System Settings → Virtual Keyboard → “Fcitx 5”. No key is set to switch input methods: set one in Fcitx 5 Configuration (Global Options → Trigger Input Method).',
      tour: 'Take the Tour',
      done: 'Done',
      close: 'Close',
      chapter0: 'Switch',
      chapter1: 'Type by sound',
      chapter2: 'Layouts',
      chapter3: 'Shortcuts',
      chapter4: 'Options',
      counter: 'Chapter {n} of 5',
      title0: 'Switch to Tolvani',
      body0: 'Make Tolvani your keyboard, then type in the box below.',
      selectedYes: 'Tolvani is your keyboard now.',
      selectedNo: 'Another keyboard is selected.',
      selectedNoByPerson: 'Another keyboard is selected. Choose Tolvani in the keyboard menu in the top bar.',
      selectButton: 'Switch to Tolvani',
      title1: 'Type Bangla by sound',
      body1: 'Spell words the way they sound, in Latin letters. Tolvani writes them in Bangla and offers suggestions.',
      title2: 'Keyboard layouts',
      body2: 'Besides phonetic typing, Tolvani has the Probhat, National and Unijoy layouts. Your default layout:',
      layouts: ['Phonetic', 'Probhat', 'National', 'Unijoy'],
      helpButton: 'Open Keyboard Help',
      title3: 'Text shortcuts',
      body3: 'Type a short code and press Space to insert a longer text. Typing gm gives:',
      noShortcut: 'No shortcut is set for gm.',
      shortcutButton: 'Edit Text Shortcuts',
      title4: 'Options',
      body4: 'These are your current settings. Change them in Settings.',
      optionDigits: 'Bangla digits',
      optionEnglish: 'English words pass through',
      optionSuggestions: 'Suggestions',
      optionAutocorrect: 'Autocorrect',
      optionEmoji: 'Emoji suggestions',
      on: 'On',
      off: 'Off',
      preferencesButton: 'Open Settings',
      tryLabel: 'Try it here',
      tryPlaceholder: 'Type here…',
      backToSetup: 'Setup',
      back: 'Back',
      next: 'Next',
      finish: 'Finish',
    },
    bn: {
      brand: 'তোলভানি',
      languageSwitch: 'English',
      setupHeading: 'আপনার বাংলা কীবোর্ড চালু করুন',
      setupLead: 'তিনটি ধাপে তোলভানি আপনার ইনপুট সোর্সে যুক্ত হবে। কোনো কিছুই আপনার কম্পিউটারের বাইরে যায় না।',
      rowAdd: 'ইনপুট সোর্সে তোলভানি যোগ করা',
      rowAddDetail: 'IBus কীবোর্ডটি চিনে নেয় ও তালিকায় রাখে।',
      rowShow: 'ইনপুট মেনু দেখানো',
      rowShowDetail: 'প্যানেলে IBus-এর আইকন থেকে কীবোর্ড বদলানো যায়।',
      rowShowDetailGnome: 'ওপরের বারে GNOME-এর কীবোর্ড মেনু থেকে কীবোর্ড বদলানো যায়।',
      rowShowDetailTop: 'পর্দার ওপরের প্যানেলে IBus-এর আইকন থেকে কীবোর্ড বদলানো যায়।',
      rowShowDetailBottom: 'পর্দার নিচের প্যানেলে IBus-এর আইকন থেকে কীবোর্ড বদলানো যায়।',
      rowSelect: 'তোলভানিতে বদলানো',
      rowSelectDetail: 'তোলভানি হবে আপনার টাইপের কীবোর্ড।',
      rowSelectDetailByPerson: 'ওপরের বারের কীবোর্ড মেনু থেকে তোলভানি বেছে নিন।',
      statePending: 'অপেক্ষায়',
      stateWorking: 'চলছে…',
      stateDone: 'সম্পন্ন',
      stateFailed: 'মনোযোগ দরকার',
      phaseWorking: 'তোলভানি চালু করা হচ্ছে…',
      phaseDone: 'সব তৈরি। কীবোর্ড বদলাতে Super+Space চাপুন।',
      phaseLeft: 'কিছু ধাপ এখনো বাকি। শেষ করতে আবার চেষ্টা করুন।',
      phaseChoose: 'প্রায় শেষ: ওপরের বারের কীবোর্ড মেনু থেকে তোলভানি বেছে নিন।',
      phasePanel: 'তোলভানি যোগ করা হয়েছে। ইনপুট মেনুর জন্য IBus-এর প্যানেল দরকার, যা পরের বার লগ ইন করলে চালু হবে: লগ আউট করে আবার লগ ইন করুন।',
      phaseAway: 'তোলভানি চালু হয়ে গেছে, এখন আপনি অন্য একটি কীবোর্ডে লিখছেন। তোলভানিতে ফিরতে Super+Space চাপুন।',
      phaseAwayByPerson: 'তোলভানি চালু হয়ে গেছে, এখন আপনি অন্য একটি কীবোর্ডে লিখছেন। তোলভানিতে ফিরতে ওপরের বারের কীবোর্ড মেনু থেকে তোলভানি বেছে নিন, অথবা Super+Space চাপুন।',
      stateWaiting: 'IBus চালু হলে',
      phaseFailed: 'সেটআপ শেষ হয়নি। আবার চেষ্টা করুন, অথবা কীবোর্ড সেটিংসে তোলভানি যোগ করুন।',
      phaseFailedElsewhere: 'সেটআপ শেষ হয়নি। আবার চেষ্টা করুন, অথবা IBus Preferences-এ তোলভানি যোগ করুন।',
      phaseWaiting: 'এই সেশনে IBus এখনো চালু হয়নি। লগ আউট করে আবার লগ ইন করুন; তারপর Super+Space চাপলে তোলভানিতে বদলাবে।',
      phaseWaitingElsewhere: 'এই সেশনে IBus এখনো চালু হয়নি। একবার "im-config -n ibus" দিয়ে IBus বেছে নিন, তারপর লগ আউট করে আবার লগ ইন করুন; তারপর Super+Space চাপলে তোলভানিতে বদলাবে।',
      retry: 'আবার চেষ্টা করুন',
      settings: 'কীবোর্ড সেটিংস খুলুন',
      settingsElsewhere: 'IBus Preferences খুলুন',
      rowAddDetailFcitx5: 'fcitx5 কীবোর্ডটি চিনে নেয় ও আপনার লেআউটগুলোর পরে তালিকায় রাখে।',
      rowShowDetailFcitx5: 'প্যানেলে fcitx5-এর আইকন (KDE Plasma-য় তার ইনপুট মেথড নির্দেশক) থেকে কীবোর্ড বদলানো যায়।',
      stateWaitingFcitx5: 'fcitx5 চালু হলে',
      phaseDoneFcitx5: 'সব তৈরি। আপনার কীবোর্ড আর তোলভানির মধ্যে বদলাতে {key} চাপুন।',
      phaseAwayFcitx5: 'তোলভানি চালু হয়ে গেছে, এখন আপনি অন্য একটি কীবোর্ডে লিখছেন। তোলভানিতে ফিরতে {key} চাপুন।',
      phaseFailedFcitx5: 'সেটআপ শেষ হয়নি। আবার চেষ্টা করুন, অথবা Fcitx 5 Configuration-এ তোলভানি যোগ করুন।',
      phaseWaitingFcitx5: 'এই সেশনে fcitx5 এখনো চালু হয়নি। লগ আউট করে আবার লগ ইন করুন; তারপর {key} চাপলে তোলভানিতে বদলাবে।',
      phaseDoneFcitx5NoKey: 'সব তৈরি। fcitx5-এর আইকনের মেনু থেকে তোলভানি বেছে নিন। ইনপুট মেথড বদলানোর কোনো কী ঠিক করা নেই: Fcitx 5 Configuration-এ (Global Options → Trigger Input Method) একটি কী ঠিক করে দিন।',
      phaseAwayFcitx5NoKey: 'তোলভানি চালু হয়ে গেছে, এখন আপনি অন্য একটি কীবোর্ডে লিখছেন। তোলভানিতে ফিরতে fcitx5-এর আইকনের মেনু থেকে তোলভানি বেছে নিন। ইনপুট মেথড বদলানোর কোনো কী ঠিক করা নেই: Fcitx 5 Configuration-এ (Global Options → Trigger Input Method) একটি কী ঠিক করে দিন।',
      phaseWaitingFcitx5NoKey: 'এই সেশনে fcitx5 এখনো চালু হয়নি। লগ আউট করে আবার লগ ইন করুন। ইনপুট মেথড বদলানোর কোনো কী ঠিক করা নেই: Fcitx 5 Configuration-এ (Global Options → Trigger Input Method) একটি কী ঠিক করে দিন।',
      stateNone: 'প্যানেল নেই',
      rowShowDetailFcitx5NoHost: 'এখানে কোনো প্যানেলে fcitx5-এর আইকন দেখা যায় না: অ্যাপ্লিকেশন লঞ্চারে তোলভানি থেকে এর উইন্ডোগুলো খুলুন, আর Control+Shift+Space দিয়ে এর লেআউট বদলান।',
      phaseDoneFcitx5NoKeyNoHost: 'তোলভানি fcitx5-এর ইনপুট মেথডে আছে। ইনপুট মেথড বদলানোর কোনো কী ঠিক করা নেই: Fcitx 5 Configuration-এ (Global Options → Trigger Input Method) একটি কী ঠিক করে দিন।',
      phaseAwayFcitx5NoKeyNoHost: 'তোলভানি চালু হয়ে গেছে, এখন আপনি অন্য একটি কীবোর্ডে লিখছেন। ইনপুট মেথড বদলানোর কোনো কী ঠিক করা নেই: Fcitx 5 Configuration-এ (Global Options → Trigger Input Method) একটি কী ঠিক করে দিন।',
      phaseWaitingFcitx5Kwin: 'এই সেশনে fcitx5 এখনো চালু হয়নি। System Settings → Virtual Keyboard → “Fcitx 5” বেছে নিন; তারপর {key} চাপলে তোলভানিতে বদলাবে।',
      phaseWaitingFcitx5NoKeyKwin: 'এই সেশনে fcitx5 এখনো চালু হয়নি। System Settings → Virtual Keyboard → “Fcitx 5” বেছে নিন। ইনপুট মেথড বদলানোর কোনো কী ঠিক করা নেই: Fcitx 5 Configuration-এ (Global Options → Trigger Input Method) একটি কী ঠিক করে দিন।',
      settingsFcitx5: 'Fcitx 5 Configuration খুলুন',
      tour: 'ঘুরে দেখুন',
      done: 'শেষ',
      close: 'বন্ধ করুন',
      chapter0: 'বদলান',
      chapter1: 'উচ্চারণে লিখুন',
      chapter2: 'লেআউট',
      chapter3: 'শর্টকাট',
      chapter4: 'অপশন',
      counter: 'অধ্যায় {n} / ৫',
      title0: 'তোলভানিতে বদলান',
      body0: 'তোলভানিকে আপনার কীবোর্ড করুন, তারপর নিচের ঘরে লিখুন।',
      selectedYes: 'এখন তোলভানিই আপনার কীবোর্ড।',
      selectedNo: 'এখন অন্য একটি কীবোর্ড বেছে নেওয়া আছে।',
      selectedNoByPerson: 'এখন অন্য একটি কীবোর্ড বেছে নেওয়া আছে। ওপরের বারের কীবোর্ড মেনু থেকে তোলভানি বেছে নিন।',
      selectButton: 'তোলভানিতে বদলান',
      title1: 'উচ্চারণ ধরে বাংলা লিখুন',
      body1: 'শব্দ যেমন শোনায় তেমন ইংরেজি অক্ষরে লিখুন। তোলভানি সেগুলো বাংলায় লিখবে আর পরামর্শ দেবে।',
      title2: 'কীবোর্ড লেআউট',
      body2: 'ফোনেটিক ছাড়াও তোলভানিতে প্রভাত, জাতীয় ও ইউনিজয় লেআউট আছে। আপনার ডিফল্ট লেআউট:',
      layouts: ['ফোনেটিক', 'প্রভাত', 'জাতীয়', 'ইউনিজয়'],
      helpButton: 'কীবোর্ড সহায়িকা খুলুন',
      title3: 'টেক্সট শর্টকাট',
      body3: 'ছোট একটি কোড লিখে স্পেস চাপলে লম্বা লেখা বসে যায়। gm লিখলে পাবেন:',
      noShortcut: 'gm-এর কোনো শর্টকাট নেই।',
      shortcutButton: 'টেক্সট শর্টকাট সম্পাদনা',
      title4: 'অপশন',
      body4: 'এগুলো আপনার বর্তমান সেটিংস। সেটিংসে গিয়ে বদলাতে পারবেন।',
      optionDigits: 'বাংলা অঙ্ক',
      optionEnglish: 'ইংরেজি শব্দ অপরিবর্তিত',
      optionSuggestions: 'পরামর্শ',
      optionAutocorrect: 'স্বয়ংক্রিয় সংশোধন',
      optionEmoji: 'ইমোজি পরামর্শ',
      on: 'চালু',
      off: 'বন্ধ',
      preferencesButton: 'সেটিংস খুলুন',
      tryLabel: 'এখানে লিখে দেখুন',
      tryPlaceholder: 'এখানে লিখুন…',
      backToSetup: 'সেটআপ',
      back: 'পেছনে',
      next: 'পরের ধাপ',
      finish: 'শেষ করুন',
    },
  };
  const BANGLA_DIGITS = '০১২৩৪৫৬৭৮৯';
  const STEPS = ['add', 'show', 'select'];
  const OPTIONS = ['digits', 'english', 'suggestions', 'autocorrect', 'emoji'];

  const posted = [];
  let post = null;
  let session = null;
  let snapshot = null;

  const $ = (selector) => document.querySelector(selector);
  const $$ = (selector) => Array.from(document.querySelectorAll(selector));

  function send(action, text) {
    const message = { action: action };
    if (action !== 'ready') {
      // Nothing but "ready" goes out before the program has named the session.
      if (session === null) return;
      message.session = session;
    }
    if (text !== undefined) message.text = text;
    posted.push(message);
    if (post) post(JSON.stringify(message));
  }

  // Where the input menu shows: GNOME's own menu in its top bar, IBus's icon in the panel at the
  // bottom of the screen on KDE Plasma and Cinnamon, at the top on Xfce and MATE.
  const MENU_PLACES = { gnome: 'Gnome', kde: 'Bottom', cinnamon: 'Bottom', xfce: 'Top', mate: 'Top' };

  // The texts that name where input sources are added, and how IBus comes to run, differ outside
  // GNOME: there IBus Preferences list them, and IBus runs once chosen with im-config. Where only
  // GNOME Shell switches, the person chooses Tolvani in its menu. Where fcitx5 is the framework,
  // its icon, its configuration tool and its trigger key are named instead, on any desktop.
  function words(lang, gnome, s) {
    const t = Object.assign({}, TEXTS[lang] || TEXTS.en);
    const state = s || {};
    const place = MENU_PLACES[state.desktop];
    if (place) t.rowShowDetail = t['rowShowDetail' + place];
    const take = (suffix) => {
      for (const key of Object.keys(t)) {
        if (key.endsWith(suffix)) t[key.slice(0, -suffix.length)] = t[key];
      }
    };
    if (state.selectedByPerson === true) take('ByPerson');
    if (gnome === false) take('Elsewhere');
    if (state.framework === 'fcitx5') {
      // An empty key: the person removed fcitx5's trigger keys.
      const key = typeof state.switchKey === 'string' ? state.switchKey : '';
      // KWin starts fcitx5 once it is the virtual keyboard; without a status area nothing shows
      // fcitx5's menu.
      if (state.virtualKeyboard === true) take('Kwin');
      if (state.statusArea === false) take('NoHost');
      if (!key) take('NoKey');
      take('Fcitx5');
      for (const name of Object.keys(t)) {
        if (typeof t[name] === 'string') t[name] = t[name].replace('{key}', key);
      }
    }
    return t;
  }

  function localDigits(lang, number) {
    const text = String(number);
    if (lang !== 'bn') return text;
    return text.replace(/[0-9]/g, (d) => BANGLA_DIGITS[Number(d)]);
  }

  function applyTheme() {
    const theme = window.tolvaniTheme;
    if (theme === 'dark' || theme === 'light') document.documentElement.dataset.theme = theme;
  }

  function drawTexts(lang, gnome, s) {
    const t = words(lang, gnome, s);
    document.documentElement.lang = lang === 'bn' ? 'bn' : 'en';
    for (const element of $$('[data-text]')) {
      const text = t[element.dataset.text];
      if (typeof text === 'string') element.textContent = text;
    }
    $('#typing').placeholder = t.tryPlaceholder;
  }

  function setEnabled(action, enabled) {
    for (const button of $$('button[data-action="' + action + '"]')) button.disabled = !enabled;
  }

  function draw(s) {
    const lang = s.lang === 'bn' ? 'bn' : 'en';
    const gnome = s.gnome !== false;
    const t = words(lang, gnome, s);
    drawTexts(lang, gnome, s);
    document.body.classList.toggle('quiet', s.quiet === true);
    document.body.classList.toggle('paused', s.visible === false);

    const tour = s.stage === 'tour';
    $('#setup-stage').hidden = tour;
    $('#tour-stage').hidden = !tour;

    const rows = s.rows && typeof s.rows === 'object' ? s.rows : {};
    const stateWords = {
      pending: t.statePending,
      working: t.stateWorking,
      done: t.stateDone,
      failed: t.stateFailed,
      waiting: t.stateWaiting,
      none: t.stateNone,
    };
    for (const step of STEPS) {
      const row = $('.row[data-step="' + step + '"]');
      const state = Object.prototype.hasOwnProperty.call(stateWords, rows[step]) ? rows[step] : 'pending';
      row.dataset.state = state;
      row.querySelector('.row-state').textContent = stateWords[state];
      row.querySelector('.badge').textContent =
        state === 'done' ? '✓' : state === 'failed' ? '!' : localDigits(lang, STEPS.indexOf(step) + 1);
    }
    const phaseWords = {
      working: t.phaseWorking,
      done: t.phaseDone,
      failed: t.phaseFailed,
      waiting: t.phaseWaiting,
      left: t.phaseLeft,
      choose: t.phaseChoose,
      panel: t.phasePanel,
      away: t.phaseAway,
    };
    $('#phase').textContent = phaseWords[s.phase] || '';
    const error = $('#error');
    error.textContent = typeof s.error === 'string' ? s.error : '';
    error.hidden = error.textContent === '';

    const busy = s.busy === true;
    setEnabled('retry', !busy);
    setEnabled('done', !busy);
    setEnabled('tour', !busy && s.status === 'enabled');
    // Without IBus the tour could neither switch nor type.
    $('#setup-stage button[data-action="tour"]').hidden = s.ibus === false;
    // IBus Preferences cannot work before the session runs IBus, nor be offered before the first
    // check has found it; GNOME's Keyboard Settings can.
    $('#setup-stage button[data-action="settings"]').hidden = s.settings !== true;
    setEnabled('select', !busy);
    // Where only the shell switches, the person chooses in its menu.
    for (const button of $$('button[data-action="select"]')) button.hidden = s.selectedByPerson === true;

    const chapter = Number.isInteger(s.tourStep) ? Math.min(Math.max(s.tourStep, 0), 4) : 0;
    for (const article of $$('.chapter')) article.hidden = Number(article.dataset.chapter) !== chapter;
    for (const button of $$('.chapters button')) {
      if (Number(button.dataset.chapter) === chapter) button.setAttribute('aria-current', 'step');
      else button.removeAttribute('aria-current');
    }
    $('#chapter-counter').textContent = t.counter.replace('{n}', localDigits(lang, chapter + 1));
    setEnabled('tourBack', chapter > 0);
    $('button[data-action="tourNext"]').hidden = chapter >= 4;
    $('#tour-stage button[data-action="done"]').hidden = chapter < 4;

    $('#selected-state').textContent = s.selected === true ? t.selectedYes : t.selectedNo;
    const layout = Number.isInteger(s.defaultLayout) ? t.layouts[s.defaultLayout] : undefined;
    $('#default-layout').textContent = layout || t.layouts[0];
    const shortcut = typeof s.shortcut === 'string' ? s.shortcut : '';
    $('#shortcut').textContent =
      shortcut === '' ? t.noShortcut : shortcut + (s.shortcutTruncated === true ? '…' : '');
    const options = s.options && typeof s.options === 'object' ? s.options : {};
    for (const name of OPTIONS) {
      $('li[data-option="' + name + '"] .value').textContent = options[name] === true ? t.on : t.off;
    }

    if (s.focusTyping === true) $('#typing').focus();
  }

  function render(next) {
    if (next === null || typeof next !== 'object') throw new TypeError('render needs a snapshot');
    if (typeof next.session === 'string') session = next.session;
    snapshot = next;
    draw(next);
  }

  document.addEventListener('click', (event) => {
    const button = event.target.closest('button[data-action]');
    if (!button || button.disabled) return;
    const action = button.dataset.action;
    if (action === 'tourChapter') send(action, button.dataset.chapter);
    else send(action);
  });

  // Links never navigate: the guide stays on its one page.
  document.addEventListener('click', (event) => {
    if (event.target.closest('a')) event.preventDefault();
  }, true);

  window.setup = {
    render: render,
    applyTheme: applyTheme,
    posted: posted,
    get snapshot() {
      return snapshot;
    },
  };

  applyTheme();
  drawTexts(document.documentElement.lang === 'bn' ? 'bn' : 'en');

  if (window.qt && window.qt.webChannelTransport && typeof window.QWebChannel === 'function') {
    new window.QWebChannel(window.qt.webChannelTransport, (channel) => {
      const handler = channel.objects.setup;
      post = (text) => handler.postMessage(text);
      send('ready');
    });
  } else {
    send('ready');
  }
})();
