#include <gtest/gtest.h>

#include "VoRav/Application2/winHooks.h"
#include "tests/platform/window/WinTestUtil.h"

using namespace kav;
using namespace kav::win;

namespace {

struct THooks {
  TPrivateHookManager* m = nullptr;
  std::vector<std::string> log;
  const void* key = nullptr;
  uint32_t ids[1] = {5121};
  bool set_handled = false;
  void A(HWND, TMessageRecord& r, bool& handled) { log.push_back("A" + std::to_string(r.Msg)); handled |= set_handled; }
  void B(HWND, TMessageRecord& r, bool&) { log.push_back("B" + std::to_string(r.Msg)); }
  void RemovesSelfAndNext(HWND, TMessageRecord&, bool&) {
    log.push_back("R");
    m->RemoveWindowHook(key, TMessageHookHandler::Bind<&THooks::RemovesSelfAndNext>(this));
    m->RemoveWindowHook(key, TMessageHookHandler::Bind<&THooks::B>(this));
  }
  void Post(HWND, TMessageRecord& r) { log.push_back("P" + std::to_string(r.Msg)); }
  void Key(WPARAM, LPARAM l, bool& swallow) {
    log.push_back("K" + std::to_string(reinterpret_cast<TKbdLLHookStruct*>(l)->vk_code));
    swallow = true;
  }
  TMessageHookHandler HA() { return TMessageHookHandler::Bind<&THooks::A>(this); }
  TMessageHookHandler HB() { return TMessageHookHandler::Bind<&THooks::B>(this); }
};

class HooksTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    manager = MakeRef<TPrivateHookManager>();
    hooks.m = manager.get();
    hooks.key = &key_object;
  }
  Ref<TPrivateHookManager> manager;
  THooks hooks;
  int key_object = 0;
};

}  // namespace

TEST_F(HooksTest, MessageIdsCountFrom5121AndNamesKeepTheirIds) {
  EXPECT_EQ(manager->AllocateMessageId(), 5121u);
  EXPECT_EQ(manager->AllocateMessageId(), 5122u);
  uint32_t named = manager->MessageIdByName(u"x");
  EXPECT_EQ(named, 5123u);
  EXPECT_EQ(manager->MessageIdByName(u"x"), named);
  EXPECT_EQ(ApplicationEventMessage(), 5121u);
  EXPECT_EQ(FormFreeMessage(), 5122u);
}

TEST_F(HooksTest, MessageHooksSharingAChainAreToldApartByIdAndKey) {
  const uint32_t a[] = {5121}, b[] = {5377};  // both in chain 1
  manager->AddMessageHook(hooks.key, a, hooks.HA());
  manager->AddMessageHook(hooks.key, b, hooks.HB());
  manager->AddMessageHook(&hooks, a, hooks.HB());  // another key
  TMessageRecord r{5377, 0, 0, 0};
  bool handled = false;
  manager->CallHooks(hooks.key, 1, r, handled);
  r.Msg = 5121;
  manager->CallHooks(hooks.key, 1, r, handled);
  EXPECT_EQ(hooks.log, (std::vector<std::string>{"B5377", "A5121"}));
  manager->RemoveMessageHook(hooks.key, a, hooks.HA());
  EXPECT_THROW(manager->RemoveMessageHook(hooks.key, a, hooks.HA()), EAbort);  // "UnHook error"
  EXPECT_THROW(manager->RemoveWindowHook(hooks.key, hooks.HA()), EAbort);
  EXPECT_THROW(manager->RemovePostHook(hooks.key, TPostHookHandler::Bind<&THooks::Post>(&hooks)), EAbort);
}

TEST_F(HooksTest, WindowHooksRunNewestFirstAndAllRunAfterHandled) {
  manager->AddWindowHook(hooks.key, hooks.HA());
  manager->AddWindowHook(hooks.key, hooks.HB());
  hooks.set_handled = true;
  TMessageRecord r{7, 0, 0, 0};
  bool handled = false;
  manager->CallHooks(hooks.key, 1, r, handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(hooks.log, (std::vector<std::string>{"B7", "A7"}));
  manager->AddPostHook(hooks.key, TPostHookHandler::Bind<&THooks::Post>(&hooks));
  manager->CallPostHooks(hooks.key, 1, r);
  manager->CallPostHooks(&hooks, 1, r);  // another key: nothing
  EXPECT_EQ(hooks.log.back(), "P7");
  EXPECT_EQ(hooks.log.size(), 3u);
}

TEST_F(HooksTest, AHookRemovingItselfAndItsSuccessorDuringTheWalk) {
  manager->AddWindowHook(hooks.key, hooks.HA());
  manager->AddWindowHook(hooks.key, hooks.HB());
  manager->AddWindowHook(hooks.key, TMessageHookHandler::Bind<&THooks::RemovesSelfAndNext>(&hooks));
  TMessageRecord r{9, 0, 0, 0};
  bool handled = false;
  manager->CallHooks(hooks.key, 1, r, handled);
  EXPECT_EQ(hooks.log, (std::vector<std::string>{"R", "A9"}));  // B was removed before its turn
  hooks.log.clear();
  manager->CallHooks(hooks.key, 1, r, handled);
  EXPECT_EQ(hooks.log, (std::vector<std::string>{"A9"}));
}

TEST_F(HooksTest, KeyboardHookInstalledWithTheFirstListenerAndRemovedWithTheLast) {
  MakeTop();
  Drain();
  auto key = TKeyboardHookHandler::Bind<&THooks::Key>(&hooks);
  EXPECT_FALSE(manager->KeyboardHookInstalled());
  manager->AddKeyboardHook(key);
  manager->AddKeyboardHook(key);
  EXPECT_TRUE(manager->KeyboardHookInstalled());
  recorder.Log.clear();
  InjectKey(VK_LWIN, true);
  Drain();
  EXPECT_EQ(hooks.log, (std::vector<std::string>{"K91", "K91"}));
  EXPECT_TRUE(recorder.Messages({WM_KEYDOWN}).empty());  // swallowed
  manager->RemoveKeyboardHook(key);
  EXPECT_TRUE(manager->KeyboardHookInstalled());
  manager->RemoveKeyboardHook(key);
  EXPECT_FALSE(manager->KeyboardHookInstalled());
  InjectKey(VK_LWIN, false);
  Drain();
  EXPECT_EQ(recorder.Messages({WM_KEYUP}).size(), 1u);
  EXPECT_THROW(manager->RemoveKeyboardHook(key), EAbort);
}
