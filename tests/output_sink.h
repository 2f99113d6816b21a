// What the two run_plugin implementations keep of a run's standard output.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

// Standard output as the limits keep it: the whole of it, or its first and
// last `keep_ends` bytes.
struct output_sink {
  std::size_t keep_ends;
  std::string head;
  std::string tail;
  long long bytes = 0;

  void add(const char *data, std::size_t n) {
    bytes += static_cast<long long>(n);
    if (keep_ends == 0 || head.size() < keep_ends) {
      const std::size_t to_head = keep_ends == 0 ? n : std::min(n, keep_ends - head.size());
      head.append(data, to_head);
      data += to_head;
      n -= to_head;
    }
    if (n == 0) return;
    tail.append(data, n);
    if (tail.size() > 2 * keep_ends) tail.erase(0, tail.size() - keep_ends);
  }

  std::string kept() const {
    return head + (tail.size() > keep_ends ? tail.substr(tail.size() - keep_ends) : tail);
  }
};
