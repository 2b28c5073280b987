#include "cfg/servicelink.h"

#include <memory>

namespace kelm::cfg {

namespace {

constexpr char kPipeName[] = "\\\\.\\PIPE\\kelmpip";

struct ReaderContext {
  HWND window;
  HANDLE pipe;  // owned by the link, which closes it only after the reader ended
  HANDLE stop;
  unsigned connection;
};

DWORD WINAPI ReaderMain(LPVOID param) {
  std::unique_ptr<ReaderContext> ctx(static_cast<ReaderContext*>(param));
  win::UniqueHandle readEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  LineCollector lines;
  while (readEvent) {
    OVERLAPPED ov{};
    ov.hEvent = readEvent.get();
    char buf[256];
    DWORD got = 0;
    if (!ReadFile(ctx->pipe, buf, sizeof buf, &got, &ov)) {
      if (GetLastError() != ERROR_IO_PENDING) break;
      const HANDLE waits[2] = {readEvent.get(), ctx->stop};
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIo(ctx->pipe);
        GetOverlappedResult(ctx->pipe, &ov, &got, TRUE);
        break;
      }
      if (!GetOverlappedResult(ctx->pipe, &ov, &got, FALSE)) break;
    }
    for (DWORD i = 0; i < got; ++i) {
      if (!lines.Add(buf[i])) continue;
      if (const auto n = ParseNotification(lines.line()))
        SendMessageA(ctx->window, kMsgServiceNotify, n->kind, static_cast<LPARAM>(n->value));
    }
    if (WaitForSingleObject(ctx->stop, 0) == WAIT_OBJECT_0) break;
  }
  SendMessageA(ctx->window, kMsgReaderEnded, ctx->connection, 0);
  return 0;
}

}  // namespace

ServiceLink::ServiceLink(HWND window, std::function<void()> onBroken)
    : window_(window), onBroken_(std::move(onBroken)) {}

ServiceLink::~ServiceLink() {
  // The process is ending: the reader may be inside SendMessageA to a
  // window that is gone, so it is told to stop and not waited for.
  if (stop_) SetEvent(stop_.get());
  (void)reader_.release();
  (void)pipe_.release();
}

bool ServiceLink::Connect() {
  if (reader_) return false;  // the last connection's reader is still ending
  win::UniqueHandle pipe(CreateFileA(kPipeName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!pipe) return false;
  win::UniqueHandle writeEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  win::UniqueHandle stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!writeEvent || !stop) return false;
  auto ctx = std::make_unique<ReaderContext>(ReaderContext{window_, pipe.get(), stop.get(), connection_ + 1});
  win::UniqueHandle reader(CreateThread(nullptr, 0, ReaderMain, ctx.get(), 0, nullptr));
  if (!reader) return false;
  (void)ctx.release();
  ++connection_;
  pipe_ = std::move(pipe);
  writeEvent_ = std::move(writeEvent);
  stop_ = std::move(stop);
  reader_ = std::move(reader);
  write_ = OVERLAPPED{};
  write_.hEvent = writeEvent_.get();
  connected_ = true;
  return true;
}

bool ServiceLink::Send(const RequestLine& line) {
  if (!connected_ || line.length == 0) return false;
  DWORD written = 0;
  if (WriteFile(pipe_.get(), line.text, static_cast<DWORD>(line.length), &written, &write_)) return true;
  if (GetLastError() != ERROR_IO_PENDING) return false;
  if (WaitForSingleObject(write_.hEvent, writeWaitMs_) == WAIT_OBJECT_0) return true;
  // The service does not take the request: stop waiting, or every program
  // that sends this window a message would hang with it.
  CancelIo(pipe_.get());
  GetOverlappedResult(pipe_.get(), &write_, &written, TRUE);
  Abandon();
  return false;
}

void ServiceLink::Abandon() {
  if (!connected_) return;
  connected_ = false;
  SetEvent(stop_.get());
  if (onBroken_) onBroken_();
}

void ServiceLink::ReaderEnded(WPARAM connection) {
  if (connection != connection_ || !reader_) return;
  // The reader sent this as its last act and touches nothing afterwards.
  Abandon();
  reader_.reset();
  pipe_.reset();
  stop_.reset();
  writeEvent_.reset();
}

}  // namespace kelm::cfg
