#include "pack/counted_object.h"

void CountedObject::IncrementRef() { refCount_.fetch_add(1); }

void CountedObject::DecrementRef() {
  if (refCount_.fetch_add(-1) == 1) delete this;
}
