// The places that pictures go to: each monitor that the full-screen window
// covers, or the whole client area in a preview and on systems that cannot
// list their monitors (Windows 95, NT 4.0).
#include "saver_frame.h"
#include "slideshow.h"

namespace {

// The monitor calls came with Windows 98 and 2000. They are looked up at run
// time: a program that imported them would not start on Windows 95 or NT 4.0.
using EnumDisplayMonitorsFn = decltype(&EnumDisplayMonitors);
using GetMonitorInfoFn = decltype(&GetMonitorInfoA);

struct MonitorList {
    GetMonitorInfoFn getInfo;
    int32_t count;
    RECT screens[MONITOR_LIMIT];
};

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, RECT* bounds, LPARAM data) {
    auto& list = *reinterpret_cast<MonitorList*>(data);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (list.getInfo && list.getInfo(monitor, &info)) {
        list.screens[list.count++] = info.rcMonitor;
    } else if (bounds) {
        list.screens[list.count++] = *bounds;
    }
    return list.count < MONITOR_LIMIT;  // a full list ends the enumeration
}

// The monitors' rectangles on the screen; 0 when the system cannot tell.
int32_t ListMonitors(RECT* screens) {
    HMODULE user32 = GetModuleHandleA("USER32.DLL");
    if (!user32) return 0;
    auto enumerate = ProcAs<EnumDisplayMonitorsFn>(GetProcAddress(user32, "EnumDisplayMonitors"));
    if (!enumerate) return 0;
    MonitorList list{};
    list.getInfo = ProcAs<GetMonitorInfoFn>(GetProcAddress(user32, "GetMonitorInfoA"));
    enumerate(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&list));
    for (int32_t i = 0; i < list.count; ++i) screens[i] = list.screens[i];
    return list.count;
}

int32_t Larger(int32_t a, int32_t b) { return a > b ? a : b; }
int32_t Smaller(int32_t a, int32_t b) { return a < b ? a : b; }

}  // namespace

// A monitor counts with the part of it that the client area covers. A mirrored
// monitor shows the same place as another one and adds nothing.
int32_t MonitorAreasInClient(const RECT* screens, int32_t count, POINT origin, int32_t clientWidth,
                             int32_t clientHeight, PictureArea* areas) {
    int32_t found = 0;
    for (int32_t i = 0; i < count && found < MONITOR_LIMIT; ++i) {
        const int32_t left = Larger(screens[i].left - origin.x, 0);
        const int32_t top = Larger(screens[i].top - origin.y, 0);
        const int32_t right = Smaller(screens[i].right - origin.x, clientWidth);
        const int32_t bottom = Smaller(screens[i].bottom - origin.y, clientHeight);
        if (right <= left || bottom <= top) continue;
        const PictureArea area{left, top, right - left, bottom - top};
        bool seen = false;
        for (int32_t j = 0; j < found; ++j) {
            const PictureArea& a = areas[j];
            seen = seen || (a.x == area.x && a.y == area.y && a.width == area.width &&
                            a.height == area.height);
        }
        if (!seen) areas[found++] = area;
    }
    return found;
}

void ReadPictureAreas(HWND window) {
    SlideshowState& s = g_slideshow;
    RECT client{};
    GetClientRect(window, &client);
    s.clientWidth = client.right;
    s.clientHeight = client.bottom;
    s.monitorCount = 0;
    if (g_frame.isPreview) return;
    RECT screens[MONITOR_LIMIT];
    const int32_t count = ListMonitors(screens);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    s.monitorCount =
        MonitorAreasInClient(screens, count, origin, s.clientWidth, s.clientHeight, s.monitors);
}
