#include "vorn/views/BaseTweaker.h"

#include "vorn/host/Uuid.h"

VornTweakerParameters::~VornTweakerParameters() = default;

VornBaseTweaker::VornBaseTweaker() : m_id(KRTUuid().ToString()) {}

VornBaseTweaker::~VornBaseTweaker() = default;

bool VornBaseTweaker::SetData(const Data& data) {
  if (&data != &m_data) m_data = data;
  if (m_data.size() != 1) return false;
  auto value = m_data.front().find("value");
  if (value == m_data.front().end()) return false;
  if (!_IsValueAccepted(value->second)) return false;
  if (m_hasValue && m_value == value->second) return false;
  m_value = value->second;
  m_hasValue = true;
  return true;
}

void VornBaseTweaker::SetParameters(const std::shared_ptr<VornTweakerParameters>& parameters) {
  m_parameters = parameters;
}

void VornBaseTweaker::Activate() { m_isActive = true; }

void VornBaseTweaker::Deactivate() { m_isActive = false; }

void VornBaseTweaker::SetCanBeShownStatus(bool status) {
  m_canBeShown = status;
  _UpdateVisibility();
}

void VornBaseTweaker::SetUsageStatus(bool used) { m_isUsed = used; }

void VornBaseTweaker::_UpdateValue(const VornValue& value, const VornValuesByString& values, bool silent) {
  m_value = value;
  m_hasValue = true;
  if (silent) return;
  VornEventData::ValuesMap map;
  for (const auto& [key, entry] : values) map[key] = std::make_shared<VornValue>(entry);
  _Announce("onValueChange", VornEventData::Create(VornValue_sp::Make(value), map), true);
}

void VornBaseTweaker::_SetIsUsed(bool used, bool publish) {
  m_isUsed = used;
  if (publish) _Announce("onUsageStatusChange", VornEventData::Create(VornValue_sp::Make(VornValue(used))), false);
}

void VornBaseTweaker::_Announce(const std::string& name, const std::shared_ptr<VornEventData>& data, bool edit) {
  if (!m_view) return Publish(name, data);
  VornBaseView* view = m_view;
  const Callback heard =
      [view, edit](const std::shared_ptr<VornEventData>& event) { Vorn::detail::TellView(*view, edit, event); };
  _Publish(name, data, &heard);
}

VornValueConstraints VornBaseTweaker::_Constraints() const {
  VornValueConstraints constraints = m_data.size() == 1 ? VornValueConstraints::Of(m_data.front()) : VornValueConstraints();
  constraints.readOnly = constraints.readOnly || IsReadOnly();
  return constraints;
}

VornValueRefusal VornBaseTweaker::Edit(const VornValue& value) {
  if (VornValueRefusal refusal = _Constraints().Check(value)) return refusal;
  return _Apply(value, value.ToJSON());
}

VornValueRefusal VornBaseTweaker::Edit(const VornJSONValue& json) {
  VornValue value;
  if (VornValueRefusal refusal = _Constraints().Convert(json, value)) return refusal;
  return _Apply(value, json);
}

VornValueRefusal VornBaseTweaker::_Apply(const VornValue& value, const VornJSONValue& shown) {
  if (!_IsValueAccepted(value)) {
    const std::string object = _Constraints().objectId;
    VornValueRefusal refusal{"refused", std::string("the ") + GetKind() + " control of '" + object + "' refuses " +
                                            shown.Stringify(), {}};
    refusal.details.Set("object", object);
    refusal.details.Set("tweaker", m_id);
    refusal.details.Set("value", shown);
    return refusal;
  }
  VornValuesByString targets;
  for (const VornValuesByString& entry : m_data) {
    auto id = entry.find("id");
    if (id != entry.end() && id->second.Holds<std::string>())
      targets.insert_or_assign(id->second.GetRawValue<std::string>(), value);
  }
  _UpdateValue(value, targets, false);
  return {};
}

VornJSONObject VornBaseTweaker::Describe() const {
  VornJSONObject description{{"tweaker", m_id}, {"kind", GetKind()}};
  if (m_data.size() == 1) {
    for (const auto& [key, value] : m_data.front()) {
      if (key == "value") continue;
      VornJSONValue json = value.ToJSON();
      if (!json.IsUndefined()) description.Set(key == "id" ? "object" : key, std::move(json));
    }
  }
  if (IsReadOnly()) description.Set("readOnly", true);
  description.Set("value", m_hasValue ? m_value.ToJSON() : VornJSONValue(nullptr));
  return description;
}
