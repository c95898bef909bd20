// What an executor needs of the job around it: the host to tell, and the outcome to fill in.
#pragma once

#include "platform/FileError.h"
#include "repair/FixOutcome.h"
#include "repair/FixerHost.h"
#include "repair/OutputNaming.h"

#include <string>

namespace clipwright {

struct JobContext {
    FixerHost* host = nullptr;
    FixOutcome& outcome;

    // A file error's fixed sentence, naming the file it concerns.
    void ReportFileError(const FileError& error) const {
        const char* message = FileErrorMessage(error.cause);
        if (message != nullptr && host != nullptr)
            host->ShowMessage(message, error.fileName);
    }
    // A failure that is not a file error, or a notice.
    void ShowProblem(const std::string& text, const std::string& filePath) const {
        if (host != nullptr)
            host->ShowMessage(text, filePath);
    }
};

} // namespace clipwright
