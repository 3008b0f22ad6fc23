// The progress window on a real window system (Wine under a virtual X server in the test runs): its
// look and place, the bar's states, the stop sequence. Writes a screenshot of the window to
// test-output/progress_window.png in the build tree.
#include "sfxstub/progress/progress_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sfxstub/progress/progress.h"
#include "sfxstub/progress/progress_bar.h"
#include "sfxstub/progress/progress_layout.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

constexpr int kFrameWidth = 260;  // the shipped clip's frame size
constexpr int kFrameHeight = 40;

// The UI thread, seen from the hook that runs on it before the window is created.
std::atomic<HANDLE> uiThread{nullptr};
std::atomic<DWORD> uiThreadId{0};
// When set, the hook waits for it: the test then acts while the window does not exist yet.
std::atomic<HANDLE> windowGate{nullptr};

void CaptureUiThread() {
  HANDLE self = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, SYNCHRONIZE, FALSE, 0);
  uiThread.store(self);
  uiThreadId.store(GetCurrentThreadId());
  if (HANDLE gate = windowGate.load()) WaitForSingleObject(gate, 10000);
}

BOOL CALLBACK MatchOwnProgressWindow(HWND window, LPARAM found) {
  char name[64] = {};
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && GetClassNameA(window, name, sizeof(name)) &&
      std::string(name) == kProgressWindowClass) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

// This process's progress window (other test programs may show theirs at the same time).
HWND OwnProgressWindow() {
  HWND found = nullptr;
  EnumWindows(MatchOwnProgressWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND WaitForShownWindow() {
  for (int i = 0; i < 1000; ++i) {
    HWND window = OwnProgressWindow();
    if (window && IsWindowVisible(window)) return window;
    Sleep(10);
  }
  return nullptr;
}

RECT ChildRect(HWND parent, int id) {
  RECT rect = {};
  HWND child = GetDlgItem(parent, id);
  if (child && GetWindowRect(child, &rect)) MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

struct BarState {
  bool marquee;
  int low, high, position;
};

BarState ReadBar(HWND window) {
  HWND bar = GetDlgItem(window, kBarControlId);
  PBRANGE range = {};
  SendMessageA(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  return BarState{(GetWindowLongA(bar, GWL_STYLE) & PBS_MARQUEE) != 0, range.iLow, range.iHigh,
                  static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0))};
}

// The bar's position once it reaches expected (steps in quick succession are shown with the next
// frame), or the last one read after 5 s.
int WaitForPosition(HWND window, int expected) {
  int position = ReadBar(window).position;
  for (int i = 0; i < 500 && position != expected; ++i) {
    Sleep(10);
    position = ReadBar(window).position;
  }
  return position;
}

// Pixels of a screen rectangle, 0xRRGGBB, row by row.
std::vector<uint32_t> CaptureScreen(const RECT& rect) {
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  std::vector<uint32_t> pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    pixels.assign(p, p + static_cast<size_t>(width) * height);
    for (uint32_t& pixel : pixels) pixel &= 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutPngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  PutBigEndian(out, static_cast<uint32_t>(data.size()));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBigEndian(out, static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

bool WritePng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height) {
  std::vector<uint8_t> raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < width; ++x) {
      uint32_t p = pixels[static_cast<size_t>(y) * width + x];
      raw.insert(raw.end(), {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p)});
    }
  }
  std::vector<uint8_t> packed(compressBound(static_cast<uLong>(raw.size())));
  uLongf packedSize = static_cast<uLongf>(packed.size());
  if (compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size())) != Z_OK) return false;
  packed.resize(packedSize);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutBigEndian(header, static_cast<uint32_t>(width));
  PutBigEndian(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
  PutPngChunk(png, "IHDR", header);
  PutPngChunk(png, "IDAT", packed);
  PutPngChunk(png, "IEND", {});
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(png.data(), 1, png.size(), file) == png.size();
  return std::fclose(file) == 0 && ok;
}

