// kelmsvc under Wine's service control manager: installed with its own
// switch, started as KelmSvr, talked to over "\\.\PIPE\kelmpip" by this
// process and by kelmpipe.exe, and removed again. The tests run in order
// and leave the prefix without the service.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/win32/handles.h"
#include "service/logic/svcprogram.h"
#include "svcclient.h"

using namespace kelm::test;

namespace {
constexpr char kLog[] = "C:\\kelmlog.txt";
constexpr char kLogOld[] = "C:\\kelmlog.old";

// The service's own error text rule, from the system text of code.
std::string ErrorText(DWORD code) {
  char* text = nullptr;
  DWORD len = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_ARGUMENT_ARRAY,
                             nullptr, code, LANG_NEUTRAL, reinterpret_cast<char*>(&text), 0, nullptr);
  kelm::win::LocalMem owner(text);
  char buf[kelm::svc::kErrorTextSize];
  return kelm::svc::FormatErrorText(len ? std::string_view(text, len) : std::string_view{}, code, buf);
}

std::string ReadFileBytes(const char* path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Log entries: "YYYY:MM:DD --- hh:mm:ss: " message, CR CR LF.
std::vector<std::string> LogMessages(const std::string& bytes) {
  static const std::regex head(R"(^\d{4}:\d{2}:\d{2} --- \d{2}:\d{2}:\d{2}: )");
  std::vector<std::string> messages;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = bytes.find("\r\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << "entry without CR CR LF at " << pos;
      break;
    }
    std::string entry = bytes.substr(pos, end - pos);
    std::smatch m;
    if (!std::regex_search(entry, m, head)) {
      ADD_FAILURE() << "bad entry: " << entry;
    } else {
      std::string msg = entry.substr(m.length());
      // On disk a message's LF is CR LF.
      std::string plain;
      for (std::size_t i = 0; i < msg.size(); ++i)
        if (!(msg[i] == '\r' && i + 1 < msg.size() && msg[i + 1] == '\n')) plain += msg[i];
      messages.push_back(plain);
    }
    pos = end + 3;
  }
  return messages;
}

std::size_t g_logStart = 0;             // log size when the exchange began
std::vector<std::string> g_requests;    // every request sent since, in order

// Sends a request (CR added) and records it for the log check.
bool Ask(Client& c, const std::string& request) {
  g_requests.push_back(request);
  return c.Send(request + "\r");
}

}  // namespace

class KelmSvr : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Svc("-remove");  // from an earlier, broken run
    logExisted_ = GetFileAttributesA(kLog) != INVALID_FILE_ATTRIBUTES;
  }
  static void TearDownTestSuite() {
    SERVICE_STATUS st;
    if (QueryState(st)) Svc("-remove");
    if (!logExisted_) DeleteFileA(kLog);
  }
  static inline bool logExisted_ = false;
};

