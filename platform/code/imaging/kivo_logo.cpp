// The maker's two logos, drawn at build time by tools/kivo_logo_gen and
// compiled in as embedded image definitions.
#include "kivo_logo.h"

#include "image.h"

// Defined in the generated source.
const INT_U8* kivo_logo_image_def();
const INT_U8* kivo_logo_with_text_image_def();

void get_kivo_logo(IMAGE& image)
{
    image.load_embedded_image_def(kivo_logo_image_def());
}

void get_kivo_logo_with_text(IMAGE& image)
{
    image.load_embedded_image_def(kivo_logo_with_text_image_def());
}
