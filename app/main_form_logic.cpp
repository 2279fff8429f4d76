#include "app/main_form_logic.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace zelvo::app {

std::string PortStatusText(int comNumber, int dataBits, int parity, int stopBits, uint32_t baud)
{
    static const char kParity[] = "NOEMS";
    char p = parity >= 0 && parity < 5 ? kParity[parity] : '?';
    return " COM" + std::to_string(comNumber) + "  " + std::to_string(dataBits) + p
           + std::to_string(stopBits) + "  " + std::to_string(baud);
}

std::string LineMarkerText(std::string_view session, int comNumber, std::string_view device,
                           uint32_t baud, int dataBits, int parity, int stopBits)
{
    static const char kParity[] = "NOEMS";
    const char p = parity >= 0 && parity < 5 ? kParity[parity] : '?';
    std::string s = "[";
    if (!session.empty())
        s.append(session).append(": ");
    s += "COM" + std::to_string(comNumber);
    if (!device.empty())
        s.append(" ").append(device);
    s += " " + std::to_string(baud) + " " + std::to_string(dataBits) + p + std::to_string(stopBits) + "]";
    return s;
}

std::string WindowTitleText(std::string_view session, std::string_view remoteTitle)
{
    // The program's name at the end, as desktops show titles.
    std::string title;
    for (std::string_view part : {remoteTitle, session})
        if (!part.empty()) {
            title += part;
            title += " - ";
        }
    return title + "Zelvo32";
}

Point PlaceWindow(int left, int top, int screenWidth, int screenHeight, int width, int height)
{
    bool centre = left < 0 || top < 0;
    // A window whose title bar could not be reached is as good as lost.
    if (!centre && (left >= screenWidth - 16 || top >= screenHeight - 16))
        centre = true;
    Point p = centre ? Point{(screenWidth - width) / 2, (screenHeight - height) / 2}
                     : Point{left, top};
    p.x = std::max(p.x, 0);
    p.y = std::max(p.y, 0);
    return p;
}

namespace {
constexpr std::string_view kDirect = "Direct to COM";
}

std::string LineEntryText(int comNumber, std::string_view device)
{
    std::string s = std::string(kDirect) + std::to_string(comNumber);
    if (!device.empty())
        s += " (" + std::string(device) + ")";
    return s;
}

std::optional<int> LineEntryNumber(std::string_view text)
{
    size_t at = text.find(kDirect);
    if (at == std::string_view::npos)
        return std::nullopt;
    size_t i = at + kDirect.size();
    int n = 0;
    size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && digits < 4) {
        n = n * 10 + (text[i] - '0');
        ++i;
        ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    return n;
}

} // namespace zelvo::app
