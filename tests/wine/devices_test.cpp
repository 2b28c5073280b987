// The device edge on a machine without the drivers and without a receiver:
// every call fails cleanly and reports "nothing there".
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "common/devices.h"
#include "common/win32/filemon.h"
#include "common/win32/receiver.h"
#include "common/win32/vdisk.h"

using namespace kelm;

namespace {

// A temporary file that is deleted when its handle closes.
win::UniqueHandle OrdinaryFile(char (&path)[MAX_PATH]) {
  char dir[MAX_PATH];
  path[0] = '\0';
  if (!GetTempPathA(sizeof dir, dir) || !GetTempFileNameA(dir, "kdv", 0, path)) return {};
  return win::UniqueHandle(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

}  // namespace

TEST(DevicesEdge, ControlDeviceAbsent) {
  SetLastError(0);
  win::UniqueHandle h = win::OpenControlDevice();
  EXPECT_FALSE(h);
  EXPECT_NE(GetLastError(), 0u);
  EXPECT_FALSE(win::SendRequest(h.get(), dev::kIoctlCloseAll));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(DevicesEdge, Win98DiskAbsent) { EXPECT_FALSE(win::OpenWin98Disk()); }

TEST(DevicesEdge, VolumeOfUnusedLetterAbsent) {
  ASSERT_EQ(GetLogicalDrives() & (1u << ('Y' - 'A')), 0u);
  EXPECT_FALSE(win::OpenVolume('Y'));
}

TEST(DevicesEdge, RequestToOrdinaryFileFails) {
  char path[MAX_PATH];
  win::UniqueHandle f = OrdinaryFile(path);
  ASSERT_TRUE(f);
  DWORD returned = 77;
  const auto rec = dev::CreateLinkRecord('H', 0);
  EXPECT_FALSE(win::SendRequest(f.get(), dev::IOCTL_CREATE_SYM_LINK, rec.data(), 2, nullptr, 0, &returned));
  EXPECT_EQ(returned, 0u);
}

TEST(DevicesEdge, ReceiverAbsent) {
  EXPECT_FALSE(win::ReceiverPresent());
  win::UniqueHandle r = win::OpenReceiver();
  EXPECT_FALSE(r);
  std::uint32_t key = 1234;
  EXPECT_FALSE(win::ReadReceiverKey(r, key));
  EXPECT_EQ(key, 0u);
}

TEST(DevicesEdge, ReceiverReadFailureClosesHandle) {
  // An ordinary file in the receiver's place refuses the read request: the
  // handle is closed and the key is 0.
  char path[MAX_PATH];
  win::UniqueHandle r = OrdinaryFile(path);
  ASSERT_TRUE(r);
  std::uint32_t key = 99;
  EXPECT_FALSE(win::ReadReceiverKey(r, key));
  EXPECT_EQ(key, 0u);
  EXPECT_FALSE(r);
  EXPECT_EQ(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES);  // closed, so deleted
}

TEST(DevicesEdge, FileMonitorAbsent) {
  for (auto which : {win::MonitorDevice::Nt, win::MonitorDevice::Win98}) {
    EXPECT_FALSE(win::OpenFileMonitor(which, win::MonitorFailureBox::None));
    EXPECT_FALSE(win::SendMonitorUser(which, 1234, win::MonitorFailureBox::None));
    EXPECT_FALSE(win::SendMonitorConfiguring(which, true, win::MonitorFailureBox::None));
    EXPECT_FALSE(win::SendMonitorConfiguring(which, false, win::MonitorFailureBox::None));
    EXPECT_FALSE(win::SendMonitorApply(which, win::MonitorFailureBox::None));
  }
}

TEST(DevicesEdge, FileMonitorFailureBoxOnNtOnly) {
  // Watch for the box from a second thread, read its text and close it.
  std::atomic<bool> stop{false};
  std::string seenText;
  std::atomic<int> boxes{0};
  std::thread watcher([&] {
    while (!stop) {
      HWND box = FindWindowA("#32770", "Information");
      if (box != nullptr) {
        char text[256] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        seenText = text;
        ++boxes;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        while (IsWindow(box) && !stop) Sleep(10);
      }
      Sleep(10);
    }
  });
  EXPECT_FALSE(win::OpenFileMonitor(win::MonitorDevice::Nt, win::MonitorFailureBox::Modal));
  EXPECT_FALSE(win::OpenFileMonitor(win::MonitorDevice::Win98, win::MonitorFailureBox::Modal));
  stop = true;
  watcher.join();
  EXPECT_EQ(boxes.load(), 1);
  EXPECT_EQ(seenText, dev::kMonitorOpenFailText);
}
