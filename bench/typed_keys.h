// The everyday sentences the IBus benches type, as the keys a person presses.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>

namespace tolvani::bench {

// The first `count` keys of the sentences, repeated as often as needed.
inline std::string typedKeys(std::size_t count) {
  static const char* const kText[] = {
      "ami tomake bhalobashi ",       "amar nam rahim ",
      "ajke abohawa khub bhalo ",     "tumi kemon acho ",
      "ami bhat khete bhalobashi ",   "amra bangla bhashay kotha boli ",
      "se protidin school e jay ",    "bristi porche tai ami bari theke berhoini ",
      "amar ekta boi dorkar ",        "kal amader porikkha ache ",
      "ei shohorer rasta onek boro ", "tader bari nodir dhare ",
  };
  std::string out;
  for (std::size_t i = 0; out.size() < count; ++i) out += kText[i % std::size(kText)];
  out.resize(count);
  return out;
}

}  // namespace tolvani::bench
