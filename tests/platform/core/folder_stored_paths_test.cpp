// Folder paths read from files, which may lead only into the folder their
// alias names, and the files a folder lets be read.
#include "folder.h"

#include "data_file.h"
#include "errors.h"
#include "folder_fixture.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>

namespace {

using kivo_test::FolderTest;

std::string confined(const char* path, FOLDER* here = nullptr)
{
    char out[2048];
    std::memset(out, 'x', sizeof(out));
    bool ok = FOLDER::confine_stored_path(path, out, here);
    EXPECT_EQ(ok, out[0] != 0 || !path[0]) << path;
    return ok ? out : "refused";
}

TEST_F(FolderTest, StoredPathsStayInsideTheirAliasFolder)
{
    mkdirs({app + "/styles", path("outside/styles")});
    FOLDER mine("$APP/styles");
    FOLDER::add_custom_path("$Mine", mine);
    FOLDER::add_custom_path("$ROOTED", mine);
    const struct
    {
        const char* stored;
        const char* kept;
    } cases[] = {
        {"$APPDATA/images", "$APPDATA/images"},
        {"$APP/data/../images", "$APP/images"},
        {"$APP//a/./b/", "$APP/a/b"},
        {"$APP/a/..", "$APP"},
        {"$Mine/skins", "$Mine/skins"},
        {"$ROOTED/x", "$ROOTED/x"},   // a registered name, not a volume
        {"plain/name", "plain/name"}, // set refuses it without moving
        {"", ""},
        {"$APPDATA/../../etc", "refused"},
        {"$APP/..", "refused"},
        {"$APP/a/../../b", "refused"},
        {"$Mine/../x", "refused"},
        {"$HERE/../x", "refused"}, // without a folder to stand for, $HERE is a root too
        {"$ROOT0/etc", "refused"},
        {"$root", "refused"},
        {"$ROOT3/proc/self", "refused"},
        {"../etc", "refused"},
        {"..", "refused"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(confined(c.stored), c.kept) << c.stored;
    }

    // "$HERE" against a folder: inside an alias it may climb to the alias's
    // folder; outside every alias, not above the folder itself.
    FOLDER styles("$APP/styles"), far = native(path("outside/styles"));
    char far_text[2048];
    ASSERT_TRUE(far.get(far_text));
    ASSERT_EQ(std::strncmp(far_text, "$ROOT0/", 7), 0);
    const struct
    {
        FOLDER* here;
        const char* stored;
        std::string kept;
    } relative[] = {
        {&styles, "$HERE/../images/", "$APP/images"},
        {&styles, "$HERE/skins", "$APP/styles/skins"},
        {&styles, "$HERE/../..", "refused"},
        {&styles, "$HERE/../../../etc", "refused"},
        {&far, "$HERE/skins", std::string(far_text) + "/skins"},
        {&far, "$here/skins/..", far_text},
        {&far, "$HERE/../images", "refused"},
        {&far, "$APP/x", "$APP/x"},
        {&far, "$ROOT0/etc", "refused"},
    };
    for (const auto& r : relative) {
        EXPECT_EQ(confined(r.stored, r.here), r.kept) << r.stored;
    }
    FOLDER::remove_custom_path("$Mine");
    FOLDER::remove_custom_path("$ROOTED");
}

// A whole record: the OS id, then `text` in the 2048-byte path block.
std::string record(char id, const std::string& text)
{
    std::string r(2049, '\0');
    r[0] = id;
    return r.replace(1, text.size(), text);
}

TEST_F(FolderTest, RecordsLeadingOutsideTheirAliasFailTheRead)
{
    mkdirs({app + "/data/images", path("etc")});
    for (const char* stored : {"$ROOT0/etc", "$APPDATA/../../etc", "$APP/../../etc", "$HERE/.."}) {
        FOLDER g("$APP/data");
        set_error_code(ERRCODE_NONE, nullptr);
        kivo_test::MEMORY_DATA_DEVICE dev(record('\xFF', stored));
        EXPECT_FALSE(g.get_from_data_device(dev)) << stored;
        EXPECT_TRUE(dev.error == 1 && current_error_code == ERRCODE_FILE_READ) << stored;
        EXPECT_EQ(where(g), real(app + "/data")) << stored;
        kivo_test::MEMORY_DATA_DEVICE old(record('\xFF', stored));
        char out[2048];
        EXPECT_FALSE(FOLDER::get_old_folder(old, out)) << stored;
    }
    // Walked folded: a link inside the folder cannot lead back out of it.
    link(path("etc"), app + "/data/images/up");
    FOLDER g;
    kivo_test::MEMORY_DATA_DEVICE dev(record('\xFF', "$APP/data/images/up/../x/.."));
    EXPECT_TRUE(g.get_from_data_device(dev));
    EXPECT_EQ(where(g), real(app + "/data/images"));
    // A host location, absolute by its nature, is not followed.
    kivo_test::MEMORY_DATA_DEVICE native_record(record(17, path("etc")));
    char out[2048];
    ASSERT_TRUE(FOLDER::get_old_folder(native_record, out));
    EXPECT_STREQ(out, "$APP");
}

TEST_F(FolderTest, OnlyPlainFilesAreOpened)
{
    mkdirs({app + "/data/sub", path("elsewhere")});
    ASSERT_TRUE(kivo_test::write_file(app + "/data/plain", "x"));
    ASSERT_TRUE(kivo_test::write_file(path("elsewhere/font"), "y"));
    ASSERT_EQ(mkfifo((app + "/data/pipe").c_str(), 0600), 0);
    link(path("elsewhere/font"), app + "/data/linked");
    link("/dev/zero", app + "/data/zero");
    link("/proc/self/mem", app + "/data/mem");
    link("/proc/self/status", app + "/data/status");
    link("/sys/kernel/mm/transparent_hugepage/enabled", app + "/data/sys");
    link(path("missing"), app + "/data/dangling");
    FOLDER data("$APP/data");
    const struct
    {
        const char* name;
        bool plain;
    } cases[] = {
        {"plain", true},     {"linked", true},        {"pipe", false},    {"zero", false},
        {"mem", false},      {"status", false},       {"sys", false},     {"sub", false},
        {"dangling", false}, {"sub/../plain", false}, {"missing", false}, {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(data.is_plain_file(c.name), c.plain) << c.name;
        // Nothing else is opened either: a pipe would wait for a writer.
        DATA_FILE* f = data.open_data_file(c.name, fm_read, 0, 0);
        EXPECT_EQ(f != nullptr, c.plain) << c.name;
        data.close(f);
    }
}

} // namespace
