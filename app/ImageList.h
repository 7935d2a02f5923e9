#pragma once
// The ".que" list files: plain text, one path per line, every line ended by CR LF.

#include <string>
#include <string_view>
#include <vector>

namespace muralo {

using TEntryList = std::vector<std::string>;

// Splits list text into entries: a line ends at CR LF, a lone CR or a lone LF; a last line without
// an end is still an entry; an empty line is an empty entry; a NUL byte ends the text.
TEntryList ParseListText(std::string_view text);
// One line per entry, each ended by CR LF; an empty list gives an empty text.
std::string FormatListText(const TEntryList& entries);

// Reads a whole list file (EFOpenError when it cannot be opened, EReadError on a short read).
TEntryList ReadListFile(const std::string& fileName);
// Writes a list file so that a failure never leaves a truncated list behind: the text goes into a
// temporary file beside the target, which then replaces the target in one rename. Raises
// EFCreateError or EWriteError; the previous file is then untouched.
void WriteListFile(const std::string& fileName, const TEntryList& entries);

// The text of an entry as the list and the wallpaper's caption show it, in UTF-8: the bytes as they
// are when they are valid UTF-8; otherwise they are read as Windows-1252, the code page of lists
// written on Windows (the five bytes that code page leaves undefined stand for the control
// characters of the same number). The entry itself keeps its bytes.
std::string EntryDisplayText(const std::string& bytes);

// Case-insensitive ordering of the list control's sorted mode (ASCII letters fold; other bytes
// compare as they are).
bool ListTextLess(const std::string& a, const std::string& b);
// The position where text goes in a sorted list (after equal entries).
size_t SortedInsertPosition(const TEntryList& entries, const std::string& text);

}  // namespace muralo
