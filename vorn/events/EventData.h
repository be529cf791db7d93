#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "vorn/core/Export.h"
#include "vorn/core/SharedBase.h"
#include "vorn/values/Value.h"

class VornModelObject;
class VornBaseTweaker;

namespace Vorn::_Internal_ {
VORN_API void ReportNoEventValue();
}

// Payload of a published event: the publisher's address, a main value and
// named values.
class VORN_API VornEventData : public VornBaseClass {
public:
  using ValuesMap = std::unordered_map<std::string, std::shared_ptr<VornValue>>;
  static constexpr bool _IsVornShareable_ = true;
  static constexpr bool _IsVornBuildable_ = true;

  ~VornEventData() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

  static std::shared_ptr<VornEventData> Create() { return std::shared_ptr<VornEventData>(new VornEventData); }
  static std::shared_ptr<VornEventData> Create(const ValuesMap& values) {
    return std::shared_ptr<VornEventData>(new VornEventData(values));
  }
  static std::shared_ptr<VornEventData> Create(const VornValue_sp& value, const ValuesMap& values = {}) {
    return std::shared_ptr<VornEventData>(new VornEventData(value, values));
  }

  VornValue_sp GetValue() const { return m_value; }
  ValuesMap GetValuesByString() const { return m_valuesByString; }
  void* GetEventPublisher() const noexcept { return m_publisher; }

  // A copy of the main value as T. Without a main value the fault goes to
  // the abnormal-end log and a value-initialised T is returned; a type
  // mismatch is reported by the value itself.
  template <class T>
  T GetRawValue() const {
    if (!m_value) {
      Vorn::_Internal_::ReportNoEventValue();
      return T{};
    }
    return m_value->GetRawValue<T>();
  }

protected:
  VornEventData() = default;
  explicit VornEventData(void* publisher) : m_publisher(publisher) {}
  explicit VornEventData(const ValuesMap& values) : m_valuesByString(values) {}
  VornEventData(const VornValue_sp& value, const ValuesMap& values) : m_value(value), m_valuesByString(values) {}

private:
  friend class VornEventsHandler;
  void _SetEventPublisher(void* publisher) noexcept { m_publisher = publisher; }

  void* m_publisher = nullptr;
  VornValue_sp m_value;
  ValuesMap m_valuesByString;
};

// Published when a model object gains a child.
class VORN_API VornMOAddChildEventData : public VornEventData {
public:
  ~VornMOAddChildEventData() override;
  static std::shared_ptr<VornMOAddChildEventData> Create(std::shared_ptr<VornModelObject> child) {
    return std::shared_ptr<VornMOAddChildEventData>(new VornMOAddChildEventData(std::move(child)));
  }
  std::shared_ptr<VornModelObject> GetNewChild() const { return m_newChild; }

private:
  VornMOAddChildEventData() = default;
  explicit VornMOAddChildEventData(std::shared_ptr<VornModelObject> child) : m_newChild(std::move(child)) {}
  std::shared_ptr<VornModelObject> m_newChild;
};

// Published when a model object lets go of a child (removed, or its
// destruction requested).
class VORN_API VornMORemoveChildEventData : public VornEventData {
public:
  ~VornMORemoveChildEventData() override;
  static std::shared_ptr<VornMORemoveChildEventData> Create(std::shared_ptr<VornModelObject> child) {
    return std::shared_ptr<VornMORemoveChildEventData>(new VornMORemoveChildEventData(std::move(child)));
  }
  std::shared_ptr<VornModelObject> GetRemovedChild() const { return m_child; }

private:
  explicit VornMORemoveChildEventData(std::shared_ptr<VornModelObject> child) : m_child(std::move(child)) {}
  std::shared_ptr<VornModelObject> m_child;
};

// Published when a view creates a tweaker.
class VORN_API VornTweakerCreationEventData : public VornEventData {
public:
  ~VornTweakerCreationEventData() override;
  static std::shared_ptr<VornTweakerCreationEventData> Create(std::shared_ptr<VornBaseTweaker> tweaker) {
    return std::shared_ptr<VornTweakerCreationEventData>(new VornTweakerCreationEventData(std::move(tweaker)));
  }
  std::shared_ptr<VornBaseTweaker> GetTweaker() const { return m_tweaker; }

private:
  VornTweakerCreationEventData() = default;
  explicit VornTweakerCreationEventData(std::shared_ptr<VornBaseTweaker> tweaker) : m_tweaker(std::move(tweaker)) {}
  std::shared_ptr<VornBaseTweaker> m_tweaker;
};
