// The Debian package as a user gets it: made by cpack from the build, unpacked, run, and read by
// Debian's own checkers.
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace clipwright::test {
namespace {

namespace fs = std::filesystem;

const fs::path kWork = PACKAGE_TEST_SCRATCH;
const std::string kVersion = PACKAGE_VERSION;

bool HasProgram(const std::string& name) {
    return RunCommand("command -v " + name).exitStatus == 0;
}

class DebianPackage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps", "file"})
            if (!HasProgram(tool)) {
                skipReason_ = std::string(tool) + " not found (Debian: dpkg-dev, file): no package is made";
                return;
            }
        fs::remove_all(kWork);
        fs::create_directories(kWork);
        const std::string arch = RunCommand("dpkg --print-architecture").out;
        deb_ = kWork / ("clipwright_" + kVersion + "_" + arch.substr(0, arch.find('\n')) + ".deb");
        const CommandResult made =
            RunCommand("cd " + ShellQuote(PACKAGE_BUILD_DIR) + " && " + ShellQuote(PACKAGE_CPACK_COMMAND) +
                       " -G DEB -B " + ShellQuote(kWork.string()));
        setUpLog_ = made.out + made.err;
        if (made.exitStatus == 0 && fs::exists(deb_)) {
            const CommandResult unpacked =
                RunCommand("dpkg-deb -x " + ShellQuote(deb_.string()) + " " + ShellQuote(Tree().string()));
            setUpLog_ += unpacked.err;
        }
    }

    void SetUp() override {
        if (!skipReason_.empty())
            GTEST_SKIP() << skipReason_;
        ASSERT_TRUE(fs::exists(Tree() / "usr")) << "no package unpacked from " << deb_ << ":\n" << setUpLog_;
    }

    static fs::path Tree() { return kWork / "unpacked"; }

    static inline std::string skipReason_;
    static inline std::string setUpLog_;
    static inline fs::path deb_;
};

TEST_F(DebianPackage, HoldsTheProgramsTheirDesktopFilesAndDocumentsAndNothingElse) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(Tree()))
        if (!entry.is_directory())
            files.insert(fs::relative(entry.path(), Tree()).string());
    const std::set<std::string> expected = {
        "usr/bin/Clipwright",
        "usr/bin/clipwright-cli",
        "usr/share/applications/com.norvale.Clipwright.desktop",
        "usr/share/metainfo/com.norvale.Clipwright.metainfo.xml",
        "usr/share/icons/hicolor/32x32/apps/clipwright.png",
        "usr/share/icons/hicolor/48x48/apps/clipwright.png",
        "usr/share/icons/hicolor/128x128/apps/clipwright.png",
        "usr/share/icons/hicolor/256x256/apps/clipwright.png",
        "usr/share/man/man1/Clipwright.1.gz",
        "usr/share/man/man1/clipwright-cli.1.gz",
        "usr/share/bash-completion/completions/clipwright-cli",
        "usr/share/doc/clipwright/copyright",
        "usr/share/doc/clipwright/changelog.gz",
    };
    EXPECT_EQ(files, expected);
}

TEST_F(DebianPackage, CommandLineToolRunsFromTheUnpackedTree) {
    const CommandResult result = RunCommand(ShellQuote(Tree() / "usr/bin/clipwright-cli") + " --version");
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "clipwright-cli " + kVersion + "\n");
}

TEST_F(DebianPackage, DependsOnTheLibrariesItsProgramsLoad) {
    const std::string depends = RunCommand("dpkg-deb -f " + ShellQuote(deb_.string()) + " Depends").out;
    for (const char* package : {"libc6", "libstdc++6", "libqt6widgets6", "libqt6core6", "qt6-qpa-plugins"})
        EXPECT_NE(depends.find(package), std::string::npos) << package << " missing from: " << depends;
}

TEST_F(DebianPackage, MetainfoAndChangelogNameThisVersion) {
    const Bytes metainfo = ReadBytes(Tree() / "usr/share/metainfo/com.norvale.Clipwright.metainfo.xml");
    const std::string text(metainfo.begin(), metainfo.end());
    const size_t firstRelease = text.find("<release ");
    ASSERT_NE(firstRelease, std::string::npos);
    EXPECT_EQ(text.find("version=\"" + kVersion + "\"", firstRelease), text.find("version=", firstRelease));

    const std::string changelog =
        RunCommand("zcat " + ShellQuote(Tree() / "usr/share/doc/clipwright/changelog.gz")).out;
    EXPECT_EQ(changelog.rfind("clipwright (" + kVersion + ") ", 0), 0u) << changelog;
}

TEST_F(DebianPackage, ManualPagesReadCleanlyAndCoverEachProgram) {
    const std::map<std::string, std::vector<std::string>> mustShow = {
        {"clipwright-cli.1.gz",
         {"clipwright-cli [--replace] [--resolution vga|qvga|qqvga] [--fps N] [--reference GOOD.avi] [-o "
          "DIR] [-q] [-n] FILE...",
          "--version", "EXIT STATUS", "EXAMPLES"}},
        {"Clipwright.1.gz", {"Clipwright [FILE...]", "--help", "--version", "dropped", "F1", "Cancel"}},
    };
    for (const auto& [page, phrases] : mustShow) {
        // Read as lintian reads a page: warnings from man and groff are faults in the page.
        const CommandResult shown =
            RunCommand("(LC_ALL=C.UTF-8 MANWIDTH=200 man --warnings -E UTF-8 -l " +
                       ShellQuote(Tree() / "usr/share/man/man1" / page) + " | col -b)");
        EXPECT_EQ(shown.err, "") << page;
        for (const std::string& phrase : phrases)
            EXPECT_NE(shown.out.find(phrase), std::string::npos) << page << ": " << phrase << "\n"
                                                                 << shown.out;
    }
}

TEST_F(DebianPackage, LintianFindsNoErrors) {
    if (!HasProgram("lintian"))
        GTEST_SKIP() << "lintian not found (Debian: lintian): the package is not checked";
    const CommandResult result = RunCommand("lintian --fail-on error " + ShellQuote(deb_.string()));
    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
}

} // namespace
} // namespace clipwright::test
