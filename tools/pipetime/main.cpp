// pipetime: times the service pipe from one connection.
//
//   pipetime [--pipe NAME] [--wait MS] [--answers K] [--each] --repeat N REQUEST
//     Sends REQUEST (a CR is added) N times, each time waiting for its K
//     answers (GETSTATE, GETKEY: 1, CHECKMOUNT: 4; other requests need
//     --answers), and prints the round trips in microseconds (from
//     QueryPerformanceCounter) as
//       round trips N min_us A median_us B max_us C mean_us D
//       last answer TEXT
//     --each first prints every round trip as "us T", in the order made.
//
//   pipetime [--pipe NAME] [--wait MS] --until-mounted SLOTS [--limit MS]
//            [--interval MS] [--go-on-stdin]
//     Asks CHECKMOUNT every MS (default 20) until every slot named in SLOTS
//     (digits 0 to 3, e.g. 01) has a drive letter, and prints
//       mounted after T ms (P polls): 0=F 1=G
//     or "not mounted within T ms". With --go-on-stdin it first checks that
//     none of the slots is mounted, prints "ready" and starts the clock when
//     a line (or the end) arrives on standard input.
//
// NAME defaults to \\.\PIPE\kelmpip; --wait retries a missing or busy pipe
// for up to MS. Exit codes: 0 done, 1 I/O error or slots already mounted,
// 2 usage, 3 no pipe (or busy), 4 connection closed, 5 an answer or the
// mount did not come in time.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/protocol.h"
#include "common/win32/pipeclient.h"

namespace {

constexpr int kDone = 0, kIoError = 1, kUsage = 2, kNoPipe = 3, kClosed = 4, kLate = 5;
constexpr DWORD kAnswerTimeoutMs = 2000;

const char kUsageText[] =
    "usage:\n"
    "  pipetime [--pipe NAME] [--wait MS] [--answers K] [--each] --repeat N REQUEST\n"
    "  pipetime [--pipe NAME] [--wait MS] --until-mounted SLOTS [--limit MS] [--interval MS] [--go-on-stdin]\n"
    "exit codes: 0 done, 1 I/O error, 2 usage, 3 no pipe, 4 connection closed, 5 too late\n";

class Clock {
 public:
  Clock() { QueryPerformanceFrequency(&freq_); }
  std::int64_t Now() const {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
  }
  double Us(std::int64_t from, std::int64_t to) const {
    return static_cast<double>(to - from) * 1e6 / static_cast<double>(freq_.QuadPart);
  }

 private:
  LARGE_INTEGER freq_{};
};

// The service connection: the tool's exit codes on top of the shared one.
class Connection {
 public:
  int Open(const char* name, DWORD waitMs) {
    const DWORD err = c_.Open(name, waitMs);
    if (err == 0) return kDone;
    std::printf("%s %s (error %lu)\n", err == ERROR_PIPE_BUSY ? "pipe busy:" : "no pipe:", name, err);
    return kNoPipe;
  }
  bool Write(const std::string& text) { return c_.Write(text); }
  // One message within timeoutMs, without its CR: kDone, kLate or kClosed.
  int Read(std::string& out, DWORD timeoutMs) {
    switch (c_.Read(out, timeoutMs)) {
      case kelm::win::PipeRead::Message:
        if (!out.empty() && out.back() == '\r') out.pop_back();
        return kDone;
      case kelm::win::PipeRead::Nothing: return kLate;
      case kelm::win::PipeRead::Closed: break;
    }
    return kClosed;
  }

 private:
  kelm::win::PipeConnection c_;
};

int Problem(int code, const char* what) {
  std::printf("%s\n", what);
  return code;
}

struct Options {
  const char* pipe = "\\\\.\\PIPE\\kelmpip";
  DWORD waitMs = 0;
  long answers = -1;
  long repeat = 0;
  const char* request = nullptr;
  const char* slots = nullptr;
  DWORD limitMs = 10000;
  DWORD intervalMs = 20;
  bool goOnStdin = false;
  bool each = false;
};

bool Number(const char* text, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && value >= 0;
}

// Parses the command line; false on a usage error.
bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    long v = 0;
    if (a == "--go-on-stdin") {
      o.goOnStdin = true;
    } else if (a == "--each") {
      o.each = true;
    } else if (a == "--pipe" && hasValue) {
      o.pipe = argv[++i];
    } else if (a == "--until-mounted" && hasValue) {
      o.slots = argv[++i];
    } else if ((a == "--wait" || a == "--answers" || a == "--repeat" || a == "--limit" ||
                a == "--interval") && hasValue) {
      if (!Number(argv[++i], v)) return false;
      if (a == "--wait") o.waitMs = static_cast<DWORD>(v);
      if (a == "--answers") o.answers = v;
      if (a == "--repeat") o.repeat = v;
      if (a == "--limit") o.limitMs = static_cast<DWORD>(v);
      if (a == "--interval") o.intervalMs = static_cast<DWORD>(v);
    } else if (a.rfind("--", 0) != 0 && !o.request) {
      o.request = argv[i];
    } else {
      return false;
    }
  }
  if (o.slots) {
    if (o.request || o.repeat || o.answers >= 0 || o.each || !*o.slots) return false;
    for (const char* s = o.slots; *s; ++s)
      if (*s < '0' || *s > '3') return false;
    return true;
  }
  if (!o.request || o.repeat < 1 || o.goOnStdin) return false;
  if (o.answers < 0) {
    const kelm::Request r = kelm::ParseRequest(o.request);
    if (r.isCmd && (r.code == kelm::kCmdGetState || r.code == kelm::kCmdGetKey)) o.answers = 1;
    if (r.isCmd && r.code == kelm::kCmdCheckMount) o.answers = 4;
  }
  return o.answers >= 1;
}

