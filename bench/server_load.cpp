// server_load.cpp — quillmoor-server under load, with a driver of its own.
//
// Starts the server (and, for the shared run, a redis-server and a second
// server), connects N simulated users on the loopback in worlds of 50, and
// has every user send its position every 250 ms, as the browser does while
// it moves. The driver is one thread on epoll; it stamps each position with
// the time it was sent (in the x coordinate's raw word, which the server
// passes on untouched) and times it where it arrives, so the latency is the
// server's relay plus both kernels' loopback plus the driver's own delay.
//
// Reported per run: messages relayed a second, p50 and p99 relay latency,
// the server's CPU share and its memory per user. Then 10,000 idle users
// held at once. Bounded: each run is a few seconds.
//
//   bench_server [--quick]     (runs without arguments from build.sh bench)
//   bench_server --users N [--redis]   one run of N moving users
#include "net/net.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int WORLD = 50;
constexpr int64_t PERIOD_US = 250000;

int64_t nowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int freePorts(int count) {
  for (int attempt = 0; attempt < 200; attempt++) {
    // Below the ephemeral range, where the driver's own connections live.
    int base = 20000 + int((nowUs() + attempt * 7919) % 11000);
    bool ok = base + count < 32768;
    for (int p = base; p < base + count && ok; p++) {
      int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(uint16_t(p));
      ok = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
      close(fd);
    }
    if (ok) return base;
  }
  return 0;
}

