#ifndef KIVO_TEST_CODEC_FIXTURES_H
#define KIVO_TEST_CODEC_FIXTURES_H

// Image files made by the tests themselves, straight through libpng and
// libjpeg, so the readers are checked against the libraries' own encoders.
#include "folder.h"
#include "image.h"
#include "kivo_types.h"
#include "sandbox.h"

#include <string>
#include <vector>

namespace kivo_test {

struct PNG_SPEC
{
    int width = 4, height = 3;
    int colour_type = 6; // PNG_COLOR_TYPE_*
    int bit_depth = 8;
    bool interlaced = false;
    double gamma = 0;    // non-zero: a gAMA chunk
    bool srgb = false;   // an sRGB chunk
    // Palette entries (R, G, B) and their alphas (tRNS) for palette files;
    // for grey and RGB files a tRNS colour given as samples.
    std::vector<INT_U8> palette;
    std::vector<INT_U8> palette_alpha;
    bool trns_colour = false;
    INT_U16 trns_grey = 0, trns_r = 0, trns_g = 0, trns_b = 0;
    // Samples row by row, one value per channel (at the bit depth).
    std::vector<INT_U16> samples;
};

// Encodes the picture; the samples must hold width x height x channels.
std::string make_png(const PNG_SPEC& spec);

// Encodes 8-bit samples: 1 channel grey, 3 RGB, 4 CMYK (stored as given,
// with the Adobe marker libjpeg writes for CMYK).
std::string make_jpeg(int width, int height, int components, const std::vector<INT_U8>& samples, int quality,
                      bool progressive);

// A picture with a smooth gradient, opaque.
void fill_gradient(IMAGE& image, int w, int h);
COLOUR pixel(const IMAGE& image, int x, int y);

// The bytes a memory device holds.
std::string bytes_of(const std::vector<INT_U8>& data);

// A sandbox test with a FOLDER on its own folder and that folder's alias.
class ImageFolderTest : public SandboxTest
{
protected:
    FOLDER folder;
    char alias[2048] = {};
    void SetUp() override;
    // Writes a w x h PNG of one colour, `marker` (when non-zero) in its first
    // column.
    void write_png(const std::string& name, int w, int h, INT_U32 colour, INT_U32 marker = 0);
};

} // namespace kivo_test

#endif
