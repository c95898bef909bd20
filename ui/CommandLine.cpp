#include "CommandLine.h"

#include "Strings.h"

#include <QCommandLineParser>
#include <cstdio>

namespace clipwright::ui {

std::optional<QString> ReadCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(strings::kCommandLineDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QString::fromUtf8(strings::kFileArgument),
                                 QString::fromUtf8(strings::kFileArgumentHelp),
                                 QString::fromUtf8(strings::kFileArgumentSyntax));
    // The version printed is the application's own (QCoreApplication::applicationVersion).
    parser.process(arguments);
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fprintf(stderr, "%s\n", strings::kOneFileOnly);
        return std::nullopt;
    }
    return files.isEmpty() ? QString() : files.first();
}

} // namespace clipwright::ui
