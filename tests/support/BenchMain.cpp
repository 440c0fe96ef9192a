// The main of the benchmark program: the same pinned fonts and private folders as the tests.
#include "TestEnvironment.h"

#include <benchmark/benchmark.h>

int main(int argc, char** argv) {
  kivtest::TTestEnvironment environment;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
