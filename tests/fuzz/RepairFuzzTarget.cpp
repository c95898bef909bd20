// Fuzz target: any bytes as a recording, repaired in both modes through the whole engine (probe,
// in-place repair, rebuild with the writer). Besides not crashing, a "Make new file" repair must
// leave the recording's bytes exactly as they were.
#include "repair/RepairEngine.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace clipwright;

class FuzzHost : public FixerHost {
public:
    void Report(const EngineEvent&) override {}
    std::optional<ImageSettings>
    AskImageSettings(const std::optional<ImageSettings>& /*readFromVideo*/) override {
        return ImageSettings{kResolutionQvga, 15};
    }
    void ShowProgress(bool) override {}
};

std::string ScratchFolder() {
    static std::string folder = [] {
        const char* base = std::getenv("CLIPWRIGHT_FUZZ_DIR");
        std::string pattern = std::string(base ? base : "/tmp") + "/clipwright-fuzz-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr)
            std::abort();
        return std::string(name.data());
    }();
    return folder;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void RemoveOutputs(const std::string& folder) {
    for (const char* name :
         {"clip.avi", "fix_clip.avi", "tmp_clip.avi", ".fix_clip.avi.partial", ".clip.avi.partial"})
        ::unlink((folder + "/" + name).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static RepairEngine fixer;
    static FuzzHost host;
    fixer.SetHost(&host);
    const std::string folder = ScratchFolder();
    const std::string path = folder + "/clip.avi";

    for (OutputMode mode : {OutputMode::NewFile, OutputMode::ReplaceOriginal}) {
        RemoveOutputs(folder);
        WriteFile(path, data, size);
        fixer.RunFixJob(FixRequest{path, "clip.avi", mode});
        if (mode == OutputMode::NewFile && ReadFile(path) != std::vector<uint8_t>(data, data + size))
            std::abort(); // "Make new file" never writes the recording
        if (::access((folder + "/tmp_clip.avi").c_str(), F_OK) == 0)
            std::abort(); // no temporary name survives a job
    }
    RemoveOutputs(folder);
    return 0;
}
