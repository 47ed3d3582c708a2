#ifndef KIVO_TEXT_FILE_PLAIN_H
#define KIVO_TEXT_FILE_PLAIN_H

// For tests: TEXT_FILE::read_line copies runs of plain characters straight
// from its read-ahead bytes. With plain_only set it takes every character
// through the per-character decoder instead, the rule the shortcut must
// match byte for byte.
namespace kivo_text_file {

extern bool plain_only;

} // namespace kivo_text_file

#endif
