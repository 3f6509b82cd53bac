// x11_delay_line X,Y,WxH DELAY_MS TO_X,TO_Y
// A copy with a known delay, as ground truth for live measurements: grabs a
// region of the X11 screen every few milliseconds and shows each grab in a
// window of its own DELAY_MS after it was taken. Runs until killed.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Grabbed this often, the copy's own step is small beside the source's.
constexpr auto kGrabInterval = std::chrono::milliseconds(5);

struct Grab {
    Clock::time_point takenAt;
    XImage* image = nullptr;
};

struct ScreenRegion {
    int x = 0, y = 0;
    unsigned width = 0, height = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    ScreenRegion from;
    int delayMs = 0, toX = 0, toY = 0;
    if (argc != 4 || std::sscanf(argv[1], "%d,%d,%ux%u", &from.x, &from.y, &from.width, &from.height) != 4 ||
        std::sscanf(argv[2], "%d", &delayMs) != 1 || std::sscanf(argv[3], "%d,%d", &toX, &toY) != 2 || delayMs < 0) {
        std::fprintf(stderr, "usage: x11_delay_line X,Y,WxH DELAY_MS TO_X,TO_Y\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "x11_delay_line: cannot open the display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    const Window copy = XCreateWindow(display, root, toX, toY, from.width, from.height, 0, CopyFromParent, InputOutput,
                                      CopyFromParent, CWOverrideRedirect, &attributes);
    XStoreName(display, copy, "delay-line");
    XMapRaised(display, copy);
    const GC gc = XCreateGC(display, copy, 0, nullptr);
    const auto delay = std::chrono::milliseconds(delayMs);
    std::deque<Grab> grabs;
    for (auto next = Clock::now();; next += kGrabInterval) {
        std::this_thread::sleep_until(next);
        grabs.push_back({Clock::now(), XGetImage(display, root, from.x, from.y, from.width, from.height, AllPlanes, ZPixmap)});
        // The newest grab old enough is shown; those before it are done with.
        while (grabs.size() > 1 && grabs[1].takenAt + delay <= Clock::now()) {
            if (grabs.front().image != nullptr) XDestroyImage(grabs.front().image);
            grabs.pop_front();
        }
        if (grabs.front().takenAt + delay <= Clock::now() && grabs.front().image != nullptr) {
            XPutImage(display, copy, gc, grabs.front().image, 0, 0, 0, 0, from.width, from.height);
            XFlush(display);
        }
    }
}
