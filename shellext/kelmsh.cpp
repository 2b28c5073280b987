// Library entry, exports, class factory and the CShellExt object.
#include "shellext/kelmsh.h"

#include <shlguid.h>

#include <cstdarg>
#include <cstdio>
#include <new>

#include "common/win32/language.h"
#include "shellext/resource.h"

HINSTANCE g_hmodThisDll = nullptr;
volatile LONG g_cRefThisDll = 0;
HBITMAP m_hbim1 = nullptr, m_hbim2 = nullptr;
HMENU g_hCopyMenu = nullptr;

namespace {
CRITICAL_SECTION g_chainSection;
kelm::shx::ProtectionChain* g_chain = nullptr;
// IShellCopyHookA, only traced: the object offers no copy hook.
const IID kIidCopyHookA = {0x000214EF, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
}  // namespace

void Trace(const char* text) { OutputDebugStringA(text); }

void Tracef(const char* format, ...) {
  char line[1024];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  OutputDebugStringA(line);
}

void LangText(const char* key, const char* builtin, char* dst, std::size_t cap) {
  kelm::win::LanguageLookup(key, builtin, dst, cap);
}

bool IsWin98() {
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  return GetVersionExA(&v) && v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

void ChainLockInit() {
  InitializeCriticalSection(&g_chainSection);
  g_chain = new (std::nothrow) kelm::shx::ProtectionChain();
}
void ChainLockDelete() {
  delete g_chain;
  g_chain = nullptr;
  DeleteCriticalSection(&g_chainSection);
}
ChainLock::ChainLock() { EnterCriticalSection(&g_chainSection); }
ChainLock::~ChainLock() { LeaveCriticalSection(&g_chainSection); }
kelm::shx::ProtectionChain& Chain() {
  // Without memory at load the chain stays empty: an object on the stack
  // would be shared unlocked, so fall back to an always-empty one.
  static kelm::shx::ProtectionChain empty;
  if (g_chain == nullptr) {
    empty.Clear();
    return empty;
  }
  return *g_chain;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    Trace("In DLLMain, DLL_PROCESS_ATTACH\r\n");
    g_hmodThisDll = instance;
    DisableThreadLibraryCalls(instance);
    kelm::win::LanguageInit(kelm::win::LanguageFileKind::SystemKelm);
    m_hbim1 = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_UNCHECKED));
    m_hbim2 = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_CHECKED));
    ChainLockInit();
    try {
      GetRawConfig();
    } catch (...) {
      // Out of memory while loading: the chain keeps what it had room for.
    }
    DispAllChain();
    g_hCopyMenu = CreateMenu();
  } else if (reason == DLL_PROCESS_DETACH) {
    Trace("In DLLMain, DLL_PROCESS_DETACH\r\n");
    if (m_hbim1) DeleteObject(m_hbim1);
    if (m_hbim2) DeleteObject(m_hbim2);
    FreeAllChain();
    if (g_hCopyMenu) DestroyMenu(g_hCopyMenu);
    ChainLockDelete();
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  Trace("In DLLCanUnloadNow\r\n");
  if (hDlgCopyHw != nullptr && IsWindow(hDlgCopyHw) && IsWindowVisible(hDlgCopyHw)) {
    Trace("hDlgCopyHw!=NULL is visible\n");
    return S_FALSE;
  }
  if (hDlgListHw != nullptr && IsWindow(hDlgListHw) && IsWindowVisible(hDlgListHw)) {
    Trace("hDlgListHw!=NULL is visible\n");
    return S_FALSE;
  }
  return g_cRefThisDll == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  Trace("In DllGetClassObject\r\n");
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_ShellExtension)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* f = new (std::nothrow) CShellExtClassFactory();
  if (f == nullptr) return E_OUTOFMEMORY;
  f->AddRef();
  const HRESULT hr = f->QueryInterface(riid, ppv);
  f->Release();  // an unknown interface leaves nothing behind
  return hr;
}

CShellExtClassFactory::CShellExtClassFactory() {
  Trace("CShellExtClassFactory::CShellExtClassFactory()\r\n");
  InterlockedIncrement(&g_cRefThisDll);
}
CShellExtClassFactory::~CShellExtClassFactory() { InterlockedDecrement(&g_cRefThisDll); }

STDMETHODIMP CShellExtClassFactory::QueryInterface(REFIID riid, void** ppv) {
  Trace("CShellExtClassFactory::QueryInterface()\r\n");
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return NOERROR;
  }
  return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) CShellExtClassFactory::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
STDMETHODIMP_(ULONG) CShellExtClassFactory::Release() {
  const LONG n = InterlockedDecrement(&m_cRef);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

STDMETHODIMP CShellExtClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  Trace("CShellExtClassFactory::CreateInstance()\r\n");
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  auto* o = new (std::nothrow) CShellExt();
  if (o == nullptr) return E_OUTOFMEMORY;
  o->AddRef();
  const HRESULT hr = o->QueryInterface(riid, ppv);
  o->Release();
  return hr;
}
STDMETHODIMP CShellExtClassFactory::LockServer(BOOL) { return NOERROR; }

CShellExt::CShellExt() {
  InterlockedIncrement(&g_cRefThisDll);
  Trace("CShellExt::CShellExt()\r\n");
}
CShellExt::~CShellExt() {
  if (m_pDataObj) m_pDataObj->Release();
  InterlockedDecrement(&g_cRefThisDll);
}

STDMETHODIMP CShellExt::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IShellExtInit) || IsEqualIID(riid, IID_IUnknown)) {
    Trace("CShellExt::QueryInterface()==>IID_IShellExtInit\r\n");
    *ppv = static_cast<IShellExtInit*>(this);
  } else if (IsEqualIID(riid, IID_IContextMenu)) {
    Trace("CShellExt::QueryInterface()==>IID_IContextMenu\r\n");
    *ppv = static_cast<IContextMenu*>(this);
  } else if (IsEqualIID(riid, IID_IExtractIconA)) {
    Trace("CShellExt::QueryInterface()==>IID_IExtractIcon\r\n");
    *ppv = static_cast<IExtractIconA*>(this);
  } else if (IsEqualIID(riid, IID_IPersistFile)) {
    Trace("CShellExt::QueryInterface()==>IPersistFile\r\n");
    *ppv = static_cast<IPersistFile*>(this);
  } else if (IsEqualIID(riid, IID_IShellPropSheetExt)) {
    Trace("CShellExt::QueryInterface()==>IShellPropSheetExt\r\n");
    *ppv = static_cast<IShellPropSheetExt*>(this);
  } else if (IsEqualIID(riid, kIidCopyHookA)) {
    // No copy-hook operation to offer; the installation never registers one.
    Trace("CShellExt::QueryInterface()==>ICopyHook\r\n");
    return E_NOINTERFACE;
  } else {
    Trace("CShellExt::QueryInterface()==>Unknown Interface!\r\n");
    return E_NOINTERFACE;
  }
  AddRef();
  return NOERROR;
}

STDMETHODIMP_(ULONG) CShellExt::AddRef() {
  Trace("CShellExt::AddRef()\r\n");
  return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CShellExt::Release() {
  Trace("CShellExt::Release()\r\n");
  const LONG n = InterlockedDecrement(&m_cRef);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}
