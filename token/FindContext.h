#pragma once
// The object search of a session: the object kinds still to be searched,
// where the search stands, and an owned copy of the caller's template.

#include <vector>

#include "pkcs11/cryptoki.h"

struct FindContext {
  // The directory-file kinds to search, in the order in which they were added.
  std::vector<CK_ULONG> kinds;
  // Handle of the last object examined; 0 = none yet.
  CK_OBJECT_HANDLE position = 0;
  // Copy of the search template; each pValue points into `values`.
  std::vector<CK_ATTRIBUTE> searchTemplate;
  std::vector<std::vector<unsigned char>> values;
  // A search is under way.
  bool active = false;

  CK_ULONG Count() const { return searchTemplate.size(); }

  // Back to "no search": frees the template copy and the kinds.
  void Reset() {
    kinds.clear();
    position = 0;
    searchTemplate.clear();
    values.clear();
    active = false;
  }
};