// The build tree's test-output folder as a Windows path (Wine reaches the Linux root as Z:).
std::string TestOutputFolder() {
  const char* binaryDir = std::getenv("SFX_TEST_BINARY_DIR");
  std::string folder = binaryDir ? binaryDir : ".";
  if (!folder.empty() && folder[0] == '/') folder = "Z:" + folder;
  folder += "/test-output";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

int CountUnlike(const std::vector<uint32_t>& pixels, uint32_t color) {
  int count = 0;
  for (uint32_t p : pixels) count += p != color;
  return count;
}

uint32_t FaceColor() {
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  return (static_cast<uint32_t>(GetRValue(face)) << 16) | (GetGValue(face) << 8) | GetBValue(face);
}

// The shipped clip's frames as make_artwork.py drew them, as the screen shows them: 0xRRGGBB, row by
// row, the background (palette entry 0) in the face colour the animation control puts behind it.
std::vector<std::vector<uint32_t>> DrawnFrames() {
  const char* binaryDir = std::getenv("SFX_TEST_BINARY_DIR");
  std::ifstream file(std::string(binaryDir ? binaryDir : ".") + "/sfxstub/resources/unpack_frames.bin",
                     std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  constexpr size_t kPaletteSize = 256 * 3, kFrameSize = kFrameWidth * kFrameHeight;
  std::vector<std::vector<uint32_t>> frames;
  if (bytes.size() < kPaletteSize || (bytes.size() - kPaletteSize) % kFrameSize != 0) return frames;
  for (size_t at = kPaletteSize; at < bytes.size(); at += kFrameSize) {
    std::vector<uint32_t> frame;
    for (size_t i = at; i < at + kFrameSize; ++i) {
      const uint8_t* rgb = &bytes[3 * bytes[i]];
      frame.push_back(bytes[i] == 0 ? FaceColor() : static_cast<uint32_t>(rgb[0] << 16 | rgb[1] << 8 | rgb[2]));
    }
    frames.push_back(frame);
  }
  return frames;
}

class RecordingListener : public ProgressListener {
 public:
  void OnSetTotal(int32_t total) override { calls.push_back("total " + std::to_string(total)); }
  void OnStep(int32_t bytes) override { calls.push_back("step " + std::to_string(bytes)); }
  std::vector<std::string> calls;
};

class ProgressWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitCommonControls();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    RegisterProgressWindowClass(instance, 1);
    RegisterProgressBarClass(instance);
  }

  void SetUp() override { SetBeforeProgressWindowHook(CaptureUiThread); }

  void TearDown() override {
    ProgressStop();
    SetBeforeProgressWindowHook(nullptr);
    if (HANDLE gate = windowGate.exchange(nullptr)) CloseHandle(gate);
    if (HANDLE thread = uiThread.exchange(nullptr)) CloseHandle(thread);
  }

  // Starts with the defaults the setup driver uses.
  void StartDefault() { ProgressStart(129, "Setup", 6, 6, 0, 15); }

  // Holds the UI thread before it creates its window, until Release.
  void Hold() { windowGate.store(CreateEventA(nullptr, TRUE, FALSE, nullptr)); }
  void Release() { SetEvent(windowGate.load()); }

  // Stops, and tells whether the UI thread has ended by the time ProgressStop returns.
  bool StopEndsTheThread() {
    DWORD start = GetTickCount();
    ProgressStop();
    std::printf("ProgressStop took %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));
    // The hook has run by now: the thread runs it before it can see a quit message.
    HANDLE thread = uiThread.load();
    return thread && WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
  }

  Size Frame() const { return Size{GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME)}; }
};

bool Contains(const std::vector<uint8_t>& bytes, const GUID& id) {
  const uint8_t* first = reinterpret_cast<const uint8_t*>(&id);
  return std::search(bytes.begin(), bytes.end(), first, first + sizeof(id)) != bytes.end();
}

