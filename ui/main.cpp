// Clipwright, the desktop program.
#include "CAviFixer.h"
#include "CRepairApp.h"

int main(int argc, char** argv) {
    clipwright::ui::CRepairApp app(argc, argv);
    // Made after the application object and so destroyed before it, as the program ends.
    clipwright::CAviFixer aviFixer;
    app.StartApplication(aviFixer);
    return app.EndApplication();
}
