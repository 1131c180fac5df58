// The compiled-in pictures, the strip player and the fade-in, watched on a
// real window under the display: what is drawn where, in which order, and
// how the player stops.
#include "splash.h"
#include "splashimages.h"
#include "splashpictures.h"
#include "splashtestpictures.h"
#include "splashwindow.h"
#include "startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <ostream>
#include <thread>
#include <utility>
#include <vector>

using namespace splashtest;

namespace {

// Records the red level of one pixel of a test window after every step of
// the fade, each change once: the fade's pause between steps looks at the
// window first, on the painting thread, so no step passes unseen however
// slowly the test runs. One at a time; stop() returns the levels.
class levelwatcher {
public:
    levelwatcher(const testwindow& window, int x, int y) : previous(splashfadepause)
    {
        watched = {&window, x, y, {}};
        splashfadepause = record;
    }
    ~levelwatcher() { splashfadepause = previous; }
    levelwatcher(const levelwatcher&) = delete;
    levelwatcher& operator=(const levelwatcher&) = delete;

    std::vector<int> stop()
    {
        splashfadepause = previous;
        return std::move(watched.levels);
    }

private:
    struct state {
        const testwindow* window = nullptr;
        int x = 0, y = 0;
        std::vector<int> levels;
    };
    static state watched;
    static void WINAPI record(DWORD milliseconds)
    {
        int level = red(watched.window->grab().at(watched.x, watched.y));
        if (watched.levels.empty() || watched.levels.back() != level) watched.levels.push_back(level);
        Sleep(milliseconds);
    }
    void(WINAPI* previous)(DWORD);
};
levelwatcher::state levelwatcher::watched;

// What the background slot held right after start-up, before any test put
// its own picture there.
struct {
    bool present = false;
    UINT width = 0, height = 0;
    bool alpha = false;
} loadedbackground;

class SplashEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(startgdiplus());
        loadsplashimages();
        if (!splashbackground) return;
        loadedbackground.present = true;
        loadedbackground.width = splashbackground->GetWidth();
        loadedbackground.height = splashbackground->GetHeight();
        loadedbackground.alpha = Gdiplus::IsAlphaPixelFormat(splashbackground->GetPixelFormat());
    }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new SplashEnvironment);

const COLORREF white = RGB(255, 255, 255);
const uint32_t whitepixel = 0xFFFFFF;

// Where the strip lands in the 580 x 54 window.
const int stripleft = 40, striptop = 25, stripwidth = 500, stripheight = 4;
const int frames = 21;

// The highlight's left edge in each frame: out in steps of 40, back in between.
int highlightleft(int frame) { return frame <= 10 ? 40 * frame : 380 - 40 * (frame - 11); }

// The frame a capture shows, known by where the highlight's weight lies on
// the strip's middle row; -1 when nothing like a frame is there.
int frameshown(const capture& c)
{
    // Only the strip's own colours count: bluer than they are red.
    double weight = 0, sum = 0;
    for (int x = stripleft; x < stripleft + stripwidth; ++x) {
        uint32_t p = c.at(x, striptop + 1);
        if (p == whitepixel) return -1;
        int excess = blue(p) - red(p) - 60;
        if (excess > 0) {
            weight += excess;
            sum += double(excess) * x;
        }
    }
    if (weight == 0) return -1;
    double centre = sum / weight - stripleft;
    for (int k = 0; k < frames; ++k)
        if (std::fabs(centre - (highlightleft(k) + 50)) < 8) return k;
    return -1;
}

template <class T>
std::unique_ptr<T, void (*)(T*)> owned(T* p)
{
    return std::unique_ptr<T, void (*)(T*)>(p, [](T* q) { delete q; });
}

GIFImage* gifimagefrom(const unsigned char* bytes, size_t size)
{
    IStream* stream = streamonbytes(bytes, size);
    return stream ? gdipnew<GIFImage>(stream, FALSE) : nullptr;
}

GIFImage* compiledstrip() { return gifimagefrom(splashanimationgif, sizeof splashanimationgif); }

Gdiplus::Image* compiledbackground()
{
    IStream* stream = streamonbytes(splashbackgroundpng, sizeof splashbackgroundpng);
    return stream ? gdipnew<Gdiplus::Image>(stream, FALSE) : nullptr;
}