// This program embeds the stub's own manifest: the process's activation context shows what the
// platform made of it.
TEST_F(ProgressWindowTest, ShippedManifestIsInForce) {
  ACTCTX_SECTION_KEYED_DATA redirection = {};
  redirection.cbSize = sizeof(redirection);
  EXPECT_TRUE(FindActCtxSectionStringA(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, "comctl32.dll",
                                       &redirection))
      << "the common controls 6 assembly (which has the marquee) is bound";

  // The manifest resource itself, as the platform reads it.
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  ACTCTXA request = {};
  request.cbSize = sizeof(request);
  request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.lpSource = path;
  request.hModule = GetModuleHandleA(nullptr);
  request.lpResourceName = MAKEINTRESOURCEA(1);
  HANDLE context = CreateActCtxA(&request);
  ASSERT_NE(context, INVALID_HANDLE_VALUE) << "the manifest parses: " << GetLastError();
  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel = {};
  EXPECT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &runLevel,
                           sizeof(runLevel), nullptr));
  EXPECT_EQ(runLevel.RunLevel, ACTCTX_RUN_LEVEL_REQUIRE_ADMIN);
  EXPECT_EQ(runLevel.UiAccess, 0u);

  // The element layout differs between SDKs: look for the systems' ids in the raw answer.
  std::vector<uint8_t> compatibility(4096);
  EXPECT_TRUE(QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext,
                           compatibility.data(), compatibility.size(), nullptr));
  ReleaseActCtx(context);
  const GUID systems[] = {
      {0xe2011457, 0x1546, 0x43c5, {0xa5, 0xfe, 0x00, 0x8d, 0xee, 0xe3, 0xd3, 0xf0}},  // Vista
      {0x35138b9a, 0x5d96, 0x4fbd, {0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a}},  // 7
      {0x4a2f28e3, 0x53b9, 0x4441, {0xba, 0x9c, 0xd6, 0x9d, 0x4a, 0x4a, 0x6e, 0x38}},  // 8
      {0x1f676c76, 0x80e1, 0x4239, {0x95, 0xbb, 0x83, 0xd0, 0xf6, 0xd0, 0xda, 0x78}},  // 8.1
      {0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}},  // 10 and 11
  };
  EXPECT_EQ(*reinterpret_cast<const DWORD*>(compatibility.data()), 5u);
  for (const GUID& system : systems) EXPECT_TRUE(Contains(compatibility, system)) << system.Data1;
}

TEST_F(ProgressWindowTest, WindowIsCaptionlessCentredAndCountsBytes) {
  StartDefault();
  HWND window = WaitForShownWindow();
  ASSERT_NE(window, nullptr);

  LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
  EXPECT_NE(style & WS_THICKFRAME, 0);
  EXPECT_NE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
  char title[32] = {};
  GetWindowTextA(window, title, sizeof(title));
  EXPECT_STREQ(title, "Setup");

  HWND animation = GetDlgItem(window, kAnimationControlId);
  HWND bar = GetDlgItem(window, kBarControlId);
  ASSERT_NE(animation, nullptr);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(ClassOf(animation), "SysAnimate32");
  EXPECT_EQ(ClassOf(bar), "msctls_progress32");
  EXPECT_TRUE(IsWindowVisible(animation));
  EXPECT_TRUE(IsWindowVisible(bar));
  RECT a = ChildRect(window, kAnimationControlId);
  EXPECT_EQ(a.left, 6);
  EXPECT_EQ(a.top, 6);
  EXPECT_EQ(a.right - a.left, kFrameWidth);
  EXPECT_EQ(a.bottom - a.top, kFrameHeight);
  RECT b = ChildRect(window, kBarControlId);
  EXPECT_EQ(b.left, 6);
  EXPECT_EQ(b.top, 52);
  EXPECT_EQ(b.right - b.left, 260);
  EXPECT_EQ(b.bottom - b.top, 15);

  RECT outer, client;
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  EXPECT_EQ(outer.right - outer.left, 274 + Frame().width);
  EXPECT_EQ(outer.bottom - outer.top, 75 + Frame().height);
  EXPECT_EQ(outer.left, GetSystemMetrics(SM_CXSCREEN) / 2 - client.right / 2);
  EXPECT_EQ(outer.top, GetSystemMetrics(SM_CYSCREEN) / 2 - client.bottom / 2);
  // Any point of the window's own area drags it like a title bar.
  EXPECT_EQ(SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(outer.left + 2, outer.top + 2)), HTCAPTION);

  BarState marquee = ReadBar(window);
  EXPECT_TRUE(marquee.marquee) << "the total is not known yet";

  ProgressSetTotal(1000);
  BarState counting = ReadBar(window);
  EXPECT_FALSE(counting.marquee);
  EXPECT_EQ(counting.low, 0);
  EXPECT_EQ(counting.high, 1000);
  EXPECT_EQ(counting.position, 0);
  ProgressStep(250);
  ProgressStep(150);
  EXPECT_EQ(WaitForPosition(window, 400), 400);

  // The clip plays: its pixels are drawn (not just the face colour) and they change.
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  RECT clip = {};
  MapWindowPoints(animation, nullptr, reinterpret_cast<POINT*>(&clip), 1);
  clip.right = clip.left + kFrameWidth;
  clip.bottom = clip.top + kFrameHeight;
  Sleep(300);
  std::vector<uint32_t> first = CaptureScreen(clip);
  ASSERT_EQ(first.size(), static_cast<size_t>(kFrameWidth * kFrameHeight));
  EXPECT_GT(CountUnlike(first, FaceColor()), kFrameWidth * kFrameHeight / 10) << "the artwork is drawn";
  bool changed = false;
  for (int i = 0; i < 100 && !changed; ++i) {
    Sleep(50);
    changed = CaptureScreen(clip) != first;
  }
  EXPECT_TRUE(changed) << "the animation moves";

  std::vector<uint32_t> shot = CaptureScreen(outer);
  std::string path = TestOutputFolder() + "/progress_window.png";
  EXPECT_TRUE(WritePng(path, shot, outer.right - outer.left, outer.bottom - outer.top)) << path;
  std::printf("screenshot: %s\n", path.c_str());

  ProgressStep(600);
  EXPECT_EQ(WaitForPosition(window, 1000), 1000);

  EXPECT_TRUE(StopEndsTheThread());
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(OwnProgressWindow(), nullptr);
  ProgressStop();  // a second stop finds nothing to do
}

