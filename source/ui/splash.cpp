#include "splash.h"
#include "splashimages.h"

namespace gdip = Gdiplus::DllExports;

bool splashpainted = false;

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
// slim reader/writer locks; set up before main, so before any thread can
// stop the strip, and never deleted, so a stop during exit still finds it.
struct stoplocksection {
    CRITICAL_SECTION section;
    stoplocksection() { InitializeCriticalSection(&section); }
} stoplock;

Gdiplus::FontFamily* installedfamily(const wchar_t* name)
{
    auto* family = gdipnew<Gdiplus::FontFamily>(name);
    if (family && family->GetLastStatus() == Gdiplus::Ok && family->IsAvailable()) return family;
    delete family;
    return nullptr;
}

int CALLBACK takechinesefamily(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM found)
{
    // '@' names are the same faces turned for vertical text.
    if (font->lfFaceName[0] == L'@') return 1;
    auto** family = reinterpret_cast<Gdiplus::FontFamily**>(found);
    *family = installedfamily(font->lfFaceName);
    return *family ? 0 : 1;
}

// Any installed family with the simplified Chinese character set.
Gdiplus::FontFamily* chinesefamily()
{
    HDC screen = GetDC(nullptr);
    if (!screen) return nullptr;
    LOGFONTW wanted = {};
    wanted.lfCharSet = GB2312_CHARSET;
    Gdiplus::FontFamily* family = nullptr;
    EnumFontFamiliesExW(screen, &wanted, takechinesefamily, reinterpret_cast<LPARAM>(&family), 0);
    ReleaseDC(nullptr, screen);
    return family;
}

} // namespace

Gdiplus::FontFamily* choosefontfamily(const wchar_t* const* names, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (Gdiplus::FontFamily* family = installedfamily(names[i])) return family;
    if (Gdiplus::FontFamily* family = chinesefamily()) return family;
    // Asked for by name so the caller owns an ordinary family object.
    Gdiplus::GpFontFamily* generic = nullptr;
    WCHAR name[LF_FACESIZE] = {};
    if (gdip::GdipGetGenericFontFamilySansSerif(&generic) == Gdiplus::Ok && generic) {
        Gdiplus::Status named = gdip::GdipGetFamilyName(generic, name, LANG_NEUTRAL);
        gdip::GdipDeleteFontFamily(generic);
        if (named == Gdiplus::Ok)
            if (Gdiplus::FontFamily* family = installedfamily(name)) return family;
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
    return splashanimation->animThread != nullptr;
}

void stopsplashanimation()
{
    EnterCriticalSection(&stoplock.section);
    if (splashanimation) splashanimation->stopAnimation();
    LeaveCriticalSection(&stoplock.section);
}

void paintsplash(HWND window)
{
    PAINTSTRUCT ps;
    if (splashpainted || !splashbackground) {
        BeginPaint(window, &ps);
        EndPaint(window, &ps);
        return;
    }
    INT width = INT(splashbackground->GetWidth());
    INT height = INT(splashbackground->GetHeight());

    Gdiplus::FontFamily* family = choosefontfamily(splashfontfamilies, splashfontfamilycount);
    Gdiplus::Font* font = nullptr;
    if (family) {
        font = gdipnew<Gdiplus::Font>(family, 10.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint);
        if (font && font->GetLastStatus() != Gdiplus::Ok) {
            delete font;
            font = nullptr;
        }
    }
    auto* format = gdipnew<Gdiplus::StringFormat>(0, LANG_NEUTRAL);
    if (format) format->SetAlignment(Gdiplus::StringAlignmentCenter);
    auto* brush = gdipnew<Gdiplus::SolidBrush>(Gdiplus::Color(splashtextcolour));
    auto* attributes = gdipnew<Gdiplus::ImageAttributes>();
    Gdiplus::ColorMatrix matrix = {};
    matrix.m[3][3] = 1.0f;
    matrix.m[4][4] = 1.0f;
    // No width: centre alignment then centres the text on x = 290.
    const Gdiplus::RectF layout(290.0f, 3.0f, 0.0f, 0.0f);
    const Gdiplus::Rect panel(0, 0, width, height);

    float factor = 0.0f;
    do {
        for (int i = 0; i < 4; ++i) matrix.m[i][i] = factor;
        if (attributes)
            attributes->SetColorMatrix(&matrix, Gdiplus::ColorMatrixFlagsDefault, Gdiplus::ColorAdjustTypeDefault);
        BeginPaint(window, &ps);
        // Not BeginPaint's context: the panel must not be clipped to the update region.
        HDC dc = GetDC(window);
        if (dc) {
            auto* graphics = gdipnew<Gdiplus::Graphics>(dc);
            if (graphics) {
                graphics->DrawImage(splashbackground, panel, 0, 0, width, height, Gdiplus::UnitPixel, attributes);
                if (font) graphics->DrawString(splashmessage, splashmessagelength, font, layout, format, brush);
            }
            ReleaseDC(window, dc);
            delete graphics;
        }
        Sleep(fadesteppausems);
        EndPaint(window, &ps);
        factor += 0.03f;
    } while (factor <= 0.3f);

    splashpainted = true;
    delete splashbackground;
    // The flag alone would keep it from being read; a null slot cannot be misread.
    splashbackground = nullptr;

    delete attributes;
    delete brush;
    delete format;
    delete font;
    delete family;
}
