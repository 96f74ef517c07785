#include "engine/table/record_pin.h"

#include "engine/table/data_file.h"

namespace tarn {

void TRecordPin::Release() noexcept {
  if (FRecord != nullptr && FDataFile != nullptr) FDataFile->ReleaseRecord(*FRecord);
  FRecord = nullptr;
  FDataFile = nullptr;
}

}  // namespace tarn
