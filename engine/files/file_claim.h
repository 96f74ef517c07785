#pragma once
// An exclusive open of one engine file, held so that the file can be deleted
// or renamed while no one else has it.
//
// TFileClaim exists only for a file that was actually opened exclusively
// through FileList(): TryClaim returns an empty optional (with the negated
// code) when the file is missing or in use, here (-11013 from the list) or in
// another process (-11013 from the refused exclusive flock). While the claim
// lives, Delete and Rename change the file through the claim's own handle
// (TFileList::DeleteHeldFile / RenameHeldFile); the flock is given back only
// when the claim is released, after the name has gone or moved. Several claims
// held together make a change of several files all-or-nothing with respect to
// other users: take every claim first, then change the files.
//
// The guard can be moved, not copied; the destructor (or Release) closes the
// handle and never throws.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/files/abstract_file.h"

namespace tarn {

class TFileClaim {
 public:
  // One non-blocking attempt to open name exclusively. On failure result is
  // the negated engine code and the optional is empty.
  static std::optional<TFileClaim> TryClaim(std::string_view name, bool inMemory,
                                            std::int32_t& result);

  ~TFileClaim() { Release(); }
  TFileClaim(TFileClaim&& other) noexcept;
  TFileClaim& operator=(TFileClaim&& other) noexcept;
  TFileClaim(const TFileClaim&) = delete;
  TFileClaim& operator=(const TFileClaim&) = delete;

  // The file is read-only by its attribute: it can be neither deleted nor
  // replaced.
  bool ReadOnlyAttr() const { return FReadOnlyAttr; }
  // The name the claim was taken under (after a Rename: the new name).
  const std::string& Name() const { return FName; }

  // Removes the file's name; 0 or a negated code (the file is then unchanged).
  // Requires: held.
  [[nodiscard]] std::int32_t Delete();
  // Renames the file to newName (never replacing an existing file); 0 or a
  // negated code. Requires: held.
  [[nodiscard]] std::int32_t Rename(std::string_view newName);
  // Closes the handle; later calls do nothing.
  void Release() noexcept;

  bool Held() const { return FFile != nullptr; }

 private:
  TFileClaim(TAbstractFile& file, std::int32_t handle, std::string_view name, bool inMemory,
             bool readOnlyAttr)
      : FFile(&file),
        FHandle(handle),
        FName(name),
        FInMemory(inMemory),
        FReadOnlyAttr(readOnlyAttr) {}

  TAbstractFile* FFile;
  std::int32_t FHandle;
  std::string FName;
  bool FInMemory;
  bool FReadOnlyAttr;
};

}  // namespace tarn
