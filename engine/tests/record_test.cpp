#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "composition_record.h"
#include "types.h"

namespace tolvani::engine {
namespace {

TEST(RecordTest, EmptyStatePacksToFortyZeroBytes) {
  const std::vector<uint8_t> bytes = CompositionState{}.pack();
  EXPECT_EQ(bytes, std::vector<uint8_t>(40, 0));
}

TEST(RecordTest, WorkedExamplePacksByteForByte) {
  CompositionState s;
  s.status_flags = 1;
  s.preedit = "\u0986";  // আ
  s.raw_text = "a";
  s.candidates.push_back({"\u0986", 9500, CandidateKind::kPhonetic});
  const std::vector<uint8_t> expected = {
      0x01, 0x00, 0x00, 0x00,                                      // status
      0x00, 0x00, 0x00, 0x00,                                      // replace-before
      0x01, 0x00, 0x00, 0x00,                                      // one candidate
      0x03, 0x00, 0x00, 0x00, 0xE0, 0xA6, 0x86,                    // preedit
      0x01, 0x00, 0x00, 0x00, 0x61,                                // raw text
      0x00, 0x00, 0x00, 0x00,                                      // commit text
      0x03, 0x00, 0x00, 0x00, 0xE0, 0xA6, 0x86, 0x1C, 0x25, 0x00,  // candidate text, score
      0x00, 0x03,                                                  // score, kind
      0x00, 0x00, 0x00, 0x00,                                      // ghost text
      0x00, 0x00, 0x00, 0x00,                                      // predictions
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // offer, offer-for
  };
  EXPECT_EQ(s.pack(), expected);
  EXPECT_EQ(expected.size(), 56u);
}

TEST(RecordTest, NegativeScoreIsTwosComplement) {
  CompositionState s;
  s.candidates.push_back({"x", -2, CandidateKind::kStandard});
  s.candidates.push_back({"y", INT32_MIN, CandidateKind::kExact});
  const std::vector<uint8_t> bytes = s.pack();
  // 12 leading bytes, three empty strings, then "x": length, byte, score, kind.
  const std::vector<uint8_t> first(bytes.begin() + 29, bytes.begin() + 34);
  EXPECT_EQ(first, (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF, 0x06}));
  const auto decoded = decode_engine_state(bytes.data(), bytes.size());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->candidates[0].score, -2);
  EXPECT_EQ(decoded->candidates[1].score, INT32_MIN);
}

CompositionState full_state() {
  CompositionState s;
  s.preedit = "\u0986\u09AE\u09BF";
  s.raw_text = "ami";
  s.commit_text = "\u0986\u09AE\u09BF ";
  s.candidates = {{"\u0986\u09AE\u09BF", 9500, CandidateKind::kExact},
                  {"\u0986\u09AE", -7, CandidateKind::kUser},
                  {"", 0, CandidateKind::kStandard}};
  s.ghost_text = "\u09A4\u09C1\u09AE\u09BF";
  s.predictions = {"\u09A4\u09C1\u09AE\u09BF", "a", ""};
  s.spelling_offer = "\u09AC\u09C7\u09B6\u09BF";
  s.spelling_offer_for = "\u09AC\u09C7\u09B6\u09C0";
  s.replace_before = 0;
  s.status_flags = 2 | 16;
  return s;
}

TEST(RecordTest, DecoderReadsBackEveryField) {
  const CompositionState s = full_state();
  const std::vector<uint8_t> bytes = s.pack();
  const auto d = decode_engine_state(bytes.data(), bytes.size());
  ASSERT_TRUE(d);
  EXPECT_EQ(d->status_flags, s.status_flags);
  EXPECT_EQ(d->preedit, s.preedit);
  EXPECT_EQ(d->raw_text, s.raw_text);
  EXPECT_EQ(d->commit_text, s.commit_text);
  ASSERT_EQ(d->candidates.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(d->candidates[i].text, s.candidates[i].text) << i;
    EXPECT_EQ(d->candidates[i].score, s.candidates[i].score) << i;
    EXPECT_EQ(d->candidates[i].kind, static_cast<uint8_t>(s.candidates[i].kind)) << i;
  }
  EXPECT_EQ(d->ghost_text, s.ghost_text);
  EXPECT_EQ(d->predictions, s.predictions);
  EXPECT_EQ(d->spelling_offer, s.spelling_offer);
  EXPECT_EQ(d->spelling_offer_for, s.spelling_offer_for);
}

TEST(RecordTest, DecoderRejectsEveryShortBufferAndLeftoverBytes) {
  const std::vector<uint8_t> bytes = full_state().pack();
  for (size_t len = 0; len < bytes.size(); ++len) {
    // An exact-size heap copy, so that AddressSanitizer sees any read past its end.
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(len));
    EXPECT_FALSE(decode_engine_state(cut.data(), cut.size())) << "length " << len;
  }
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(decode_engine_state(longer.data(), longer.size()));
}

TEST(RecordTest, DecoderSurvivesHugeCountsAndLengths) {
  std::vector<uint8_t> bytes(40, 0);
  bytes[8] = bytes[9] = bytes[10] = bytes[11] = 0xFF;  // 4 billion candidates
  EXPECT_FALSE(decode_engine_state(bytes.data(), bytes.size()));
  std::vector<uint8_t> long_preedit(40, 0);
  long_preedit[12] = long_preedit[13] = long_preedit[14] = long_preedit[15] = 0xFF;
  EXPECT_FALSE(decode_engine_state(long_preedit.data(), long_preedit.size()));
}

TEST(RecordTest, KindCodesOfSevenOrMoreReadAsExact) {
  CompositionState s;
  s.candidates.push_back({"x", 1, static_cast<CandidateKind>(9)});
  const std::vector<uint8_t> bytes = s.pack();
  const auto d = decode_engine_state(bytes.data(), bytes.size());
  ASSERT_TRUE(d);
  EXPECT_EQ(d->candidates[0].kind, 0);
  EXPECT_EQ(candidate_kind_label(d->candidates[0].kind), "exact");
  EXPECT_EQ(candidate_kind_label(3), "phonetic");
  EXPECT_EQ(candidate_kind_label(6), "standard");
  EXPECT_EQ(candidate_kind_label(200), "exact");
}

}  // namespace
}  // namespace tolvani::engine
