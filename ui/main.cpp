// Clipwright, the desktop program.
#include "Application.h"
#include "CAviFixer.h"
#include "CommandLine.h"
#include "Interruption.h"

int main(int argc, char** argv) {
    // A logout or kill in the middle of a replace puts the recording back before the program ends.
    clipwright::interruption::InstallHandlers();
    clipwright::ui::Application app(argc, argv);
    const std::optional<QString> file = clipwright::ui::ReadCommandLine(app.arguments());
    if (!file)
        return 1;
    // Made after the application object and so destroyed before it, as the program ends.
    clipwright::CAviFixer aviFixer;
    return app.Run(aviFixer, *file);
}
