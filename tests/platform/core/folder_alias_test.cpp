#include "folder.h"

#include "debug_stream.h"
#include "errors.h"
#include "folder_fixture.h"
#include "kivo_host.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using kivo_test::FolderTest;

TEST_F(FolderTest, AppAliasesWalksAndHostSteps)
{
    mkdirs({app + "/images", app + "/data", app + "/sub", path("elsewhere")});
    link(path("elsewhere"), app + "/link");
    link(path("nowhere"), app + "/dangling");
    link(".", app + "/self");
    ASSERT_TRUE(kivo_test::write_file(app + "/file", "x"));
    FOLDER f, ref("$APP/data");
    EXPECT_EQ(where(f), real(app));
    // Each walk starts where the one before ended.
    const struct
    {
        const char* p;
        bool ok;
        const char* to;
    } walks[] = {
        {"$APP/data/../images", true, "/images"},
        {"$BASE", true, ""},
        {"$APP//images/", true, "/images"},
        {"images", false, ""},                       // no alias and no "..": $APP, false
        {"$APP/images/missing/x", false, "/images"}, // stops at the last folder reached
        {"../data", true, "/data"},                  // taken from where the folder is
        {"$HERE/../images", true, "/images"},
        {"$APP/new/deeper", false, ""}, // created only on request
    };
    for (const auto& w : walks) {
        expect_at(f, w.p, w.ok, app + w.to);
    }
    EXPECT_FALSE(f.set(nullptr));
    EXPECT_TRUE(f.set("$HERE", 0, &ref));
    EXPECT_EQ(where(f), real(app + "/data"));
    expect_at(f, "$APP/new/deeper", true, app + "/new/deeper", 1);
    // Host steps refuse unsafe names, files, dangling links and links back to
    // the folder itself, even when asked to create.
    f.set("$APP");
    const std::string too_long(256, 'n');
    for (const char* bad : {"", ".", "..", "sub/..", "/etc", "file", "dangling", "self", too_long.c_str(),
                            static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(f.move_down(bad, 1)) << bad;
        EXPECT_EQ(where(f), real(app)) << bad;
    }
    EXPECT_FALSE(exists(path("nowhere")));
    EXPECT_TRUE(f.move_down("link") && f == native(path("elsewhere")) && native(app + "/link") == f);
    EXPECT_FALSE(f == ref);
    EXPECT_TRUE(f.change_to_drive(0));
    EXPECT_EQ(where(f), "/");
    EXPECT_FALSE(f.move_up() || f.change_to_drive(1));
    for (const std::string& p : {app + "/file", std::string()}) {
        EXPECT_FALSE(f.set_from_path_string(p.c_str())) << p;
    }
}

TEST_F(FolderTest, UserAndSharedDataFolders)
{
    std::string user = path("home/.local/share/kivotest");
    FOLDER f;
    // Without the alias's own folder: no fallback means false; create
    // makes the path below the fallback (data/ two levels up), not the alias.
    EXPECT_FALSE(f.goto_preset_folder("$USERDATA", 0, nullptr, 1));
    mkdirs(path("data"));
    expect_at(f, "$USERDATA/x", true, path("data/x"), 1);
    EXPECT_FALSE(exists(user));
    expect_at(f, "$USERDATA/x", true, user + "/x", 1, 1);
    // The data fallback prefers the nearest level, and ends at $APP, false.
    mkdirs(app + "/data");
    expect_at(f, "$INSTDATA", true, app + "/data");
    for (const char* d : {"/app/bin/data", "/data/x", "/data"}) {
        rmdir((dir + d).c_str());
    }
    expect_at(f, "$APPDATA", false, app);
    // Shared data: each absolute XDG_DATA_DIRS entry in order.
    std::string a = path("share-a"), b = path("share-b");
    mkdirs(b + "/kivotest");
    setenv("XDG_DATA_DIRS", ("relative:" + a + ":" + b).c_str(), 1);
    expect_at(f, "$APPDATA", true, b + "/kivotest");
    mkdirs(a + "/kivotest");
    expect_at(f, "$appdata", true, a + "/kivotest");
    // Relative XDG values do not count; a created XDG base is private.
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    expect_at(f, "$USERPREFS", true, path("home/.config/kivotest"), 0, 1);
    setenv("XDG_CONFIG_HOME", path("cfg").c_str(), 1);
    expect_at(f, "$USERPREFS/debug", true, path("cfg/kivotest/debug"), 1, 1);
    EXPECT_EQ(kind(path("cfg"), true), 0700u);
    unsetenv("XDG_DATA_HOME");
    unsetenv("HOME");
    EXPECT_FALSE(f.goto_preset_folder("$USERDATA", 1, nullptr, 1));
}

TEST_F(FolderTest, TempRootsFontsAndIcons)
{
    // $TEMP is made once per run, private, and described by its alias.
    FOLDER f("$TEMP"), again("$TEMP"), inside("$TEMP/work", 1), local("$TEMP", 0, nullptr, 1);
    std::string t = where(f);
    EXPECT_EQ(t.rfind(real(path("tmp")) + "/kivotest-", 0), 0u) << t;
    EXPECT_TRUE(t == FOLDER::temp_path && where(again) == t && kind(t, true) == 0700u);
    char out[2048];
    EXPECT_TRUE(inside.get(out));
    EXPECT_STREQ(out, "$TEMP/work");
    EXPECT_EQ(where(local), real(app + "/temp")); // skipping the system folders
    // Volume numbers beyond the root fail, also those too large for a short.
    expect_at(f, "$root0", true, "/");
    for (const char* far : {"$ROOT9", "$ROOT65536", "$ROOT-1", "$ROOT99999999999999999999"}) {
        f.set("$ROOT0");
        expect_at(f, far, false, app);
    }
    // Nothing anywhere: $APP and false. Then each place beats those before it.
    expect_at(f, "$FONTDATA", false, app);
    for (const char* p : {"app/kivo_libs/data/fonts", "app/data/fonts", "usr-share/kivotest/fonts",
                          "home/.local/share/kivotest/fonts"}) {
        mkdirs(path(p));
        expect_at(f, "$FONTDATA", true, path(p));
    }
    expect_at(f, "$FONTDATA", true, path("app/data/fonts"), 0, 0, 1);
    mkdirs(path("usr-share/kivotest/icons")); // the icons are found the same way
    expect_at(f, "$ICONDATA", true, path("usr-share/kivotest/icons"));
}

TEST_F(FolderTest, CustomPathsAndAlternativeBase)
{
    mkdirs({path("mine"), path("other"), path("base/data")});
    FOLDER mine = native(path("mine")), other = native(path("other")), base = native(path("base")), out, f;
    FOLDER::add_custom_path("$MyData", mine);
    FOLDER::add_custom_path("$MyData", other); // replaces
    expect_at(f, "$MyData", true, path("other"));
    FOLDER::add_custom_path("$APPDATA", mine); // before the built-in aliases
    expect_at(f, "$APPDATA", true, path("mine"));
    FOLDER::remove_custom_path("$APPDATA");
    EXPECT_FALSE(f.set("$APPDATA"));
    // An alternative base without a name: every system lookup falls back;
    // with a name, the system folders of that name.
    mkdirs({path("home/.local/share/kivotest"), path("home/.local/share/renamed")});
    FOLDER::set_alt_base_path(base, "");
    expect_at(f, "$APP", true, path("base"));
    expect_at(f, "$USERDATA", true, path("base/data"));
    FOLDER::set_alt_base_path(base, "renamed");
    expect_at(f, "$USERDATA", true, path("home/.local/share/renamed"));
    char name[5];
    FOLDER::get_alt_base_path(out, name, sizeof(name));
    EXPECT_TRUE(where(out) == real(path("base")) && std::string(name) == "rena") << name;
    FOLDER::clear_alt_base_path();
    expect_at(f, "$USERDATA", true, path("home/.local/share/kivotest"));
}

TEST_F(FolderTest, RelativeAndNativePathForms)
{
    mkdirs({app + "/a/b", app + "/c"});
    char out[2048];
    FOLDER f;
    // Relative forms lead back to the folder described.
    FOLDER from("$APP/a/b"), to("$APP/c"), root("$ROOT0");
    EXPECT_TRUE(from.get_path_to(to, out));
    EXPECT_STREQ(out, "$HERE/../../c/");
    from.get_path_to(from, out);
    EXPECT_STREQ(out, "$HERE");
    root.get_path_to(from, out);
    EXPECT_EQ(std::string(out), "$HERE" + real(app + "/a/b") + "/");
    from.get_path_to(root, out);
    EXPECT_EQ(where(FOLDER(out, 0, &from)), "/");
    EXPECT_FALSE(from.calc_relative_path(nullptr, root));
    // Native forms; a path that would not fit is "", never cut.
    EXPECT_STREQ(f.get_path_string(std::string(2100, 'x').c_str()), "");
    EXPECT_EQ(std::string(FOLDER::get_path_string_from_custom("$APP/not/../there", "f.txt")),
              real(app) + "/there/f.txt");
    EXPECT_EQ(std::string(FOLDER::get_path_string_from_custom("x/$ROOT0/y", nullptr)), "/y");
}

TEST_F(FolderTest, DescriptionsNameTheFirstAliasMetClimbing)
{
    // The rule, each alias resolved anew at every level: climbing from the
    // folder, the first level equal to an alias (in this order) names it.
    auto plain = [](const FOLDER& start) {
        static const char* const order[] = {"$APP",  "$SYSAPP",   "$APPDATA", "$USERDATA",
                                            "$TEMP", "$FONTDATA", "$ICONDATA"};
        std::string f = where(start), below;
        for (;;) {
            for (const char* a : order) {
                if (FOLDER(a) == native(f)) {
                    return a + below;
                }
            }
            if (f == "/") {
                return "$ROOT0" + below;
            }
            std::size_t slash = f.rfind('/');
            below = f.substr(slash) + below;
            f = slash ? f.substr(0, slash) : "/";
        }
    };
    mkdirs({app + "/images/set", app + "/data/icons/y", path("usr-share/kivotest/fonts/x"),
            path("home/.local/share/kivotest/saves/a"), path("outside/deep")});
    FOLDER temp("$TEMP/work/z", 1);
    char out[2048];
    for (FOLDER f : {native(app + "/images/set"), native(app + "/data/icons/y"), native(path("usr-share/kivotest")),
                     native(path("usr-share/kivotest/fonts/x")), native(path("home/.local/share/kivotest/saves/a")),
                     native(path("outside/deep")), native(app + "/.."), temp, FOLDER("$ROOT0")}) {
        ASSERT_TRUE(f.get(out)) << where(f);
        EXPECT_EQ(out, plain(f)) << where(f);
    }
}

// Each step down from a canonical location ends at the path realpath gives:
// a plain folder as it stands, a link (or a link to a link) at its target,
// a folder met through a linked parent at its own place.
TEST_F(FolderTest, MovingDownEndsAtTheCanonicalPath)
{
    mkdirs({app + "/plain/inner", path("target/inner")});
    link(path("target"), app + "/to_target");
    link(app + "/to_target", app + "/to_link");
    const struct
    {
        const char* steps[2];
        std::string to;
    } walks[] = {
        {{"plain", "inner"}, app + "/plain/inner"},
        {{"to_target", nullptr}, path("target")},
        {{"to_link", "inner"}, path("target/inner")},
    };
    for (const auto& w : walks) {
        FOLDER f;
        for (const char* step : w.steps) {
            if (step) {
                ASSERT_TRUE(f.move_down(step)) << step;
            }
        }
        EXPECT_EQ(where(f), real(w.to));
        EXPECT_EQ(real(where(f)), where(f));
    }
}

// Within a RESOLVE_ONCE, every alias path reaches the folder and result it
// reaches outside one, the first time worked out and then remembered; a
// change of what an alias names is seen at once, and the disk again once
// the last scope has closed.
TEST_F(FolderTest, ResolvingOnceGivesWhatEachSetGives)
{
    mkdirs({app + "/images/sub", path("usr-share/kivotest/fonts"), path("share-b/kivotest")});
    setenv("XDG_DATA_DIRS", path("usr-share").c_str(), 1);
    FOLDER other = native(path("share-b"));
    const char* paths[] = {"$APP",         "$APP/images/sub", "$APPDATA",  "$FONTDATA",
                           "$APP/missing", "$ROOT0",          "$INSTDATA", "$APP/images/../images"};
    auto outcome = [](const char* p) {
        FOLDER f;
        bool ok = f.set(p);
        return std::to_string(ok) + where(f);
    };
    std::vector<std::string> plain;
    for (const char* p : paths) {
        plain.push_back(outcome(p));
    }
    {
        FOLDER::RESOLVE_ONCE once;
        for (int round = 0; round < 2; round++) {
            for (std::size_t i = 0; i < plain.size(); i++) {
                EXPECT_EQ(outcome(paths[i]), plain[i]) << paths[i] << " round " << round;
            }
        }
        // "$HERE" is worked out from the folder each time.
        FOLDER sub("$APP/images/sub"), here = sub;
        EXPECT_TRUE(here.set("$HERE/.."));
        EXPECT_EQ(where(here), real(app + "/images"));
        // What the disk held when first asked holds for the scope's length,
        mkdirs(app + "/missing");
        EXPECT_EQ(outcome("$APP/missing"), plain[4]);
        // but an alias named anew is seen at once.
        {
            FOLDER::RESOLVE_ONCE nested;
            FOLDER::add_custom_path("$APPDATA", other);
            EXPECT_EQ(outcome("$APPDATA"), "1" + real(path("share-b")));
            FOLDER::remove_custom_path("$APPDATA");
        }
        EXPECT_EQ(outcome("$APPDATA"), plain[2]);
    }
    EXPECT_EQ(outcome("$APP/missing"), "1" + real(app + "/missing"));
}

TEST_F(FolderTest, AliasGenerationMovesWithEveryAliasInput)
{
    FOLDER other = native(app);
    char saved_temp[sizeof(FOLDER::temp_path)];
    std::memcpy(saved_temp, FOLDER::temp_path, sizeof(saved_temp));
    const std::function<void()> changes[] = {
        [] { setenv("KIVO_GENERATION_TEST", "1", 1); },
        [] { setenv("KIVO_GENERATION_TEST", "2", 1); },
        [] { unsetenv("KIVO_GENERATION_TEST"); },
        [] { unsetenv("XDG_CACHE_HOME"); }, // from the middle
        [&] { FOLDER::add_custom_path("$MINE", other); },
        [&] { FOLDER::add_custom_path("$MINE", other); },
        [] { FOLDER::remove_custom_path("$MINE"); },
        [&] { FOLDER::set_alt_base_path(other, "kivotest"); },
        [] { FOLDER::clear_alt_base_path(); },
        [&] { FOLDER::set_alt_icon_path(other); },
        [] { FOLDER::clear_alt_icon_path(); },
        [] { FOLDER::reset_host_cache(); },
        [] { std::strcpy(FOLDER::temp_path, "/"); },
        [&] { std::memcpy(FOLDER::temp_path, saved_temp, sizeof(saved_temp)); },
    };
    int step = 0;
    for (const auto& change : changes) {
        INT_U32 before = FOLDER::alias_generation();
        EXPECT_EQ(FOLDER::alias_generation(), before) << step;
        change();
        EXPECT_NE(FOLDER::alias_generation(), before) << step++;
    }
}

// A whole record: the OS id, then `text` in the 2048-byte path block.
std::string record(char id, const std::string& text)
{
    std::string r(2049, '\0');
    r[0] = id;
    return r.replace(1, text.size(), text);
}

TEST_F(FolderTest, RecordBytesAndForeignRecords)
{
    mkdirs({app + "/images", app + "/data"});
    link(app, path("applink"));
    FOLDER g;
    kivo_test::MEMORY_DATA_DEVICE d;
    ASSERT_TRUE(FOLDER("$APP/images").put_to_data_device(d));
    EXPECT_EQ(std::string(d.data.begin(), d.data.end()), record('\xFF', "$APP/images"));
    // Each is read whole and counts as read. Unterminated text, a foreign
    // id and a native path of this host, relative or not, give "$APP".
    std::string images = real(app + "/images");
    const struct
    {
        std::string bytes, to;
    } cases[] = {
        {record('\xFF', "$APP/" + std::string(2043, 'A')), app},
        {record(3, std::string(2048, '\x07')), app},
        {record(17, "bin"), app},
        {std::string(d.data.begin(), d.data.end()), images},
        {record(17, path("applink/data/../images")), app},
    };
    for (std::size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        kivo_test::MEMORY_DATA_DEVICE dev(cases[i].bytes);
        g.set("$ROOT0");
        EXPECT_TRUE(g.get_from_data_device(dev)) << i;
        EXPECT_EQ(dev.pos, 2049) << i;
        EXPECT_EQ(where(g), real(cases[i].to)) << i;
    }
    for (const std::string& bytes : {std::string("\xFF$APP", 5), std::string()}) {
        kivo_test::MEMORY_DATA_DEVICE cut(bytes);
        EXPECT_FALSE(g.get_from_data_device(cut));
        EXPECT_EQ(cut.error, 1);
    }
    // A folder whose alias path is too long for the block ("$ROOT0" plus a
    // 2045-byte native path) is refused, not cut: not even the id byte.
    std::string deep = real(dir);
    while (deep.size() < 2045) {
        deep += "/" + std::string(deep.size() < 1900 ? 100 : 2044 - deep.size(), 'd');
    }
    mkdirs(deep);
    kivo_test::MEMORY_DATA_DEVICE w;
    EXPECT_FALSE(native(deep).put_to_data_device(w));
    EXPECT_TRUE(w.error == 1 && w.data.empty());
}

// Paths read from a file come from outside: an alias that set does not
// know fails the read with an error, where code passing it ends the
// program (below). Registered custom paths count, in their exact case.
TEST_F(FolderTest, StoredPathsWithUnknownAliasesFailTheRead)
{
    mkdirs(app + "/images");
    FOLDER mine("$APP/images");
    FOLDER::add_custom_path("$Mine", mine);
    const struct
    {
        std::string path;
        bool known;
    } cases[] = {
        {"$APP/x", true},    {"$app", true},
        {"$ROOT12/x", true}, {"$HERE/..", true},
        {"$Mine/a", true},   {"plain/path", true},
        {"$mine/a", false},  {"$APP_DATA/config", false},
        {"$", false},        {"$" + std::string(300, 'M'), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FOLDER::alias_is_known(c.path.c_str()), c.known) << c.path;
    }
    FOLDER g;
    for (const char* stored : {"$APP_DATA/config", "$mine"}) {
        g.set("$ROOT0");
        set_error_code(ERRCODE_NONE, nullptr);
        kivo_test::MEMORY_DATA_DEVICE dev(record('\xFF', stored));
        EXPECT_FALSE(g.get_from_data_device(dev)) << stored;
        EXPECT_TRUE(dev.error == 1 && current_error_code == ERRCODE_FILE_READ && where(g) == "/") << stored;
    }
    kivo_test::MEMORY_DATA_DEVICE dev(record('\xFF', "$Mine"));
    EXPECT_TRUE(g.get_from_data_device(dev));
    EXPECT_EQ(where(g), real(app + "/images"));
    FOLDER::remove_custom_path("$Mine");
    EXPECT_FALSE(FOLDER::alias_is_known("$Mine"));
}

TEST(FolderDeathTest, UnknownAliasIsFatal)
{
    for (const char* path : {"$APP_DATA/config", "$mydata", "$"}) {
        EXPECT_EXIT(FOLDER().set(path), ::testing::ExitedWithCode(1), "") << path;
    }
}

// The trace is written once per run, when the font system has started, and
// again when a path is overridden. It goes to the console, which here is
// stderr, where the death test sees it.
TEST_F(FolderTest, PathTraceShowsBothResolutionsOnce)
{
    EXPECT_EXIT(
        {
            FOLDER::clear_alt_base_path(); // written while the channel is still silent
            DEBUG_STREAM* trace = DEBUG_STREAM::find_stream("Default Path Trace");
            if (!trace) {
                std::exit(3);
            }
            trace->flags = DEBUG_STREAM_WRITE_TO_CONSOLE;
            KIVO_HOST_TABLE host = {};
            host.write_to_console = [](const char* text) { std::fputs(text, stderr); };
            host.font_system_started = []() -> INT_U8 { return 1; };
            kivo_set_host(&host);
            FOLDER f("$APP");
            FOLDER root("$ROOT0");
            std::fputs("-- again --\n", stderr);
            FOLDER::set_alt_icon_path(root);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0),
        "^\nStarting Default Paths:\n\n\\$APP => [^\n]*/app/bin \\([^\n]*/app/bin\\)\n"
        "\\$SYSAPP => [^\n]*\n\\$INSTDATA => .*\\$TEMP => [^\n]*/kivotest-[^\n]* "
        "\\([^\n]*/app/bin/temp\\)\n\\$ROOT0 => / \\(/\\)\n.*\\$ICONDATA => [^\n]*\n-- again --\n"
        "\nIcon Path Changed:\n\n\\$APP => .*\\$ICONDATA => / \\(/\\)\n$");
}

} // namespace
