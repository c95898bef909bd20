// Clipwright, the desktop program.
#include "Application.h"
#include "CommandLine.h"
#include "platform/Interruption.h"
#include "repair/RepairEngine.h"

int main(int argc, char** argv) {
    // A logout or kill in the middle of a replace puts the recording back before the program ends.
    clipwright::interruption::InstallHandlers();
    clipwright::ui::Application app(argc, argv);
    const QStringList files = clipwright::ui::ReadCommandLine(app.arguments());
    // Made after the application object and so destroyed before it, as the program ends.
    clipwright::RepairEngine engine;
    return app.Run(engine, files);
}
