#include "folder.h"

#include "debug_stream.h"
#include "folder_fixture.h"
#include "kivo_host.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

using kivo_test::FolderTest;

TEST_F(FolderTest, AppAliasesAndRelativeWalks)
{
    mkdirs(app + "/images");
    mkdirs(app + "/data");
    FOLDER f;
    EXPECT_EQ(where(f), real(app));
    for (const char* a : {"$APP", "$BASE", "$app", "$Base"}) {
        FOLDER g(a);
        EXPECT_EQ(where(g), real(app)) << a;
    }
    EXPECT_TRUE(f.set("$APP/data/../images"));
    EXPECT_EQ(where(f), real(app + "/images"));
    EXPECT_TRUE(f.set("$APP//images/"));
    EXPECT_EQ(where(f), real(app + "/images"));

    // No alias and no "..": back to the application folder, false.
    EXPECT_FALSE(f.set("images"));
    EXPECT_EQ(where(f), real(app));
    EXPECT_FALSE(f.set(nullptr));

    // A failed step stops at the last folder reached.
    EXPECT_FALSE(f.set("$APP/images/missing/x"));
    EXPECT_EQ(where(f), real(app + "/images"));

    // ".." and "$HERE" without a reference are taken from where the folder is.
    EXPECT_TRUE(f.set("../data"));
    EXPECT_EQ(where(f), real(app + "/data"));
    EXPECT_TRUE(f.set("$HERE/../images"));
    EXPECT_EQ(where(f), real(app + "/images"));
    FOLDER ref("$APP/data");
    EXPECT_TRUE(f.set("$HERE", 0, &ref));
    EXPECT_EQ(where(f), real(app + "/data"));

    // Creation only on request, component by component.
    EXPECT_FALSE(f.set("$APP/new/deeper"));
    EXPECT_FALSE(exists(app + "/new"));
    EXPECT_TRUE(f.set("$APP/new/deeper", 1));
    EXPECT_TRUE(is_dir(app + "/new/deeper"));
}

TEST_F(FolderTest, HostStepsRejectUnsafeNamesAndFollowLinks)
{
    mkdirs(app + "/sub");
    mkdirs(path("elsewhere"));
    ASSERT_EQ(symlink(path("elsewhere").c_str(), (app + "/link").c_str()), 0);
    ASSERT_EQ(symlink(path("nowhere").c_str(), (app + "/dangling").c_str()), 0);
    ASSERT_TRUE(kivo_test::write_file(app + "/file", "x"));
    FOLDER f;
    for (const char* bad : {"", ".", "..", "sub/..", "/etc", "file", "dangling"}) {
        EXPECT_FALSE(f.move_down(bad, 1)) << bad;
        EXPECT_EQ(where(f), real(app)) << bad;
    }
    EXPECT_FALSE(f.move_down(nullptr, 1));
    EXPECT_FALSE(exists(path("nowhere")));
    EXPECT_FALSE(f.move_down(std::string(256, 'n').c_str(), 1));

    EXPECT_TRUE(f.move_down("link"));
    EXPECT_EQ(where(f), real(path("elsewhere")));
    FOLDER same;
    same.set_from_path_string(path("elsewhere").c_str());
    EXPECT_TRUE(f == same);
    FOLDER via_link;
    ASSERT_TRUE(via_link.set_from_path_string((app + "/link").c_str()));
    EXPECT_TRUE(via_link == same);
    EXPECT_FALSE(via_link == FOLDER());

    EXPECT_TRUE(f.change_to_drive(0));
    EXPECT_EQ(where(f), "/");
    EXPECT_FALSE(f.move_up());
    EXPECT_FALSE(f.change_to_drive(1));
    EXPECT_EQ(FOLDER::get_drive_count(), 1);
    EXPECT_STREQ(FOLDER::get_drive_name(0), "/");
    EXPECT_EQ(FOLDER::get_drive_name(1), nullptr);
    EXPECT_FALSE(f.set_from_path_string((app + "/file").c_str()));
    EXPECT_FALSE(f.set_from_path_string(""));
    EXPECT_FALSE(FOLDER::validate_path(reinterpret_cast<const INT_U8*>("relative")));
}

