// WarningDialog: the key-loss warning with its countdown bar. It cannot be
// closed by the user; it ends with KEYBACK when the missing key is heard
// again, or with KEYTIMEOUT.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace kelm::cfg {

// Sends the request that ends a warning (KEYBACK or KEYTIMEOUT).
using WarningFinish = std::function<void(std::uint32_t request)>;
// Whether the key's return (or a failed reading) can be told now; when it
// cannot, the warning goes on to its time-out.
using WarningCanTell = std::function<bool()>;

class WarningDialog {
 public:
  WarningDialog();
  ~WarningDialog();
  WarningDialog(const WarningDialog&) = delete;
  WarningDialog& operator=(const WarningDialog&) = delete;

  // Replaces any running warning (nothing is sent for it) with a new one
  // for the key code over parent.
  void Start(HWND parent, std::uint32_t keyCode, WarningFinish finish, WarningCanTell canTell);

 private:
  static INT_PTR CALLBACK Proc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);
  void Tick();
  void Finish(std::uint32_t request);

  struct Run;
  std::unique_ptr<Run> run_;
  HWND window_ = nullptr;
};

}  // namespace kelm::cfg
