// Shuffled-table random numbers over the runtime generator, and the framed reports.
#include "patchloom/kmeans/kmeans_random.h"

#include <cstdlib>
#include <iostream>

#include "platform/crt_random.h"

namespace {

constexpr int kTableSize = 97;

struct RandomSource {
  int seed = 0;
  bool seeded = false;
  double table[kTableSize + 1] = {};  // entries 1..97 are used
  double last = 0.0;
  double maximum = 0.0;
};

RandomSource g_source;

}  // namespace

double KMeansRandomUniform() {
  RandomSource& s = g_source;
  if (s.seed < 0 || !s.seeded) {
    s.maximum = static_cast<double>(platform::kRandMax);
    s.seeded = true;
    platform::srand(static_cast<unsigned>(s.seed));
    s.seed = 1;
    for (int i = 0; i < kTableSize; ++i) platform::rand();
    for (int j = 1; j <= kTableSize; ++j) s.table[j] = platform::rand();
    s.last = platform::rand();
  }
  int j = 1 + static_cast<int>(kTableSize * s.last / s.maximum);
  if (j > kTableSize) j = kTableSize;  // a last draw of exactly the maximum
  if (j < 1) j = 1;
  s.last = s.table[j];
  s.table[j] = platform::rand();
  return s.last / s.maximum;
}

double KMeansRandomUniform(double a, double b) { return a + KMeansRandomUniform() * (b - a); }

int KMeansRandomIndex(int n) {
  const int i = static_cast<int>(KMeansRandomUniform() * n);
  return i == n ? n - 1 : i;
}

void KMeansRandomRestart() {
  g_source.seed = 0;
  g_source.seeded = false;
}

void KMeansReportError(const std::string& message, bool fatal) {
  const char* head = fatal ? "kmeans: ERROR------->" : "kmeans: WARNING----->";
  const char* tail = fatal ? "<-------------ERROR" : "<-------------WARNING";
  std::cerr << head << message << tail << std::endl;
  std::cout << head << message << tail << std::endl;
  if (fatal) std::exit(1);
}
