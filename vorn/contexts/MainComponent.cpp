#include "vorn/contexts/MainComponent.h"

#include "vorn/runtime/MainThreadManager.h"

void VornMainComponent::RunCustomMainThreadLoop(const Vorn::Function<void()>& initial) {
  VornMainThreadManager::_RunCustomLoop(initial);
}

void VornMainComponent::EndCustomMainThreadLoop() { VornMainThreadManager::_Stop(); }
