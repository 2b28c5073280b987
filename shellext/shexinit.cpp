// IShellExtInit: keeps the selection; paths are read from it by each menu
// or page operation.
#include "shellext/kelmsh.h"

STDMETHODIMP CShellExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
  Trace("CShellExt::Initialize()\r\n");
  if (m_pDataObj) {
    m_pDataObj->Release();
    m_pDataObj = nullptr;
  }
  if (data) {
    m_pDataObj = data;
    data->AddRef();
  }
  return NOERROR;
}