TEST_F(KelmSvr, Install) {
  RunResult r = Svc("-install");
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.out, "Virtual Disk Service installed.\n");

  ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ScHandle svc(OpenServiceA(scm.get(), "KelmSvr", SERVICE_QUERY_CONFIG));
  ASSERT_TRUE(svc);
  alignas(8) char buf[8192];
  auto* cfg = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf);
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigA(svc.get(), cfg, sizeof buf, &needed));
  EXPECT_EQ(cfg->dwServiceType, 0x110u);
  EXPECT_EQ(cfg->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(cfg->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_STREQ(cfg->lpBinaryPathName, ServicePath().c_str());
  EXPECT_STREQ(cfg->lpDisplayName, "Virtual Disk Service");
  EXPECT_TRUE(!cfg->lpDependencies || cfg->lpDependencies[0] == '\0');
}

TEST_F(KelmSvr, SwitchForms) {
  RunResult again = Svc("/INSTALL");
  EXPECT_EQ(again.exitCode, 0u);
  EXPECT_EQ(again.out, "CreateService failed - " + ErrorText(ERROR_SERVICE_EXISTS) + "\n");
  EXPECT_NE(again.out.find(" (0x431)\n"), std::string::npos) << again.out;
  for (const char* arg : {"-bogus", "/x", "plain"}) {
    RunResult r = Svc(arg);
    EXPECT_EQ(r.exitCode, 0u) << arg;
    EXPECT_EQ(r.out, "") << arg;  // a plain word runs the dispatcher, which fails here
  }
}

TEST_F(KelmSvr, StartsAndRuns) {
  ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ScHandle svc(OpenServiceA(scm.get(), "KelmSvr", SERVICE_ALL_ACCESS));
  ASSERT_TRUE(svc);
  g_logStart = ReadFileBytes(kLog).size();
  ASSERT_TRUE(StartServiceA(svc.get(), 0, nullptr)) << GetLastError();
  SERVICE_STATUS st{};
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(QueryServiceStatus(svc.get(), &st));
    if (st.dwCurrentState != SERVICE_START_PENDING) break;
    EXPECT_EQ(st.dwControlsAccepted, 0u);
    Sleep(100);
  }
  EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(st.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
  EXPECT_EQ(st.dwCheckPoint, 0u);
  EXPECT_EQ(st.dwWin32ExitCode, 0u);
  // Interrogate: the same state again.
  ControlService(svc.get(), SERVICE_CONTROL_INTERROGATE, &st);
  ASSERT_TRUE(QueryServiceStatus(svc.get(), &st));
  EXPECT_EQ(st.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(KelmSvr, AnswersFromFreshState) {
  Client c;
  ASSERT_TRUE(c.OpenWithin(5000));
  struct Case {
    const char* request;
    std::vector<std::string> answers;
  } cases[] = {
      {"CMD:32774", {"CMD:3:7\r"}},
      {"cmd:32774", {"CMD:3:7\r"}},
      {"CMD::32774", {"CMD:3:7\r"}},
      {"CMX:32774", {}},
      {"CMD:32775", {"CMD:0:8\r"}},
      {"CMD:32776", {"CMD:0:9\r", "CMD:1:9\r", "CMD:2:9\r", "CMD:3:9\r"}},
      {"CMD:32777:4", {}},
      {"CMD:32777:1", {}},  // nothing to mount yet
      {"CMD:34816:1234", {}},  // ignored in RF key mode
      {"CMD:32775", {"CMD:0:8\r"}},
      {"CMD:32770", {}},
      {"CMD:12345", {}},
      {"CMD:32774:0:extra:fields", {"CMD:3:7\r"}},
  };
  // Requests are answered in order: whatever a request would say beyond its
  // answers would come before the answer to the GETSTATE sent after it.
  for (const Case& k : cases) {
    ASSERT_TRUE(Ask(c, k.request)) << k.request;
    ASSERT_TRUE(Ask(c, "CMD:32774")) << k.request;
    for (const std::string& a : k.answers) EXPECT_EQ(c.Read(), a) << k.request;
    EXPECT_EQ(c.Read(), "CMD:3:7\r") << k.request << ": nothing more";
  }
}

TEST_F(KelmSvr, OneClientAtATime) {
  Client first;
  ASSERT_TRUE(first.OpenWithin(5000));
  ASSERT_TRUE(Ask(first, "CMD:32774"));
  EXPECT_EQ(first.Read(), "CMD:3:7\r");
  // A second client process finds the only instance busy.
  RunResult busy = RunProgram("\"" + BinDir() + "\\kelmpipe.exe\" CMD:32774");
  EXPECT_EQ(busy.exitCode, 2u) << busy.out;
  EXPECT_EQ(busy.out, "pipe busy\n");
  Client second;
  EXPECT_EQ(second.Open(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  first.Close();
  // After the first leaves, a new instance takes the next client.
  g_requests.push_back("CMD:32775");
  RunResult after = RunProgram("\"" + BinDir() + "\\kelmpipe.exe\" --wait 5000 CMD:32775");
  EXPECT_EQ(after.exitCode, 0u) << after.out;
  EXPECT_EQ(after.out, "connected\n> CMD:32775\n< CMD:0:8\ndisconnected\n");
}

TEST_F(KelmSvr, OversizedRequestClosesTheInstance) {
  // 999 bytes with the CR: still a request.
  Client c;
  ASSERT_TRUE(c.OpenWithin(5000));
  std::string fits = "CMD:32774:" + std::string(988, '0');
  ASSERT_TRUE(Ask(c, fits));
  EXPECT_EQ(c.Read(), "CMD:3:7\r");
  // 1000 bytes: refused, the instance is closed.
  std::string tooLong = "CMD:32774:" + std::string(989, '0') + "\r";
  ASSERT_TRUE(c.Send(tooLong));
  EXPECT_EQ(c.Read(), "<broken>");
  c.Close();
  Client next;
  ASSERT_TRUE(next.OpenWithin(5000));
  ASSERT_TRUE(Ask(next, "CMD:32774"));
  EXPECT_EQ(next.Read(), "CMD:3:7\r");
  // Far too long for the buffer: the same (the write itself may fail as
  // the service refuses it part-way).
  next.Send("CMD:32774:" + std::string(3000, '1') + "\r");
  EXPECT_EQ(next.Read(), "<broken>");
}

TEST_F(KelmSvr, LogHoldsOneEntryPerRequest) {
  Client c;  // connected: the service has logged all it had to say so far
  ASSERT_TRUE(c.OpenWithin(5000));
  std::string bytes = ReadFileBytes(kLog);
  ASSERT_GE(bytes.size(), g_logStart);
  std::vector<std::string> all = LogMessages(bytes.substr(g_logStart));
  std::vector<std::string> requests;
  int entries = 0, brokenPipe = 0, unknown = 0;
  for (const std::string& m : all) {
    if (m == "ServerProc entry\n") ++entries;
    else if (m == "ServerProc ERROR_BROKEN_PIPE exit\n") ++brokenPipe;
    else if (m == "ServerProc unkown exit\n") ++unknown;
    else requests.push_back(m);
  }
  EXPECT_EQ(requests, g_requests);
  EXPECT_EQ(unknown, 2);  // the two oversized requests
  // Thread start plus one per new instance; this client is on the last one.
  EXPECT_EQ(entries, brokenPipe + unknown + 1);
  EXPECT_EQ(brokenPipe, 3);  // three clients left by closing
  // The very first entry of this service is the pipe thread's start.
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.front(), "ServerProc entry\n");
  // The exact bytes of one request entry.
  std::smatch m;
  static const std::regex one(R"(\d{4}:\d{2}:\d{2} --- \d{2}:\d{2}:\d{2}: CMD::32774\r\r\n)");
  EXPECT_TRUE(std::regex_search(bytes, m, one));
  static const std::regex server(R"(\d{4}:\d{2}:\d{2} --- \d{2}:\d{2}:\d{2}: ServerProc entry\r\n\r\r\n)");
  EXPECT_TRUE(std::regex_search(bytes, m, server));
}

TEST_F(KelmSvr, FullLogIsSetAside) {
  Client c;
  ASSERT_TRUE(c.OpenWithin(5000));
  DeleteFileA(kLogOld);
  std::string full(4u * 1024u * 1024u + 10u, 'x');
  {
    std::ofstream f(kLog, std::ios::binary | std::ios::trunc);
    f << full;
  }
  ASSERT_TRUE(c.Send("CMD:32775\r"));
  EXPECT_EQ(c.Read(), "CMD:0:8\r");
  EXPECT_EQ(ReadFileBytes(kLogOld), full);
  std::vector<std::string> fresh = LogMessages(ReadFileBytes(kLog));
  EXPECT_EQ(fresh, std::vector<std::string>{"CMD:32775"});
  DeleteFileA(kLogOld);
}

TEST_F(KelmSvr, RemoveStopsAndDeletes) {
  Client connected;  // the stop cuts this client's instance
  ASSERT_TRUE(connected.OpenWithin(5000));
  ASSERT_TRUE(connected.Send("CMD:32774\r"));
  EXPECT_EQ(connected.Read(), "CMD:3:7\r");
  RunResult r = Svc("-remove");
  EXPECT_EQ(r.exitCode, 0u);
  static const std::regex expected(
      "Stopping Virtual Disk Service\\.\\.*\nVirtual Disk Service stopped\\.\n"
      "Virtual Disk Service removed\\.\n");
  EXPECT_TRUE(std::regex_match(r.out, expected)) << r.out;
  SERVICE_STATUS st;
  EXPECT_FALSE(QueryState(st));
  EXPECT_EQ(connected.Read(), "<broken>");
  Client c;
  EXPECT_NE(c.Open(), 0u);  // the pipe went with the service
  // The pipe thread writes its last lines while the stop is reported, so
  // the log is given a moment (bounded) to receive them.
  std::vector<std::string> log;
  for (int i = 0; i < 50; ++i) {
    log = LogMessages(ReadFileBytes(kLog));
    if (!log.empty() && log.back() == "ServerProc exit\n") break;
    Sleep(100);
  }
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "ServerProc unkown exit\n");
  EXPECT_EQ(log.back(), "ServerProc exit\n");

  RunResult again = Svc("-remove");
  EXPECT_EQ(again.exitCode, 0u);
  EXPECT_EQ(again.out, "OpenService failed - " + ErrorText(ERROR_SERVICE_DOES_NOT_EXIST) + "\n");
  EXPECT_NE(again.out.find(" (0x424)\n"), std::string::npos) << again.out;
}