// A second handle on the object's thread, to see it end after the object
// has closed its own.
HANDLE threadcopy(const GIFImage& image)
{
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), image.animThread.get(), GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0);
    return copy;
}

// Puts an animation into the process-wide slot for one test.
class SlotSwap {
public:
    explicit SlotSwap(GIFImage* image) : saved(std::move(splashanimation)) { splashanimation.reset(image); }
    ~SlotSwap()
    {
        stopsplashanimation();
        splashanimation = std::move(saved);
    }

private:
    gdipptr<GIFImage> saved;
};

// Pixels of a capture that differ from white, within a rectangle.
int nonwhite(const capture& c, int left, int top, int right, int bottom)
{
    int n = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) n += c.at(x, y) != whitepixel;
    return n;
}

} // namespace

TEST(SplashPictures, BothPicturesLoadAtStartUp)
{
    ASSERT_NE(splashanimation.get(), nullptr);
    EXPECT_EQ(splashanimation->GetLastStatus(), Gdiplus::Ok);
    EXPECT_EQ(splashanimation->GetWidth(), 500u);
    EXPECT_EQ(splashanimation->GetHeight(), 4u);
    EXPECT_EQ(splashanimation->frameCount, 21u);
    ASSERT_TRUE(loadedbackground.present);
    EXPECT_EQ(loadedbackground.width, 580u);
    EXPECT_EQ(loadedbackground.height, 54u);
    EXPECT_TRUE(loadedbackground.alpha);
}

TEST(SplashPictures, StripHasTwentyOneFramesOfEightHundredths)
{
    auto strip = owned(compiledstrip());
    ASSERT_NE(strip, nullptr);
    EXPECT_EQ(strip->frameIndex, 0u);
    EXPECT_EQ(strip->animThread.get(), nullptr);
    EXPECT_NE(strip->exitEvent.get(), nullptr);
    ASSERT_EQ(strip->frameCount, 21u);
    ASSERT_NE(strip->frameDelays.get(), nullptr);
    EXPECT_EQ(strip->frameDelays->id, 0x5100u);
    ASSERT_EQ(strip->frameDelays->length, 21u * 4);
    const UINT* delays = static_cast<const UINT*>(strip->frameDelays->value);
    for (int i = 0; i < 21; ++i) EXPECT_EQ(delays[i], 8u) << "frame " << i;
}

TEST(SplashPictures, BackgroundIsHalfBlackWithTransparentCorners)
{
    testwindow window;
    window.fill(white);
    auto background = owned(compiledbackground());
    ASSERT_NE(background, nullptr);
    HDC dc = GetDC(window.handle());
    {
        Gdiplus::Graphics graphics(dc);
        graphics.DrawImage(background.get(), 0, 0, 580, 54);
    }
    ReleaseDC(window.handle(), dc);
    capture c = window.grab();
    // Black at alpha 128 over white leaves about half.
    for (auto [x, y] : {std::pair{10, 10}, {290, 27}, {570, 44}, {6, 0}, {0, 6}}) {
        EXPECT_NEAR(red(c.at(x, y)), 127, 3) << x << "," << y;
        EXPECT_EQ(red(c.at(x, y)), blue(c.at(x, y)));
    }
    for (auto [x, y] : {std::pair{0, 0}, {579, 0}, {0, 53}, {579, 53}, {1, 1}})
        EXPECT_EQ(c.at(x, y), whitepixel) << x << "," << y;
}

