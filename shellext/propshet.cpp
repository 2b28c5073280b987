// IShellPropSheetExt: the "Protection" page of a single item's Properties.
#include <windows.h>
#include <prsht.h>

#include <cstring>
#include <string>

#include "shellext/kelmsh.h"
#include "shellext/resource.h"

STDMETHODIMP CShellExt::AddPages(LPFNADDPROPSHEETPAGE add, LPARAM param) {
  Trace("CShellExt::AddPages()\r\n");
  if (add == nullptr || m_pDataObj == nullptr) return NOERROR;
  FORMATETC fmt = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  if (FAILED(m_pDataObj->GetData(&fmt, &medium))) return NOERROR;
  HDROP drop = static_cast<HDROP>(medium.hGlobal);
  bool one = false;
  if (DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
    const UINT len = DragQueryFileA(drop, 0, nullptr, 0);
    char path[MAX_PATH];
    if (len > 0 && len < sizeof path && DragQueryFileA(drop, 0, path, sizeof path) == len) {
      std::memcpy(m_szPropSheetFileUserClickedOn, path, len + 1);
      one = true;
    }
  }
  ReleaseStgMedium(&medium);
  if (!one) return NOERROR;

  static char title[256];  // the sheet keeps the pointer
  LangText("kelmshtitle", "Protection", title, sizeof title);
  PROPSHEETPAGEA psp{};
  psp.dwSize = sizeof psp;
  psp.dwFlags = PSP_USETITLE | PSP_USEREFPARENT | PSP_USECALLBACK;
  psp.hInstance = g_hmodThisDll;
  psp.pszTemplate = MAKEINTRESOURCEA(IDD_PROTECTION_PAGE);
  psp.pszTitle = title;
  psp.pfnDlgProc = GAKPageDlgProc;
  psp.lParam = reinterpret_cast<LPARAM>(this);
  psp.pfnCallback = GAKPageCallback;
  psp.pcRefParent = reinterpret_cast<UINT*>(const_cast<LONG*>(&g_cRefThisDll));
  AddRef();
  HPROPSHEETPAGE page = CreatePropertySheetPageA(&psp);
  if (page == nullptr) {
    Release();
    return NOERROR;
  }
  if (!add(page, param)) DestroyPropertySheetPage(page);  // its release callback drops the reference
  return NOERROR;
}

STDMETHODIMP CShellExt::ReplacePage(UINT, LPFNADDPROPSHEETPAGE, LPARAM) {
  Trace("CShellExt::ReplacePage()\r\n");
  return E_FAIL;
}

UINT CALLBACK GAKPageCallback(HWND, UINT msg, LPPROPSHEETPAGEA page) {
  if (msg == PSPCB_RELEASE && page != nullptr && page->lParam != 0)
    reinterpret_cast<CShellExt*>(page->lParam)->Release();
  return 1;
}

INT_PTR CALLBACK GAKPageDlgProc(HWND dlg, UINT msg, WPARAM, LPARAM lp) {
  if (msg != WM_INITDIALOG) return FALSE;
  try {
    auto* psp = reinterpret_cast<LPPROPSHEETPAGEA>(lp);
    SetWindowLongPtrA(dlg, DWLP_USER, lp);
    auto* ext = reinterpret_cast<CShellExt*>(psp->lParam);
    char text[256];
    LangText("IDC_FILENAMETEXT", "File Name:", text, sizeof text);
    SetDlgItemTextA(dlg, IDC_LABEL_NAME, text);
    Trace("IDC_FILENAMETEXT=");
    Trace(text);
    Trace("\n");
    LangText("IDC_ONWERTEXT", "Owner:", text, sizeof text);
    SetDlgItemTextA(dlg, IDC_LABEL_OWNER, text);
    LangText("IDC_PROTECTTEXT", "Protect Level:", text, sizeof text);
    SetDlgItemTextA(dlg, IDC_LABEL_LEVEL, text);
    const char* path = ext->m_szPropSheetFileUserClickedOn;
    SetDlgItemTextA(dlg, IDC_PATH, path);
    std::string owner, level;
    const bool found = GetFileOnwer(path, owner, level) != 0;
    if (found) {
      SetDlgItemTextA(dlg, IDC_OWNER, owner.c_str());
      if (level == "1") {
        LangText("Level1", "Full Protection", text, sizeof text);
        SetDlgItemTextA(dlg, IDC_LEVEL, text);
      } else if (level == "2") {
        LangText("Level2", "General Protection", text, sizeof text);
        SetDlgItemTextA(dlg, IDC_LEVEL, text);
      }
    } else {
      SetDlgItemTextA(dlg, IDC_OWNER, "");
      SetDlgItemTextA(dlg, IDC_LEVEL, "");
    }
  } catch (...) {
  }
  return TRUE;
}