TEST_F(FolderTest, UserFoldersFollowXdgAndHome)
{
    std::string data_home = path("home/.local/share");
    FOLDER f;
    // The user data folder does not exist yet: no fallback means false.
    EXPECT_FALSE(f.goto_preset_folder("$USERDATA", 0, nullptr, 1));
    EXPECT_TRUE(f.goto_preset_folder("$USERDATA", 1));
    EXPECT_EQ(where(f), real(data_home + "/kivotest"));

    // Relative XDG values do not count; HOME's default applies.
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_TRUE(f.set("$USERPREFS", 0, nullptr, 1));
    EXPECT_EQ(where(f), real(path("home/.config/kivotest")));
    setenv("XDG_CONFIG_HOME", path("cfg").c_str(), 1);
    EXPECT_TRUE(f.set("$USERPREFS/debug", 1, nullptr, 1));
    EXPECT_EQ(where(f), real(path("cfg/kivotest/debug")));
    struct stat st;
    ASSERT_EQ(stat(path("cfg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // No HOME and no XDG: the host lookup fails, the fallback answers.
    unsetenv("XDG_DATA_HOME");
    unsetenv("HOME");
    EXPECT_FALSE(f.goto_preset_folder("$USERDATA", 1, nullptr, 1));
}

TEST_F(FolderTest, UserDataCreateFlagsAndDataFallback)
{
    std::string data = path("data"); // two levels above the application folder
    mkdirs(data);
    FOLDER f;
    // create makes 'x' but not the user-data folder: the alias falls back.
    EXPECT_TRUE(f.set("$USERDATA/x", 1));
    EXPECT_TRUE(is_dir(data + "/x"));
    EXPECT_FALSE(exists(path("home/.local/share/kivotest")));
    EXPECT_TRUE(f.set("$USERDATA/x", 1, nullptr, 1));
    EXPECT_TRUE(is_dir(path("home/.local/share/kivotest/x")));

    // The data fallback prefers the nearest level.
    mkdirs(app + "/data");
    EXPECT_TRUE(f.set("$INSTDATA"));
    EXPECT_EQ(where(f), real(app + "/data"));
    EXPECT_TRUE(f.set("$SYSAPP"));
    EXPECT_EQ(where(f), real(app));

    // Without any data folder the fallback ends at $APP and fails.
    rmdir((app + "/data").c_str());
    rmdir((data + "/x").c_str());
    rmdir(data.c_str());
    EXPECT_FALSE(f.set("$APPDATA"));
    EXPECT_EQ(where(f), real(app));
}

TEST_F(FolderTest, SharedDataSearchesXdgDataDirsInOrder)
{
    std::string a = path("share-a"), b = path("share-b");
    mkdirs(b + "/kivotest");
    setenv("XDG_DATA_DIRS", ("relative:" + a + ":" + b).c_str(), 1);
    FOLDER f;
    EXPECT_TRUE(f.goto_preset_folder("$APPDATA", 0, nullptr, 1));
    EXPECT_EQ(where(f), real(b + "/kivotest"));
    mkdirs(a + "/kivotest");
    EXPECT_TRUE(f.goto_preset_folder("$appdata", 0, nullptr, 1));
    EXPECT_EQ(where(f), real(a + "/kivotest"));
}

TEST_F(FolderTest, TempIsPrivateToTheRun)
{
    FOLDER f("$TEMP");
    std::string t = where(f);
    EXPECT_EQ(t.rfind(real(path("tmp")) + "/kivotest-", 0), 0u) << t;
    EXPECT_EQ(std::string(FOLDER::temp_path), t);
    struct stat st;
    ASSERT_EQ(stat(t.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    FOLDER again("$TEMP");
    EXPECT_EQ(where(again), t);

    // Skipping the system folders: the application's "temp", created.
    FOLDER local("$TEMP", 0, nullptr, 1);
    EXPECT_EQ(where(local), real(app + "/temp"));
}

TEST_F(FolderTest, RootsFontsAndIcons)
{
    FOLDER f;
    EXPECT_TRUE(f.set("$ROOT"));
    EXPECT_EQ(where(f), "/");
    EXPECT_TRUE(f.set("$root0"));
    EXPECT_EQ(where(f), "/");
    // Volume numbers beyond the root fail, also those too large for a short.
    for (const char* far : {"$ROOT9", "$ROOT65536", "$ROOT-1", "$ROOT99999999999999999999"}) {
        f.set("$ROOT0");
        EXPECT_FALSE(f.set(far)) << far;
        EXPECT_EQ(where(f), real(app)) << far;
    }

    // Nothing anywhere: $APP and false.
    EXPECT_FALSE(f.set("$FONTDATA"));
    EXPECT_EQ(where(f), real(app));
    // The climb: kivo_libs/data/fonts one level up.
    mkdirs(path("app/kivo_libs/data/fonts"));
    EXPECT_TRUE(f.set("$FONTDATA"));
    EXPECT_EQ(where(f), real(path("app/kivo_libs/data/fonts")));
    // data/fonts at the same level wins over kivo_libs.
    mkdirs(path("app/data/fonts"));
    EXPECT_TRUE(f.set("$FONTDATA"));
    EXPECT_EQ(where(f), real(path("app/data/fonts")));
    // System folders come first: shared data, then user data before it.
    mkdirs(path("usr-share/kivotest/fonts"));
    EXPECT_TRUE(f.set("$FONTDATA"));
    EXPECT_EQ(where(f), real(path("usr-share/kivotest/fonts")));
    mkdirs(path("home/.local/share/kivotest/fonts"));
    EXPECT_TRUE(f.set("$FONTDATA"));
    EXPECT_EQ(where(f), real(path("home/.local/share/kivotest/fonts")));
    EXPECT_TRUE(f.set("$FONTDATA", 0, nullptr, 0, 0, 1));
    EXPECT_EQ(where(f), real(path("app/data/fonts")));

    mkdirs(path("usr-share/kivotest/icons"));
    EXPECT_TRUE(f.set("$ICONDATA"));
    EXPECT_EQ(where(f), real(path("usr-share/kivotest/icons")));
    mkdirs(path("myicons"));
    FOLDER icons;
    ASSERT_TRUE(icons.set_from_path_string(path("myicons").c_str()));
    FOLDER::set_alt_icon_path(icons);
    EXPECT_TRUE(f.set("$ICONDATA"));
    EXPECT_EQ(where(f), real(path("myicons")));
    FOLDER::clear_alt_icon_path();
    EXPECT_TRUE(f.set("$ICONDATA"));
    EXPECT_EQ(where(f), real(path("usr-share/kivotest/icons")));
}

TEST_F(FolderTest, CustomPathsAndAlternativeBase)
{
    mkdirs(path("mine"));
    mkdirs(path("other"));
    FOLDER mine, other;
    ASSERT_TRUE(mine.set_from_path_string(path("mine").c_str()));
    ASSERT_TRUE(other.set_from_path_string(path("other").c_str()));

    FOLDER::add_custom_path("$MyData", mine);
    FOLDER f;
    EXPECT_TRUE(f.set("$MyData"));
    EXPECT_EQ(where(f), where(mine));
    FOLDER::add_custom_path("$MyData", other); // replaces
    EXPECT_TRUE(f.set("$MyData"));
    EXPECT_EQ(where(f), where(other));
    // Custom entries come before the built-in aliases.
    FOLDER::add_custom_path("$APPDATA", mine);
    EXPECT_TRUE(f.set("$APPDATA"));
    EXPECT_EQ(where(f), where(mine));
    FOLDER::remove_custom_path("$APPDATA");
    FOLDER::remove_custom_path("$MyData");
    EXPECT_FALSE(f.set("$APPDATA"));

    // An alternative base without a name: every system lookup falls back.
    mkdirs(path("home/.local/share/kivotest"));
    mkdirs(path("base/data"));
    FOLDER base;
    ASSERT_TRUE(base.set_from_path_string(path("base").c_str()));
    FOLDER::set_alt_base_path(base, "");
    EXPECT_TRUE(f.set("$APP"));
    EXPECT_EQ(where(f), real(path("base")));
    EXPECT_TRUE(f.set("$USERDATA"));
    EXPECT_EQ(where(f), real(path("base/data")));
    // With a name, the system folders of that name.
    mkdirs(path("home/.local/share/renamed"));
    FOLDER::set_alt_base_path(base, "renamed");
    EXPECT_TRUE(f.set("$USERDATA"));
    EXPECT_EQ(where(f), real(path("home/.local/share/renamed")));
    FOLDER out;
    char name[5];
    FOLDER::get_alt_base_path(out, name, sizeof(name));
    EXPECT_EQ(where(out), real(path("base")));
    EXPECT_STREQ(name, "rena");
    FOLDER::clear_alt_base_path();
    EXPECT_TRUE(f.set("$USERDATA"));
    EXPECT_EQ(where(f), real(path("home/.local/share/kivotest")));
}

TEST_F(FolderTest, DescribesItselfAsAliasPaths)
{
    mkdirs(app + "/images/icons");
    mkdirs(app + "/a/b");
    mkdirs(app + "/c");
    mkdirs(path("home/.local/share/kivotest/saves"));
    mkdirs(path("outside/deep"));
    char out[2048];
    FOLDER f("$APP/images");
    EXPECT_TRUE(f.get(out));
    EXPECT_STREQ(out, "$APP/images");
    f.set("$APP");
    f.get(out);
    EXPECT_STREQ(out, "$APP");
    f.set("$USERDATA/saves");
    f.get(out);
    EXPECT_STREQ(out, "$USERDATA/saves");

    // Outside every alias: from the root.
    ASSERT_TRUE(f.set_from_path_string(path("outside/deep").c_str()));
    f.get(out);
    EXPECT_EQ(std::string(out), "$ROOT0" + real(path("outside/deep")));
    FOLDER back(out);
    EXPECT_TRUE(back == f);
    f.set("$ROOT0");
    f.get(out);
    EXPECT_STREQ(out, "$ROOT0");

    // Relative forms.
    FOLDER from("$APP/a/b"), to("$APP/c");
    EXPECT_TRUE(from.get_path_to(to, out));
    EXPECT_STREQ(out, "$HERE/../../c/");
    FOLDER there(out, 0, &from);
    EXPECT_TRUE(there == to);
    EXPECT_TRUE(to.get(out, &from));
    EXPECT_STREQ(out, "$HERE/../../c/");
    from.get_path_to(from, out);
    EXPECT_STREQ(out, "$HERE");
    FOLDER root("$ROOT0");
    root.get_path_to(from, out);
    EXPECT_EQ(std::string(out), "$HERE" + real(app + "/a/b") + "/");
    from.get_path_to(root, out);
    FOLDER up(out, 0, &from);
    EXPECT_EQ(where(up), "/");

    // Native forms.
    FOLDER images("$APP/images");
    EXPECT_EQ(std::string(images.get_path_string()), real(app + "/images"));
    EXPECT_EQ(std::string(images.get_path_string("x.png")), real(app + "/images") + "/x.png");
    EXPECT_STREQ(images.get_path_string(std::string(2100, 'x').c_str()), "");
    EXPECT_STREQ(images.get_directory_name(), "images");
    EXPECT_STREQ(root.get_directory_name(), "");
    EXPECT_EQ(std::string(FOLDER::get_path_string_from_custom("$APP/not/../there", "f.txt")),
              real(app) + "/there/f.txt");
    EXPECT_EQ(std::string(FOLDER::get_path_string_from_custom("x/$ROOT0/y", nullptr)), "/y");
}

TEST_F(FolderTest, TempAliasMatchesOnlyOnceMade)
{
    FOLDER t("$TEMP");
    FOLDER inside("$TEMP/work", 1);
    char out[2048];
    inside.get(out);
    EXPECT_STREQ(out, "$TEMP/work");
}

TEST_F(FolderTest, RecordBytesAndForeignRecords)
{
    mkdirs(app + "/images");
    FOLDER f("$APP/images");
    kivo_test::MEMORY_DATA_DEVICE d;
    ASSERT_TRUE(f.put_to_data_device(d));
    ASSERT_EQ(d.data.size(), 2049u);
    EXPECT_EQ(d.data[0], 0xFF);
    EXPECT_EQ(std::memcmp(&d.data[1], "$APP/images", 12), 0);
    for (std::size_t i = 13; i < d.data.size(); ++i)
        ASSERT_EQ(d.data[i], 0) << i;

    FOLDER g;
    d.pos = 0;
    ASSERT_TRUE(g.get_from_data_device(d));
    EXPECT_TRUE(g == f);

    // A path block without terminator, a foreign id, a vanished path: all
    // read as "$APP" and still count as read.
    std::string junk(2049, 'A');
    junk.replace(0, 6, "\xFF$APP/");
    std::string foreign(2049, '\x07');
    foreign[0] = 0x03;
    for (const std::string& bytes : {junk, foreign}) {
        kivo_test::MEMORY_DATA_DEVICE dev(bytes);
        g.set("$APP/images");
        EXPECT_TRUE(g.get_from_data_device(dev));
        EXPECT_EQ(dev.pos, 2049);
        EXPECT_EQ(where(g), real(app));
    }

    // A native location of this host, in a roundabout spelling, is taken
    // as the folder it names; a relative one is not.
    ASSERT_EQ(symlink(app.c_str(), path("applink").c_str()), 0);
    std::string p = real(app + "/images");
    for (const std::string& spelling : {p, path("applink/data/../images")}) {
        std::string native(2049, '\0');
        native[0] = 17;
        mkdirs(app + "/data");
        native.replace(1, spelling.size(), spelling);
        kivo_test::MEMORY_DATA_DEVICE same_host(native);
        g.set("$ROOT0");
        EXPECT_TRUE(g.get_from_data_device(same_host));
        EXPECT_EQ(where(g), p) << spelling;
        char text[2048];
        ASSERT_TRUE(g.get(text));
        EXPECT_STREQ(text, "$APP/images") << spelling;
    }
    std::string relative(2049, '\0');
    relative[0] = 17;
    relative.replace(1, 3, "bin");
    kivo_test::MEMORY_DATA_DEVICE rel(relative);
    g.set("$ROOT0");
    EXPECT_TRUE(g.get_from_data_device(rel));
    EXPECT_EQ(where(g), real(app));

    std::string gone(2049, '\0');
    gone[0] = static_cast<char>(0xFF);
    gone.replace(1, 12, "$APP/missing");
    kivo_test::MEMORY_DATA_DEVICE vanished(gone);
    EXPECT_TRUE(g.get_from_data_device(vanished));

    kivo_test::MEMORY_DATA_DEVICE cut(std::string("\xFF$APP", 5));
    EXPECT_FALSE(g.get_from_data_device(cut));
    EXPECT_EQ(cut.error, 1);
    kivo_test::MEMORY_DATA_DEVICE empty;
    EXPECT_FALSE(g.get_from_data_device(empty));

    // A path too long for the block is refused, not cut.
    std::string deep = app;
    for (int i = 0; deep.size() < 2100; ++i) {
        deep += "/dddddddddddddddddddddddddddddddddddddddddddddddd";
        mkdir(deep.c_str(), 0755);
    }
    FOLDER long_one;
    if (long_one.set_from_path_string(deep.c_str())) {
        kivo_test::MEMORY_DATA_DEVICE w;
        EXPECT_FALSE(long_one.put_to_data_device(w));
        EXPECT_EQ(w.error, 1);
        EXPECT_EQ(w.data.size(), 0u); // not even the id byte
    }
}

TEST(FolderDeathTest, UnknownAliasIsFatal)
{
    for (const char* path : {"$APP_DATA/config", "$mydata", "$"}) {
        EXPECT_EXIT(
            {
                FOLDER f;
                f.set(path);
            },
            ::testing::ExitedWithCode(1), "") << path;
    }
}

// The trace goes to the console; death tests compare stderr, so it goes there.
void console_to_stderr(bool font_started)
{
    KIVO_HOST_TABLE host = {};
    host.write_to_console = [](const char* text) { std::fputs(text, stderr); };
    if (font_started)
        host.font_system_started = []() -> INT_U8 { return 1; };
    kivo_set_host(&host);
}

TEST_F(FolderTest, PathTraceShowsBothResolutionsOnce)
{
    EXPECT_EXIT(
        {
            FOLDER::clear_alt_base_path(); // the channel exists from here on, silent
            DEBUG_STREAM* trace = DEBUG_STREAM::find_stream("Default Path Trace");
            if (!trace)
                std::exit(3);
            trace->flags = DEBUG_STREAM_WRITE_TO_CONSOLE;
            console_to_stderr(true);
            FOLDER f("$APP");
            std::fputs("-- again --\n", stderr);
            f.set("$APP"); // once per run
            std::fflush(stderr);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0),
        "\nStarting Default Paths:\n\n\\$APP => [^\n]*/app/bin \\([^\n]*/app/bin\\)\n"
        "\\$SYSAPP => [^\n]*\n\\$INSTDATA => .*\\$TEMP => [^\n]*/kivotest-[^\n]* "
        "\\([^\n]*/app/bin/temp\\)\n\\$ROOT0 => / \\(/\\)\n.*\\$ICONDATA => [^\n]*\n-- again --\n$");

    EXPECT_EXIT(
        {
            FOLDER::clear_alt_icon_path();
            DEBUG_STREAM::find_stream("Default Path Trace")->flags = DEBUG_STREAM_WRITE_TO_CONSOLE;
            console_to_stderr(false);
            FOLDER icons("$ROOT0");
            FOLDER::set_alt_icon_path(icons);
            std::fflush(stderr);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "^\nIcon Path Changed:\n\n\\$APP => .*\\$ICONDATA => / \\(/\\)\n$");
}

} // namespace