TEST(SplashStrip, CompiledStripPlaysAtItsCentredPlaceInOrderEightyMillisecondsApart)
{
    testwindow window;
    window.fill(white);
    SlotSwap slot(compiledstrip());
    ASSERT_TRUE(startsplashanimation(window.handle()));
    EXPECT_EQ(splashanimation->drawLeft, stripleft);
    EXPECT_EQ(splashanimation->drawTop, striptop);
    EXPECT_EQ(splashanimation->targetWindow, window.handle());

    struct change {
        int frame;
        DWORD when;
    };
    std::vector<change> seen;
    int strayed = 0, uncovered = 0, captures = 0;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 4000) {
        pump(0);
        capture c = window.grab();
        int frame = frameshown(c);
        if (frame < 0) continue;
        ++captures;
        // Everything outside the strip stays as the test left it.
        strayed += nonwhite(c, 0, 0, 580, striptop) + nonwhite(c, 0, striptop + stripheight, 580, 54) +
                   nonwhite(c, 0, striptop, stripleft, striptop + stripheight) +
                   nonwhite(c, stripleft + stripwidth, striptop, 580, striptop + stripheight);
        uncovered += (stripwidth * stripheight) -
                     nonwhite(c, stripleft, striptop, stripleft + stripwidth, striptop + stripheight);
        if (seen.empty() || seen.back().frame != frame) seen.push_back({frame, GetTickCount()});
        Sleep(3);
    }
    ASSERT_GT(captures, 0);
    EXPECT_EQ(strayed, 0);
    EXPECT_EQ(uncovered, 0);

    // Two sweeps take 3.36 s: nearly every change must be to the next frame.
    ASSERT_GE(seen.size(), 30u);
    int next = 0, wraps = 0;
    std::vector<DWORD> gaps;
    for (size_t i = 1; i < seen.size(); ++i) {
        int step = (seen[i].frame - seen[i - 1].frame + frames) % frames;
        EXPECT_TRUE(step >= 1 && step <= 3) << seen[i - 1].frame << " then " << seen[i].frame;
        if (step == 1) {
            ++next;
            gaps.push_back(seen[i].when - seen[i - 1].when);
        }
        wraps += seen[i - 1].frame == 20 && seen[i].frame == 0;
    }
    EXPECT_GE(next * 10, int(seen.size() - 1) * 9);
    EXPECT_GE(wraps, 1);
    ASSERT_FALSE(gaps.empty());
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    DWORD median = gaps[gaps.size() / 2];
    EXPECT_GE(median, 60u);
    EXPECT_LE(median, 140u);
}

TEST(SplashStrip, SingleFrameStartsNoThreadAndIsNeverShown)
{
    testwindow window;
    window.fill(white);
    SlotSwap slot(gifimagefrom(gifsingleframe, sizeof gifsingleframe));
    ASSERT_NE(splashanimation.get(), nullptr);
    EXPECT_EQ(splashanimation->frameCount, 1u);
    EXPECT_FALSE(startsplashanimation(window.handle()));
    EXPECT_EQ(splashanimation->animThread.get(), nullptr);
    // Still told where it would go: (580 - 8) / 2, (54 - 2) / 2.
    EXPECT_EQ(splashanimation->drawLeft, 286);
    EXPECT_EQ(splashanimation->drawTop, 26);
    pump(300);
    EXPECT_EQ(nonwhite(window.grab(), 0, 0, 580, 54), 0);
}

TEST(SplashStrip, NoAnimationInTheSlotStartsNothing)
{
    testwindow window;
    SlotSwap slot(nullptr);
    EXPECT_FALSE(startsplashanimation(window.handle()));
    stopsplashanimation();
    stopsplashanimation();
}

TEST(SplashStrip, StopWhileWaitingOutALongDelayReturnsPromptly)
{
    testwindow window;
    window.fill(white);
    auto slow = owned(gifimagefrom(giftwoframestenseconds, sizeof giftwoframestenseconds));
    ASSERT_NE(slow, nullptr);
    ASSERT_EQ(slow->frameCount, 2u);
    slow->startAnimation(window.handle(), 10, 10);
    ASSERT_NE(slow->animThread.get(), nullptr);
    HANDLE thread = threadcopy(*slow);
    ASSERT_NE(thread, nullptr);

    // Wait for the first frame (light grey) so the thread is inside its ten-second wait.
    DWORD start = GetTickCount();
    while (red(window.grab().at(12, 10)) != 200 && GetTickCount() - start < 5000) pump(10);
    ASSERT_EQ(red(window.grab().at(12, 10)), 200);
    pump(100);

    DWORD before = GetTickCount();
    slow->stopAnimation();
    DWORD took = GetTickCount() - before;
    EXPECT_LT(took, 5000u) << "the stop waited out the frame's delay";
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(slow->animThread.get(), nullptr);
    EXPECT_EQ(slow->exitEvent.get(), nullptr);
    EXPECT_EQ(slow->frameDelays.get(), nullptr);
    // The second frame (dark grey) never came.
    EXPECT_EQ(red(window.grab().at(12, 10)), 200);
}

