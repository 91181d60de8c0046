// The physical floor of one data reply's cycle on this machine: one fdatasync of a log line in
// FOLDER, and one round trip of a frame over loopback TCP. A collector cannot acknowledge a
// one-record reply faster than both together. Prints the median and the spread of each, and
// beside them the floor of a cycle that also puts where the reply lies on disk: the line's
// sync, then a few bytes written over a second file's and its sync.
// Usage: link_floor [FOLDER] [ADDRESS]   (defaults: /tmp, 127.0.8.9)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSyncs = 500;
constexpr int kTrips = 4000;
constexpr std::size_t kFrame = 12;

struct Spread {
  double median, low, high;  // ms; low and high: the 10th and 90th percentiles
};

Spread Of(std::vector<double> samples) {
  std::ranges::sort(samples);
  const auto at = [&](double q) { return samples[std::size_t(q * double(samples.size() - 1))]; };
  return {at(0.5), at(0.1), at(0.9)};
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

bool Exact(int fd, char* data, std::size_t size, bool write) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write ? ::write(fd, data + done, size - done)  // NOLINT
                            : ::read(fd, data + done, size - done);  // NOLINT
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return true;
}

std::vector<double> Syncs(const std::string& folder, bool withList) {
  const std::string path = folder + "/link_floor." + std::to_string(::getpid()) + ".log";
  const std::string listPath = path + ".list";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);  // NOLINT
  const int list = ::open(listPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);         // NOLINT
  std::vector<double> samples;
  std::string line(90, 'x');
  line += "\r\n";
  const std::string text(48, 'y');
  if (fd >= 0 && list >= 0 && ::pwrite(list, text.data(), text.size(), 0) > 0) {
    for (int i = 0; i < kSyncs; ++i) {
      const auto start = Clock::now();
      if (!Exact(fd, line.data(), line.size(), true) || ::fdatasync(fd) != 0) break;
      if (withList && (::pwrite(list, text.data(), text.size(), 0) <= 0 || ::fdatasync(list) != 0))
        break;
      samples.push_back(Ms(Clock::now() - start));
    }
  }
  ::close(fd);
  ::close(list);
  ::unlink(path.c_str());
  ::unlink(listPath.c_str());
  return samples;
}

std::vector<double> Trips(const char* address) {
  std::vector<double> samples;
  const int server = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = 0;
  ::inet_pton(AF_INET, address, &at.sin_addr);
  socklen_t size = sizeof at;
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
  auto* any = reinterpret_cast<sockaddr*>(&at);
  if (::bind(server, any, size) != 0 || ::listen(server, 1) != 0 ||
      ::getsockname(server, any, &size) != 0) {
    ::close(server);
    return samples;
  }
  std::thread echo([server] {
    const int peer = ::accept(server, nullptr, nullptr);
    const int one = 1;
    ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::array<char, kFrame> frame{};
    while (Exact(peer, frame.data(), frame.size(), false) &&
           Exact(peer, frame.data(), frame.size(), true)) {
    }
    ::close(peer);
  });
  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::connect(client, any, size) == 0) {
    std::array<char, kFrame> frame{};
    frame.fill('0');
    for (int i = 0; i < kTrips; ++i) {
      const auto start = Clock::now();
      if (!Exact(client, frame.data(), frame.size(), true) ||
          !Exact(client, frame.data(), frame.size(), false))
        break;
      samples.push_back(Ms(Clock::now() - start));
    }
  }
  ::close(client);
  echo.join();
  ::close(server);
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);  // NOLINT
  const std::string folder = args.size() > 1 ? args[1] : "/tmp";
  const std::string address = args.size() > 2 ? args[2] : "127.0.8.9";
  const std::vector<double> syncs = Syncs(folder, false);
  const std::vector<double> withList = Syncs(folder, true);
  const std::vector<double> trips = Trips(address.c_str());
  if (syncs.empty() || withList.empty() || trips.empty()) {
    std::fprintf(stderr, "link_floor: could not measure (folder %s, address %s)\n", folder.c_str(),
                 address.c_str());
    return 1;
  }
  const Spread s = Of(syncs);
  const Spread t = Of(trips);
  std::printf("fdatasync: %.3f ms (10%%-90%%: %.3f-%.3f)\n", s.median, s.low, s.high);
  std::printf("loopback round trip: %.3f ms (10%%-90%%: %.3f-%.3f)\n", t.median, t.low, t.high);
  std::printf("floor: %.3f ms\n", s.median + t.median);
  const Spread l = Of(withList);
  std::printf("with where it lies: %.3f ms (10%%-90%%: %.3f-%.3f); floor %.3f ms\n", l.median,
              l.low, l.high, l.median + t.median);
  return 0;
}
