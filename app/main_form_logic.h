#pragma once
// Small pieces of the main window's behaviour that need no window: the status bar text
// of the line, the window placement and the line list of the port dialogs.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelvo::app {

// Panel 0 for a direct port: " COM2  8N1  57600".
std::string PortStatusText(int comNumber, int dataBits, int parity, int stopBits, uint32_t baud);

// The line written into the terminal where the line changed (another session or port):
// "[COM37 exec:/bin/bash -l 57600 8N1]", with the session's name in front for a named
// session ("[lab: COM5 /dev/ttyUSB0 9600 7E1]").
std::string LineMarkerText(std::string_view session, int comNumber, std::string_view device,
                           uint32_t baud, int dataBits, int parity, int stopBits);
// The window title: the title the remote side set, the named session that is open and
// the program's name, the most specific first; empty parts are left out.
std::string WindowTitleText(std::string_view session, std::string_view remoteTitle = {});

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

// Where the main window goes. A negative remembered coordinate centres it on the screen;
// so does a remembered place that would leave the window wholly off the screen (a
// monitor that is gone). Negative results become 0.
Point PlaceWindow(int left, int top, int screenWidth, int screenHeight, int width, int height);

// An entry of the line list: "Direct to COM5 (/dev/ttyUSB0)"; without a device just
// "Direct to COM5".
std::string LineEntryText(int comNumber, std::string_view device);
// The port number of a line list entry: the number after "Direct to COM", or nothing for
// an entry that is not a direct port (a telephony device).
std::optional<int> LineEntryNumber(std::string_view text);

} // namespace zelvo::app
