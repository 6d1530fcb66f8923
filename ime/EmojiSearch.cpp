#include "ime/EmojiSearch.h"

#include <QChar>
#include <QTextBoundaryFinder>

namespace tolvani::EmojiSearch {
namespace {

// Emoji sequences are spelled out: zero-width joiners (U+200D) join the people of a family, and
// the variation selector U+FE0F asks for the emoji form of a character that is text by default.
std::vector<Concept> makeConcepts() {
  std::vector<Concept> table;
  table.reserve(102);
  auto add = [&table](const char* bangla, const char* english, QStringList words,
                      QStringList banglaKeys, QStringList emojis) {
    Concept c;
    c.bangla = QString::fromUtf8(bangla);
    c.english = QString::fromUtf8(english);
    c.words = std::move(words);
    c.banglaKeys = std::move(banglaKeys);
    c.emojis = std::move(emojis);
    c.inPicker = table.size() < 61;
    table.push_back(std::move(c));
  };
  add("হাসি", "Laugh", {"laugh", "laughing", "smile", "lol", "haha", "hahaha", "lmao", "rofl"},
      {"হাসি", "হাসছি", "হাসলাম", "হাহা", "hashi", "hasi", "hashchi", "hasci"},
      {"\U0001F602", "\U0001F600", "\U0001F604", "\U0001F601", "\U0001F606", "\U0001F923",
       "\U0001F642", "\U0001F60A", "\U0001F61C", "\U0001F92A", "\U0001F639", "\U0001F648"});
  add("খুশি", "Happy", {"happy", "glad", "joyful", "cheerful", "yay", "smiley"},
      {"খুশি", "খুশী", "আনন্দ", "আনন্দিত", "khushi", "khusi", "anondo", "anondito"},
      {"\U0001F60A", "\U0001F603", "\U0001F604", "\U0001F973", "\u263A\uFE0F", "\U0001F607"});
  add("ভালোবাসা", "Love", {"love", "loves", "loved", "loving", "lovely", "ilu", "heart"},
      {"ভালোবাসা", "ভালবাসা", "ভালোবাসি", "ভালবাসি", "ভালোবাসো", "ভালবাসো", "ভালোবাসে", "ভালোবাসার",
       "প্রেম", "bhalobasha", "valobasha", "bhalobashi", "bhalobasi", "valobashi", "valobasi",
       "prem"},
      {"\u2764\uFE0F", "\U0001F60D", "\U0001F970", "\U0001F618", "\U0001F495", "\U0001F496",
       "\U0001F497", "\U0001F49E", "\U0001FAF6", "\U0001F48C", "\U0001F339"});
  add("কান্না", "Cry", {"cry", "crying", "cried", "tears", "sobbing"},
      {"কান্না", "কাঁদছি", "কাঁদি", "কাঁদলাম", "কাঁদো", "kandchi", "kadchi", "kandlam"},
      {"\U0001F622", "\U0001F62D", "\U0001F972", "\U0001F63F", "\U0001F4A7"});
  add("দুঃখ", "Sad", {"sad", "upset", "heartbroken"}, {"দুঃখ", "মন খারাপ", "dukkho", "dukho"},
      {"\U0001F614", "\U0001F61E", "\U0001F641", "\U0001F61F", "\U0001F494", "\U0001F629",
       "\U0001F62B", "\u2764\uFE0F\u200D\U0001FA79"});
  add("রাগ", "Angry", {"angry", "anger", "mad", "furious", "annoyed", "rage"},
      {"রাগ", "রাগী", "রেগে", "রাগছি", "raag", "rege", "ragchi"},
      {"\U0001F620", "\U0001F621", "\U0001F92C", "\U0001F624", "\U0001F4A2"});
  add("ভয়", "Scared", {"scared", "scary", "afraid", "fear", "frightened", "horror"},
      {"ভয়", "ভয় পেয়েছি", "ভয়ংকর", "ভয়ঙ্কর", "ভয়ানক", "bhoy", "voy", "bhoyonkor", "voyonkor"},
      {"\U0001F631", "\U0001F628", "\U0001F630", "\U0001F627", "\U0001F47B"});
  add("অবাক", "Wow", {"wow", "omg", "whoa", "amazing", "shocked", "surprised"},
      {"অবাক", "আশ্চর্য", "অবিশ্বাস্য", "obak", "abak", "ashcorjo"},
      {"\U0001F62E", "\U0001F632", "\U0001F92F", "\U0001F62F", "\U0001F633"});
  add("মজা", "Fun", {"fun", "funny", "joke", "jokes", "hilarious", "kidding"},
      {"মজা", "মজার", "মজাদার", "moja", "mojar", "moza"},
      {"\U0001F602", "\U0001F61C", "\U0001F923", "\U0001F606", "\U0001F921"});
  add("ঘুম", "Sleep", {"sleep", "sleepy", "sleeping", "tired", "goodnight", "gn"},
      {"ঘুম", "ঘুমাও", "ঘুমাচ্ছি", "ঘুমাব", "শুভ রাত্রি", "ghum", "ghumabo", "ghumacchi", "shubho ratri"},
      {"\U0001F634", "\U0001F4A4", "\U0001F6CC", "\U0001F971", "\U0001F62A"});
  add("হ্যাঁ", "Yes", {"yes", "ok", "okay", "yep", "sure"}, {"হ্যাঁ", "ঠিক", "ঠিক আছে", "hya", "thik"},
      {"\U0001F44D", "\u2705", "\U0001F44C", "\U0001F4AF", "\U0001FAE1", "\U0001F64C",
       "\U0001F44F"});
  add("না", "No", {"no", "nah", "nope"}, {"না", "na"},
      {"\U0001F44E", "\u274C", "\U0001F6AB", "\U0001F645", "\U0001F611", "\U0001F644"});
  add("ধন্যবাদ", "Thanks", {"thanks", "thank", "thx", "ty", "tnx", "grateful"},
      {"ধন্যবাদ", "শুকরিয়া", "কৃতজ্ঞ", "dhonnobad", "dhonyobad", "shukriya", "sukriya"},
      {"\U0001F64F", "\U0001F60A", "\U0001F490", "\U0001F91D"});
  add("সালাম", "Salam", {"hi", "hello", "hey", "hiya", "greetings"},
      {"সালাম", "আসসালামু আলাইকুম", "নমস্কার", "আদাব", "salam", "assalamualaikum", "nomoskar", "adab"},
      {"\U0001F44B", "\U0001F64B", "\U0001F91D", "\u263A\uFE0F"});
  add("দোয়া", "Prayer", {"prayer", "prayers", "praying", "amen", "blessing", "blessings"},
      {"দোয়া", "দুআ", "নামাজ", "প্রার্থনা", "doa", "dua", "namaz", "namaj", "prarthona"},
      {"\U0001F932", "\U0001F4FF", "\U0001F54B", "\U0001F64F"});
  add("ঈদ", "Eid", {"eid", "eid mubarak", "eidmubarak"}, {"ঈদ", "ঈদের", "ঈদ মোবারক", "eid mobarak"},
      {"\U0001F319", "\U0001F54C", "\u2728", "\U0001F389", "\U0001F932"});
  add("ইফতার", "Iftar", {"iftar", "ramadan", "ramzan", "fasting", "suhoor"},
      {"ইফতার", "ইফতারি", "রোজা", "রমজান", "সেহরি", "iftari", "roja", "roza", "romjan", "sehri"},
      {"\U0001F319", "\U0001F37D\uFE0F", "\U0001F54C", "\U0001F932", "\u2B50"});
  add("পূজা", "Puja", {"worship", "diwali", "navratri"},
      {"পূজা", "পুজো", "দুর্গাপূজা", "দুর্গা", "puja", "pooja", "pujo", "durga"},
      {"\U0001F64F", "\U0001FA94", "\U0001F33A", "\U0001F531", "\U0001F38A"});
  add("জন্মদিন", "Birthday", {"birthday", "birthdays", "bday", "hbd", "happy birthday"},
      {"জন্মদিন", "জন্মদিনের", "শুভ জন্মদিন", "jonmodin", "jonmodiner", "shubho jonmodin"},
      {"\U0001F382", "\U0001F389", "\U0001F388", "\U0001F381", "\U0001F973", "\U0001F56F\uFE0F"});
  add("বিয়ে", "Wedding", {"wedding", "marriage", "married", "marry", "bride", "groom"},
      {"বিয়ে", "বিবাহ", "বিয়ের", "কনে", "biye", "bie", "biyer", "bibaho"},
      {"\U0001F48D", "\U0001F470", "\U0001F935", "\U0001F492", "\U0001F490"});
  add("পার্টি", "Party", {"party", "parties", "celebrate", "celebration", "festival"},
      {"পার্টি", "উৎসব", "অনুষ্ঠান", "parti", "utsob", "utshob", "onushthan"},
      {"\U0001F389", "\U0001F973", "\U0001F38A", "\U0001FAA9", "\U0001F388"});
  add("অভিনন্দন", "Congrats", {"congrats", "congratulations", "congratz", "bravo", "well done"},
      {"অভিনন্দন", "শুভেচ্ছা", "ovinondon", "obhinondon", "shubhechha", "shuvechha"},
      {"\U0001F389", "\U0001F44F", "\U0001F973", "\U0001F3C5", "\U0001F38A"});
  add("খাবার", "Food",
      {"food", "eat", "eating", "hungry", "lunch", "dinner", "breakfast", "meal", "yummy"},
      {"খাবার", "খাওয়া", "খিদে", "khabar", "khawa", "khide", "khida"},
      {"\U0001F35B", "\U0001F37D\uFE0F", "\U0001F60B", "\U0001F372", "\U0001F958"});
  add("ভাত", "Rice", {"rice", "biryani", "pilaf"},
      {"ভাত", "বিরিয়ানি", "খিচুড়ি", "পোলাও", "bhat", "biriyani", "khichuri", "polao"},
      {"\U0001F35A", "\U0001F35B", "\U0001F958", "\U0001F372"});
  add("মিষ্টি", "Sweet", {"sweet", "sweets", "dessert", "cake", "candy", "chocolate"},
      {"মিষ্টি", "রসগোল্লা", "মিষ্টান্ন", "mishti", "misti", "roshogolla", "rosogolla"},
      {"\U0001F370", "\U0001F36C", "\U0001F36D", "\U0001F36B", "\U0001F9C1", "\U0001F369"});
  add("চা", "Tea", {"tea", "coffee"}, {"চা", "কফি", "cha"},
      {"\u2615", "\U0001FAD6", "\U0001F375", "\U0001F9CB"});
  add("পানি", "Water", {"water", "thirsty", "drink", "drinking"},
      {"পানি", "জল", "তৃষ্ণা", "pani", "jol", "trishna"},
      {"\U0001F4A7", "\U0001F6B0", "\U0001F964", "\U0001F9CA"});
  add("ফল", "Fruit", {"fruit", "fruits", "mango", "mangoes", "banana", "apple"},
      {"ফল", "ফলমূল", "আম", "কলা", "phol", "fol", "aam", "kola"},
      {"\U0001F96D", "\U0001F34C", "\U0001F34E", "\U0001F349", "\U0001F34D"});
  add("বিড়াল", "Cat", {"cat", "cats", "kitten", "kitty", "meow"},
      {"বিড়াল", "বেড়াল", "বিলাই", "biral", "beral", "bilai"},
      {"\U0001F431", "\U0001F408", "\U0001F63A", "\U0001F63B"});
  add("কুকুর", "Dog", {"dog", "dogs", "puppy", "doggy", "woof"}, {"কুকুর", "কুত্তা", "kukur", "kutta"},
      {"\U0001F436", "\U0001F415", "\U0001F9AE", "\U0001F429"});
  add("পাখি", "Bird", {"bird", "birds", "parrot", "crow"},
      {"পাখি", "পাখির", "টিয়া", "pakhi", "pakhir", "tiya"},
      {"\U0001F426", "\U0001F99C", "\U0001F54A\uFE0F", "\U0001F424"});
  add("মাছ", "Fish", {"fish", "fishes", "fishing", "hilsa"},
      {"মাছ", "মাছের", "ইলিশ", "mach", "maach", "ilish"},
      {"\U0001F41F", "\U0001F420", "\U0001F3A3", "\U0001F421"});
  add("বাঘ", "Tiger", {"tiger", "tigers", "royal bengal"}, {"বাঘ", "রয়েল বেঙ্গল", "bagh", "baagh"},
      {"\U0001F42F", "\U0001F405", "\U0001F981"});
  add("ফুল", "Flower", {"flower", "flowers", "rose", "roses", "bloom", "blossom"},
      {"ফুল", "গোলাপ", "শাপলা", "phul", "ful", "golap", "shapla"},
      {"\U0001F338", "\U0001F339", "\U0001F33A", "\U0001F33C", "\U0001F490", "\U0001F337"});
  add("গাছ", "Tree", {"tree", "trees", "plant", "plants", "nature"},
      {"গাছ", "গাছপালা", "জঙ্গল", "gach", "gaach", "jongol"},
      {"\U0001F333", "\U0001F332", "\U0001F334", "\U0001F331", "\U0001F343"});
  add("চাঁদ", "Moon", {"moon", "moonlight", "crescent"},
      {"চাঁদ", "জোছনা", "chand", "josna", "jochna"},
      {"\U0001F319", "\U0001F315", "\U0001F31D", "\U0001F31B"});
  add("তারা", "Star", {"star", "stars"}, {"তারকা"},
      {"\u2B50", "\U0001F31F", "\u2728", "\U0001F4AB", "\U0001F320"});
  add("সূর্য", "Sun", {"sunny", "sunshine", "sunrise", "sunset"},
      {"সূর্য", "রোদ", "রোদ্দুর", "surjo", "shurjo", "roddur"},
      {"\u2600\uFE0F", "\U0001F31E", "\U0001F305", "\U0001F304"});
  add("আগুন", "Fire", {"lit", "flames", "flame", "burning"}, {"আগুন", "আগুনে", "agun", "aagun"},
      {"\U0001F525", "\U0001F4A5", "\u2764\uFE0F\u200D\U0001F525", "\U0001F9EF"});
  add("বৃষ্টি", "Rain", {"rain", "rainy", "raining", "monsoon", "umbrella"},
      {"বৃষ্টি", "বর্ষা", "বৃষ্টির", "brishti", "bristi", "borsha", "barsha"},
      {"\U0001F327\uFE0F", "\u2614", "\U0001F326\uFE0F", "\u26C8\uFE0F", "\U0001F302"});
  add("ঝড়", "Storm", {"storm", "stormy", "cyclone", "thunder", "tornado", "wind", "windy"},
      {"ঝড়", "তুফান", "ঘূর্ণিঝড়", "jhor", "jhar", "tufan", "ghurnijhor"},
      {"\U0001F32A\uFE0F", "\u26C8\uFE0F", "\U0001F300", "\U0001F32C\uFE0F", "\u26A1"});
  add("ঠান্ডা", "Cold", {"cold", "chilly", "freezing", "winter", "snow"},
      {"ঠান্ডা", "ঠাণ্ডা", "শীত", "শীতকাল", "thanda", "thaanda", "sheetkal"},
      {"\U0001F976", "\u2744\uFE0F", "\u26C4", "\U0001F9E3"});
  add("গাড়ি", "Car", {"cars", "drive", "driving", "taxi", "uber"},
      {"গাড়ি", "গাড়ী", "ট্যাক্সি", "gari", "gaari", "gadi"},
      {"\U0001F697", "\U0001F695", "\U0001F699", "\U0001F3CE\uFE0F"});
  add("বাস", "Bus", {"bus", "buses", "commute"}, {"বাস", "বাসে", "বাসস্ট্যান্ড", "baas", "basstand"},
      {"\U0001F68C", "\U0001F68D", "\U0001F68F", "\U0001F68E"});
  add("ট্রেন", "Train", {"train", "trains", "railway", "metro", "rail"},
      {"ট্রেন", "রেল", "রেলগাড়ি", "মেট্রো", "tren", "rel", "relgari"},
      {"\U0001F682", "\U0001F686", "\U0001F687", "\U0001F689", "\U0001F684"});
  add("বিমান", "Plane", {"plane", "flight", "flying", "airplane", "airport", "fly"},
      {"বিমান", "প্লেন", "প্লেনে", "উড়োজাহাজ", "biman", "plen", "urojahaj"},
      {"\u2708\uFE0F", "\U0001F6EB", "\U0001F6EC", "\U0001F6E9\uFE0F"});
  add("নৌকা", "Boat", {"boat", "boats", "ship", "ferry", "launch"},
      {"নৌকা", "নৌকো", "জাহাজ", "লঞ্চ", "nouka", "nauka", "jahaj", "lonch"},
      {"\u26F5", "\U0001F6A4", "\U0001F6F6", "\U0001F6A2", "\u26F4\uFE0F"});
  add("বাড়ি", "Home", {"home", "house", "homesick"},
      {"বাড়ি", "বাসা", "ঘর", "bari", "baari", "basa", "ghor"},
      {"\U0001F3E0", "\U0001F3E1", "\U0001F3D8\uFE0F", "\U0001F6CB\uFE0F"});
  add("মসজিদ", "Mosque", {"mosque", "mosques", "jummah"},
      {"মসজিদ", "মসজিদে", "জুম্মা", "জুমা", "masjid", "mosjid", "moshjid", "jumma"},
      {"\U0001F54C", "\U0001F932", "\U0001F4FF", "\U0001F319"});
  add("কাজ", "Work", {"work", "working", "job", "office", "busy", "boss"},
      {"কাজ", "অফিস", "চাকরি", "kaj", "kaaj", "chakri", "chakori"},
      {"\U0001F4BC", "\U0001F3E2", "\U0001F4BB", "\U0001F454", "\U0001F4CA"});
  add("পড়াশোনা", "Study", {"study", "studying", "exam", "exams", "homework", "learn", "learning"},
      {"পড়াশোনা", "পরীক্ষা", "লেখাপড়া", "porashona", "porasona", "porikkha", "lekhapora"},
      {"\U0001F4DA", "\U0001F4D6", "\u270F\uFE0F", "\U0001F393", "\U0001F4DD"});
  add("টাকা", "Money", {"money", "rich", "salary", "payment"},
      {"টাকা", "টাকার", "পয়সা", "বেতন", "taka", "takar", "poysa", "poisha", "beton"},
      {"\U0001F4B0", "\U0001F4B5", "\U0001F4B8", "\U0001F911", "\U0001FA99"});
  add("ক্রিকেট", "Cricket", {"cricket", "wicket", "batting", "bowling", "century", "sixer"},
      {"ক্রিকেট", "ক্রিকেটের", "ছক্কা", "উইকেট", "kriket", "chokka", "chhokka"},
      {"\U0001F3CF", "\U0001F3C6", "\U0001F389", "\U0001F1E7\U0001F1E9"});
  add("ফুটবল", "Football", {"football", "soccer", "goal", "goals"},
      {"ফুটবল", "ফুটবলের", "গোল", "futbol", "phutbol", "gol"},
      {"\u26BD", "\U0001F945", "\U0001F3DF\uFE0F", "\U0001F3C6"});
  add("খেলা", "Games", {"game", "games", "gaming", "play", "playing", "gamer"},
      {"খেলা", "খেলি", "গেম", "খেলব", "khela", "kheli", "khelbo"},
      {"\U0001F3AE", "\U0001F579\uFE0F", "\U0001F47E", "\U0001F3B2", "\U0001F0CF"});
  add("গান", "Music", {"music", "song", "songs", "singing", "listen"},
      {"গান", "সঙ্গীত", "সংগীত", "গানের", "gaan", "gan", "songit", "shongit"},
      {"\U0001F3B5", "\U0001F3B6", "\U0001F3A7", "\U0001F3A4", "\U0001F3B8"});
  add("ছবি", "Photo", {"photo", "photos", "pic", "pics", "picture", "selfie", "camera"},
      {"ছবি", "ফটো", "সেলফি", "chobi", "chhobi", "foto", "selfi"},
      {"\U0001F4F8", "\U0001F4F7", "\U0001F933", "\U0001F5BC\uFE0F"});
  add("ফোন", "Phone", {"phone", "call", "calling", "mobile", "cellphone"},
      {"ফোন", "ফোনে", "মোবাইল", "কল", "phon", "fon", "mobail"},
      {"\U0001F4F1", "\U0001F4DE", "\u260E\uFE0F", "\U0001F4F2"});
  add("ডাক্তার", "Doctor", {"doctor", "sick", "ill", "fever", "hospital", "medicine", "flu"},
      {"ডাক্তার", "অসুখ", "জ্বর", "অসুস্থ", "হাসপাতাল", "ওষুধ", "daktar", "oshukh", "osukh", "jwor",
       "oshustho", "haspatal", "oshudh"},
      {"\U0001F912", "\U0001F915", "\U0001F3E5", "\U0001F48A", "\U0001FA7A", "\U0001F637"});
  add("বাংলাদেশ", "Bangladesh", {"bangladesh", "flag"}, {"বাংলাদেশ", "দেশ", "desh"},
      {"\U0001F1E7\U0001F1E9", "\u2764\uFE0F", "\U0001F49A", "\U0001F3CF"});
  add("জয়", "Victory", {"victory", "win", "winner", "won", "champion", "champions", "trophy"},
      {"জয়", "বিজয়", "জিতেছি", "জিতলাম", "bijoy", "jitechi", "jitlam"},
      {"\U0001F3C6", "\U0001F947", "\U0001F3C5", "\u270C\uFE0F", "\U0001F389"});
  add("মিস", "Miss you", {"miss", "missed", "missing"}, {"মিস"},
      {"\U0001F97A", "\U0001F494", "\U0001F622", "\u2764\uFE0F"});
  add("দুঃখিত", "Sorry", {"sorry", "apology", "apologies", "oops", "apologize"},
      {"দুঃখিত", "মাফ", "মাফ করো", "ক্ষমা", "dukkhito", "dukhito", "maf", "khoma", "maf koro"},
      {"\U0001F64F", "\U0001F614", "\U0001F97A", "\U0001F613"});
  add("প্লিজ", "Please", {"please", "pls", "plz"}, {"প্লিজ", "অনুগ্রহ"}, {"\U0001F64F", "\U0001F97A"});
  add("আলিঙ্গন", "Hug", {"hug", "hugs", "cuddle", "embrace"},
      {"আলিঙ্গন", "জড়িয়ে ধরা", "কোলাকুলি", "alingon", "kolakuli"},
      {"\U0001F917", "\U0001FAC2", "\u2764\uFE0F", "\U0001F970"});
  add("চুমু", "Kiss", {"kiss", "kisses", "kissing", "xoxo", "muah"},
      {"চুমু", "চুম্বন", "chumu", "chumbon"},
      {"\U0001F618", "\U0001F61A", "\U0001F619", "\U0001F48B", "\U0001F617"});
  add("চিন্তা", "Think", {"think", "thinking", "thought", "hmmm", "wonder", "wondering"},
      {"চিন্তা", "ভাবছি", "ভাবনা", "chinta", "cinta", "bhabchi", "vabchi"},
      {"\U0001F914", "\U0001F4AD", "\U0001F9D0", "\U0001F928"});
  add("দারুণ", "Awesome", {"awesome", "great", "excellent", "fantastic", "wonderful", "superb"},
      {"দারুণ", "দারুন", "অসাধারণ", "চমৎকার", "darun", "osadharon", "oshadharon", "chomotkar"},
      {"\U0001F525", "\U0001F929", "\U0001F60D", "\U0001F44F", "\U0001F4A5"});
  add("কুল", "Cool", {"cool", "chill", "swag", "stylish"},
      {"কুল", "ঝাক্কাস", "স্টাইল", "jhakkas", "jhakkash"},
      {"\U0001F60E", "\U0001F192", "\U0001F576\uFE0F", "\U0001F919"});
  add("শক্তি", "Strong", {"strong", "strength", "power", "powerful", "gym", "muscle"},
      {"শক্তি", "শক্তিশালী", "সাহস", "shokti", "sokti", "shoktishali"},
      {"\U0001F4AA", "\U0001F9BE", "\U0001F3CB\uFE0F", "\U0001F50B"});
  add("বন্ধু", "Friend", {"friend", "friends", "buddy", "bestie", "bff"},
      {"বন্ধু", "বন্ধুরা", "দোস্ত", "বান্ধবী", "bondhu", "bondu", "bondhura", "dost", "dosto"},
      {"\U0001F91D", "\U0001F46B", "\U0001FAC2", "\U0001F46C", "\U0001F46D"});
  add("পরিবার", "Family", {"family"}, {"পরিবার", "poribar"},
      {"\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466", "\U0001F3E1", "\u2764\uFE0F"});
  add("মা", "Mother", {"mother", "mum", "mommy", "mothers"},
      {"মা", "আম্মু", "আম্মা", "মায়ের", "ammu", "amma", "maa", "mayer"},
      {"\U0001F931", "\U0001F469\u200D\U0001F466", "\U0001F490", "\u2764\uFE0F"});
  add("বাবা", "Father", {"father", "dad", "daddy", "papa"},
      {"বাবা", "আব্বু", "আব্বা", "বাবার", "baba", "abbu", "abba", "babar"},
      {"\U0001F468\u200D\U0001F467", "\U0001F468\u200D\U0001F466", "\U0001F474", "\u2764\uFE0F"});
  add("বাচ্চা", "Baby", {"baby", "babies", "kid", "kids", "child", "children", "newborn"},
      {"বাচ্চা", "শিশু", "বাবু", "bacca", "baccha", "bachcha", "shishu", "babu"},
      {"\U0001F476", "\U0001F37C", "\U0001F9F8", "\U0001F47C"});
  add("উপহার", "Gift", {"gift", "gifts", "present", "surprise gift"}, {"উপহার", "গিফট", "upohar"},
      {"\U0001F381", "\U0001F380", "\U0001F49D"});
  add("সময়", "Time", {"time", "clock", "late", "hurry", "schedule"},
      {"সময়", "সময়মতো", "দেরি", "ঘড়ি", "somoy", "shomoy", "deri", "ghori"},
      {"\u23F0", "\u231A", "\U0001F550", "\u23F1\uFE0F"});
  add("অপেক্ষা", "Wait", {"wait", "waiting", "soon", "patience", "brb"},
      {"অপেক্ষা", "দাঁড়াও", "দাড়াও", "একটু দাঁড়াও", "opekkha", "apekkha", "darao"},
      {"\u23F3", "\u231B", "\U0001F570\uFE0F", "\U0001F64F"});
  add("গরম", "Heat", {"heat", "heatwave", "sweating", "sweaty", "summer"},
      {"গরম", "গরমে", "গ্রীষ্ম", "gorom", "garam", "gorome"},
      {"\U0001F975", "\U0001F321\uFE0F", "\u2600\uFE0F", "\U0001F613", "\U0001F525"});
  add("দৌড়", "Run", {"run", "running", "runner", "jogging", "race"},
      {"দৌড়", "দৌড়াও", "দৌড়াচ্ছি", "dour", "dowr", "douracchi"},
      {"\U0001F3C3", "\U0001F3C3\u200D\u2640\uFE0F", "\U0001F4A8", "\U0001F45F"});
  add("কেনাকাটা", "Shopping", {"shopping", "shop", "buy", "buying", "mall", "market"},
      {"কেনাকাটা", "শপিং", "বাজার", "মার্কেট", "kenakata", "shoping", "bazar", "bajar"},
      {"\U0001F6CD\uFE0F", "\U0001F6D2", "\U0001F4B3", "\U0001F3EC"});
  add("স্কুল", "School", {"school", "class", "teacher", "student", "college", "university"},
      {"স্কুল", "ক্লাস", "শিক্ষক", "ছাত্র", "কলেজ", "skul", "iskul", "shikkhok", "chhatro", "chatro"},
      {"\U0001F3EB", "\U0001F392", "\U0001F469\u200D\U0001F3EB", "\u270F\uFE0F"});
  add("কম্পিউটার", "Computer", {"computer", "laptop", "pc", "coding", "code", "programming"},
      {"কম্পিউটার", "ল্যাপটপ", "kompiutar", "lyaptop"},
      {"\U0001F4BB", "\U0001F5A5\uFE0F", "\u2328\uFE0F", "\U0001F5B1\uFE0F"});
  add("ইন্টারনেট", "Internet", {"internet", "wifi", "wi-fi", "online", "network"},
      {"ইন্টারনেট", "নেট", "ওয়াইফাই", "intarnet", "waifai"},
      {"\U0001F4F6", "\U0001F310", "\U0001F4E1", "\U0001F4BB"});
  add("নাচ", "Dance", {"dance", "dancing", "dancer", "dances"},
      {"নাচ", "নাচি", "নাচছি", "নাচবো", "nach", "naach", "nachchi", "nachi"},
      {"\U0001F483", "\U0001F57A", "\U0001FAA9", "\U0001F3B6"});
  add("রান্না", "Cooking", {"cooking", "cook", "chef", "recipe", "kitchen"},
      {"রান্না", "রাঁধছি", "রান্নাঘর", "ranna", "randhchi", "rannaghor"},
      {"\U0001F373", "\U0001F469\u200D\U0001F373", "\U0001F52A", "\U0001F958", "\U0001F372"});
  add("মুরগি", "Chicken", {"chicken", "hen", "rooster", "roast"},
      {"মুরগি", "মুরগী", "মুরগির", "murgi", "murogi", "murgir"},
      {"\U0001F357", "\U0001F414", "\U0001F413", "\U0001F423"});
  add("গরু", "Cow", {"cow", "cows", "bull", "cattle", "milk"},
      {"গরু", "গাভী", "দুধ", "goru", "garu", "dudh"},
      {"\U0001F404", "\U0001F402", "\U0001F42E", "\U0001F95B"});
  add("ছাগল", "Goat", {"goat", "goats", "lamb", "sheep"},
      {"ছাগল", "খাসি", "ভেড়া", "chagol", "chhagol", "khasi", "bhera"},
      {"\U0001F410", "\U0001F411", "\U0001F40F"});
  add("সাগর", "Sea", {"sea", "ocean", "beach", "waves", "seaside"},
      {"সাগর", "সমুদ্র", "সৈকত", "sagor", "shagor", "somudro", "shomudro"},
      {"\U0001F30A", "\U0001F3D6\uFE0F", "\U0001F41A", "\u26F1\uFE0F"});
  add("পাহাড়", "Mountain", {"mountain", "mountains", "hill", "hills", "hiking", "trekking"},
      {"পাহাড়", "পর্বত", "পাহাড়ি", "pahar", "pahad", "porbot"},
      {"\u26F0\uFE0F", "\U0001F3D4\uFE0F", "\U0001F5FB", "\U0001F97E"});
  add("নদী", "River", {"river", "rivers", "lake", "canal"},
      {"নদী", "নদীর", "নদি", "নদীতে", "nodi", "nodir", "nadi"},
      {"\U0001F3DE\uFE0F", "\U0001F30A", "\U0001F6A3", "\U0001F6F6"});
  add("আইডিয়া", "Idea", {"idea", "ideas", "plan", "tip", "solution", "eureka"},
      {"আইডিয়া", "বুদ্ধি", "উপায়", "প্ল্যান", "buddhi", "budhi", "upay"},
      {"\U0001F4A1", "\U0001F9E0", "\u2728", "\U0001F913"});
  add("প্রশ্ন", "Question", {"question", "questions", "ask", "asking", "confused", "doubt"},
      {"প্রশ্ন", "জিজ্ঞেস", "proshno", "prosno", "jiggesh", "jigges"},
      {"\u2753", "\u2754", "\U0001F937", "\U0001F615", "\U0001F914"});
  add("সুন্দর", "Beautiful", {"beautiful", "pretty", "cute", "gorgeous", "handsome", "stunning"},
      {"সুন্দর", "সুন্দরী", "অপূর্ব", "কিউট", "sundor", "shundor", "sundori", "opurbo"},
      {"\U0001F60D", "\U0001F970", "\U0001F929", "\U0001F496", "\u2728"});
  add("বিদায়", "Bye", {"goodbye", "byebye", "farewell", "cya", "later", "see you"},
      {"বিদায়", "বাই", "টাটা", "biday", "bidai", "tata"},
      {"\U0001F44B", "\U0001F618", "\U0001FAE1", "\u270C\uFE0F"});
  add("স্বাগতম", "Welcome", {"welcome", "welcomed"},
      {"স্বাগতম", "স্বাগত", "শুভাগমন", "swagotom", "shagotom", "sagotom"},
      {"\U0001F917", "\U0001F64F", "\U0001F38A", "\U0001F490"});
  add("ভালো", "Good", {"good", "fine", "gj", "good job"},
      {"ভালো", "ভাল", "ভালোই", "bhalo", "valo", "bhaloi"},
      {"\U0001F44D", "\U0001F44C", "\U0001F60A", "\u2728"});
  add("পাগল", "Crazy", {"crazy", "insane", "nuts", "silly", "wild"},
      {"পাগল", "পাগলামি", "পাগলা", "pagol", "pagla", "paglami"},
      {"\U0001F92A", "\U0001F61C", "\U0001F643", "\U0001F92F", "\U0001F974"});
  add("লজ্জা", "Shy", {"shy", "blush", "blushing", "embarrassed", "shame"},
      {"লজ্জা", "লজ্জা লাগছে", "শরম", "lojja", "lozza", "shorom"},
      {"\U0001F648", "\U0001F633", "\u263A\uFE0F", "\U0001FAE3"});
  add("শেষ", "Done", {"done", "finished", "complete", "completed", "ready", "finally"},
      {"শেষ", "হয়ে গেছে", "সম্পন্ন", "shesh", "ses", "hoye geche", "hoye gese"},
      {"\u2705", "\u2714\uFE0F", "\U0001F3C1", "\U0001F3AF"});
  add("পারফেক্ট", "Perfect", {"perfect", "exactly"}, {"পারফেক্ট"},
      {"\U0001F4AF", "\U0001F44C", "\u2728"});
  return table;
}

QHash<QString, int> makeIndex(QStringList (*keysOf)(const Concept&)) {
  QHash<QString, int> index;
  const std::vector<Concept>& table = concepts();
  for (int p = 0; p < static_cast<int>(table.size()); ++p) {
    for (const QString& key : keysOf(table[p])) {
      const QString normalized = normalizedKey(key);
      if (!index.contains(normalized)) index.insert(normalized, p);
    }
  }
  return index;
}

const QHash<QString, int>& banglaIndex() {
  static const QHash<QString, int> index =
      makeIndex([](const Concept& c) { return c.banglaKeys + c.words; });
  return index;
}

int graphemeCount(const QString& text) {
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  int count = 0;
  while (finder.toNextBoundary() > 0) ++count;
  return count;
}

bool isTrimmedSpace(QChar c) {
  return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

}  // namespace

const std::vector<Concept>& concepts() {
  static const std::vector<Concept> table = makeConcepts();
  return table;
}

QString normalizedKey(const QString& key) {
  const QString lower = key.toLower();
  qsizetype begin = 0;
  qsizetype end = lower.size();
  while (begin < end && isTrimmedSpace(lower[begin])) ++begin;
  while (end > begin && isTrimmedSpace(lower[end - 1])) --end;
  return lower.mid(begin, end - begin);
}

std::optional<QString> inlineSuggestion(const QString& raw, const QString& word) {
  if (graphemeCount(raw) < 3 && graphemeCount(word) < 2) return std::nullopt;
  const QHash<QString, int>& index = banglaIndex();
  auto found = index.constFind(normalizedKey(raw));
  if (found == index.constEnd()) found = index.constFind(normalizedKey(word));
  if (found == index.constEnd()) return std::nullopt;
  return concepts()[found.value()].emojis.front();
}

const QHash<QString, int>& testIndex() { return banglaIndex(); }

}  // namespace tolvani::EmojiSearch