int Repeat(Connection& c, const Options& o) {
  const Clock clock;
  const std::string request = std::string(o.request) + "\r";
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(o.repeat));
  std::string answer;
  for (long i = 0; i < o.repeat; ++i) {
    const std::int64_t t0 = clock.Now();
    if (!c.Write(request)) return Problem(kClosed, "write failed");
    for (long k = 0; k < o.answers; ++k) {
      const int r = c.Read(answer, kAnswerTimeoutMs);
      if (r == kLate) return Problem(kLate, "no answer within 2000 ms");
      if (r != kDone) return Problem(kClosed, "connection closed");
    }
    us.push_back(clock.Us(t0, clock.Now()));
  }
  double sum = 0;
  for (double v : us) {
    sum += v;
    if (o.each) std::printf("us %.1f\n", v);
  }
  std::sort(us.begin(), us.end());
  const std::size_t n = us.size();
  const double median = n % 2 ? us[n / 2] : (us[n / 2 - 1] + us[n / 2]) / 2;
  std::printf("round trips %zu min_us %.1f median_us %.1f max_us %.1f mean_us %.1f\n", n, us.front(), median,
              us.back(), sum / static_cast<double>(n));
  std::printf("last answer %s\n", answer.c_str());
  return kDone;
}

// One CHECKMOUNT: the four letters by slot (0 = not mounted). Unasked
// notices in between are skipped.
int CheckMount(Connection& c, char (&letters)[4]) {
  static const std::string request = "CMD:" + std::to_string(kelm::kCmdCheckMount) + "\r";
  if (!c.Write(request)) return kClosed;
  for (int got = 0; got < 4;) {
    std::string answer;
    const int r = c.Read(answer, kAnswerTimeoutMs);
    if (r != kDone) return r;
    std::uint32_t value = 0, code = 0;
    if (!kelm::ParseAnswer(answer, value, code) || code != kelm::kAnsDriveLetter) continue;
    if ((value & 0xFF) < 4) letters[value & 0xFF] = static_cast<char>((value >> 8) & 0xFF);
    ++got;
  }
  return kDone;
}

bool AllMounted(const char* slots, const char (&letters)[4]) {
  for (const char* s = slots; *s; ++s)
    if (!letters[*s - '0']) return false;
  return true;
}

bool AnyMounted(const char* slots, const char (&letters)[4]) {
  for (const char* s = slots; *s; ++s)
    if (letters[*s - '0']) return true;
  return false;
}

// Blocks until a line or the end of standard input.
void WaitForGo() {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  char ch = 0;
  DWORD n = 0;
  while (ReadFile(in, &ch, 1, &n, nullptr) && n == 1 && ch != '\n') {
  }
}

int UntilMounted(Connection& c, const Options& o) {
  const Clock clock;
  char letters[4] = {};
  if (o.goOnStdin) {
    if (int r = CheckMount(c, letters)) return Problem(r, "no CHECKMOUNT answer");
    if (AnyMounted(o.slots, letters)) return Problem(kIoError, "already mounted");
    std::printf("ready\n");
    std::fflush(stdout);
    WaitForGo();
  }
  const std::int64_t t0 = clock.Now();
  for (long polls = 1;; ++polls) {
    const std::int64_t pollStart = clock.Now();
    std::memset(letters, 0, sizeof letters);
    if (int r = CheckMount(c, letters)) return Problem(r, "no CHECKMOUNT answer");
    const double ms = clock.Us(t0, clock.Now()) / 1000;
    if (AllMounted(o.slots, letters)) {
      std::printf("mounted after %.1f ms (%ld polls):", ms, polls);
      for (const char* s = o.slots; *s; ++s) std::printf(" %c=%c", *s, letters[*s - '0']);
      std::printf("\n");
      return kDone;
    }
    if (ms >= o.limitMs) {
      std::printf("not mounted within %.1f ms (%ld polls)\n", ms, polls);
      return kLate;
    }
    const double spent = clock.Us(pollStart, clock.Now()) / 1000;
    if (spent < o.intervalMs) Sleep(static_cast<DWORD>(o.intervalMs - spent));
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  Connection c;
  if (int r = c.Open(o.pipe, o.waitMs)) return r;
  const int result = o.slots ? UntilMounted(c, o) : Repeat(c, o);
  std::fflush(stdout);
  return result;
}
