#pragma once
// What every fuzz target shares: a check that stops the run with the
// condition that failed (libFuzzer then saves the input that did it), and a
// scratch folder in memory for the targets that go through real files.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#define FUZZ_CHECK(cond)                                                                         \
    do {                                                                                         \
        if (!(cond)) {                                                                           \
            std::fprintf(stderr, "FUZZ_CHECK failed: %s at %s:%d\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)

namespace korvane::fuzz {

// A private folder for the run's files, in /dev/shm when there is one: a
// save syncs its file, which on a disk would make each run crawl. It goes
// when the run ends normally; a crashing run leaves it for a look.
class Scratch {
  public:
    static const std::string& Dir() {
        static const Scratch scratch;
        return scratch.dir_;
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

  private:
    Scratch() {
        for (const char* base : {"/dev/shm", "/tmp"}) {
            std::string pattern = std::string(base) + "/korvane-fuzz-XXXXXX";
            if (::mkdtemp(pattern.data()) != nullptr) {
                dir_ = pattern;
                return;
            }
        }
        std::fprintf(stderr, "no scratch folder\n");
        std::abort();
    }
    std::string dir_;
};

}  // namespace korvane::fuzz
