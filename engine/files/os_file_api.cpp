#include "engine/files/os_file_api.h"

#include <atomic>

#include "engine/files/posix_file_api.h"

namespace tarn {

namespace {
std::atomic<TOsFileApi*> CurrentApi{nullptr};
}  // namespace

TOsFileApi& OsFileApi() {
  TOsFileApi* api = CurrentApi.load(std::memory_order_acquire);
  return api != nullptr ? *api : PosixFileApi();
}

TOsFileApi* SetOsFileApi(TOsFileApi* api) {
  TOsFileApi* previous = CurrentApi.exchange(api, std::memory_order_acq_rel);
  return previous;
}

}  // namespace tarn
