// IExtractIconA and IPersistFile: the fixed answers of an icon handler that
// the installation never registers.
#include "shellext/kelmsh.h"

STDMETHODIMP CShellExt::GetIconLocation(UINT, LPSTR file, UINT cch, int* index, UINT*) {
  Trace("CShellExt::GetIconLocation()\r\n");
  if (file != nullptr && cch > 0) {
    const DWORD n = GetModuleFileNameA(g_hmodThisDll, file, cch);
    if (n >= cch) file[cch - 1] = '\0';  // cut, still terminated
  }
  if (index != nullptr)
    *index = m_szFileUserClickedOn[0] ? static_cast<int>(GetPrivateProfileIntA("IconImage", "Index", 0, m_szFileUserClickedOn))
                                      : 0;
  return NOERROR;
}

STDMETHODIMP CShellExt::Extract(LPCSTR, UINT, HICON*, HICON*, UINT) {
  Trace("CShellExt::Extract()\r\n");
  return S_FALSE;
}

STDMETHODIMP CShellExt::GetClassID(CLSID*) {
  Trace("CShellExt::GetClassID()\r\n");
  return E_FAIL;
}
STDMETHODIMP CShellExt::IsDirty() {
  Trace("CShellExt::IsDirty()\r\n");
  return S_FALSE;
}
STDMETHODIMP CShellExt::Load(LPCOLESTR file, DWORD) {
  Trace("CShellExt::Load()\r\n");
  m_szFileUserClickedOn[0] = '\0';
  if (file != nullptr &&
      WideCharToMultiByte(CP_ACP, 0, file, -1, m_szFileUserClickedOn, sizeof m_szFileUserClickedOn, nullptr, nullptr) == 0)
    m_szFileUserClickedOn[0] = '\0';  // too long: nothing rather than a cut name
  m_szFileUserClickedOn[sizeof m_szFileUserClickedOn - 1] = '\0';
  return NOERROR;
}
STDMETHODIMP CShellExt::Save(LPCOLESTR, BOOL) {
  Trace("CShellExt::Save()\r\n");
  return E_FAIL;
}
STDMETHODIMP CShellExt::SaveCompleted(LPCOLESTR) {
  Trace("CShellExt::SaveCompleted()\r\n");
  return E_FAIL;
}
STDMETHODIMP CShellExt::GetCurFile(LPOLESTR*) {
  Trace("CShellExt::GetCurFile()\r\n");
  return E_FAIL;
}
