#include "VoRav/SysObj2.h"

#include <cxxabi.h>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace kav {

std::string DemangledClassName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                              std::free);
  std::string s = (status == 0 && name) ? name.get() : type.name();
  // Drop namespaces but keep template arguments intact.
  size_t angle = s.find('<');
  size_t cut = s.rfind("::", angle == std::string::npos ? std::string::npos : angle);
  if (cut != std::string::npos) s.erase(0, cut + 2);
  return s;
}

TRefObject::TRefObject() noexcept : ref_count_(1), flags_(kCreated | kConstructed) {}

TRefObject::~TRefObject() = default;

void TRefObject::Dispose() { flags_ |= kDisposed; }

void TRefObject::FreeInstance() { delete this; }

std::string TRefObject::ClassName() const { return DemangledClassName(typeid(*this)); }

void TRefObject::Free() { RefRelease(this); }

int32_t RefAddRef(TRefObject* obj) noexcept {
  if (!obj) return 0;
  return obj->ref_count_.fetch_add(1, std::memory_order_relaxed) + 1;
}

bool RefTryAddRef(TRefObject* obj) noexcept {
  if (!obj) return false;
  int32_t count = obj->ref_count_.load(std::memory_order_relaxed);
  while (count > 0)
    if (obj->ref_count_.compare_exchange_weak(count, count + 1, std::memory_order_relaxed)) return true;
  return false;
}

int32_t RefRelease(TRefObject* obj) {
  if (!obj) return 0;
  int32_t left = obj->ref_count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left > 0) return left;
  if (left < 0 && (obj->flags_ & TRefObject::kConstructed))
    KAV_ASSERT_FAIL("Dupliacte free or _release at " + obj->ClassName());
  obj->Destroy();
  return 0;
}

void TRefObject::Destroy() {
  // The checks below report by raising; the memory is released first so that
  // a faulty descendant does not also leak.
  std::string failure;
  try {
    Dispose();
  } catch (...) {
    failure = "Unhandled Exception at \"" + ClassName() + "\" Disposing";
  }
  if (failure.empty() && !(flags_ & kDisposed))
    failure = "Error: inherited " + ClassName() + ".Dispose not called!";
  FreeInstance();
  if (!failure.empty()) KAV_ASSERT_FAIL(failure);
}

}  // namespace kav
