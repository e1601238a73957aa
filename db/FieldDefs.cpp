#include "db/FieldDefs.h"

#include "runtime/Text.h"

TFieldDef& TFieldDefs::AddFieldDef() {
  items_.push_back(std::make_unique<TFieldDef>());
  return *items_.back();
}

int TFieldDefs::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (rt::SameText(items_[i]->Name, name)) return static_cast<int>(i);
  }
  return -1;
}

TFieldDef* TFieldDefs::Find(std::string_view name) {
  const int index = IndexOf(name);
  return index < 0 ? nullptr : items_[static_cast<std::size_t>(index)].get();
}
