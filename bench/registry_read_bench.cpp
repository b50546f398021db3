// Reading a value from an unchanged registry file against a bare stat() of the
// same file: the cache should make the first cost little more than the second.
#include "outside/registry_file.h"
#include "outside/vlTRREG.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kKeys = 20;
constexpr int kValuesPerKey = 100; // 2,000 values in all
constexpr int kCalls = 100000;

// A registry of 2,000 numbers in a fresh directory, named by $VLTR_REGISTRY.
class BenchRegistry {
public:
  BenchRegistry() {
    char pattern[] = "/tmp/vltr-reg-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
      std::abort();
    directory_ = pattern;
    path_ = directory_ + "/registry.reg";
    setenv("VLTR_REGISTRY", path_.c_str(), 1);
    std::string text = "Windows Registry Editor Version 5.00\n\n";
    for (int k = 0; k < kKeys; ++k) {
      text += "[HKEY_LOCAL_MACHINE\\Software\\Bench\\Key" + std::to_string(k) + "]\n";
      for (int v = 0; v < kValuesPerKey; ++v) {
        char line[64];
        std::snprintf(line, sizeof line, "\"Value%d\"=dword:%08x\n", v, 10000 + v);
        text += line;
      }
      text += "\n";
    }
    std::string error;
    if (vlREG_ImportText(text, &error) != VLREG_OK) {
      std::fprintf(stderr, "import failed: %s\n", error.c_str());
      std::abort();
    }
  }
  ~BenchRegistry() { std::filesystem::remove_all(directory_); }
  const std::string &path() const { return path_; }

private:
  std::string directory_;
  std::string path_;
};

BenchRegistry &registry() {
  static BenchRegistry instance;
  return instance;
}

void BM_ReadNumber(benchmark::State &state) {
  registry();
  std::uint32_t number = 0;
  for (auto _ : state) {
    int code = vlREG_ReadNumber("Software\\Bench\\Key10", "Value50", &number);
    benchmark::DoNotOptimize(code);
    benchmark::DoNotOptimize(number);
  }
  if (number != 10050)
    state.SkipWithError("wrong value read");
}
BENCHMARK(BM_ReadNumber)->Iterations(kCalls);

void BM_Stat(benchmark::State &state) {
  const std::string &path = registry().path();
  struct stat info {};
  for (auto _ : state) {
    int result = stat(path.c_str(), &info);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(info);
  }
}
BENCHMARK(BM_Stat)->Iterations(kCalls);

// What every read would cost without the cache: parsing the whole file.
void BM_ParseFile(benchmark::State &state) {
  std::ifstream in(registry().path(), std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (auto _ : state) {
    vltr::reg::ParseResult parsed = vltr::reg::parseRegText(content);
    vltr::reg::Key tree;
    vltr::reg::applySections(tree, parsed.sections);
    benchmark::DoNotOptimize(tree);
  }
}
BENCHMARK(BM_ParseFile)->Iterations(200);

} // namespace

BENCHMARK_MAIN();
