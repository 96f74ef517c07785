#include "engine/blob/block_pin.h"

#include "engine/blob/blob_file.h"

namespace tarn {

void TBlockPin::Release() noexcept {
  if (FBlock != nullptr) {
    FFile->ReleaseBlock(*FBlock);
    FBlock = nullptr;
    FFile = nullptr;
  }
}

}  // namespace tarn