// Only frame 0 of the clip is a key frame; the others redraw what changed since the frame before. A
// control that drew a delta frame over anything but its predecessor, or looped to another frame than
// the key frame, would show pictures that were never drawn.
TEST_F(ProgressWindowTest, ClipShowsEveryFrameAsDrawnAndLoopsToTheKeyFrame) {
  const std::vector<std::vector<uint32_t>> drawn = DrawnFrames();
  ASSERT_EQ(drawn.size(), 17u) << "unpack_frames.bin in the build tree";
  StartDefault();
  HWND window = WaitForShownWindow();
  ASSERT_NE(window, nullptr);
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  RECT clip = {};
  MapWindowPoints(GetDlgItem(window, kAnimationControlId), nullptr, reinterpret_cast<POINT*>(&clip), 1);
  clip.right = clip.left + kFrameWidth;
  clip.bottom = clip.top + kFrameHeight;

  // Watches the clip until every frame has shown and the key frame has come again after the last.
  std::vector<bool> seen(drawn.size());
  bool lastSeen = false, loopedToKeyFrame = false;
  int captures = 0, unmatched = 0;
  for (; captures < 2000 && !(loopedToKeyFrame && std::count(seen.begin(), seen.end(), true) == 17); ++captures) {
    std::vector<uint32_t> shown = CaptureScreen(clip);
    auto match = std::find(drawn.begin(), drawn.end(), shown);
    if (match == drawn.end()) {
      ++unmatched;  // a capture taken while a frame was being drawn
    } else {
      size_t frame = static_cast<size_t>(match - drawn.begin());
      seen[frame] = true;
      loopedToKeyFrame = loopedToKeyFrame || (frame == 0 && lastSeen);
      lastSeen = lastSeen || frame == drawn.size() - 1;
    }
    Sleep(10);
  }
  std::printf("%d captures, %d between frames\n", captures, unmatched);
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_TRUE(seen[i]) << "frame " << i << " never showed as drawn";
  EXPECT_TRUE(loopedToKeyFrame);
  EXPECT_TRUE(StopEndsTheThread());
}

TEST_F(ProgressWindowTest, TotalRecordedBeforeTheWindowIsApplied) {
  Hold();
  StartDefault();
  ProgressSetTotal(5000);
  Release();
  HWND window = WaitForShownWindow();
  ASSERT_NE(window, nullptr);
  BarState bar = ReadBar(window);
  EXPECT_FALSE(bar.marquee);
  EXPECT_EQ(bar.low, 0);
  EXPECT_EQ(bar.high, 5000);
  EXPECT_EQ(bar.position, 0);
  ProgressStep(5000);
  EXPECT_EQ(WaitForPosition(window, 5000), 5000);
  EXPECT_TRUE(StopEndsTheThread());
}

// Steps reach the bar through the frame timer; what was counted before a total must not be carried
// into it, whether or not a tick took it first.
TEST_F(ProgressWindowTest, CountsFromBeforeTheTotalAreNotCarriedIntoIt) {
  StartDefault();
  HWND window = WaitForShownWindow();
  ASSERT_NE(window, nullptr);
  for (DWORD pause : {0u, 250u}) {
    ProgressStep(300);
    Sleep(pause);
    ProgressSetTotal(1000);
    ProgressStep(200);
    EXPECT_EQ(WaitForPosition(window, 200), 200) << pause;
    Sleep(250);  // later ticks add nothing
    EXPECT_EQ(ReadBar(window).position, 200) << pause;
  }
  EXPECT_TRUE(StopEndsTheThread());
}

