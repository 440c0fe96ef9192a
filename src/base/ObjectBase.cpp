#include "ObjectBase.h"

#include "Assert.h"

#include <cxxabi.h>
#include <cstdlib>
#include <typeinfo>

namespace kiv {

std::string TObj::ClassName() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = (status == 0 && demangled) ? demangled : mangled;
  std::free(demangled);
  auto colon = name.rfind("::");
  if (colon != std::string::npos) name.erase(0, colon + 2);
  return name;
}

void TObj::Free(TObj* obj) {
  if (!obj) return;
  obj->BeforeDestruction();
  std::string failedClass;
  try {
    obj->Dispose();
  } catch (...) {
    failedClass = obj->ClassName();
  }
  delete obj;
  if (!failedClass.empty())
    RaiseAssertion("Unhandled Exception at \"" + failedClass + "\" Disposing", __FILE__, __LINE__);
}

void TObjDeleter::operator()(TObj* obj) const noexcept {
  try {
    TObj::Free(obj);
  } catch (...) {
    // Already reported through the assertion sink.
  }
}

namespace {
std::string NonZeroRefText(const std::string& className) {
  return "Disposing the Non Zerro Ref Object, possible the \"" + className + "\" was disposed directly";
}
} // namespace

void TRefObj::BeforeDestruction() {
  if (count_.load(std::memory_order_acquire) > 0)
    RaiseAssertion(NonZeroRefText(ClassName()), __FILE__, __LINE__);
}

TRefObj::~TRefObj() {
  // Only objects that bypassed Free (plain delete, automatic storage) get here with a count; the real class
  // is gone by now, and destructors cannot raise: report and go on.
  if (count_.load() > 0) ReportAssertion(NonZeroRefText(ClassName()), __FILE__, __LINE__);
}

void TRefObj::CheckConstructed() const {
  if (count_.load(std::memory_order_acquire) == 0)
    RaiseAssertion("Incorrect RefObject: \"" + ClassName() + "\"", __FILE__, __LINE__);
}

int TRefObj::_Release() {
  int left = count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) Free(this);
  return left;
}

void TRefObj::ReleaseQuietly(TRefObj* obj) noexcept {
  try {
    obj->_Release();
  } catch (...) {
    // Reported through the assertion sink by Free.
  }
}

void TRefObj::AddRef(TRefObj* obj) {
  if (!obj) RaiseAssertion("(nil)._AddRef call", __FILE__, __LINE__);
  obj->_AddRef();
}

void TRefObj::Release(TRefObj* obj) {
  if (!obj) RaiseAssertion("(nil)._Release call", __FILE__, __LINE__);
  obj->_Release();
}

} // namespace kiv
