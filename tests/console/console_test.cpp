// The console's logic, checked through a recorder that stands in for the
// platform's console functions: which calls are made, in which order, with
// which arguments, and what the operations return when the platform fails.
#include <gtest/gtest.h>

#include <deque>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "console/console_platform.h"

namespace cp = console::detail;

namespace {

class Recorder final : public cp::ConsoleApi {
 public:
  bool ok = true;
  cp::BufferInfo info;
  std::vector<std::uint16_t> attributes_seen;  // attribute reported by each buffer read
  cp::Coord largest{200, 100};
  cp::CursorInfo cursor{25, true};
  std::uint32_t mode = 0x1F7;
  std::deque<cp::InputEvent> events;
  std::vector<std::string> calls;

  bool AllocConsole() override { return ok; }
  bool FreeConsole() override { return Note("FreeConsole"); }
  std::uint32_t GetTitle(std::string& title, std::uint32_t limit) override {
    Note("GetTitle", limit);
    if (!ok) return 0;
    title = "window";
    return 6;
  }
  bool SetTitle(const std::string& title) override { return Note("SetTitle", title); }
  bool GetBufferInfo(runtime::Handle, cp::BufferInfo& out) override {
    if (!ok) return false;
    out = info;
    if (!attributes_seen.empty()) {
      out.attribute = attributes_seen.front();
      attributes_seen.erase(attributes_seen.begin());
    }
    return true;
  }
  bool SetTextAttribute(runtime::Handle, std::uint16_t a) override { return Note("SetTextAttribute", a); }
  cp::Coord GetLargestWindowSize(runtime::Handle) override { return ok ? largest : cp::Coord{}; }
  bool SetWindowInfo(runtime::Handle, const cp::Rect& r) override {
    return Note("SetWindowInfo", r.left, r.top, r.right, r.bottom);
  }
  bool SetBufferSize(runtime::Handle, cp::Coord s) override { return Note("SetBufferSize", s.x, s.y); }
  bool GetCursorInfo(runtime::Handle, cp::CursorInfo& out) override {
    if (ok) out = cursor;
    return ok;
  }
  bool SetCursorInfo(runtime::Handle, const cp::CursorInfo& c) override {
    cursor = c;
    return ok;
  }
  bool SetCursorPosition(runtime::Handle, cp::Coord p) override { return Note("SetCursorPosition", p.x, p.y); }
  bool GetMode(runtime::Handle, std::uint32_t& m) override {
    m = mode;
    return ok;
  }
  bool SetMode(runtime::Handle, std::uint32_t m) override { return Note("SetMode", m); }
  bool ReadInput(runtime::Handle, cp::InputEvent& e) override {
    if (events.empty()) return false;
    e = events.front();
    events.pop_front();
    return true;
  }
  // Reading a line shows on a real terminal.
  std::string ReadLine(runtime::Handle, std::size_t) override { return ""; }
  std::uint32_t FillCharacter(runtime::Handle, char ch, std::uint32_t n, cp::Coord s) override {
    Note("FillCharacter", "'" + std::string(1, ch) + "'", n, s.x, s.y);
    return n;
  }
  std::uint32_t FillAttribute(runtime::Handle, std::uint16_t a, std::uint32_t n, cp::Coord s) override {
    Note("FillAttribute", a, n, s.x, s.y);
    return n;
  }

 private:
  // Records the call as its name and arguments, each after a blank.
  template <typename... Args>
  bool Note(const char* name, const Args&... args) {
    std::ostringstream call;
    call << name;
    ((call << ' ' << args), ...);
    calls.push_back(call.str());
    return ok;
  }
};

class ConsoleLogic : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = cp::SetApi(&api); }
  void TearDown() override { cp::SetApi(previous_); }
  Recorder api;
  Console console{runtime::Value(false)};

 private:
  cp::ConsoleApi* previous_ = nullptr;
};

cp::InputEvent Key(char c, bool down) {
  cp::InputEvent e;
  e.type = cp::InputEvent::kKey;
  e.character = c;
  e.key_down = down;
  return e;
}

cp::InputEvent Other(std::uint16_t type, std::uint32_t buttons = 0) {
  cp::InputEvent e;
  e.type = type;
  e.button_state = buttons;
  return e;
}

}  // namespace

