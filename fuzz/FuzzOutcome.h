#pragma once
// What a fuzz target recorded of its last input: the framework error it caught, how far a decoder
// went through its data and its output area, what a reader made of a file. The libFuzzer runs
// ignore it; the replay program prints it with --describe, to name the corpus files after what
// they reach (make-names.py).
#include <cstddef>
#include <string>

namespace muralo::fuzz {

struct TFuzzOutcome {
  std::string Error;     // the message of the framework error caught, if any
  std::string Result;    // what a loaded picture came out as
  bool Decoded = false;  // a decoder ran: the counts below are set
  size_t Input = 0, Consumed = 0, Room = 0, Produced = 0;

  std::string Text() const {
    std::string text;
    if (Decoded)
      text = "input=" + std::to_string(Input) + " consumed=" + std::to_string(Consumed) +
             " room=" + std::to_string(Room) + " produced=" + std::to_string(Produced);
    if (!Result.empty()) text += (text.empty() ? "" : " ") + Result;
    if (!Error.empty()) text += (text.empty() ? "error=" : " error=") + Error;
    return text;
  }
};

inline TFuzzOutcome& Outcome() {
  static TFuzzOutcome outcome;
  return outcome;
}

}  // namespace muralo::fuzz
