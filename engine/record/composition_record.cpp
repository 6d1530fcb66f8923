#include "composition_record.h"

#include "tolvani_record_format.h"

namespace tolvani {

namespace {

// Reads the record front to back; any read past the end poisons it.
class Reader {
 public:
  Reader(const uint8_t* data, size_t len) : data_(data), len_(len) {}

  bool ok() const { return ok_; }
  bool at_end() const { return pos_ == len_; }

  uint32_t u32() {
    if (!ok_ || len_ - pos_ < 4) return fail();
    const uint32_t v = uint32_t{data_[pos_]} | uint32_t{data_[pos_ + 1]} << 8 |
                       uint32_t{data_[pos_ + 2]} << 16 | uint32_t{data_[pos_ + 3]} << 24;
    pos_ += 4;
    return v;
  }

  uint8_t u8() {
    if (!ok_ || len_ - pos_ < 1) return fail();
    return data_[pos_++];
  }

  std::string string() {
    const uint32_t n = u32();
    if (!ok_ || len_ - pos_ < n) return fail(), std::string();
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }

  // A count can claim at most as many items as the remaining bytes could hold.
  uint32_t count(size_t min_item_size) {
    const uint32_t n = u32();
    if (ok_ && n > (len_ - pos_) / min_item_size) return fail();
    return n;
  }

 private:
  uint32_t fail() {
    ok_ = false;
    return 0;
  }

  const uint8_t* data_;
  size_t len_;
  size_t pos_ = 0;
  bool ok_ = true;
};

constexpr size_t kMinCandidateSize = TOLVANI_RECORD_WORD_SIZE * 2 + TOLVANI_RECORD_KIND_SIZE;

}  // namespace

std::optional<EngineState> decode_engine_state(const uint8_t* data, size_t len) {
  if (data == nullptr && len != 0) return std::nullopt;
  Reader r(data, len);
  EngineState s;
  s.status_flags = r.u32();
  s.replace_before = r.u32();
  const uint32_t n = r.count(kMinCandidateSize);
  s.preedit = r.string();
  s.raw_text = r.string();
  s.commit_text = r.string();
  for (uint32_t i = 0; i < n && r.ok(); ++i) {
    EngineCandidate c;
    c.text = r.string();
    c.score = static_cast<int32_t>(r.u32());
    const uint8_t kind = r.u8();
    c.kind = kind < TOLVANI_KIND_COUNT ? kind : uint8_t{TOLVANI_KIND_EXACT};
    s.candidates.push_back(std::move(c));
  }
  s.ghost_text = r.string();
  const uint32_t m = r.count(TOLVANI_RECORD_WORD_SIZE);
  for (uint32_t i = 0; i < m && r.ok(); ++i) s.predictions.push_back(r.string());
  s.spelling_offer = r.string();
  s.spelling_offer_for = r.string();
  if (!r.ok() || !r.at_end()) return std::nullopt;
  return s;
}

std::string_view candidate_kind_label(uint8_t kind) {
  static constexpr std::string_view kLabels[TOLVANI_KIND_COUNT] = {
      "exact", "user", "prefix", "phonetic", "autocorrect", "prediction", "standard"};
  return kLabels[kind < TOLVANI_KIND_COUNT ? kind : uint8_t{TOLVANI_KIND_EXACT}];
}

}  // namespace tolvani
