// Texts of the data files are Windows-1252 bytes; the window shows them as Unicode.
#pragma once

#include <QString>

#include <string_view>

namespace rawdat {

// Decodes Windows-1252 bytes. The text ends at the first NUL byte, as a text control shows it.
// Bytes the code page leaves undefined become the C1 control characters of the same value.
QString fromWindows1252(std::string_view bytes);

// A message of the conversion layer: UTF-8 when it is valid UTF-8 (the runtime's French texts
// and file names are), otherwise Windows-1252 (texts quoted from a file header); up to the
// first NUL byte.
QString messageText(std::string_view bytes);

} // namespace rawdat
