#include "cfg/warningdialog.h"

#include <commctrl.h>

#include "cfg/logic/servicelines.h"
#include "cfg/logic/warning.h"
#include "common/win32/handles.h"
#include "common/win32/language.h"
#include "common/win32/receiver.h"
#include "kelmcfg.h"

namespace kelm::cfg {

namespace {
constexpr UINT_PTR kTickTimer = 1;
constexpr WPARAM kF4 = 115;
}  // namespace

struct WarningDialog::Run {
  std::uint32_t expected = 0;
  WarningCountdown countdown{0};
  win::UniqueHandle receiver;
  WarningFinish finish;
  WarningCanTell canTell;
  bool ended = false;
};

WarningDialog::WarningDialog() = default;

WarningDialog::~WarningDialog() {
  if (window_) DestroyWindow(window_);
}

void WarningDialog::Start(HWND parent, std::uint32_t keyCode, WarningFinish finish, WarningCanTell canTell) {
  if (window_) {
    DestroyWindow(window_);
    window_ = nullptr;
  }
  run_ = std::make_unique<Run>();
  run_->finish = std::move(finish);
  run_->canTell = std::move(canTell);
  char delay[256];
  win::LanguageLookup("m_delayvalue", "30", delay, sizeof delay);
  run_->countdown = WarningCountdown(CountdownSeconds(delay));
  run_->expected = keyCode;

  window_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_WARNING), parent, Proc,
                               reinterpret_cast<LPARAM>(this));
  if (!window_) return;
  char line[256], formatted[256];
  win::LanguageLookup("ShowMsg_msg11", "Because you power off your RF-KEY sender.All", line, sizeof line);
  SetDlgItemTextA(window_, IDC_WARN_LINE1, line);
  win::LanguageLookup("ShowMsg_msg12", "the virtual hard disks mounted will be unmount", line, sizeof line);
  FormatCountdownLine(line, run_->countdown.total(), formatted, sizeof formatted);
  SetDlgItemTextA(window_, IDC_WARN_LINE2, formatted);
  win::LanguageLookup("ShowMsg_msg13", "in 30 seconeds,Please try to save your datas.", line, sizeof line);
  SetDlgItemTextA(window_, IDC_WARN_LINE3, line);
  for (int id : {IDC_WARN_LINE1, IDC_WARN_LINE2, IDC_WARN_LINE3}) UpdateWindow(GetDlgItem(window_, id));
  const HWND bar = GetDlgItem(window_, IDC_WARN_BAR);
  const int total = run_->countdown.total();
  SendMessageA(bar, PBM_SETRANGE32, 0, total > 0 ? total : 0);
  SendMessageA(bar, PBM_SETPOS, 0, 0);
  SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  SetTimer(window_, kTickTimer, 1000, nullptr);
}

void WarningDialog::Tick() {
  if (!run_ || run_->ended) return;
  if (!run_->countdown.Advance()) {
    run_->receiver.reset();
    Finish(kReqKeyTimeout);
    return;
  }
  SendDlgItemMessageA(window_, IDC_WARN_BAR, PBM_SETPOS, static_cast<WPARAM>(run_->countdown.position()), 0);
  if (!run_->receiver) run_->receiver = win::OpenReceiver();
  std::uint32_t code = 0xFFFFFFFFu;
  ReceiverRead read = ReceiverRead::Failed;
  if (run_->receiver && win::ReadReceiverKey(run_->receiver, code))
    read = code == 0xFFFFFFFFu ? ReceiverRead::NoReading : ReceiverRead::Code;
  if (read != ReceiverRead::Code) run_->receiver.reset();
  const WarningEnd end = DecideReading(read, code, run_->expected);
  if (end != WarningEnd::None && run_->canTell && !run_->canTell()) {
    run_->receiver.reset();
    return;
  }
  switch (end) {
    case WarningEnd::KeyBack:
      run_->receiver.reset();
      Finish(kReqKeyBack);
      break;
    case WarningEnd::KeyTimeout:
      Finish(kReqKeyTimeout);
      break;
    case WarningEnd::None:
      break;
  }
}

void WarningDialog::Finish(std::uint32_t request) {
  run_->ended = true;
  KillTimer(window_, kTickTimer);
  // The window ends first: the request may wait on the service.
  ShowWindow(window_, SW_HIDE);
  if (run_->finish) run_->finish(request);
}

INT_PTR CALLBACK WarningDialog::Proc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<WarningDialog*>(GetWindowLongPtrA(dlg, DWLP_USER));
  // Neither Escape, Enter nor Alt+F4 closes the warning.
  if (wp == kF4 && msg != WM_INITDIALOG) return TRUE;
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dlg, DWLP_USER, lp);
      SendDlgItemMessageA(dlg, IDC_WARN_ICON, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_WARNING)), 0);
      return FALSE;
    case WM_KEYDOWN:
    case WM_KEYUP:
      if (wp == VK_ESCAPE || wp == VK_RETURN) return TRUE;
      break;
    case WM_COMMAND:
      // IDOK and IDCANCEL (Enter, Escape, WM_CLOSE) never end it.
      return TRUE;
    case WM_CLOSE:
      return TRUE;
    case WM_TIMER:
      if (self && wp == kTickTimer) self->Tick();
      return TRUE;
    default:
      break;
  }
  return FALSE;
}

}  // namespace kelm::cfg
