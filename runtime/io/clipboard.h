// The clipboard as values: text as a string!, a list of copied files as a
// block! of file!, a picture as an image!, over the platform's clipboard.
#pragma once
#include "runtime/core/cell.h"

namespace kem {

// Pushes what the clipboard holds, the first present of: text, files, a PNG,
// JPEG or GIF picture (access bad-media when it cannot be decoded), a BMP
// picture (none when it cannot be made); none when it holds none of them;
// false when the clipboard cannot be reached.
Cell* clipboard_read();

// Empties the clipboard and puts the value there: none! leaves it empty; a
// string!; a block! of file! and string! values as a file list (script
// invalid-arg for any other value in it); an image! as a PNG picture and as
// a BMP one. Script invalid-arg for any other value. False when the
// clipboard cannot be reached.
bool clipboard_write(const Cell* value);

} // namespace kem
