#include "CommandLine.h"

#include "Strings.h"

#include <QCommandLineParser>

namespace clipwright::ui {

QStringList ReadCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(strings::kCommandLineDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QString::fromUtf8(strings::kFileArgument),
                                 QString::fromUtf8(strings::kFileArgumentHelp),
                                 QString::fromUtf8(strings::kFileArgumentSyntax));
    // The version printed is the application's own (QCoreApplication::applicationVersion).
    parser.process(arguments);
    return parser.positionalArguments();
}

} // namespace clipwright::ui
