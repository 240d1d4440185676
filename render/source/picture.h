// Pictures (PNG, JPEG): a decoder hands rows of the picture top to bottom; the picture
// reader places them on a page of the requested size, scaled to fit and centred, one
// page line at a time. Only the rows the filter needs at the moment are kept, so a page
// costs a few lines of memory whatever its size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "reader.h"

namespace inkrow::source {

class PictureDecoder {
public:
    virtual ~PictureDecoder() = default;
    int width() const { return width_; }
    int height() const { return height_; }
    int colorSpace() const { return colorSpace_; }  // RenderColorSpace of the rows
    // The next row, width * channels bytes, top to bottom; false with *error.
    virtual bool ReadRow(std::uint8_t* row, std::string* error) = 0;
    // After the last row: checks what follows the pixels (checksums, end markers), so a
    // damaged file is never reported as read whole.
    virtual bool Finish(std::string* error) = 0;

protected:
    int width_ = 0;
    int height_ = 0;
    int colorSpace_ = 0;
};

// Where a source index's samples go: per target index, the source indexes
// first .. first + count - 1 with their weights (summing to 1). Upscaling interpolates
// linearly between the two nearest samples; downscaling averages the source area each
// target sample covers. Equal sizes copy.
struct ResampleAxis {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<std::size_t> offset;  // into weights
    std::vector<float> weights;
};
ResampleAxis MakeResampleAxis(int sourceSize, int targetSize);

// The picture's place on the page: scaled to fit (aspect kept) and centred.
struct Placement {
    int pageWidth = 0;
    int pageHeight = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
// pageWidth/pageHeight 0 keep the picture's size.
Placement PlacePicture(int pictureWidth, int pictureHeight, int pageWidth, int pageHeight);

// How far a decoder that can reduce while it decodes (JPEG, in eighths of each side)
// should: the fewest eighths, 1 .. 8, that still leave at least the pixels of the
// picture's place on the page (each side rounded up, as such decoders do), so the
// scaler only ever reduces what is left and the picture loses no detail the page
// could show. 8 when the picture is no more than twice the size of its place.
int ChooseDecodeEighths(int width, int height, int placedWidth, int placedHeight);

std::unique_ptr<Reader> MakePictureReader(std::unique_ptr<PictureDecoder> decoder,
                                          const Request& request, std::string* error, int* status);

// Largest picture side accepted: bounds the memory of a row and of the filter's window.
constexpr int kMaxPictureSide = 1 << 20;
// Most pixels a picture may have: 2^28, 16384 x 16384. Decoding and scaling a larger one
// would keep a printer busy for minutes for a page that cannot show its detail anyway.
constexpr long long kMaxPicturePixels = 1LL << 28;

}  // namespace inkrow::source
