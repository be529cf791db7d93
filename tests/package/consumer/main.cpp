#include <cstdio>

#include "vorn/vorn.h"

namespace {
class Item : public Vorn_BaseClass {};
}  // namespace

int main() {
  Vorn::SharedPtr<Item> item(new Item);
  Vorn::Function<int(int)> twice = [](int x) { return 2 * x; };
  VornAny any(twice(21));
  if (!item->IsOwned() || any.GetRawValue<int>() != 42) return 1;
  std::puts("consumer ok");
  return 0;
}
