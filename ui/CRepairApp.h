// The application object: starts the sockets layer, then runs the main dialog until it closes.
#pragma once

#include "CAviFixer.h"
#include "SocketsStartup.h"

#include <QApplication>

namespace clipwright::ui {

class CRepairApp : public QApplication {
    Q_OBJECT
public:
    CRepairApp(int& argc, char** argv);

    void SetSocketsStartup(SocketsStartup startup) { socketsStartup = std::move(startup); }

    // Runs the program's one dialog on `engine`. Always false: there is no message loop of the
    // program's own to run afterwards.
    bool StartApplication(CAviFixer& engine);
    int EndApplication();

private:
    SocketsStartup socketsStartup = StartPlatformSockets;
};

} // namespace clipwright::ui
