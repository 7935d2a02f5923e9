#pragma once
// Stretch: a separable two-pass resampler for 24-bit bitmaps with seven reconstruction filters.
// Every target column is a weighted sum of nearby source columns (horizontal pass into a work
// bitmap as wide as the target and as high as the source), then every target row a weighted sum
// of nearby rows of the work bitmap. Weights are integers with 8 fractional bits, computed once
// per axis into contributor lists, so the per-pixel work is integer multiply-add and one exact
// division per channel.

#include <cstdint>
#include <vector>

namespace muralo {

class TBitmap;

enum class TResamplingFilter { sfBox, sfTriangle, sfHermite, sfBell, sfSpline, sfLanczos3, sfMitchell };

// The filter's default radius (what a Radius of exactly 0 selects).
float DefaultRadius(TResamplingFilter filter);
// The filter's kernel k(x), computed in single precision (products the kernel keeps are rounded
// to single precision as they are stored).
float FilterKernel(TResamplingFilter filter, float x);

struct TContributor {
  int32_t Weight;  // kernel weight × 256, rounded half to even
  int32_t Pixel;   // the source index the weight applies to, after edge mirroring
};
using TContributors = std::vector<TContributor>;

struct TContributorEntry {
  int32_t ContributorCount = 0;  // contributors stored (the nonzero weights)
  TContributors Contributors;
};
using TContributorList = std::vector<TContributorEntry>;

// The scale factor of one axis: target / source when either is 1, otherwise
// (target − 1) / (source − 1), so that the first and last pixels of both are aligned.
float AxisScale(uint32_t sourceSize, uint32_t targetSize);

// The contributors of every target pixel along one axis. Indices past either edge are mirrored
// (−1 → 1, n → n − 1); an index that is still outside the source after one mirroring (sources
// narrower than the kernel's reach) is clamped to the nearest edge pixel. Raises EInvalidGraphic
// for a radius that is not a finite number or whose lists would pass the memory limit.
TContributorList BuildContributors(uint32_t sourceSize, uint32_t targetSize, TResamplingFilter filter, float radius);

// Target loses its image and becomes a 24-bit NewWidth × NewHeight bitmap; Source is converted to
// 24 bits in place and resampled into Target. Radius 0 selects the filter's default radius; any
// other value is used as given. Nothing is resampled when one of the four sizes is 0. Passing the
// same bitmap as Source and Target resizes it in place.
void Stretch(uint32_t NewWidth, uint32_t NewHeight, TResamplingFilter Filter, float Radius, TBitmap& Source,
             TBitmap& Target);
// Resizes Source itself (24-bit afterwards) through a temporary bitmap that is released on every path.
void Stretch(uint32_t NewWidth, uint32_t NewHeight, TResamplingFilter Filter, float Radius, TBitmap& Source);

namespace detail {
// Selects the portable (scalar) sums instead of the vector ones on this thread; both give the
// same bytes. For tests.
void SetPortableResampling(bool portable);
}  // namespace detail

}  // namespace muralo