TEST_F(ProgressWindowTest, ZeroTotalBeforeTheWindowBuildsNoBar) {
  Hold();
  StartDefault();
  ProgressSetTotal(0);
  Release();
  HWND window = WaitForShownWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetDlgItem(window, kBarControlId), nullptr);
  RECT a = ChildRect(window, kAnimationControlId);
  EXPECT_EQ(a.left, 6);
  EXPECT_EQ(a.top, 6);
  RECT outer;
  GetWindowRect(window, &outer);
  EXPECT_EQ(outer.right - outer.left, 272 + Frame().width);
  EXPECT_EQ(outer.bottom - outer.top, 40 + Frame().height);
  ProgressStep(100);  // no bar: nothing to do
  EXPECT_TRUE(StopEndsTheThread());
}

TEST_F(ProgressWindowTest, StopRightAfterStartEndsTheThread) {
  StartDefault();
  EXPECT_TRUE(StopEndsTheThread());
  EXPECT_EQ(OwnProgressWindow(), nullptr);
}

TEST_F(ProgressWindowTest, StopWhileTheWindowIsBeingCreatedEndsTheThread) {
  Hold();
  StartDefault();
  Release();
  EXPECT_TRUE(StopEndsTheThread());
  EXPECT_EQ(OwnProgressWindow(), nullptr);
}

// A UI thread that has not ended when the wait is over is left to run, never killed: a thread killed
// inside a lock it holds (the heap's) could hang the rest of the run. Once it can, it ends normally.
TEST_F(ProgressWindowTest, ThreadThatDoesNotEndInTimeIsLeftRunning) {
  Hold();  // longer than the stop waits
  StartDefault();
  ProgressStop();
  HANDLE thread = uiThread.load();
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the thread was killed";
  Release();
  // Its quit message may have come before it had a queue: ask until it goes.
  for (int i = 0; i < 200 && WaitForSingleObject(thread, 50) == WAIT_TIMEOUT; ++i) {
    PostThreadMessageA(uiThreadId.load(), WM_QUIT, 0, 0);
  }
  EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(OwnProgressWindow(), nullptr);
}

TEST_F(ProgressWindowTest, WithoutAWindowEveryOperationOnlyReports) {
  RecordingListener listener;
  SetProgressListener(&listener);
  ProgressSetTotal(10);
  ProgressStep(4);
  ProgressStop();
  ProgressStop();
  SetProgressListener(nullptr);
  EXPECT_EQ(listener.calls, (std::vector<std::string>{"total 10", "step 4"}));
  EXPECT_EQ(OwnProgressWindow(), nullptr);
}

// Prints what the window costs an extraction of many small files; the bar must be full at the end.
TEST_F(ProgressWindowTest, CostOfTheWindowToAnExtraction) {
  constexpr int kFiles = 1000;
  constexpr DWORD kFileSize = 4096;
  std::vector<char> content(kFileSize, 'x');
  // Writes the files into a fresh folder, reporting each; returns the time taken.
  auto extract = [&]() {
    test::ScratchDir scratch;
    DWORD start = GetTickCount();
    for (int i = 0; i < kFiles; ++i) {
      HANDLE file = CreateFileA(scratch.File("file" + std::to_string(i)).c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_NEW, 0, nullptr);
      DWORD written = 0;
      WriteFile(file, content.data(), kFileSize, &written, nullptr);
      CloseHandle(file);
      ProgressStep(static_cast<int32_t>(written));
    }
    return GetTickCount() - start;
  };
  DWORD without = extract();
  StartDefault();
  HWND window = WaitForShownWindow();
  ASSERT_NE(window, nullptr);
  ProgressSetTotal(2 * kFiles * kFileSize);
  DWORD with = extract();
  DWORD start = GetTickCount();
  for (int i = 0; i < kFiles; ++i) ProgressStep(static_cast<int32_t>(kFileSize));
  DWORD steps = GetTickCount() - start;
  std::printf("%d files of %lu bytes: %lu ms without the window, %lu ms with it; %d steps alone %lu ms\n",
              kFiles, static_cast<unsigned long>(kFileSize), static_cast<unsigned long>(without),
              static_cast<unsigned long>(with), kFiles, static_cast<unsigned long>(steps));
  const int full = 2 * kFiles * static_cast<int>(kFileSize);
  EXPECT_EQ(WaitForPosition(window, full), full);
  EXPECT_TRUE(StopEndsTheThread());
}

}  // namespace
}  // namespace sfx
