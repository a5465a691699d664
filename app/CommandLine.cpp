// Option parsing and the display check that come before the application object.
#include "app/CommandLine.h"

#include <array>
#include <string_view>

namespace {
// The toolkit's own options that take a value; it reads and removes them itself.
constexpr std::array<std::string_view, 6> kToolkitOptionsWithValue = {
    "-platform", "-style", "-stylesheet", "-display", "-qwindowgeometry", "-qwindowtitle"};
constexpr std::array<std::string_view, 1> kToolkitFlags = {"-reverse"};

bool Contains(auto& list, std::string_view s) {
    for (std::string_view o : list)
        if (o == s) return true;
    return false;
}

CommandLine Fail(std::string why) {
    CommandLine line;
    line.action = CommandLine::Action::Error;
    line.error = std::move(why);
    return line;
}

bool Set(const char* value) { return value && *value; }
} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool optionsEnd = false;
    bool haveFile = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnd && a.size() > 1 && a[0] == '-') {
            if (a == "--") {
                optionsEnd = true;
            } else if (a == "--help" || a == "-h") {
                line.action = CommandLine::Action::Help;
                return line;
            } else if (a == "--version" || a == "-V") {
                line.action = CommandLine::Action::Version;
                return line;
            } else if (Contains(kToolkitOptionsWithValue, a) || Contains(kToolkitOptionsWithValue, a.substr(1))) {
                if (i + 1 >= args.size()) return Fail("option '" + a + "' needs a value");
                const std::string_view bare = a[1] == '-' ? std::string_view(a).substr(1) : a;
                if (bare == "-platform") line.platform = args[i + 1];
                if (bare == "-display") line.displayGiven = true;
                ++i;
            } else if (Contains(kToolkitFlags, a)) {
            } else {
                return Fail("unknown option '" + a + "'");
            }
            continue;
        }
        if (haveFile) return Fail("more than one file given ('" + line.file + "', '" + a + "')");
        line.file = a;
        haveFile = true;
    }
    return line;
}

const char* UsageText() {
    return "Usage: pmxdiag [OPTION]... [FILE]\n"
           "Maintenance terminal for the PMX telephone switch.\n"
           "\n"
           "Reads CmdConf.txt (and the phone book PhoneNo.txt) from the folder it is\n"
           "started in. FILE, if given, is a text file (for example a trace file) shown\n"
           "in the terminal window at start.\n"
           "\n"
           "  -h, --help       show this help and exit\n"
           "  -V, --version    show the version and exit\n"
           "  --               end of options: what follows is the FILE\n"
           "\n"
           "The toolkit's options -platform NAME, -display DISPLAY, -style NAME,\n"
           "-stylesheet FILE, -qwindowgeometry GEOMETRY, -qwindowtitle TITLE and -reverse\n"
           "are accepted too.\n"
           "\n"
           "Exit status: 0 success, 1 start-up failed (command file or FILE unreadable),\n"
           "2 wrong usage, 3 no display to show the window on.\n"
           "\n"
           "See pmxdiag(1) for files, settings and environment.\n";
}

bool DisplayExpected(const CommandLine& line, const char* (*environment)(const char*)) {
    std::string platforms = line.platform;
    if (platforms.empty() && Set(environment("QT_QPA_PLATFORM"))) platforms = environment("QT_QPA_PLATFORM");
    const bool x11 = line.displayGiven || Set(environment("DISPLAY"));
    const bool wayland = Set(environment("WAYLAND_DISPLAY"));
    if (platforms.empty()) return x11 || wayland;
    // The toolkit tries each in turn; one that can work is enough.
    size_t start = 0;
    while (start <= platforms.size()) {
        size_t end = platforms.find(';', start);
        if (end == std::string::npos) end = platforms.size();
        std::string_view name = std::string_view(platforms).substr(start, end - start);
        if (const size_t colon = name.find(':'); colon != std::string_view::npos) name = name.substr(0, colon);
        if (name == "xcb") {
            if (x11) return true;
        } else if (name.rfind("wayland", 0) == 0) {
            if (wayland) return true;
        } else if (!name.empty()) {
            return true;  // offscreen, vnc, eglfs, linuxfb...: no display server needed
        }
        start = end + 1;
    }
    return false;
}
