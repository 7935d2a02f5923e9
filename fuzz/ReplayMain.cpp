// The driver of a fuzz target outside the fuzz build: every file named on the command line, and every
// file below each folder named there, is handed once to the target's LLVMFuzzerTestOneInput, in name
// order, from a heap block of exactly its size. A crash, a sanitizer report, an uncaught exception or
// an input that runs past the time limit ends the run with the file's name on stderr and a non-zero
// status; so does a folder or file that is missing or holds nothing. With --describe, each file's
// line on stdout also gives what the target recorded of it (see FuzzOutcome.h).
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzOutcome.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

#if defined(__SANITIZE_ADDRESS__)
#define MURALO_REPLAY_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MURALO_REPLAY_ASAN 1
#endif
#endif
#ifdef MURALO_REPLAY_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

namespace fs = std::filesystem;

// Seconds an input may take, under the sanitizers in a debug build too.
constexpr unsigned TimeLimit = 30;

// The file being replayed, kept where a signal handler may write it out.
char Current[4096] = "";

void Say(const char* text) {
  const ssize_t written = write(STDERR_FILENO, text, strlen(text));
  (void)written;
}

void SayFailed() {
  static bool said = false;  // the sanitizer's report may end in an abort, which comes here again
  if (said) return;
  said = true;
  Say("fuzz replay: failed ");
  Say(Current[0] ? "on " : "after the last file (at exit)");
  Say(Current);
  Say("\n");
}

void OnSignal(int signal) {
  SayFailed();
  if (signal == SIGALRM) {
    Say("fuzz replay: the input ran past the time limit\n");
    _exit(1);
  }
  ::signal(signal, SIG_DFL);
  raise(signal);
}

bool Collect(const fs::path& path, std::vector<fs::path>& files) {
  std::error_code error;
  if (fs::is_regular_file(path, error)) {
    files.push_back(path);
    return true;
  }
  if (!fs::is_directory(path, error)) return false;
  const size_t before = files.size();
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(path, error))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin() + static_cast<std::ptrdiff_t>(before), files.end());
  return !error && files.size() > before;
}

}  // namespace

int main(int argc, char** argv) {
  bool describe = false;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--describe") == 0) {
      describe = true;
    } else if (!Collect(argv[i], files)) {
      std::fprintf(stderr, "fuzz replay: %s is missing or holds no file\n", argv[i]);
      return 2;
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: %s [--describe] file-or-folder...\n", argv[0]);
    return 2;
  }
  for (int s : {SIGABRT, SIGILL, SIGALRM}) signal(s, OnSignal);
#ifdef MURALO_REPLAY_ASAN
  // The address sanitizer keeps the faults for its own report, then calls this.
  __sanitizer_set_death_callback(SayFailed);
#else
  for (int s : {SIGSEGV, SIGBUS, SIGFPE}) signal(s, OnSignal);
#endif
  for (const fs::path& file : files) {
    std::snprintf(Current, sizeof Current, "%s", file.c_str());
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.eof() && in.fail()) {
      std::fprintf(stderr, "fuzz replay: cannot read %s\n", Current);
      return 2;
    }
    // An exact-size block, so that the address sanitizer sees a read one byte past the input.
    const std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), data.get());
    muralo::fuzz::Outcome() = {};
    alarm(TimeLimit);
    try {
      LLVMFuzzerTestOneInput(data.get(), bytes.size());
    } catch (...) {
      SayFailed();
      Say("fuzz replay: the target let an exception out\n");
      return 1;
    }
    alarm(0);
    if (describe) std::printf("%s\t%s\n", Current, muralo::fuzz::Outcome().Text().c_str());
  }
  Current[0] = '\0';
  std::fprintf(stderr, "fuzz replay: %zu files\n", files.size());
  return 0;
}
