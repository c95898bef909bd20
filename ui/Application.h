// The application object: the program's metadata and resources, the sockets start-up, and the main
// dialog's run from start to Exit.
#pragma once

#include "SocketsStartup.h"
#include "repair/RepairEngine.h"

#include <QApplication>
#include <QString>
#include <QStringList>

namespace clipwright::ui {

class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    void SetSocketsStartup(SocketsStartup startup) { socketsStartup = std::move(startup); }

    // Runs the main dialog on `engine` until it closes, with `files` chosen at the start when any
    // are given. Returns the program's exit code: 0, or 1 when the sockets layer could not be started.
    int Run(RepairEngine& engine, const QStringList& files = {});

private:
    SocketsStartup socketsStartup = StartPlatformSockets;
};

} // namespace clipwright::ui
