// The program itself, run as a child process: with no display it fails
// with a clear message; its command line works anywhere; a font it draws
// with that is missing ends it with a line naming the file.
#include "program_child.h"
#include "sandbox.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const int WAIT_MS = 10000;
const std::string PROGRAM = std::string(KIVO_TEST_BIN_DIR) + "/tollbeck";

using ProgramFonts = kivo_test::SandboxTest;

} // namespace

TEST(Program, NoDisplayFailsClearlyAndTheCommandLineStillWorks)
{
    kivo_test::ProgramChild c;
    ASSERT_TRUE(c.start(PROGRAM, {}));
    EXPECT_EQ(c.wait_for_exit(WAIT_MS), 1);
    EXPECT_NE(c.err().find("Unable to open the window"), std::string::npos);

    ASSERT_TRUE(c.start(PROGRAM, {"--kivo"}));
    EXPECT_EQ(c.wait_for_exit(WAIT_MS), 0);
    EXPECT_NE(c.out().find("usage: "), std::string::npos);
}

// A request for the usage or the debug channels prints that alone, even
// where the video layer would complain on starting (no XDG_RUNTIME_DIR):
// the command line is handled before it starts.
TEST(Program, TheCommandLinePrintsOnlyWhatItWasAskedFor)
{
    for (const char* arg : {"--kivo", "--kivo-listdebug"}) {
        SCOPED_TRACE(arg);
        kivo_test::ProgramChild c;
        ASSERT_TRUE(c.start("/usr/bin/env", {"-u", "XDG_RUNTIME_DIR", PROGRAM, arg}));
        EXPECT_EQ(c.wait_for_exit(WAIT_MS), 0);
        EXPECT_EQ(c.err(), "");
        EXPECT_EQ(c.out().find(arg[6] ? "ID   Name\n" : "usage: "), 0u) << c.out();
    }
}

namespace {

// The links of a fonts folder of the build tree, as (name, target) pairs.
std::vector<std::pair<std::string, std::string>> font_links(const std::string& folder)
{
    std::vector<std::pair<std::string, std::string>> links;
    DIR* d = opendir(folder.c_str());
    while (dirent* e = d ? readdir(d) : nullptr) {
        char target[4096];
        const ssize_t n = readlink((folder + "/" + e->d_name).c_str(), target, sizeof target - 1);
        if (n > 0) {
            links.emplace_back(e->d_name, std::string(target, static_cast<std::size_t>(n)));
        }
    }
    if (d) {
        closedir(d);
    }
    return links;
}

} // namespace

// The program in a tree of its own: its binary, the build tree's pages.bin
// and pictures, and a fonts folder made here as the build makes it, less
// what each case takes away. A face it draws with that is missing (the
// folder gone, a link left dangling as after its package was removed) or
// is no font ends it before the window opens, with one line naming the
// file's full path and status 1; a face it never draws with is not needed.
TEST_F(ProgramFonts, AMissingFontEndsTheProgramWithALineNamingIt)
{
    const std::string share = path("tree/share/tollbeck"), fonts = share + "/fonts",
                      program = path("tree/bin/tollbeck");
    for (const char* folder : {"tree", "tree/bin", "tree/share", "tree/share/tollbeck"}) {
        ASSERT_EQ(mkdir(path(folder).c_str(), 0755), 0) << folder;
    }
    // The binary finds its data beside where it lies, so it is a link of
    // its own (a copy where the file system has none).
    if (link(PROGRAM.c_str(), program.c_str()) != 0) {
        ASSERT_TRUE(kivo_test::write_file(program, kivo_test::read_file(PROGRAM)));
        ASSERT_EQ(chmod(program.c_str(), 0755), 0);
    }
    const std::string built = KIVO_TEST_SHARE_DIR;
    ASSERT_EQ(symlink((built + "/pages.bin").c_str(), (share + "/pages.bin").c_str()), 0);
    ASSERT_EQ(symlink((built + "/images").c_str(), (share + "/images").c_str()), 0);
    const auto faces = font_links(built + "/fonts"), own_faces = font_links(built + "/fonts/faces");
    ASSERT_FALSE(faces.empty() || own_faces.empty()) << "no font links in the build tree";
    const std::string gone = " was not found.\n", damaged = " is damaged or cannot be read.\n";
    const struct
    {
        const char* what;
        const char* changed; // under fonts; null: the folder is gone
        const char* to;      // what it then holds: a dangling link's target, else the bytes of a file
        std::string said;    // empty: the window is the first thing missing
    } cases[] = {
        {"the folder gone", nullptr, nullptr, "Error: the font " + fonts + "/faces/Heading.ttf" + gone},
        {"the default face's link dangling", "BabelSans.ttf", "/nonexistent/DejaVuSans.ttf",
         "Error: the font " + fonts + "/BabelSans.ttf" + gone},
        {"the heading's face dangling", "faces/Heading.ttf", "/nonexistent/DejaVuSerif-Bold.ttf",
         "Error: the font " + fonts + "/faces/Heading.ttf" + gone},
        {"the heading's face no font", "faces/Heading.ttf", "",
         "Error: the font " + fonts + "/faces/Heading.ttf" + damaged},
        {"a face it never draws with dangling", "LinLibertine_Re-4.4.1.ttf", "/nonexistent/LinLibertine_R.otf", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        kivo_test::remove_tree(fonts);
        if (c.changed) {
            ASSERT_EQ(mkdir(fonts.c_str(), 0755), 0);
            ASSERT_EQ(mkdir((fonts + "/faces").c_str(), 0755), 0);
            for (const auto& [list, folder] :
                 {std::make_pair(&faces, fonts), std::make_pair(&own_faces, fonts + "/faces")}) {
                for (const auto& f : *list) {
                    ASSERT_EQ(symlink(f.second.c_str(), (folder + "/" + f.first).c_str()), 0) << f.first;
                }
            }
            const std::string at = fonts + "/" + c.changed;
            ASSERT_EQ(unlink(at.c_str()), 0);
            ASSERT_TRUE(c.to[0] == '/' ? symlink(c.to, at.c_str()) == 0 : kivo_test::write_file(at, "no face"));
        }
        kivo_test::ProgramChild child;
        ASSERT_TRUE(child.start(program, {}));
        EXPECT_EQ(child.wait_for_exit(WAIT_MS), 1);
        if (c.said.empty()) {
            EXPECT_NE(child.err().find("Unable to open the window"), std::string::npos) << child.err();
        } else {
            EXPECT_EQ(child.err(), c.said);
        }
    }
}
