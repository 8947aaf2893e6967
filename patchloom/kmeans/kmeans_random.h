// The k-means library's random source and its framed error and warning reports.
#pragma once

#include <string>

// Next value of the library's source, in 0..1 (both ends possible). A 97-entry shuffled
// table over the runtime generator (platform::rand), seeded with 0 at the first draw of
// the process, so every run of the program draws the same numbers.
double KMeansRandomUniform();

// Uniform value in the interval (a, b): a + KMeansRandomUniform() * (b - a).
double KMeansRandomUniform(double a, double b);

// Index in 0..n-1 drawn from KMeansRandomUniform(); a draw of exactly 1 gives n - 1.
int KMeansRandomIndex(int n);

// Starts the source over: the next draw seeds the runtime generator with 0 and refills the
// table exactly as the first draw of the process does. Lets a caller make one clustering
// repeat regardless of what was drawn before it.
void KMeansRandomRestart();

// Writes "kmeans: ERROR------->" message "<-------------ERROR" (a warning: "kmeans:
// WARNING----->" ... "<-------------WARNING") and a line end, first to standard error, then
// to standard output. A fatal report ends the process with status 1; a warning returns.
void KMeansReportError(const std::string& message, bool fatal);