TEST_F(ConsoleLogic, SizeChangesBufferAndWindowInTheOrderTheAreasAllow) {
  struct Case {
    const char* name;
    cp::Coord current;
    ConsoleCoord wanted;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"growing sets the buffer first", {80, 25}, {100, 50}, {"SetBufferSize 100 50", "SetWindowInfo 0 0 99 49"}},
      {"shrinking sets the window first", {100, 50}, {80, 25}, {"SetWindowInfo 0 0 79 24", "SetBufferSize 80 25"}},
      {"the window stops at the largest size", {80, 25}, {300, 9001},
       {"SetBufferSize 300 9001", "SetWindowInfo 0 0 199 99"}},
      {"an equal area changes nothing", {60, 40}, {80, 30}, {}},
  };
  for (const Case& c : cases) {
    api.calls.clear();
    api.info.size = c.current;
    const ConsoleCoord& result = console.Size(c.wanted);
    EXPECT_EQ(&result, &c.wanted) << c.name;
    EXPECT_EQ(api.calls, c.calls) << c.name;
  }
}

TEST_F(ConsoleLogic, ClearFillsEveryCellOfALargeBufferWithTheCurrentAttribute) {
  api.info.size = {120, 9001};
  api.attributes_seen = {7, 30};  // the attribute is read again before the fill
  console.Clear();
  EXPECT_EQ(api.calls, (std::vector<std::string>{"FillCharacter ' ' 1080120 0 0", "FillAttribute 30 1080120 0 0",
                                                 "SetCursorPosition 0 0"}));
}

TEST_F(ConsoleLogic, CursorWritesKeepTheOtherHalfOfTheCursorInformation) {
  api.cursor = {25, false};
  console.CursorSize(50);
  EXPECT_EQ(std::pair(api.cursor.size, api.cursor.visible), std::pair(50u, false));
  api.cursor = {80, true};
  EXPECT_FALSE(console.CursorVisible(false));
  EXPECT_EQ(std::pair(api.cursor.size, api.cursor.visible), std::pair(80u, false));
}

TEST_F(ConsoleLogic, FailedPlatformReadsGiveZeroValues) {
  api.ok = false;
  EXPECT_EQ(console.TextAttribute(), 0);
  EXPECT_EQ(std::vector<int>({console.Size().X, console.Size().Y, console.CursorPos().X}), std::vector<int>(3, 0));
  EXPECT_EQ(console.CursorSize(), 0u);
  EXPECT_FALSE(console.CursorVisible());
  EXPECT_EQ(console.Title(), "");
  EXPECT_EQ(api.calls.front(), "GetTitle 255");
  // Writes report the value given, whatever the platform made of it.
  EXPECT_EQ(console.TextAttribute(0x1000C), 0x1000C);
  EXPECT_EQ(api.calls.back(), "SetTextAttribute 12");
  EXPECT_EQ(console.Title("new"), "new");
}

TEST_F(ConsoleLogic, WaitEndsOnAReleasedCharacterKeyOrAMouseButton) {
  struct Case {
    const char* name;
    std::vector<cp::InputEvent> events;
    std::string result;
  };
  const Case cases[] = {
      {"a letter ends the wait on its release", {Key('a', true), Key('a', false)}, "a"},
      {"a key already down when the wait began", {Key('q', false)}, "q"},
      {"shift alone is passed over", {Key(0, true), Key(0, false), Key('b', false)}, "b"},
      {"window, menu and focus events are passed over",
       {Other(cp::InputEvent::kWindowBufferSize), Other(cp::InputEvent::kMenu),
        Other(cp::InputEvent::kFocus), Key('z', false)}, "z"},
      {"mouse movement is passed over, a click is 128",
       {Other(cp::InputEvent::kMouse, 0), Other(cp::InputEvent::kMouse, 1)}, "\x80"},
      {"a failed read ends with the empty string", {Key('a', true)}, ""},
  };
  for (const Case& c : cases) {
    api.calls.clear();
    api.events.assign(c.events.begin(), c.events.end());
    EXPECT_EQ(console.Wait(), c.result) << c.name;
    // Mouse input alone while waiting, the saved mode afterwards.
    EXPECT_EQ(api.calls, (std::vector<std::string>{"SetMode 16", "SetMode 503"})) << c.name;
  }
}
