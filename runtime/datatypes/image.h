// image!: a rectangle of 32-bit pixels that behaves as a series of pixels in
// row-major order, with a position, pick and poke by index or by an (x, y)
// pair, and the image codecs' entry points.
//
// Cell: payload word 1 the position (a pixel offset, 0 = top-left), word 2
// the node of the image's record, word 3 the size: height << 16 | width.
// The record is a small byte series that names the picture's entry in the
// external handle table; the entry holds the pixels (a platform Bitmap on the
// process heap, which never moves), so the collector releases pixels that no
// image reaches. Every image has a record; an image without pixels (a side of
// 0) has one whose entry is -1. Cells that share a record share the pixels.
//
// Pixels as values: a 4-byte tuple! R.G.B.T, T the transparency 255 - alpha
// (0 opaque); a 3-byte tuple is opaque.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/platform/imaging/bitmap.h"

namespace kem {

inline uint32_t image_width(const Cell* c) { return c->data3 & 0xFFFF; }
inline uint32_t image_height(const Cell* c) { return c->data3 >> 16; }
// Never beyond INT32_MAX: larger pictures are refused when they are made.
inline uint32_t image_pixel_count(const Cell* c) { return image_width(c) * image_height(c); }
inline uint32_t image_size_word(uint32_t width, uint32_t height) { return height << 16 | width; }

// Channel data of extract-data and set-data.
enum class ImageChannels : uint8_t {
    alpha = 0,  // one byte a pixel: 255 - alpha
    rgb = 1,    // R, G, B
    argb = 2,   // the pixel word's bytes as stored: B, G, R, A
};

// A new image at position 0 holding the bitmap (whose pixels it takes), made
// in c (pushed when c is null). Internal no-memory when it has more pixels
// than an integer! can count.
Cell* image_make_at(Cell* c, platform::Bitmap&& bitmap);
// A new image of that size, every pixel transparent black; script invalid-arg
// naming the size when a side is beyond 65535.
Cell* image_make_sized(Cell* c, int64_t width, int64_t height);
// The image's pixels; nullptr for an image without pixels. The bitmap lives
// as long as a value reaches the image's record.
platform::Bitmap* image_bitmap(const Cell* image);

// The pixel at an offset from the top-left as a tuple, or none at the end.
Cell* image_pixel_at(const Cell* image, uint32_t offset, Cell* out);
uint32_t image_pixel_of_tuple(const Cell* tuple);

// A new binary! of the channels of every pixel, in out (pushed when null).
Cell* image_extract_data(const Cell* image, ImageChannels mode, Cell* out);
// Writes one channel set from a binary!, or fills it from a tuple! or an
// integer! (its four bytes as a tuple's); script invalid-arg for any other
// value. The image's owner hears of the change.
void image_set_data(const Cell* image, const Cell* value, ImageChannels mode);

// `to image!` of an object: the GUI layer registers what it answers for its
// faces (the backend's picture of the face, which may be none) and false for
// any other object, which then cannot become an image.
using FaceImage = bool (*)(const Cell* object, Cell* out);
void set_face_image(FaceImage hook);

// The bytes of the image in a file format, in where (pushed when null);
// access bad-media for an image of size 0x0 or when the encoder fails.
Cell* image_encode(const Cell* image, Cell* where, platform::ImageFormat format);
// A binary! is decoded after the signature test (none pushed without a known
// signature; access bad-media when the decoder refuses it); a file! or url!
// is read and decoded (access cannot-open naming it when that fails). Pushes
// the result.
Cell* image_decode(const Cell* value);

// Pixel offset of an index (integer! or pair!): base 1 for pick, poke and
// at, base 0 for skip; out_of_range tells pick and poke that no pixel is there.
uint32_t image_index_of(const Cell* image, const Cell* index, int base, bool* out_of_range);

// --- actions ---------------------------------------------------------------

Cell* image_make(Cell* proto, Cell* spec, int32_t type);
Cell* image_to(Cell* proto, Cell* spec, int32_t type);
int32_t image_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t image_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
// An integer! or pair! picks or pokes a pixel; size, rgb, alpha and argb
// read and write the whole picture.
Cell* image_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step);
int32_t image_compare(Cell* value1, Cell* value2, CompareOp op);
// Navigation on the current call's arguments.
Cell* image_at();
Cell* image_skip();
Cell* image_next();
Cell* image_tail();
Cell* image_tail_q();
int32_t image_length_q(Cell* series);
Cell* image_pick(Cell* series, int32_t index, Cell* boxed);
Cell* image_poke(Cell* series, int32_t index, Cell* data, Cell* boxed);
Cell* image_change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
// Without /part: the whole picture at position 0, else the rectangle from the
// position's column and row to the right and bottom edges.
Cell* image_copy(Cell* value, Cell* result, const CopyArgs& refs);

void register_image();

} // namespace kem
