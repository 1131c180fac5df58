// Gives an executable the images of an icon file: RT_ICON resources 1..n
// (and filler copies of the last image), language 1033.
#pragma once

// False when the icon file cannot be opened ("Open IconFile Failed!") or is
// not a complete icon file (then the executable is left unchanged); true
// otherwise, also when the executable itself could not be updated.
bool replaceicon(const wchar_t* iconfile, const wchar_t* executable);
