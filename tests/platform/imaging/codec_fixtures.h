#ifndef KIVO_TEST_CODEC_FIXTURES_H
#define KIVO_TEST_CODEC_FIXTURES_H

// Shared by the image file, cache and box tests: pixel reads, one-colour
// pictures and a sandbox folder to write image files into.
#include "data_file.h"
#include "folder.h"
#include "image.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kivo_test {

inline INT_U32 pix(const IMAGE& image, int x, int y)
{
    return image.pixels[y * image.stride + x];
}

inline IMAGE solid(int w, int h, INT_U32 colour)
{
    IMAGE image;
    image.reset(short(w), short(h));
    image.clear(colour, 1);
    return image;
}

// A w x h picture coloured f(x, y).
template <class F> IMAGE pattern(int w, int h, F f)
{
    IMAGE image;
    image.reset(short(w), short(h));
    for (int i = 0; i < w * h; i++)
        image.pixels[i / w * image.stride + i % w] = f(i % w, i / w);
    return image;
}

// Same size, every channel within `tolerance`.
inline testing::AssertionResult same_picture(const IMAGE& want, const IMAGE& got, int tolerance = 0)
{
    if (got.width != want.width || got.height != want.height)
        return testing::AssertionFailure() << "size " << got.width << " x " << got.height;
    for (int i = 0; i < want.width * want.height; i++) {
        INT_U32 a = pix(want, i % want.width, i / want.width), b = pix(got, i % want.width, i / want.width);
        for (int shift = 0; shift < 32; shift += 8)
            if (std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) > tolerance)
                return testing::AssertionFailure() << "pixel " << i % want.width << "," << i / want.width << std::hex
                                                   << ": 0x" << b << ", expected 0x" << a;
    }
    return testing::AssertionSuccess();
}

// Name of one of the nine skin pieces: row and column 0..2.
inline std::string nine_name(const std::string& base, int row, int col)
{
    static const char* const rows[3] = {"_top", "_mid", "_bottom"}, *const cols[3] = {"_left", "_mid", "_right"};
    return base + rows[row] + cols[col];
}

class ImageFolderTest : public SandboxTest
{
protected:
    FOLDER folder;
    char alias[2048] = {};
    void SetUp() override
    {
        SandboxTest::SetUp();
        ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
        folder.get(alias, nullptr);
    }
    // kind: 'p' PNG, 'j' JPEG, 'x' PCX, 'r' raw record.
    void save(IMAGE& image, const std::string& name, char kind = 'p')
    {
        DATA_FILE* file = folder.open_data_file(name.c_str(), fm_write, kind == 'r' ? -1 : 0, 0);
        ASSERT_NE(file, nullptr);
        bool ok = kind == 'p'   ? image.save_png(file)
                  : kind == 'j' ? image.save_jpg(file, 95, 0)
                  : kind == 'x' ? image.save_256_colour_pcx(file)
                                : image.put_to_data_device(*file);
        folder.close(file);
        ASSERT_TRUE(ok);
    }
    // name + ".png", one colour, `marker` (when non-zero) in the first column.
    void write_png(const std::string& name, int w, int h, INT_U32 colour, INT_U32 marker = 0)
    {
        IMAGE image = solid(w, h, colour);
        for (int y = 0; marker && y < h; y++)
            image.pixels[y * image.stride] = marker;
        save(image, name + ".png");
    }
};

} // namespace kivo_test

#endif