TEST(SplashStrip, StopWithoutAThreadReleasesAtOnceAndCanBeRepeated)
{
    auto strip = owned(compiledstrip());
    ASSERT_NE(strip, nullptr);
    ASSERT_NE(strip->exitEvent.get(), nullptr);
    HANDLE event = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), strip->exitEvent.get(), GetCurrentProcess(), &event, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    strip->stopAnimation();
    EXPECT_EQ(strip->animThread.get(), nullptr);
    EXPECT_EQ(strip->exitEvent.get(), nullptr);
    EXPECT_EQ(strip->frameDelays.get(), nullptr);
    // Not signalled: there was no thread to tell.
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_TIMEOUT));
    CloseHandle(event);
    strip->stopAnimation();
    EXPECT_EQ(strip->exitEvent.get(), nullptr);

    // A stopped player stays stopped.
    testwindow window;
    strip->startAnimation(window.handle(), 40, 25);
    EXPECT_EQ(strip->animThread.get(), nullptr);
}

TEST(SplashStrip, DestroyingThePlayerEndsItsThread)
{
    testwindow window;
    GIFImage* strip = compiledstrip();
    ASSERT_NE(strip, nullptr);
    strip->startAnimation(window.handle(), 40, 25);
    ASSERT_NE(strip->animThread.get(), nullptr);
    HANDLE thread = threadcopy(*strip);
    pump(200);
    delete strip;
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    CloseHandle(thread);
}

TEST(SplashStrip, StopFromTheSlotEndsTheThreadAndNothingIsDrawnAfterwards)
{
    testwindow window;
    window.fill(white);
    SlotSwap slot(compiledstrip());
    ASSERT_TRUE(startsplashanimation(window.handle()));
    HANDLE thread = threadcopy(*splashanimation);
    pump(300);
    stopsplashanimation();
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    CloseHandle(thread);
    window.fill(white);
    pump(300);
    EXPECT_EQ(nonwhite(window.grab(), 0, 0, 580, 54), 0);
}

TEST(SplashStrip, TwoThreadsStoppingAtOnceBothReturnAndTheThreadEnds)
{
    testwindow window;
    SlotSwap slot(compiledstrip());
    ASSERT_TRUE(startsplashanimation(window.handle()));
    HANDLE thread = threadcopy(*splashanimation);
    pump(200);
    // Both stoppers wait for one go, as the window's WM_DESTROY and an exit
    // on another thread would race.
    std::atomic<bool> go{false};
    std::thread first([&] {
        while (!go) Sleep(0);
        stopsplashanimation();
    });
    std::thread second([&] {
        while (!go) Sleep(0);
        stopsplashanimation();
    });
    go = true;
    first.join();
    second.join();
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(splashanimation->animThread.get(), nullptr);
    EXPECT_EQ(splashanimation->exitEvent.get(), nullptr);
    EXPECT_EQ(splashanimation->frameDelays.get(), nullptr);
}

namespace {

// What the eleven steps leave of a colour channel under the panel: each lays
// black at alpha 128 x d over what the previous ones left.
double faded(int channel)
{
    double value = channel;
    float d = 0.0f;
    do {
        double alpha = std::floor(128 * d) / 255;
        value *= 1 - alpha;
        d += 0.03f;
    } while (d <= 0.3f);
    return value;
}

// Puts a fresh background into the slot and clears the once-only flag.
void resetbackground()
{
    splashbackground.reset(compiledbackground());
    splashpainted = false;
}

// Light grey text pixels: brighter than the faded panel, short of white.
bool textlike(uint32_t p)
{
    int low = std::min({red(p), green(p), blue(p)}), high = std::max({red(p), green(p), blue(p)});
    return low >= 170 && high <= 240 && high - low <= 30;
}

} // namespace

