// Handing out a value the module sent: each one is delivered once.
#include "pxr5700/numeric_text.h"
#include "pxr5700/pxr5700.h"
#include "pxr5700/registers.h"
#include "sensors/conversions.h"

namespace tarvo {

int32_t Cpxr5700::Deliver(pxr5700::ModuleState& state, int16_t reg, int16_t channel,
                          IoValue* value) {
  const auto bit = static_cast<size_t>(channel);
  const auto analog = static_cast<size_t>(channel - 1);
  switch (reg) {
    case pxr5700::kInputs:
    case pxr5700::kOutputs: {
      auto& entry = reg == pxr5700::kInputs ? state.inputs[bit] : state.outputs[bit];
      entry.fresh = false;
      value->DiscreteValue = entry.data;
      break;
    }
    case pxr5700::kTemperature:
    case pxr5700::kTemperature12: {
      // TA and TB take the same reading: whichever reads it first uses it.
      auto& entry = state.temperatures[analog];
      entry.fresh = false;
      float converted = 0.0f;
      if (reg == pxr5700::kTemperature)
        sensors::ConvertTempExtended(entry.data.data(), &converted);
      else
        sensors::ConvertTemp12(entry.data.data(), &converted);
      value->AnalogValue = converted;
      break;
    }
    default: {
      auto& entry = state.numerics[analog];
      entry.fresh = false;
      value->AnalogValue = pxr5700::ParseNumericText(entry.data.data(), entry.data.size());
      break;
    }
  }
  return Succeed();
}

}  // namespace tarvo
