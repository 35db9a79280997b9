// options.cpp — the command line, checked before anything is opened.
#include "server/server.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool svNumber(const char *text, long lo, long hi, long *out) {
  if (!text || !*text) return false;
  char *end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (errno || *end || v < lo || v > hi) return false;
  *out = v;
  return true;
}

}  // namespace

// 0 to run; 1 with *error empty when help was asked for; 1 with a message
// otherwise.
int svParseOptions(int argc, char **argv, SvOptions *opt, std::string *error) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
    auto need = [&](const char *what) {
      if (!v) *error = a + " needs " + what;
      return v != nullptr;
    };
    long n;
    if (a == "--help" || a == "-h") {
      error->clear();
      return 1;
    } else if (a == "--quiet") {
      opt->quiet = true;
      continue;
    } else if (a == "--port") {
      if (!need("a port or a range")) return 1;
      std::string p = v;
      size_t dash = p.find('-');
      long lo, hi;
      if (!svNumber(p.substr(0, dash).c_str(), 1, 65535, &lo) ||
          !svNumber(dash == std::string::npos ? p.c_str() : p.substr(dash + 1).c_str(), 1, 65535, &hi) || hi < lo ||
          hi - lo > 999) {
        *error = "--port takes a port or a range of at most 1000 ports, not \"" + p + "\"";
        return 1;
      }
      opt->firstPort = int(lo);
      opt->lastPort = int(hi);
    } else if (a == "--bind") {
      if (!need("an address")) return 1;
      opt->bind = v;
    } else if (a == "--max-clients") {
      if (!need("a number") || !svNumber(v, 1, 1000000, &n)) {
        if (error->empty()) *error = "--max-clients takes a number from 1 to 1000000";
        return 1;
      }
      opt->maxClients = int(n);
    } else if (a == "--redis") {
      if (!need("HOST:PORT")) return 1;
      std::string r = v;
      size_t colon = r.rfind(':');
      if (colon == std::string::npos || colon == 0 || !svNumber(r.c_str() + colon + 1, 1, 65535, &n)) {
        *error = "--redis takes HOST:PORT, not \"" + r + "\"";
        return 1;
      }
      opt->redis = r;
    } else if (a == "--world") {
      if (!need("a number") || !svNumber(v, 0, 0x7fffffff, &n)) {
        if (error->empty()) *error = "--world takes a number";
        return 1;
      }
      opt->world = n;
    } else if (a == "--object") {
      if (!need("[PORT=]URL[#NAME]")) return 1;
      std::string o = v;
      int port = 0;
      size_t eq = o.find('=');
      if (eq != std::string::npos && eq < o.find(':')) {
        if (!svNumber(o.substr(0, eq).c_str(), 1, 65535, &n)) {
          *error = "--object: \"" + o.substr(0, eq) + "\" is not a port";
          return 1;
        }
        port = int(n);
        o = o.substr(eq + 1);
      }
      // It must fit an add-objects message with its name: 200 − 17 − 8 − 2.
      size_t hash = o.find('#');
      if (o.empty() || hash == 0 || o.size() - (hash == std::string::npos ? 0 : 1) > 173) {
        *error = "--object: the URL and name must be 1 to 173 characters together";
        return 1;
      }
      opt->objects.emplace_back(port, o);
    } else if (a == "--timeout") {
      if (!need("seconds") || !svNumber(v, 1, 86400, &n)) {
        if (error->empty()) *error = "--timeout takes seconds from 1 to 86400";
        return 1;
      }
      opt->timeoutMs = int(n * 1000);
      if (opt->handshakeMs > opt->timeoutMs) opt->handshakeMs = opt->timeoutMs;
    } else if (a == "--rate") {
      if (!need("a number") || !svNumber(v, 1, 100000, &n)) {
        if (error->empty()) *error = "--rate takes a number from 1 to 100000";
        return 1;
      }
      opt->rate = double(n);
      opt->burst = double(n) * 3;
    } else {
      *error = "unknown option " + a;
      return 1;
    }
    i++;
  }
  return 0;
}
