// The layers below the host never reach SDL: their archives reference no
// SDL symbol, so the core and imaging run and test without a display.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Every symbol line of an archive, or "" when nm cannot read it.
std::string symbols_of(const char* archive)
{
    std::string command = std::string("nm -A '") + archive + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return "";
    }
    std::string out;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        out.append(chunk, n);
    }
    return pclose(pipe) == 0 ? out : "";
}

TEST(Layering, CoreAndImagingReferenceNoSdl)
{
    struct Case
    {
        const char* archive;
        bool uses_sdl;
    };
    const Case cases[] = {
        {KIVO_CORE_ARCHIVE, false},
        {KIVO_IMAGING_ARCHIVE, false},
        {KIVO_HOST_ARCHIVE, true}, // shows that the check sees SDL where it is
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive);
        std::string symbols = symbols_of(c.archive);
        ASSERT_NE(std::string::npos, symbols.find(" T ")) << "nm found no code";
        EXPECT_EQ(c.uses_sdl, symbols.find("SDL_") != std::string::npos);
    }
}

} // namespace
