// kelmsh: the in-process shell extension (context menu, protection of
// items, property page, copy to a virtual disk).
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

#include "shellext/logic/chain.h"

// {5e2a7c41-93d0-4b6e-8f17-2c9ab04d6e53}
inline constexpr CLSID CLSID_ShellExtension = {
    0x5e2a7c41, 0x93d0, 0x4b6e, {0x8f, 0x17, 0x2c, 0x9a, 0xb0, 0x4d, 0x6e, 0x53}};

inline constexpr int kDriverMapSize = 10;

// Library-wide state (one per process).
extern HINSTANCE g_hmodThisDll;
extern volatile LONG g_cRefThisDll;
extern HBITMAP m_hbim1, m_hbim2;
extern HMENU g_hCopyMenu;
extern HWND hDlgListHw, hDlgCopyHw;

void Trace(const char* text);
void Tracef(const char* format, ...);
void LangText(const char* key, const char* builtin, char* dst, std::size_t cap);
bool IsWin98();

// The ProtectionChain and its lock: every use of the chain holds it, and
// nothing that waits on another window or on the user runs under it.
class ChainLock {
 public:
  ChainLock();
  ~ChainLock();
  ChainLock(const ChainLock&) = delete;
  ChainLock& operator=(const ChainLock&) = delete;
};
kelm::shx::ProtectionChain& Chain();  // only under a ChainLock
void ChainLockInit();
void ChainLockDelete();

// Store operations (ctxmenu.cpp).
int GetRawConfig();
int CanProtect(const char* userId);
int ProtectFile(unsigned level, const char* userId, const char* path, const char* bareName);
int ReSaveProtectFile(const char* userId);
int NoticeKelmMonReadCfg();
void DispAllChain();
void FreeAllChain();
// The chain's operations, each under the chain's lock.
int AddToChain(const char* user, const char* level, const char* path);
void DeleteFromChain(const char* user, const char* path);
void CheckLockStatus(const char* current, const char* path, bool& byOther, bool& byMe);
int GetFileOnwer(const char* path, std::string& owner, std::string& level);
LONG GetRegistryValue(HKEY key, const char* name, char* buffer, DWORD length);
DWORD GetMountedDev();
// The present user as "%u" of WIN.INI "kelmkey" / "keyid" ("0": none).
void GetKeyToReg(char (&user)[16]);

class CShellExtClassFactory : public IClassFactory {
 public:
  CShellExtClassFactory();
  virtual ~CShellExtClassFactory();
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  STDMETHODIMP LockServer(BOOL) override;

 private:
  volatile LONG m_cRef = 0;
};

class CShellExt : public IContextMenu,
                  public IShellExtInit,
                  public IExtractIconA,
                  public IPersistFile,
                  public IShellPropSheetExt {
 public:
  CShellExt();
  virtual ~CShellExt();

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IContextMenu
  STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last, UINT flags) override;
  STDMETHODIMP InvokeCommand(LPCMINVOKECOMMANDINFO info) override;
  STDMETHODIMP GetCommandString(UINT_PTR id, UINT flags, UINT* reserved, LPSTR name, UINT cch) override;
  // IShellExtInit
  STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY key) override;
  // IExtractIconA
  STDMETHODIMP GetIconLocation(UINT flags, LPSTR file, UINT cch, int* index, UINT* outFlags) override;
  STDMETHODIMP Extract(LPCSTR file, UINT index, HICON* large, HICON* small, UINT size) override;
  // IPersistFile
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(LPCOLESTR file, DWORD mode) override;
  STDMETHODIMP Save(LPCOLESTR file, BOOL remember) override;
  STDMETHODIMP SaveCompleted(LPCOLESTR file) override;
  STDMETHODIMP GetCurFile(LPOLESTR* file) override;
  // IShellPropSheetExt
  STDMETHODIMP AddPages(LPFNADDPROPSHEETPAGE add, LPARAM param) override;
  STDMETHODIMP ReplacePage(UINT id, LPFNADDPROPSHEETPAGE replace, LPARAM param) override;

  char m_szPropSheetFileUserClickedOn[MAX_PATH] = {};

 private:
  enum class Take { Taken, Nothing };
  // Reads the one selected item into m_szPropSheetFileUserClickedOn.
  Take TakeItem(bool forPage);
  void DoGAKMenu(unsigned level, HWND owner);
  void DoGAKMenu3(HWND owner);
  void DoGAKMenu4(HWND owner);
  void DoCopyCommand(unsigned offset, HWND owner);

  volatile LONG m_cRef = 0;
  IDataObject* m_pDataObj = nullptr;
  char m_szFileUserClickedOn[MAX_PATH] = {};
  // Drive letter of each copy entry by command offset; kept per object so
  // that a menu built on another thread cannot change what this one runs.
  char DriverMap[kDriverMapSize] = {};
};

// Copy to a virtual disk (copy.cpp inside ctxmenu.cpp).
void MyCopyFileWithDlg(const char* from, const char* to, HWND owner);
// Dialog procedures (ctxmenu.cpp, propshet.cpp).
INT_PTR CALLBACK ProtectListDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);
INT_PTR CALLBACK CopyDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);
UINT CALLBACK GAKPageCallback(HWND hwnd, UINT msg, LPPROPSHEETPAGEA page);
INT_PTR CALLBACK GAKPageDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);
