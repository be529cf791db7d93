// Built against the installed package with vorn/vorn.h as its only library
// include: a header the umbrella misses fails this build.
#include <cstdio>

#include "vorn/vorn.h"

namespace {
class Item : public Vorn_BaseClass {};
struct Events : VornEventsHandler {};

int Fail(const char* what) {
  std::printf("consumer failed: %s\n", what);
  return 1;
}
}  // namespace

int main() {
  // Object core.
  Vorn::SharedPtr<Item> item(new Item);
  Vorn::Function<int(int)> twice = [](int x) { return 2 * x; };
  VornAny any(twice(21));
  if (!item->IsOwned() || any.GetRawValue<int>() != 42) return Fail("core");

  // Containers and values.
  Vorn::HashTable<std::string, int> table;
  table.try_emplace("a", 1);
  if (table.size() != 1 || !VornValueTypesManager::GetRawValueTypeDefinition("integer", false))
    return Fail("containers or values");
  if (std::string(Vorn::TypeWord::kLength) != "length") return Fail("type words");

  // Events.
  auto events = std::make_shared<Events>();
  int heard = 0;
  auto token = events->Subscribe("onPing", [&](const std::shared_ptr<VornEventData>&) { ++heard; });
  events->Publish("onPing", nullptr);
  if (heard != 1) return Fail("events");

  // JSON.
  const VornJSONValue parsed = VornJSONParser::ParseText(R"({"a":[1,true]})", false);
  if (parsed.Stringify() != R"({"a":[1,true]})") return Fail("json");
  if (!Vorn::ConvertJSONValueToValue(VornJSONValue(3)).HasRawValue()) return Fail("json bridge");

  // Runtime and the main component: a timeout served by the custom loop.
  int served = 0;
  const std::uint32_t timeout = Vorn::SetTimeout(
      [&] {
        ++served;
        VornMainComponent::EndCustomMainThreadLoop();
      },
      1);
  VornMainComponent::RunCustomMainThreadLoop(nullptr);
  if (served != 1 || Vorn::HasTimeout(timeout)) return Fail("main-thread loop");

  std::puts("consumer ok");
  return 0;
}
