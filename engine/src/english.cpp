#include "english.h"

#include <algorithm>
#include <array>

#include "utf8.h"

namespace tolvani::engine {

namespace {

constexpr std::string_view kWords[] = {
    "about",      "absent",      "after",      "again",       "agenda",       "alarm",
    "album",      "all",         "allowance",  "also",        "always",       "am",
    "and",        "answer",      "any",        "application", "appointment",  "approve",
    "april",      "are",         "area",       "around",      "as",           "ask",
    "assignment", "at",          "attach",     "attachment",  "audit",        "aunt",
    "away",       "baby",        "back",       "backup",      "be",           "because",
    "been",       "before",      "being",      "best",        "better",       "block",
    "blog",       "bluetooth",   "bonus",      "brand",       "break",        "briefing",
    "browser",    "building",    "but",        "by",          "cabin",        "cache",
    "cafe",       "cake",        "calculator", "calendar",    "call",         "campus",
    "can",        "candidate",   "canteen",    "career",      "ceiling",      "chairman",
    "chamber",    "charger",     "cheap",      "check",       "cheque",       "chicken",
    "classroom",  "client",      "cloud",      "come",        "commission",   "committee",
    "complain",   "complaint",   "conference", "connection",  "content",      "contract",
    "corporate",  "counter",     "country",    "cover",       "credit",       "cyber",
    "database",   "day",         "deadline",   "december",    "deposit",      "desktop",
    "detail",     "device",      "did",        "discussion",  "district",     "do",
    "does",       "doing",       "dollar",     "domain",      "done",         "dont",
    "down",       "draft",       "else",       "english",     "error",        "even",
    "ever",       "excel",       "exchange",   "expense",     "export",       "february",
    "feedback",   "festival",    "finance",    "flat",        "follow",       "font",
    "for",        "format",      "forum",      "franchise",   "friday",       "fridge",
    "from",       "fund",        "gadget",     "garage",      "get",          "give",
    "go",         "going",       "good",       "got",         "grade",        "great",
    "guest",      "had",         "hardware",   "has",         "have",         "he",
    "headline",   "her",         "here",       "him",         "his",          "homework",
    "hostel",     "hour",        "how",        "icon",        "if",           "import",
    "in",         "inbox",       "info",       "into",        "invoice",      "is",
    "island",     "it",          "its",        "january",     "journal",      "july",
    "just",       "keep",        "know",       "label",       "landlord",     "later",
    "launch",     "leave",       "let",        "like",        "lobby",        "look",
    "make",       "mask",        "maybe",      "me",          "medical",      "microphone",
    "monday",     "monitor",     "more",       "mouse",       "my",           "need",
    "new",        "next",        "no",         "not",         "november",     "now",
    "october",    "of",          "off",        "officer",     "ok",           "okay",
    "on",         "one",         "only",       "or",          "our",          "out",
    "over",       "parcel",      "patient",    "pension",     "picnic",       "pizza",
    "platform",   "plaza",       "please",     "policy",      "poster",       "practice",
    "present",    "press",       "principal",  "printer",     "prize",        "purchase",
    "quarter",    "question",    "queue",      "quiz",        "quota",        "rail",
    "rank",       "receipt",     "refund",     "register",    "release",      "request",
    "reset",      "resume",      "right",      "roll",        "sale",         "same",
    "sample",     "saturday",    "say",        "screenshot",  "secretary",    "sector",
    "see",        "selfie",      "semester",   "send",        "september",    "session",
    "she",        "should",      "signature",  "snack",       "so",           "socket",
    "some",       "soon",        "still",      "submit",      "subscription", "summary",
    "sunday",     "supermarket", "supervisor", "sure",        "syllabus",     "tab",
    "take",       "taxi",        "tea",        "tech",        "tell",         "template",
    "tender",     "than",        "that",       "the",         "their",        "them",
    "then",       "there",       "they",       "thing",       "think",        "this",
    "thursday",   "time",        "tips",       "title",       "today",        "tomorrow",
    "too",        "tool",        "topic",      "total",       "tour",         "tournament",
    "tower",      "town",        "try",        "tuesday",     "tutorial",     "uncle",
    "up",         "us",          "use",        "vacation",    "vendor",       "venue",
    "very",       "village",     "volume",     "voucher",     "wait",         "want",
    "warranty",   "was",         "way",        "we",          "wednesday",    "week",
    "weekend",    "well",        "were",       "what",        "when",         "where",
    "which",      "who",         "why",        "will",        "with",         "word",
    "work",       "workshop",    "would",      "yes",         "you",          "your",
};

// Binary search depends on this order; catch a mis-sorted edit at compile time.
static_assert(std::ranges::adjacent_find(kWords, std::ranges::greater_equal{}) ==
              std::ranges::end(kWords));

constexpr size_t kLongestWord = std::ranges::max(kWords, {}, &std::string_view::size).size();

}  // namespace

bool is_abbreviation(std::string_view text) {
  return text.size() >= 2 && std::ranges::all_of(text, [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool is_common_english_word(std::string_view text) {
  const std::string_view trimmed = utf8::trim_white_space(text);
  // Lowering ASCII keeps the byte length, so anything longer than every row cannot match; this
  // also lets the lowered copy live on the stack.
  if (trimmed.empty() || trimmed.size() > kLongestWord) return false;
  std::array<char, kLongestWord> buffer{};
  std::ranges::transform(trimmed, buffer.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return std::ranges::binary_search(kWords, std::string_view(buffer.data(), trimmed.size()));
}

std::span<const std::string_view> common_english_words() { return kWords; }

}  // namespace tolvani::engine
