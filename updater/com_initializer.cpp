#include "updater/com_initializer.h"

#include <objbase.h>
#include <windows.h>

#include "base/exception16.h"

ComInitializer::ComInitializer() {
  const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(result)) {
    throw Exception16(L"CoInitialize");
  }
}

ComInitializer::~ComInitializer() { CoUninitialize(); }
