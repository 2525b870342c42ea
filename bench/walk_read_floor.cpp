// The floor for a search of a tree: list the tree as the search does and read every file into
// a buffer, searching nothing, on N threads while the listing goes on. No search of the same
// tree can be faster than this on the same machine and cache.
//
// usage: walk_read_floor [-j N] DIRECTORY      (N: default one per CPU the process may use)
#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io.h"

namespace {

struct Queue {
  std::mutex mutex;
  std::condition_variable more;
  std::vector<std::string> paths;
  size_t next = 0;
  bool done = false;
};

// Reads every file the queue hands out, returning the bytes read.
unsigned long long ReadFiles(Queue& queue) {
  std::vector<char> buffer(size_t{256} << 10);
  unsigned long long bytes = 0;
  std::string path;
  for (;;) {
    {
      std::unique_lock lock(queue.mutex);
      queue.more.wait(lock, [&] { return queue.done || queue.next < queue.paths.size(); });
      if (queue.next == queue.paths.size()) return bytes;
      path = queue.paths[queue.next++];
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) continue;
    ssize_t n;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0) bytes += static_cast<size_t>(n);
    close(fd);
  }
}

}  // namespace

int main(int argc, char** argv) {
  unsigned threads = 0;
  int arg = 1;
  if (argc == 4 && std::string(argv[1]) == "-j") {
    threads = static_cast<unsigned>(std::atoi(argv[2]));
    arg = 3;
  }
  if (argc != arg + 1) {
    std::fprintf(stderr, "usage: walk_read_floor [-j N] DIRECTORY\n");
    return 2;
  }
  if (threads == 0) threads = vorn::CpusAvailable();  // as the search counts them
  Queue queue;
  std::vector<std::thread> workers;
  std::vector<unsigned long long> bytes(threads);
  for (unsigned t = 0; t < threads; ++t)
    workers.emplace_back([&queue, &bytes, t] { bytes[t] = ReadFiles(queue); });
  std::vector<std::string> batch;
  const auto hand = [&] {
    {
      const std::lock_guard lock(queue.mutex);
      for (std::string& p : batch) queue.paths.push_back(std::move(p));
    }
    batch.clear();
    queue.more.notify_all();
    return true;
  };
  vorn::ListFilesRecursive(argv[arg], "*", hand, [&](std::string&& path) {
    batch.push_back(std::move(path));
    if (batch.size() >= 256) hand();
  });
  hand();
  {
    const std::lock_guard lock(queue.mutex);
    queue.done = true;
  }
  queue.more.notify_all();
  unsigned long long total = 0;
  for (unsigned t = 0; t < threads; ++t) {
    workers[t].join();
    total += bytes[t];
  }
  std::printf("%zu files, %llu bytes\n", queue.paths.size(), total);
  return 0;
}
