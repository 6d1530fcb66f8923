// Reads a fuzzer's bytes as a stream of small values; past the end every read gives 0.
#ifndef TOLVANI_ENGINE_FUZZ_FUZZ_INPUT_H_
#define TOLVANI_ENGINE_FUZZ_FUZZ_INPUT_H_

#include <cstddef>
#include <cstdint>

namespace tolvani::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | byte();
    return v;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace tolvani::fuzz

#endif  // TOLVANI_ENGINE_FUZZ_FUZZ_INPUT_H_
