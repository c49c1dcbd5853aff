#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/vxDelegate.h"

using namespace kav;

namespace {

int g_disposed = 0;

class TCounted : public TRefObject {
 protected:
  void Dispose() override { ++g_disposed; TRefObject::Dispose(); }
};

class TForgetful : public TRefObject {
 protected:
  void Dispose() override {}  // does not call the inherited Dispose
};

class TThrowing : public TRefObject {
 protected:
  void Dispose() override { TRefObject::Dispose(); throw std::runtime_error("boom"); }
};

std::vector<std::string> g_debug;
void CaptureDebug(std::string_view s) { g_debug.emplace_back(s); }

}  // namespace

TEST(RefObject, CountsReferencesAndDisposesOnce) {
  g_disposed = 0;
  EXPECT_EQ(RefAddRef(nullptr), 0);
  EXPECT_EQ(RefRelease(nullptr), 0);
  auto* o = new TCounted;
  EXPECT_EQ(o->RefCount(), 1);
  EXPECT_EQ(RefAddRef(o), 2);
  EXPECT_EQ(RefAddRef(o), 3);
  o->Free();
  EXPECT_EQ(RefRelease(o), 1);
  EXPECT_EQ(g_disposed, 0);
  o->Free();
  EXPECT_EQ(g_disposed, 1);
}

TEST(RefObject, SmartPointerSharesAndReleases) {
  g_disposed = 0;
  {
    Ref<TCounted> a = MakeRef<TCounted>();
    Ref<TCounted> b = a;
    EXPECT_EQ(a->RefCount(), 2);
    Ref<TRefObject> base = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_EQ(a->RefCount(), 2);
    EXPECT_EQ(a->ClassName(), "TCounted");
  }
  EXPECT_EQ(g_disposed, 1);
}

TEST(RefObject, ReportsMissingInheritedDispose) {
  g_debug.clear();
  auto old = SetDebugOutputSink(CaptureDebug);
  auto* o = new TForgetful;
  try {
    o->Free();
    FAIL() << "expected EAbort";
  } catch (const EAbort& e) {
    EXPECT_NE(std::string(e.Message()).find("Error: inherited TForgetful.Dispose not called!"), std::string::npos);
  }
  SetDebugOutputSink(old);
  ASSERT_EQ(g_debug.size(), 1u);
  EXPECT_EQ(g_debug[0].rfind("Asseertion with message: 'Error: inherited TForgetful", 0), 0u);
}

TEST(RefObject, ExceptionInDisposeBecomesAssertion) {
  auto old = SetDebugOutputSink(CaptureDebug);
  auto* o = new TThrowing;
  try {
    o->Free();
    FAIL() << "expected EAbort";
  } catch (const EAbort& e) {
    EXPECT_NE(e.Message().find("Unhandled Exception at \"TThrowing\" Disposing"), std::string::npos);
  }
  SetDebugOutputSink(old);
}

namespace {
struct TTarget {
  int last = 0;
  void Set(int v) { last = v; }
  void Other(int v) { last = -v; }
};
int g_free_called = 0;
void FreeHandler(int v) { g_free_called = v; }
}  // namespace

TEST(Delegate, BindsCallsAndCompares) {
  TTarget t1, t2;
  using D = TDelegate<void(int)>;
  D none;
  EXPECT_FALSE(none);
  D a = D::Bind<&TTarget::Set>(&t1);
  D a2 = D::Bind<&TTarget::Set>(&t1);
  D b = D::Bind<&TTarget::Set>(&t2);
  D c = D::Bind<&TTarget::Other>(&t1);
  EXPECT_TRUE(a == a2);
  EXPECT_FALSE(a == b);
  EXPECT_FALSE(a == c);
  a(5);
  c(3);
  EXPECT_EQ(t1.last, -3);
  D f = D::Bind<&FreeHandler>();
  f(9);
  EXPECT_EQ(g_free_called, 9);
}
