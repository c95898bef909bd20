// Clipwright, the desktop program.
#include "CAviFixer.h"
#include "CRepairApp.h"
#include "Interruption.h"

int main(int argc, char** argv) {
    // A logout or kill in the middle of a replace puts the recording back before the program ends.
    clipwright::interruption::InstallHandlers();
    clipwright::ui::CRepairApp app(argc, argv);
    // Made after the application object and so destroyed before it, as the program ends.
    clipwright::CAviFixer aviFixer;
    app.StartApplication(aviFixer);
    return app.EndApplication();
}
