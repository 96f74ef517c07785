#pragma once
// A data source connects one dataset to any number of data links.
//
// Lifetime: a source detaches itself from its dataset and its links when it is
// destroyed; a dataset that is destroyed first leaves its sources with no
// dataset (their links see ActiveChanged). Links are notified in the order
// they were attached; a link removed during a notification is skipped.

#include <cstdint>
#include <functional>
#include <vector>

#include "dbcomp/data_link.h"

namespace dbcomp {

enum class TDataSetState : std::uint8_t;

class TDataSource {
 public:
  TDataSource();
  explicit TDataSource(TDataSet* dataSet);
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  TDataSet* DataSet() const noexcept { return FDataSet; }
  void SetDataSet(TDataSet* dataSet);
  // A disabled source tells its links the dataset is inactive.
  bool Enabled() const noexcept { return FEnabled; }
  void SetEnabled(bool value);
  // Links may put a browsing dataset into edit state (default true).
  bool AutoEdit() const noexcept { return FAutoEdit; }
  void SetAutoEdit(bool value) noexcept { FAutoEdit = value; }
  // The dataset's state as the links see it: inactive without an enabled,
  // open dataset.
  TDataSetState State() const noexcept;
  // Edit of the dataset when AutoEdit is on and it is browsing.
  void Edit();

  std::function<void()> OnStateChange;
  std::function<void(TField* field)> OnDataChange;
  std::function<void()> OnUpdateData;

  std::size_t LinkCount() const noexcept { return FLinks.size(); }

  // Entry point used by the dataset.
  void DataEvent(TDataEvent event, std::intptr_t info);

 private:
  friend class TDataLink;
  friend class TDataSet;
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link) noexcept;
  void NotifyLinks(TDataEvent event, std::intptr_t info);
  TDataSet* FDataSet = nullptr;
  std::vector<TDataLink*> FLinks;
  TDataSetState FState;
  bool FEnabled = true;
  bool FAutoEdit = true;
};

}  // namespace dbcomp
