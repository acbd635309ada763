// Peak memory of one load, in a process of its own: the program runs itself
// again with KRO_BENCH_PEAK=LOADER:PATH in its environment; before main, that
// process loads PATH once with the loader of that name, prints its peak
// resident size (VmHWM, kB) and exits. The figure is that peak less the peak
// of a child that loads nothing, so it holds the loader's own memory (the file
// as read, what is made, the loader's code pages) and not the program's.
#ifndef KRO_BENCH_PEAK_H
#define KRO_BENCH_PEAK_H

#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

// The process's peak resident size in kB, or -1.
inline long benchOwnPeakKB() {
  FILE *status = fopen("/proc/self/status", "r");
  char line[256];
  long peak = -1;
  while (status && fgets(line, sizeof line, status))
    if (!strncmp(line, "VmHWM:", 6))
      peak = atol(line + 6);
  if (status)
    fclose(status);
  return peak;
}

// Runs the loader named in KRO_BENCH_PEAK (load returns false for an unknown
// name or a failed load), prints the peak and ends the process; nothing when
// the variable is unset.
struct BenchPeakChild {
  explicit BenchPeakChild(bool (*load)(const std::string &loader, const std::string &path)) {
    const char *job = getenv("KRO_BENCH_PEAK");
    if (!job)
      return;
    std::string text = job;
    size_t colon = text.find(':');
    if (colon == std::string::npos)
      _exit(2);
    std::string loader = text.substr(0, colon);
    if (loader != "none" && !load(loader, text.substr(colon + 1)))
      _exit(1);
    printf("%ld\n", benchOwnPeakKB());
    fflush(stdout);
    _exit(0);
  }
};

// The child's peak resident size in kB, or -1 when it could not run or its load failed.
inline long benchChildPeakKB(const std::string &loader, const std::string &path) {
  char program[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
  if (length <= 0 || path.find('\'') != std::string::npos)
    return -1;
  program[length] = 0;
  std::string command =
      "KRO_BENCH_PEAK='" + loader + ":" + path + "' '" + program + "' </dev/null 2>/dev/null";
  FILE *child = popen(command.c_str(), "r");
  long peak = -1;
  if (!child || fscanf(child, "%ld", &peak) != 1)
    peak = -1;
  if (child && pclose(child) != 0)
    peak = -1;
  return peak;
}

// The loader's peak memory above an idle child's, in MB (NAN when a child failed).
inline double benchPeakMB(const std::string &loader, const std::string &path) {
  static long idle = benchChildPeakKB("none", "");
  long peak = benchChildPeakKB(loader, path);
  return idle < 0 || peak < 0 ? (double)NAN : (double)(peak - idle) / 1024.0;
}

#endif