// Output goes to /dev/null, the server's errors to a file read when it fails.
pid_t spawn(const std::vector<std::string> &args, const char *errors = "/dev/null") {
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    int err = open(errors, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(null, 1);
    dup2(err >= 0 ? err : null, 2);
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void reap(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status;
  for (int i = 0; i < 300; i++) {
    if (waitpid(pid, &status, WNOHANG) == pid) return;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
}

long rssKiB(pid_t pid) {
  FILE *f = fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (!f) return 0;
  char line[256];
  long kb = 0;
  while (fgets(line, sizeof line, f))
    if (sscanf(line, "VmRSS: %ld", &kb) == 1) break;
  fclose(f);
  return kb;
}

double cpuSeconds(pid_t pid) {
  FILE *f = fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (!f) return 0;
  char buf[1024];
  size_t n = fread(buf, 1, sizeof buf - 1, f);
  fclose(f);
  buf[n] = 0;
  const char *p = strrchr(buf, ')');
  if (!p) return 0;
  unsigned long ut = 0, st = 0;
  // Fields after the name: state is 3rd; utime and stime are 14th and 15th.
  sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &ut, &st);
  return double(ut + st) / double(sysconf(_SC_CLK_TCK));
}

bool waitListening(int port, int ms) {
  for (int i = 0; i < ms / 20; i++) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(fd);
    if (ok) return true;
    usleep(20000);
  }
  return false;
}

enum { B_CONNECTING, B_HELLO, B_JOINED, B_LIVE, B_GONE };

struct User {
  int fd = -1;
  int state = B_CONNECTING;
  int port = 0;
  uint32_t id = 0, channel = 0;
  std::vector<uint8_t> in;
  int64_t next = 0;
};

struct Run {
  int users = 0;
  bool moving = true;
  int64_t measureUs = 8000000;
  // Results
  int live = 0, gone = 0;
  uint64_t received = 0;
  std::vector<uint32_t> lat;  // µs
};

int epfd = -1;

void watch(User &u, uint32_t ev, int op) {
  epoll_event e{};
  e.events = ev;
  e.data.ptr = &u;
  epoll_ctl(epfd, op, u.fd, &e);
}

void startConnect(User &u) {
  u.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(u.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(u.port));
  connect(u.fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  u.state = B_CONNECTING;
  watch(u, EPOLLOUT | EPOLLIN, EPOLL_CTL_ADD);
}

void onEvent(User &u, uint32_t ev, Run &run, int64_t t0, bool measuring) {
  if (u.state == B_GONE) return;
  if (u.state == B_CONNECTING && (ev & EPOLLOUT)) {
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(u.fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err) {
      u.state = B_GONE;
      run.gone++;
      return;
    }
    uint8_t hello[ZVCP_HELLO_SIZE];
    zvcpBuildHello(hello, sizeof hello);
    if (send(u.fd, hello, sizeof hello, MSG_NOSIGNAL) != sizeof hello) {
      u.state = B_GONE;
      run.gone++;
      return;
    }
    u.state = B_HELLO;
    watch(u, EPOLLIN, EPOLL_CTL_MOD);
    return;
  }
  if (!(ev & (EPOLLIN | EPOLLHUP | EPOLLERR))) return;
  uint8_t buf[65536];
  ssize_t k = recv(u.fd, buf, sizeof buf, 0);
  if (k <= 0) {
    if (k < 0 && errno == EAGAIN) return;
    if (u.state == B_LIVE) run.live--;
    u.state = B_GONE;
    run.gone++;
    return;
  }
  int64_t now = nowUs();
  // Parsed where it was read; only a partial message is kept between reads.
  const uint8_t *data = buf;
  size_t size_ = size_t(k);
  if (!u.in.empty()) {
    u.in.insert(u.in.end(), buf, buf + k);
    data = u.in.data();
    size_ = u.in.size();
  }
  size_t off = 0;
  if (u.state == B_HELLO) {
    if (size_ < ZVCP_ANSWER_SIZE) {
      if (u.in.empty()) u.in.assign(buf, buf + k);
      return;
    }
    if (zvcpParseAnswer(data, ZVCP_ANSWER_SIZE, &u.id, &u.channel) != 0) {
      u.state = B_GONE;
      run.gone++;
      return;
    }
    off = ZVCP_ANSWER_SIZE;
    uint8_t join[ZVCP_MAX_MESSAGE];
    int n = zvcpBuildJoin(join, sizeof join, u.channel, u.id, "load", "person.wrl");
    send(u.fd, join, size_t(n), MSG_NOSIGNAL);
    u.state = B_JOINED;
  }
  for (;;) {
    int64_t size = zvcpMessageSize(data + off, size_ - off);
    if (size <= 0 || size_t(size) > size_ - off) break;
    const uint8_t *m = data + off;
    if (m[0] == 2) {
      if (measuring) {
        run.received++;
        uint32_t sent = zvcpGetU32(m + 13);
        uint32_t d = uint32_t(now - t0) - sent;
        if (run.lat.size() < 20000000) run.lat.push_back(d & 0x7fffffff);
      }
    } else if (m[0] == 0 && zvcpGetU32(m + 9) == ZVCP_OP_MYSELF && u.state == B_JOINED) {
      u.state = B_LIVE;
      run.live++;
    }
    off += size_t(size);
  }
  if (data == buf) {
    u.in.assign(buf + off, buf + size_);
  } else {
    u.in.erase(u.in.begin(), u.in.begin() + long(off));
  }
}

// One run: `users` users in worlds of 50 over `ports` ports starting at
// base (spread over the servers in turn when there are several).
void drive(Run &run, const std::vector<int> &bases, int worlds, const std::function<void()> &onWarm) {
  std::vector<User> users(size_t(run.users));
  epfd = epoll_create1(EPOLL_CLOEXEC);
  int64_t t0 = nowUs();
  for (int i = 0; i < run.users; i++) {
    int world = (i / WORLD) % worlds;
    // Users of one world alternate between the servers.
    users[size_t(i)].port = bases[size_t(i) % bases.size()] + world;
  }
  // Connect in waves, so the listen queues are never the limit.
  size_t started = 0;
  epoll_event evs[512];
  int64_t deadline = nowUs() + 60000000;
  while ((run.live + run.gone < run.users) && nowUs() < deadline) {
    while (started < users.size() && int(started) - run.live - run.gone < 256) startConnect(users[started++]);
    int n = epoll_wait(epfd, evs, 512, 10);
    for (int i = 0; i < n; i++) onEvent(*static_cast<User *>(evs[i].data.ptr), evs[i].events, run, t0, false);
  }
  int64_t joinedAt = nowUs();
  // Stagger the sends over the period: user i sends at phase i/N.
  for (size_t i = 0; i < users.size(); i++) users[i].next = joinedAt + int64_t(i) * PERIOD_US / run.users;
  int64_t warm = joinedAt + 2000000, end = warm + run.measureUs;
  size_t cursor = 0;
  bool warmed = false;
  while (nowUs() < end) {
    int64_t now = nowUs();
    bool measuring = now >= warm;
    if (measuring && !warmed) {
      warmed = true;
      onWarm();
    }
    if (run.moving) {
      for (size_t guard = 0; guard < users.size() && users[cursor].next <= now; guard++) {
        User &u = users[cursor];
        if (u.state == B_LIVE) {
          uint8_t pos[ZVCP_MAX_MESSAGE];
          const float zero[3] = {0, 0, 0};
          int m = zvcpBuildPosition(pos, sizeof pos, u.channel, u.id, u.id, zero);
          zvcpPutU32(pos + 13, uint32_t(nowUs() - t0) & 0x7fffffff);
          send(u.fd, pos, size_t(m), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        u.next += PERIOD_US;
        cursor = (cursor + 1) % users.size();
      }
    }
    int64_t wait = (users[cursor].next - nowUs()) / 1000;
    int n = epoll_wait(epfd, evs, 512, run.moving ? int(std::clamp<int64_t>(wait, 0, 5)) : 100);
    for (int i = 0; i < n; i++) onEvent(*static_cast<User *>(evs[i].data.ptr), evs[i].events, run, t0, measuring);
  }
  for (User &u : users)
    if (u.fd >= 0) close(u.fd);
  close(epfd);
}

double percentile(std::vector<uint32_t> &v, double p) {
  if (v.empty()) return 0;
  size_t k = size_t(p * double(v.size() - 1));
  std::nth_element(v.begin(), v.begin() + long(k), v.end());
  return v[k] / 1000.0;
}

}  // namespace

int main(int argc, char **argv) {
  bool quick = false, redis = false;
  int only = 0;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--quick") == 0) quick = true;
    if (strcmp(argv[i], "--redis") == 0) redis = true;
    if (strcmp(argv[i], "--users") == 0 && i + 1 < argc) only = atoi(argv[++i]);
  }
  rlimit rl;
  getrlimit(RLIMIT_NOFILE, &rl);
  rl.rlim_cur = rl.rlim_max;
  setrlimit(RLIMIT_NOFILE, &rl);
  signal(SIGPIPE, SIG_IGN);
  printf("quillmoor-server load, worlds of %d, a position every 250 ms per user (driver on the same 2 cores)\n", WORLD);
  printf("%-22s %8s %12s %9s %9s %8s %10s %10s\n", "run", "users", "relayed/s", "p50 ms", "p99 ms", "server %",
         "KiB/user", "driver %");

  struct Plan {
    const char *name;
    int users;
    bool moving;
    bool redis;
  };
  std::vector<Plan> plans = {{"one server", 100, true, false},
                             {"one server", 1000, true, false},
                             {"one server", 2000, true, false},
                             {"two servers + redis", 1000, true, true},
                             {"idle", 10000, false, false}};
  if (quick) plans = {{"one server", 100, true, false}, {"two servers + redis", 100, true, true}};
  if (only > 0) plans = {{redis ? "two servers + redis" : "one server", std::min(only, 15000), true, redis}};
  int failures = 0;
  for (const Plan &plan : plans) {
    int worlds = (plan.users + WORLD - 1) / WORLD;
    pid_t redisPid = -1;
    int redisPort = 0;
    if (plan.redis) {
      if (access("/usr/bin/redis-server", X_OK) != 0) {
        printf("%-22s (no redis-server: skipped)\n", plan.name);
        continue;
      }
      redisPort = freePorts(1);
      redisPid = spawn({"/usr/bin/redis-server", "--port", std::to_string(redisPort), "--bind", "127.0.0.1", "--save",
                        "", "--appendonly", "no"});
      waitListening(redisPort, 5000);
    }
    int servers = plan.redis ? 2 : 1;
    std::vector<int> bases;
    std::vector<pid_t> pids;
    for (int s = 0; s < servers; s++) {
      int base = freePorts(worlds);
      std::vector<std::string> args = {QUILLMOOR_SERVER_EXE, "--quiet", "--bind", "127.0.0.1", "--port",
                                       std::to_string(base) + "-" + std::to_string(base + worlds - 1),
                                       "--max-clients", std::to_string(plan.users + 100), "--timeout", "600",
                                       "--world", "1"};
      if (plan.redis) {
        args.push_back("--redis");
        args.push_back("127.0.0.1:" + std::to_string(redisPort));
      }
      std::string errors = "/tmp/quillmoor-bench-server-" + std::to_string(getpid()) + ".log";
      pids.push_back(spawn(args, errors.c_str()));
      if (!waitListening(base + worlds - 1, 5000)) {
        printf("%s: the server did not start:\n", plan.name);
        fflush(stdout);
        system(("cat " + errors).c_str());
        return 1;
      }
      unlink(errors.c_str());
      bases.push_back(base);
    }
    usleep(300000);  // Redis subscriptions
    long rss0 = 0;
    for (pid_t p : pids) rss0 += rssKiB(p);
    Run run;
    run.users = plan.users;
    run.moving = plan.moving;
    run.measureUs = quick ? 3000000 : plan.moving ? 8000000 : 5000000;
    // CPU is counted over the measured seconds only, not the joining.
    double cpu0 = 0, redisCpu0 = 0, driver0 = 0;
    int64_t w0 = 0;
    auto driverSeconds = [] {
      rusage ru;
      getrusage(RUSAGE_SELF, &ru);
      return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    };
    drive(run, bases, worlds, [&] {
      for (pid_t p : pids) cpu0 += cpuSeconds(p);
      if (plan.redis) redisCpu0 = cpuSeconds(redisPid);
      driver0 = driverSeconds();
      w0 = nowUs();
    });
    double wall = double(nowUs() - w0) / 1e6;
    double driver = driverSeconds() - driver0;
    double cpu = 0;
    for (pid_t p : pids) cpu += cpuSeconds(p);
    long rss1 = 0;
    for (pid_t p : pids) rss1 += rssKiB(p);
    double seconds = double(run.measureUs) / 1e6;
    char name[64];
    snprintf(name, sizeof name, "%s", plan.name);
    printf("%-22s %8d %12.0f %9.2f %9.2f %8.0f %10.1f %10.0f", name, plan.users, double(run.received) / seconds,
           percentile(run.lat, 0.5), percentile(run.lat, 0.99), 100.0 * (cpu - cpu0) / wall,
           double(rss1 - rss0) / plan.users, 100.0 * driver / wall);
    if (plan.redis) printf("   redis cpu %.0f %%", 100.0 * (cpuSeconds(redisPid) - redisCpu0) / wall);
    if (run.live < plan.users) {
      printf("   only %d of %d joined", run.live, plan.users);
      failures++;
    }
    printf("\n");
    fflush(stdout);
    for (pid_t p : pids) reap(p);
    reap(redisPid);
  }
  return failures ? 1 : 0;
}