TEST(SplashPaint, FirstPaintFadesInStepByStepWithTheMessage)
{
    testwindow window;
    window.fill(white);
    resetbackground();
    ASSERT_NE(splashbackground.get(), nullptr);

    // Watch one panel pixel away from the text after every step of the fade.
    levelwatcher watcher(window, 100, 40);
    int paintsbefore = window.paints();
    DWORD start = GetTickCount();
    InvalidateRect(window.handle(), nullptr, FALSE);
    UpdateWindow(window.handle());
    DWORD took = GetTickCount() - start;
    std::vector<int> levels = watcher.stop();

    EXPECT_EQ(window.paints(), paintsbefore + 1);
    EXPECT_TRUE(splashpainted);
    EXPECT_EQ(splashbackground.get(), nullptr);
    // Eleven 50 ms pauses.
    EXPECT_GE(took, 500u);

    capture c = window.grab();
    EXPECT_NEAR(red(c.at(100, 40)), faded(255), 6);
    EXPECT_NEAR(red(c.at(560, 50)), faded(255), 6);
    EXPECT_EQ(c.at(0, 0), whitepixel);
    EXPECT_EQ(c.at(579, 53), whitepixel);
    // Darker in steps, never lighter; the first step (d = 0) changes nothing.
    ASSERT_GE(levels.size(), 4u);
    EXPECT_EQ(levels.front(), 255);
    for (size_t i = 1; i < levels.size(); ++i) EXPECT_LT(levels[i], levels[i - 1]);
    EXPECT_LE(levels.size(), 11u);

    // The message in light grey, centred on x = 290 near the top.
    int left = 580, right = -1, top = 54, bottom = -1, count = 0;
    for (int y = 0; y < 54; ++y)
        for (int x = 0; x < 580; ++x)
            if (textlike(c.at(x, y))) {
                ++count;
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
    ASSERT_GT(count, 40) << "no light grey text on the panel";
    EXPECT_NEAR((left + right) / 2.0, 290, 8);
    EXPECT_GE(top, 3);
    EXPECT_LE(bottom, 25);
    EXPECT_GT(right - left, 60);
}

TEST(SplashPaint, SecondPaintDrawsNothingAndDoesNotComeBack)
{
    testwindow window;
    resetbackground();
    InvalidateRect(window.handle(), nullptr, FALSE);
    UpdateWindow(window.handle());
    ASSERT_TRUE(splashpainted);

    window.fill(white);
    int paintsbefore = window.paints();
    InvalidateRect(window.handle(), nullptr, FALSE);
    UpdateWindow(window.handle());
    EXPECT_EQ(window.paints(), paintsbefore + 1);
    EXPECT_FALSE(GetUpdateRect(window.handle(), nullptr, FALSE));
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, window.handle(), WM_PAINT, WM_PAINT, PM_NOREMOVE));
    pump(100);
    EXPECT_EQ(window.paints(), paintsbefore + 1);
    EXPECT_EQ(nonwhite(window.grab(), 0, 0, 580, 54), 0);
}

TEST(SplashPaint, WithoutABackgroundNothingIsDrawnAndEveryPaintValidates)
{
    testwindow window;
    window.fill(white);
    splashbackground.reset();
    splashpainted = false;
    for (int i = 0; i < 3; ++i) {
        int paintsbefore = window.paints();
        InvalidateRect(window.handle(), nullptr, FALSE);
        UpdateWindow(window.handle());
        EXPECT_EQ(window.paints(), paintsbefore + 1);
        EXPECT_FALSE(GetUpdateRect(window.handle(), nullptr, FALSE));
    }
    EXPECT_FALSE(splashpainted);
    EXPECT_EQ(nonwhite(window.grab(), 0, 0, 580, 54), 0);
}

namespace {

uint32_t whitebackdrop(int, int) { return whitepixel; }

// Every pixel tells where it is: a copy taken from the wrong place shows.
uint32_t positionbackdrop(int x, int y) { return uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 | 0x90; }

struct backdroprow {
    const char* name;
    backdroppattern pattern;
};
constexpr backdroprow backdroprows[] = {{"white", whitebackdrop}, {"position", positionbackdrop}};
std::ostream& operator<<(std::ostream& os, const backdroprow& row) { return os << row.name; }

class SplashBackdrop : public ::testing::TestWithParam<backdroprow> {};

} // namespace

