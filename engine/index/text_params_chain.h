#pragma once
// The parameters of the "Sys Text" index (stop words, space and include
// characters), stored in a chain of TextParams pages of the index file.
//
// The chain starts at slot 32's TextParamsPage; pages are linked by NextPage
// (0 ends the chain) and belong to slot 32 (surplus pages go to its free list).
// Their 4083-byte bodies hold one stream of items (all integers little-endian):
//   i32        number of stop words N (>= 0)
//   N times:   i32 length L (0..255), then L bytes of the word
//   i32        32, then the 32-byte space-character set
//   i32        32, then the 32-byte include-character set
// A set has bit c of byte c div 8 (least significant bit first) for character c.
// Each length and each byte run is placed whole: when it does not fit in the rest
// of the current body (offset + size > 4083) it starts at offset 0 of the next
// page. Unused body bytes are zero.

#include "engine/index/index_file.h"
#include "engine/index/text_words.h"
#include "engine/index/tree_context.h"

namespace tarn {

class TTextParamsChain {
 public:
  explicit TTextParamsChain(TIndexFile& file) : FFile(file) {}

  // Reads the stored parameters into `params`. False (params untouched) when
  // no chain exists: the defaults apply. Throws 8965 for a chain that cannot be
  // read (first page not of type TextParams, a negative word count, a bad length,
  // a chain that ends early or loops). A read voided by the change check
  // restarts from the first page.
  bool Read(TTreeContext& ctx, TTextIndexParams& params);
  // Writes the parameters, reusing the chain's pages and allocating new ones
  // when it is too short; words are cut to 255 characters.
  void Write(TTreeContext& ctx, const TTextIndexParams& params);

 private:
  TIndexFile& FFile;
};

}  // namespace tarn
