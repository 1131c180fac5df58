#include "splash.h"
#include "splashimages.h"

#include "handles.h"

#include <utility>

namespace gdip = Gdiplus::DllExports;

bool splashpainted = false;
void(WINAPI* splashfadepause)(DWORD) = Sleep;

// The preferred family first; then the Chinese families of systems that lack
// it and free ones, so that the message never silently goes missing.
const wchar_t* const splashfontfamilies[] = {
    L"\u5fae\u8f6f\u96c5\u9ed1", L"\u9ed1\u4f53",     L"\u5b8b\u4f53",
    L"WenQuanYi Micro Hei",      L"Noto Sans CJK SC", L"Source Han Sans SC",
};
const size_t splashfontfamilycount = sizeof splashfontfamilies / sizeof splashfontfamilies[0];

namespace {

const wchar_t splashmessage[] = L"\u6b63\u5728\u68c0\u67e5\u7535\u8111\u73af\u5883...";
const int splashmessagelength = 11;
const Gdiplus::ARGB splashtextcolour = 0xFFE1E1E1;
const int fadesteppausems = 50;

// Serialises the stop: the window's WM_DESTROY and an exit on another thread
// may both try to end the strip. A critical section, as Windows XP has no
// slim reader/writer locks; made before main and never deleted, so a stop
// during exit still finds it.
lasting<criticalsection> stoplockslot;
criticalsection& stoplock = stoplockslot.get();

// The screen under the window before it was first shown. A composing desktop
// gives a newly shown window black pixels, not what lies beneath it, and the
// panel is translucent with transparent corners: it is blended over this copy.
struct {
    gdiobject bitmap;
    int width = 0;
    int height = 0;
} backdrop;

// Copies the held backdrop to the client area through target; false when
// none is held or it could not be drawn.
bool drawbackdrop(HDC target)
{
    if (!backdrop.bitmap) return false;
    memorydc source(CreateCompatibleDC(target));
    if (!source) return false;
    selectedobject picture(source.get(), backdrop.bitmap.get());
    return BitBlt(target, 0, 0, backdrop.width, backdrop.height, source.get(), 0, 0, SRCCOPY) != FALSE;
}

gdipptr<Gdiplus::FontFamily> installedfamily(const wchar_t* name)
{
    auto family = gdipmake<Gdiplus::FontFamily>(name);
    if (family && family->GetLastStatus() == Gdiplus::Ok && family->IsAvailable()) return family;
    return nullptr;
}

int CALLBACK takechinesefamily(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM found)
{
    // '@' names are the same faces turned for vertical text.
    if (font->lfFaceName[0] == L'@') return 1;
    auto* family = reinterpret_cast<gdipptr<Gdiplus::FontFamily>*>(found);
    *family = installedfamily(font->lfFaceName);
    return *family ? 0 : 1;
}

// Any installed family with the simplified Chinese character set.
gdipptr<Gdiplus::FontFamily> chinesefamily()
{
    windowdc screen(nullptr);
    if (!screen) return nullptr;
    LOGFONTW wanted = {};
    wanted.lfCharSet = GB2312_CHARSET;
    gdipptr<Gdiplus::FontFamily> family;
    EnumFontFamiliesExW(screen.get(), &wanted, takechinesefamily, reinterpret_cast<LPARAM>(&family), 0);
    return family;
}

} // namespace

gdipptr<Gdiplus::FontFamily> choosefontfamily(const wchar_t* const* names, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (auto family = installedfamily(names[i])) return family;
    if (auto family = chinesefamily()) return family;
    // Asked for by name so the caller owns an ordinary family object.
    Gdiplus::GpFontFamily* generic = nullptr;
    WCHAR name[LF_FACESIZE] = {};
    if (gdip::GdipGetGenericFontFamilySansSerif(&generic) == Gdiplus::Ok && generic) {
        gdipflatfamily owned(generic);
        if (gdip::GdipGetFamilyName(generic, name, LANG_NEUTRAL) == Gdiplus::Ok)
            if (auto family = installedfamily(name)) return family;
    }
    // Systems without GDI+'s generic families still have the font their own
    // message boxes use.
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return installedfamily(metrics.lfMessageFont.lfFaceName);
    return nullptr;
}

