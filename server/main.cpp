// main.cpp — quillmoor-server's command line.
#include "server/server.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

volatile sig_atomic_t svStopRequested = 0;
SvServer *svTheServer = nullptr;

void svOnSignal(int) {
  svStopRequested = 1;
  if (svTheServer) svTheServer->stop = true;
}

const char *svUsage =
    "usage: quillmoor-server [options]\n"
    "  --port P | P1-P2      ports to listen on, one world each (default 7000)\n"
    "  --bind ADDRESS        address to listen on (default 0.0.0.0)\n"
    "  --max-clients N       connections held at most, all ports together (default 10000)\n"
    "  --redis HOST:PORT     share the worlds with other servers through Redis\n"
    "  --world N             the first port's world number on Redis (default: the port)\n"
    "  --object [PORT=]URL[#NAME]  a shared object of every world (or of PORT's)\n"
    "  --timeout SECONDS     drop a client silent for this long (default 30)\n"
    "  --rate N              relayed messages a second one client may send (default 40)\n"
    "  --quiet               no log line per connection\n";

// Raising the descriptor limit to its hard maximum: a server holds one
// descriptor a connection, and the default soft limit of 1024 is far below
// what it is meant to hold.
void svRaiseFileLimit(int want) {
  rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return;
  rlim_t goal = rlim_t(want) + 256;
  if (rl.rlim_cur >= goal) return;
  rl.rlim_cur = rl.rlim_max == RLIM_INFINITY || rl.rlim_max > goal ? goal : rl.rlim_max;
  setrlimit(RLIMIT_NOFILE, &rl);
}

}  // namespace

int main(int argc, char **argv) {
  SvServer server;
  std::string error;
  if (svParseOptions(argc, argv, &server.opt, &error) != 0) {
    if (!error.empty()) fprintf(stderr, "quillmoor-server: %s\n", error.c_str());
    fputs(svUsage, error.empty() ? stdout : stderr);
    return error.empty() ? 0 : 2;
  }
  svRaiseFileLimit(server.opt.maxClients + (server.opt.lastPort - server.opt.firstPort + 1));
  svTheServer = &server;
  struct sigaction sa {};
  sa.sa_handler = svOnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  if (svOpen(&server) != 0) {
    svClose(&server);
    return 1;
  }
  int rc = svRun(&server);
  svLog(&server, "stopping");
  svClose(&server);
  return rc == 0 ? 0 : 1;
}
