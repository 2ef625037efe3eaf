#pragma once
// What the card layer needs of an open PIN entry dialog: a way to cancel it
// when the card it asks a PIN for goes away. The PIN dialog facade implements
// it; the token holds the open one without owning it.

namespace Brelt::MW::Card {

class CancellablePinEntry {
 public:
  // Closes the open virtual-keyboard dialog as if the user had cancelled it.
  // Safe to call from any thread and when no dialog is shown.
  virtual void CancelVirtKeyDialog() = 0;

 protected:
  ~CancellablePinEntry() = default;
};

}  // namespace Brelt::MW::Card
