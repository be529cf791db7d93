#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vorn/core/Export.h"
#include "vorn/events/EventsHandler.h"
#include "vorn/json/Object.h"
#include "vorn/model/ValueConstraints.h"
#include "vorn/values/ValuesByString.h"

class VornBaseView;

namespace Vorn::detail {
// Tells `view` of a tweaker's edit (or usage change) as the first to hear
// it; defined with the view, so that tweakers need not include it.
void TellView(VornBaseView& view, bool edit, const std::shared_ptr<VornEventData>& data);
}  // namespace Vorn::detail

// Settings a view hands to its tweakers. The library passes it through
// without reading it; concrete views and tweakers derive from it and agree
// on its contents.
struct VORN_API VornTweakerParameters {
  virtual ~VornTweakerParameters();
};

// Base of every tweaker: the control that shows and edits one value.
// Concrete tweakers live in plug-in libraries, say which values they can
// show (_IsValueAccepted) and call _UpdateValue when the user edits.
//
// Events: "onValueChange" (an edit: the new value, and a map from each
// model-object id given to a copy of the value) and "onUsageStatusChange"
// (the usage flag as a bool). Data set by the view never publishes, so a
// model change does not echo back.
class VORN_API VornBaseTweaker : public VornEventsHandler {
public:
  using Data = std::vector<VornValuesByString>;

  ~VornBaseTweaker() override;
  std::shared_ptr<VornBaseClass> GetSharedPtr() override { return _GetSharedPtrFromBase(); }

  // Stores `data`; true when it holds exactly one map whose "value" the
  // tweaker accepts and differs from the value held, which it then holds.
  // A view passes the tweaker's own data, already holding the new records
  // (`&data == &GetData()`), so that they are not copied: an override that
  // needs the records it had must keep them itself.
  virtual bool SetData(const Data& data);
  virtual void SetParameters(const std::shared_ptr<VornTweakerParameters>& parameters);
  virtual void Activate();
  virtual void Deactivate();
  virtual void SetCanBeShownStatus(bool status);
  virtual void SetUsageStatus(bool used);

  // A user's edit, as a control makes it. Refused when the shown object's
  // constraints refuse `value` (read-only, kind, range, step, choice: see
  // VornValueConstraints, read from the data shown) or the tweaker does not
  // accept it (reason "refused"); a refusal changes nothing and publishes
  // nothing. Otherwise the value is held and published as "onValueChange"
  // for the model objects of the data shown (each data map's "id"), which
  // the view writes back into them. Hosts use it to bring edits made in a
  // remote client; the JSON form converts by the shown data type first.
  VornValueRefusal Edit(const VornValue& value);
  VornValueRefusal Edit(const VornJSONValue& value);
  bool EditValue(const VornValue& value) { return !Edit(value); }

  // What kind of control this is ("number", "boolean", "text", "choice"...;
  // "generic" here), for hosts that draw controls themselves.
  virtual const char* GetKind() const { return "generic"; }
  // A tweaker that only shows its value (a summary of a geometry...): every
  // edit is refused ("readOnly") and Describe() says "readOnly": true.
  virtual bool IsReadOnly() const { return false; }
  // The tweaker as a host draws it: {"tweaker": id, "kind", "object": the
  // shown model object's id, "value": the value held or null}, plus every
  // other entry of the data shown ("label", "unit", "min", "possibleValues"
  // ...) as JSON. Concrete tweakers may add to it.
  virtual VornJSONObject Describe() const;

  // A fresh UUID at construction; the view that generates the tweaker gives
  // it its stable id before anything else sees it (VornBaseView::FindTweaker).
  const std::string& GetID() const noexcept { return m_id; }
  // The value held, or null before the first one.
  const VornValue* GetValue() const noexcept { return m_hasValue ? &m_value : nullptr; }
  const Data& GetData() const noexcept { return m_data; }
  const std::shared_ptr<VornTweakerParameters>& GetParameters() const noexcept { return m_parameters; }
  bool IsActive() const noexcept { return m_isActive; }
  bool CanBeShown() const noexcept { return m_canBeShown; }
  bool IsUsed() const noexcept { return m_isUsed; }

protected:
  VornBaseTweaker();

  // Whether this tweaker can show `value`.
  virtual bool _IsValueAccepted(const VornValue& value) = 0;
  // Called after the can-be-shown status changed; nothing in the base.
  virtual void _UpdateVisibility() {}

  // A user's edit: holds `value` and, unless `silent`, publishes
  // "onValueChange" with it and `values` (model-object id -> value).
  void _UpdateValue(const VornValue& value, const VornValuesByString& values, bool silent);
  void _SetIsUsed(bool used, bool publish);

private:
  friend class VornBaseView;  // gives generated tweakers their stable ids and hears them

  VornValueConstraints _Constraints() const;
  // Publishes an edit or a usage change, heard first by the view that
  // generated this tweaker, if any.
  void _Announce(const std::string& name, const std::shared_ptr<VornEventData>& data, bool edit);
  VornValueRefusal _Apply(const VornValue& value, const VornJSONValue& shown);

  // One byte of flags, first: it fits in the tail padding of the events
  // handler, which keeps a tweaker one allocation size class smaller.
  bool m_isActive : 1 = false;
  bool m_canBeShown : 1 = true;
  bool m_isUsed : 1 = false;
  bool m_hasValue : 1 = false;
  std::string m_id;
  // The view that generated this tweaker: it hears the tweaker's events
  // before any listener, without tokens of its own (a view keeps thousands
  // of tweakers); null once the view has dropped the tweaker or gone.
  VornBaseView* m_view = nullptr;
  Data m_data;
  std::shared_ptr<VornTweakerParameters> m_parameters;
  VornValue m_value;
};
