#include <windows.h>

#include <gtest/gtest.h>

#include "ui/dialog_placement.h"

namespace {

struct Screen {
    int cx, cy;
};

Screen ScreenSize()
{
    HDC hdc = GetDC(NULL);
    Screen screen = { GetDeviceCaps(hdc, HORZRES), GetDeviceCaps(hdc, VERTRES) };
    ReleaseDC(NULL, hdc);
    return screen;
}

RECT PlaceWindow(int x, int y, int cx, int cy, HWND hOwner = NULL)
{
    HWND hWnd = CreateWindowExA(0, "STATIC", "dialog", WS_POPUP, x, y, cx, cy, hOwner, NULL, NULL, NULL);
    EXPECT_NE(hWnd, nullptr);
    CenterOnScreen(hWnd);
    RECT rc;
    GetWindowRect(hWnd, &rc);
    DestroyWindow(hWnd);
    return rc;
}

TEST(CenterOnScreen, CentresOnThePrimaryScreenKeepingTheSize)
{
    Screen screen = ScreenSize();
    RECT rc = PlaceWindow(5, 7, 301, 201);
    EXPECT_EQ(rc.left, screen.cx / 2 - 301 / 2);
    EXPECT_EQ(rc.top, screen.cy / 2 - 201 / 2);
    EXPECT_EQ(rc.right - rc.left, 301);
    EXPECT_EQ(rc.bottom - rc.top, 201);
}

TEST(CenterOnScreen, IgnoresTheOwnerWindow)
{
    Screen screen = ScreenSize();
    HWND hOwner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
    RECT rc = PlaceWindow(0, 0, 200, 100, hOwner);
    EXPECT_EQ(rc.left, screen.cx / 2 - 100);
    EXPECT_EQ(rc.top, screen.cy / 2 - 50);
    DestroyWindow(hOwner);
}

TEST(CenterOnScreen, DialogAsLargeAsTheScreenGoesToTheOrigin)
{
    Screen screen = ScreenSize();
    RECT rc = PlaceWindow(40, 30, screen.cx, screen.cy);
    EXPECT_EQ(rc.left, 0);
    EXPECT_EQ(rc.top, 0);
}

TEST(CenterOnScreen, DialogTwoPixelsWiderThanTheScreenStartsAtMinusOne)
{
    Screen screen = ScreenSize();
    RECT rc = PlaceWindow(40, 30, screen.cx + 2, screen.cy + 2);
    EXPECT_EQ(rc.left, -1);
    EXPECT_EQ(rc.top, -1);
    EXPECT_EQ(rc.right - rc.left, screen.cx + 2);
}

}  // namespace
