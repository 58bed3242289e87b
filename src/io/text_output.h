#ifndef UPGRADE_INFO_IO_TEXT_OUTPUT_H_
#define UPGRADE_INFO_IO_TEXT_OUTPUT_H_

#include <cstdio>
#include <string_view>

namespace upgrade_info {

// Prints a message or a report line, whose names are in the program's own
// form, so that they show as the user typed them: on a Windows console in
// UTF-16, elsewhere on Windows in the ANSI code page, as they always went
// there; unchanged on Linux. The text goes out in one write.
void print(std::FILE* stream, std::string_view text);

}  // namespace upgrade_info

#endif  // UPGRADE_INFO_IO_TEXT_OUTPUT_H_
