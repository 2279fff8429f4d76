#pragma once
// The program's parts and how they are put together: the port, the emulators, the
// terminal window, the light controller, the file server and the main window, with the
// main window's design values. main() makes one; benchmarks and tests make their own.

#include <QString>

#include <memory>
#include <string>

namespace zelvo::app {

class MainForm;
class UserPrompts;

class Program {
public:
    struct Options {
        bool startMinimised = false;
        // Dialogs are not shown: messages go to standard error and the port dialog
        // takes its own suggestion (screenshots, benchmarks).
        bool unattended = false;
    };

    explicit Program(const Options& options);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    MainForm& form();

private:
    // "T&api...": the selected modem's settings.
    void editModem(const std::string& name);

    struct Parts;
    std::unique_ptr<Parts> parts_;
};

} // namespace zelvo::app
