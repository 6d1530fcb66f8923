// Arbitrary bytes as a child's standard output: reading never fails hard, whatever it yields is
// written back as a line that reads as the same snapshot, and a state line added at the end wins.
#include <cstdint>
#include <cstdlib>

#include "setup/InputSourceSnapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using tolvani::InputSourceSnapshot;
  const QString output =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const std::optional<InputSourceSnapshot> read = InputSourceSnapshot::fromOutput(output);
  if (read && InputSourceSnapshot::fromOutput(read->line()) != read) std::abort();
  const InputSourceSnapshot last{tolvani::InputSourceRegistration::State::notEnabled, true};
  if (InputSourceSnapshot::fromOutput(output + QLatin1Char('\n') + last.line()) != last)
    std::abort();
  return 0;
}