TEST_P(SplashBackdrop, FadeStartsFromTheScreenBeneathAndTheCornersKeepShowingIt)
{
    const backdroppattern pattern = GetParam().pattern;
    backdropwindow desktop(pattern);
    ASSERT_TRUE(desktop);
    const int left = 100, top = 100;
    testwindow window(left, top, false);
    resetbackground();
    ASSERT_TRUE(capturesplashbackdrop(window.handle()));
    EXPECT_TRUE(splashbackdropheld());

    // One panel pixel, away from the text, while the window shows and fades.
    const uint32_t beneathwatched = pattern(left + 100, top + 40);
    levelwatcher watcher(window, 100, 40);
    window.show();
    std::vector<int> levels = watcher.stop();
    EXPECT_TRUE(splashpainted);
    EXPECT_FALSE(splashbackdropheld()) << "the copy outlived the fade";

    capture c = window.grab();
    for (auto [x, y] : {std::pair{0, 0}, {579, 0}, {0, 53}, {579, 53}})
        EXPECT_EQ(c.at(x, y), pattern(left + x, top + y)) << "corner " << x << "," << y;
    // Translucent: every channel of what lies beneath, darkened to about half.
    for (auto [x, y] : {std::pair{100, 40}, {560, 50}, {20, 48}, {290, 45}}) {
        uint32_t beneath = pattern(left + x, top + y), p = c.at(x, y);
        EXPECT_NEAR(red(p), faded(red(beneath)), 6) << x << "," << y;
        EXPECT_NEAR(green(p), faded(green(beneath)), 6) << x << "," << y;
        EXPECT_NEAR(blue(p), faded(blue(beneath)), 6) << x << "," << y;
    }
    // The fade is seen: the pixel shows what lay beneath, then only darkens.
    auto shown = std::find(levels.begin(), levels.end(), red(beneathwatched));
    ASSERT_NE(shown, levels.end()) << "the screen beneath never showed";
    EXPECT_GE(levels.end() - shown, 4);
    for (auto i = shown + 1; i < levels.end(); ++i) EXPECT_LT(*i, *(i - 1));
    EXPECT_NEAR(levels.back(), faded(red(beneathwatched)), 6);
}

INSTANTIATE_TEST_SUITE_P(Backdrops, SplashBackdrop, ::testing::ValuesIn(backdroprows));

TEST(SplashBackdropCopy, NoCopyIsTakenWhenNoFadeIsToCome)
{
    testwindow window(100, 100, false);
    resetbackground();
    splashpainted = true;
    EXPECT_FALSE(capturesplashbackdrop(window.handle()));
    EXPECT_FALSE(splashbackdropheld());

    resetbackground();
    splashbackground.reset();
    EXPECT_FALSE(capturesplashbackdrop(window.handle()));
    EXPECT_FALSE(splashbackdropheld());
}

TEST(SplashBackdropCopy, APaintWithNothingToFadeReleasesACopy)
{
    testwindow window(100, 100, false);
    resetbackground();
    ASSERT_TRUE(capturesplashbackdrop(window.handle()));
    splashpainted = true;
    window.show();
    EXPECT_FALSE(splashbackdropheld());
}

namespace {

std::wstring familyname(const Gdiplus::FontFamily* family)
{
    WCHAR name[LF_FACESIZE] = {};
    family->GetFamilyName(name, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    return name;
}

} // namespace

TEST(SplashFont, TheFirstInstalledFamilyOfTheListIsChosen)
{
    const wchar_t* const names[] = {L"No Such Family 7f3a", L"WenQuanYi Micro Hei", L"Tahoma"};
    auto family = (choosefontfamily(names, 3));
    ASSERT_NE(family, nullptr);
    EXPECT_EQ(familyname(family.get()), L"WenQuanYi Micro Hei");
}

TEST(SplashFont, WithNoneOfTheListInstalledAnotherFamilyThatShowsChineseIsUsed)
{
    const wchar_t* const names[] = {L"No Such Family 7f3a", L"Nor This One 91c2"};
    auto family = (choosefontfamily(names, 2));
    ASSERT_NE(family, nullptr);
    EXPECT_TRUE(family->IsAvailable());
    // The free CJK family is the one installed on the test machines.
    EXPECT_EQ(familyname(family.get()), L"WenQuanYi Micro Hei");
}

TEST(SplashFont, TheMessageFamilyOnThisMachineIsInstalled)
{
    auto family = (choosefontfamily(splashfontfamilies, splashfontfamilycount));
    ASSERT_NE(family, nullptr);
    EXPECT_TRUE(family->IsAvailable());
    EXPECT_FALSE(familyname(family.get()).empty());
}
