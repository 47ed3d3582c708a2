#ifndef KIVO_LOGO_H
#define KIVO_LOGO_H

// The maker's logo (80 x 75) and the logo with its name (195 x 80).
class IMAGE;

void get_kivo_logo(IMAGE& image);
void get_kivo_logo_with_text(IMAGE& image);

#endif
