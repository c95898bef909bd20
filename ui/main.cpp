// Clipwright, the desktop program.
#include "Application.h"
#include "CAviFixer.h"
#include "CommandLine.h"

int main(int argc, char** argv) {
    clipwright::ui::Application app(argc, argv);
    const std::optional<QString> file = clipwright::ui::ReadCommandLine(app.arguments());
    if (!file)
        return 1;
    // Made after the application object and so destroyed before it, as the program ends.
    clipwright::CAviFixer aviFixer;
    return app.Run(aviFixer, *file);
}
