// Times one search run of the main window (offscreen, shown, the real pump throttle) and
// reports what the window cost beyond the engine: the run's time (and the processor time it
// took, steadier than the wall on a busy machine), the longest stretch without an event pump,
// the longest pump, the peak memory and the size of the result lines.
//
// usage: window_bench [-r] [-w] [-c] [-t MS] [-p] [-s FILE] DIRECTORY MASK TEXT
//   -t MS    turns "Match Case" over MS milliseconds into the run, as a user would in the middle
//            of a large file: the run searches that file again from the next line on.
//   -p       then pages through the list, repainting each page, and reports the slowest page.
//   -s FILE  then saves the results as result lines to FILE (Save Results As) and times it.
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QListView>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "SaveResults.h"
#include "ScrollBarStyle.h"
#include "TextBytes.h"
#include "VornUnit1.h"

namespace {

long PeakKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

double Ms(std::chrono::nanoseconds ns) { return static_cast<double>(ns.count()) / 1e6; }

// The processor time of all threads so far, and of the calling thread, in seconds.
double ProcessCpu() {
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(use.ru_utime) + seconds(use.ru_stime);
}

// The time the calling thread has waited for a processor while it could run, in seconds: a
// page that takes longer than its processor time waited for other work on the machine.
double ThreadWaited() {
  std::ifstream stat("/proc/thread-self/schedstat");
  unsigned long long running = 0, waiting = 0;
  stat >> running >> waiting;
  return static_cast<double>(waiting) / 1e9;
}

// The calling thread's sleeps (voluntary switches) and page faults that read from disk.
std::pair<long, long> ThreadSleeps() {
  rusage use{};
  getrusage(RUSAGE_THREAD, &use);
  return {use.ru_nvcsw, use.ru_majflt};
}

double ThreadCpu() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessaly"));
  vorn::ScrollBarStyle::Install();  // as the program does

  bool recursive = false, whole = false, matchCase = false;
  int toggleMs = -1;
  bool pages = false;
  std::string saveTo;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-t" && i + 1 < argc)
      toggleMs = std::atoi(argv[++i]);
    else if (arg == "-p")
      pages = true;
    else if (arg == "-s" && i + 1 < argc)
      saveTo = argv[++i];
    else if (arg == "-r")
      recursive = true;
    else if (arg == "-w")
      whole = true;
    else if (arg == "-c")
      matchCase = true;
    else
      positional.push_back(arg);
  }
  if (positional.size() != 3) {
    std::fprintf(stderr, "usage: window_bench [-r] [-w] [-c] [-t MS] DIRECTORY MASK TEXT\n");
    return 2;
  }

  vorn::TForm1 form;
  vorn::Form1 = &form;
  form.show();
  QCoreApplication::processEvents();
  form.ComboBox3->setEditText(vorn::FromBytes(positional[0]));
  form.ComboBox1->setEditText(vorn::FromBytes(positional[1]));
  form.ComboBox2->setEditText(vorn::FromBytes(positional[2]));
  form.Checkbox3->SetChecked(recursive);
  form.Checkbox1->SetChecked(whole);
  form.Checkbox2->SetChecked(matchCase);
  QCoreApplication::processEvents();

  if (toggleMs >= 0)
    QTimer::singleShot(toggleMs, &form,
                       [&form] { form.Checkbox2->SetChecked(!form.Checkbox2->Checked()); });
  QElapsedTimer clock;
  const double cpuAtStart = ProcessCpu();
  clock.start();
  form.Do_the_search();
  const double runSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  // What the user waits for: the run, and the list laid out to its last row.
  const QScrollBar* bar = form.ListBox1->verticalScrollBar();
  const int rows = form.Results().Shown();
  for (int spins = 0; spins < 100000; ++spins) {
    QCoreApplication::processEvents();
    if (rows == 0 || bar->maximum() + bar->pageStep() >= rows) break;
  }
  const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  const double cpuSeconds = ProcessCpu() - cpuAtStart;

  // Pages spread over the whole list, each scrolled to and repainted at once.
  double slowestPageMs = 0, pageMsTotal = 0, slowestPageCpuMs = 0, pageCpuMsTotal = 0;
  double slowestPageWaitMs = 0;
  std::pair<long, long> slowestPageSleeps{0, 0};
  int pagesTimed = 0;
  if (pages && rows > 0) {
    QScrollBar* vertical = form.ListBox1->verticalScrollBar();
    for (int i = 0; i < 200; ++i) {
      QElapsedTimer page;
      const double cpu = ThreadCpu();
      const double waited = ThreadWaited();
      const std::pair<long, long> slept = ThreadSleeps();
      page.start();
      vertical->setValue(static_cast<int>(static_cast<long long>(vertical->maximum()) * i / 199));
      form.ListBox1->viewport()->repaint();
      const double ms = static_cast<double>(page.nsecsElapsed()) / 1e6;
      const double cpuMs = (ThreadCpu() - cpu) * 1e3;
      const double waitMs = (ThreadWaited() - waited) * 1e3;
      if (ms > slowestPageMs) {
        slowestPageCpuMs = cpuMs;
        slowestPageWaitMs = waitMs;
        const std::pair<long, long> now = ThreadSleeps();
        slowestPageSleeps = {now.first - slept.first, now.second - slept.second};
      }
      pageCpuMsTotal += cpuMs;
      slowestPageMs = std::max(slowestPageMs, ms);
      pageMsTotal += ms;
      ++pagesTimed;
    }
  }
  double saveSeconds = 0, saveCpuSeconds = 0;
  if (!saveTo.empty()) {
    QElapsedTimer save;
    const double cpu = ProcessCpu();
    save.start();
    vorn::WriteResults(form.Results(), saveTo, vorn::ResultFormat::Lines);
    saveSeconds = static_cast<double>(save.nsecsElapsed()) / 1e9;
    saveCpuSeconds = ProcessCpu() - cpu;
  }

  vorn::ResultListModel& results = form.Results();
  unsigned long long bytes = 0;
  for (size_t row = 0; row < results.Total(); ++row) bytes += results.ResultLine(row).size() + 1;
  const vorn::PumpThrottle& throttle = form.Throttle();
  std::printf(
      "seconds %.3f\nrun_seconds %.3f\nscroll_max %d\nhits %zu\nresult_bytes %llu\npeak_kb %ld\n"
      "longest_gap_ms %.1f\nlongest_pump_ms %.1f\npumps %lld\nstatus %s\n"
      "slowest_page_ms %.2f\nmean_page_ms %.2f\nrow_bytes %.1f\nsave_seconds %.3f\n"
      "cpu_seconds %.3f\nslowest_page_cpu_ms %.2f\nmean_page_cpu_ms %.2f\nsave_cpu_seconds %.3f\n"
      "slowest_page_wait_ms %.2f\nslowest_page_sleeps %ld\nslowest_page_disk_faults %ld\n",
      seconds, runSeconds, bar->maximum(), results.Total(), bytes, PeakKilobytes(),
      Ms(throttle.LongestGap()), Ms(throttle.LongestPump()), throttle.Pumps(),
      vorn::ToBytes(form.StatusBar1->currentMessage()).c_str(), slowestPageMs,
      pagesTimed ? pageMsTotal / pagesTimed : 0.0,
      results.Total() ? static_cast<double>(results.BytesBeyondText()) / results.Total() : 0.0,
      saveSeconds, cpuSeconds, slowestPageCpuMs, pagesTimed ? pageCpuMsTotal / pagesTimed : 0.0,
      saveCpuSeconds, slowestPageWaitMs, slowestPageSleeps.first, slowestPageSleeps.second);
  return 0;
}
