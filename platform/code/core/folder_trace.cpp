// The default path trace: how every alias resolves, written when the font
// system is up and whenever the base or icon path changes.
#include "folder.h"

void FOLDER::write_trace_text(const char*) {}

void FOLDER::write_default_path_trace() {}