bool startsplashanimation(HWND window)
{
    if (!splashanimation) return false;
    RECT client = {};
    GetClientRect(window, &client);
    UINT width = splashanimation->GetWidth();
    UINT height = splashanimation->GetHeight();
    // Unsigned halves: the strip is made smaller than the window.
    UINT left = (UINT(client.right - client.left) - width) / 2;
    UINT top = (UINT(client.bottom - client.top) - height) / 2;
    splashanimation->startAnimation(window, int32_t(left), int32_t(top));
    return bool(splashanimation->animThread);
}

void stopsplashanimation()
{
    scopedlock hold(stoplock);
    if (splashanimation) splashanimation->stopAnimation();
}

bool capturesplashbackdrop(HWND window)
{
    releasesplashbackdrop();
    if (splashpainted || !splashbackground) return false;
    RECT client = {};
    if (!GetClientRect(window, &client)) return false;
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    POINT origin = {0, 0};
    if (width <= 0 || height <= 0 || !ClientToScreen(window, &origin)) return false;
    windowdc screen(nullptr);
    if (!screen) return false;
    memorydc copy(CreateCompatibleDC(screen.get()));
    gdiobject bitmap(CreateCompatibleBitmap(screen.get(), width, height));
    if (!copy || !bitmap) return false;
    {
        selectedobject target(copy.get(), bitmap.get());
        // CAPTUREBLT: layered windows beneath are part of what the user sees.
        if (!BitBlt(copy.get(), 0, 0, width, height, screen.get(), origin.x, origin.y, SRCCOPY | CAPTUREBLT))
            return false;
    }
    backdrop.bitmap = std::move(bitmap);
    backdrop.width = width;
    backdrop.height = height;
    return true;
}

bool splashbackdropheld() { return bool(backdrop.bitmap); }

void releasesplashbackdrop()
{
    backdrop.bitmap.reset();
    backdrop.width = backdrop.height = 0;
}

void paintsplash(HWND window)
{
    if (splashpainted || !splashbackground) {
        // Nothing will draw a copy from now on.
        releasesplashbackdrop();
        paintcycle validate(window);
        return;
    }
    INT width = INT(splashbackground->GetWidth());
    INT height = INT(splashbackground->GetHeight());

    gdipptr<Gdiplus::FontFamily> family = choosefontfamily(splashfontfamilies, splashfontfamilycount);
    gdipptr<Gdiplus::Font> font;
    if (family) {
        font = gdipmake<Gdiplus::Font>(family.get(), 10.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint);
        if (font && font->GetLastStatus() != Gdiplus::Ok) font.reset();
    }
    auto format = gdipmake<Gdiplus::StringFormat>(0, LANG_NEUTRAL);
    if (format) format->SetAlignment(Gdiplus::StringAlignmentCenter);
    auto brush = gdipmake<Gdiplus::SolidBrush>(Gdiplus::Color(splashtextcolour));
    auto attributes = gdipmake<Gdiplus::ImageAttributes>();
    Gdiplus::ColorMatrix matrix = {};
    matrix.m[3][3] = 1.0f;
    matrix.m[4][4] = 1.0f;
    // No width: centre alignment then centres the text on x = 290.
    const Gdiplus::RectF layout(290.0f, 3.0f, 0.0f, 0.0f);
    const Gdiplus::Rect panel(0, 0, width, height);

    // The copy of the screen goes down once, under the first step: the steps
    // build on each other, so the panel ends up darkening it to about half.
    bool backdroplaid = false;
    float factor = 0.0f;
    do {
        for (int i = 0; i < 4; ++i) matrix.m[i][i] = factor;
        if (attributes)
            attributes->SetColorMatrix(&matrix, Gdiplus::ColorMatrixFlagsDefault, Gdiplus::ColorAdjustTypeDefault);
        paintcycle cycle(window);
        {
            // Not BeginPaint's context: the panel must not be clipped to the update region.
            windowdc dc(window);
            if (dc && !backdroplaid) backdroplaid = drawbackdrop(dc.get());
            auto graphics = dc ? gdipmake<Gdiplus::Graphics>(dc.get()) : nullptr;
            if (graphics) {
                graphics->DrawImage(splashbackground.get(), panel, 0, 0, width, height, Gdiplus::UnitPixel,
                                    attributes.get());
                if (font)
                    graphics->DrawString(splashmessage, splashmessagelength, font.get(), layout, format.get(),
                                         brush.get());
            }
        }
        splashfadepause(fadesteppausems);
        factor += 0.03f;
    } while (factor <= 0.3f);

    splashpainted = true;
    releasesplashbackdrop();
    // The flag alone would keep it from being read; an empty slot cannot be misread.
    splashbackground.reset();
}
